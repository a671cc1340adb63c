// Which family of Windows runs the program: the NT family (pass-through,
// elevation, safe library search) or the 95 family (ASPI). Asked in this one
// place, of GetVersionExA unless a test has put its own source in.
#pragma once

#include <windows.h>

namespace velotune {

using GetVersionExFn = BOOL(WINAPI*)(LPOSVERSIONINFOA);

// The source IsNtFamily asks: null for the system's GetVersionExA.
inline GetVersionExFn& WindowsVersionSource() {
    static GetVersionExFn source = nullptr;
    return source;
}
// Tests give the family they want; null puts the system's answer back.
inline void SetWindowsVersionSource(GetVersionExFn source) {
    WindowsVersionSource() = source;
}

// True on the NT family.
inline bool IsNtFamily() {
    const GetVersionExFn source = WindowsVersionSource();
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    (source ? source : &GetVersionExA)(&version);
    return version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

} // namespace velotune
