// Which family of Windows runs the program: the NT family (pass-through,
// elevation, safe library search) or the 95 family (ASPI).
#pragma once

#include <windows.h>

namespace velotune {

using GetVersionExFn = BOOL(WINAPI*)(LPOSVERSIONINFOA);

// True on the NT family, as `getVersionEx` (the system's, or a test's) tells.
inline bool IsNtFamily(GetVersionExFn getVersionEx = &GetVersionExA) {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    getVersionEx(&version);
    return version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

} // namespace velotune
