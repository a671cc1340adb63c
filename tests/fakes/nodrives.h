// A discovery seam for tests of the panel's windows: an NT-family system whose
// drive letters are all fixed disks, so discovery finds nothing and sends nothing.
#pragma once

#include "drive/speedcontrol.h"

namespace vt_test {

inline BOOL WINAPI NtVersion(LPOSVERSIONINFOA v) {
    v->dwPlatformId = VER_PLATFORM_WIN32_NT;
    v->dwMajorVersion = 6;
    return TRUE;
}
inline UINT WINAPI NoCdrom(LPCSTR) {
    return DRIVE_FIXED;
}
inline HANDLE WINAPI NoFile(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    return INVALID_HANDLE_VALUE;
}
inline BOOL WINAPI CloseNothing(HANDLE) {
    return TRUE;
}
inline const velotune::DiscoverySeam kNoDrives{&NtVersion, &NoCdrom, &NoFile, &CloseNothing};

} // namespace vt_test
