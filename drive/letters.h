// The drive letters as the system shows them: their type, and the opening of
// "\\.\X:" for commands. The panel's discovery and the tool's Windows
// transport both reach the letters through this seam.
#pragma once

#include <windows.h>

namespace velotune {

// Platform calls of discovery. Production uses the real ones; tests fake them.
struct DiscoverySeam {
    BOOL(WINAPI* getVersionEx)(LPOSVERSIONINFOA);
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
// Opens "\\.\x:" for pass-through commands; INVALID_HANDLE_VALUE on failure.
HANDLE OpenLetter(const DiscoverySeam& seam, char letter);

} // namespace velotune
