// The drive letters as the system shows them: their type, and the opening of
// "\\.\X:" for commands. The panel's discovery and the tool's Windows
// transport both reach the letters through this seam.
#pragma once

#include "common/uniquehandle.h"

#include <windows.h>

namespace velotune {

// Platform calls of discovery. Production uses the real ones; tests fake them.
struct DiscoverySeam {
    UINT(WINAPI* getDriveType)(LPCSTR);
    HANDLE(WINAPI* createFile)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL(WINAPI* closeHandle)(HANDLE);
    // Bit n set: drive letter 'a' + n exists. Null, or a result of 0: every letter is asked.
    DWORD(WINAPI* getLogicalDrives)() = nullptr;
};
const DiscoverySeam& RealDiscoverySeam();

// The type of drive letter a to z (GetDriveTypeA of "x:").
UINT LetterDriveType(const DiscoverySeam& seam, char letter);
// The letters that exist, bit n for letter 'a' + n; every letter when the system does not say.
DWORD PresentLetters(const DiscoverySeam& seam);
// How handles opened through the seam are closed: by the seam's closeHandle.
inline HandleClose SeamClose(const DiscoverySeam& seam) {
    return HandleClose{seam.closeHandle};
}
// Opens "\\.\x:", for pass-through commands unless `access` says otherwise;
// empty on failure (GetLastError tells why). The handle closes through the seam.
UniqueFileHandle OpenLetter(const DiscoverySeam& seam, char letter,
                            DWORD access = GENERIC_READ | GENERIC_WRITE);

} // namespace velotune
