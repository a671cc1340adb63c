#include "common/dllsearch.h"

#include <windows.h>

namespace velotune {

void HardenDllSearch() {
    SetDllDirectoryA("");
    // Looked up by name: older systems lack the call, and the programs still run there.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    constexpr DWORD kSearchDefaultDirs = 0x00001000; // LOAD_LIBRARY_SEARCH_DEFAULT_DIRS
    if (HMODULE kernel = GetModuleHandleA("kernel32.dll")) {
        auto entry =
            reinterpret_cast<void (*)()>(GetProcAddress(kernel, "SetDefaultDllDirectories"));
        if (entry) reinterpret_cast<SetDefaultDllDirectoriesFn>(entry)(kSearchDefaultDirs);
    }
}

} // namespace velotune
