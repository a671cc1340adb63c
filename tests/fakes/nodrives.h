// A discovery seam for tests of the panel's windows: drive letters that are all
// fixed disks, so discovery (on the NT family, which Wine reports) finds nothing
// and sends nothing.
#pragma once

#include "drive/speedcontrol.h"

namespace vt_test {

inline UINT WINAPI NoCdrom(LPCSTR) {
    return DRIVE_FIXED;
}
inline HANDLE WINAPI NoFile(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    return INVALID_HANDLE_VALUE;
}
inline BOOL WINAPI CloseNothing(HANDLE) {
    return TRUE;
}
inline const velotune::DiscoverySeam kNoDrives{&NoCdrom, &NoFile, &CloseNothing};

} // namespace vt_test
