#include "common/dllsearch.h"

#include "common/windowsfamily.h"

#include <windows.h>

namespace velotune {

void HardenDllSearch(DllSearch scope) {
    SetDllDirectoryA("");
    // On the NT family every later load by name, the system libraries' own
    // delay loads included, comes from the given folders only, never from the
    // current one. The 95 family knows no such call, and the panel finds its
    // ASPI layer beside the program there. Looked up by name: systems without
    // the call still run the programs.
    if (!IsNtFamily()) return;
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    if (HMODULE kernel = GetModuleHandleA("kernel32.dll")) {
        auto entry =
            reinterpret_cast<void (*)()>(GetProcAddress(kernel, "SetDefaultDllDirectories"));
        const DWORD folders =
            scope == DllSearch::SystemFolder
                ? LOAD_LIBRARY_SEARCH_SYSTEM32
                : LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;
        if (entry) reinterpret_cast<SetDefaultDllDirectoriesFn>(entry)(folders);
    }
    // The theme code of the system loads msimg32 late, on its first themed
    // drawing, and not every loader applies the default directories to such a
    // load. The system's copy, loaded here first, is the one every later load
    // by name finds.
    LoadLibraryExA("msimg32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

} // namespace velotune
