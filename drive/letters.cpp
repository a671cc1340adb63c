// The drive letters' seam.
#include "drive/letters.h"

namespace velotune {
namespace {

const DiscoverySeam kRealSeam = {&GetVersionExA, &GetDriveTypeA, &CreateFileA, &CloseHandle,
                                 &GetLogicalDrives};

} // namespace

const DiscoverySeam& RealDiscoverySeam() {
    return kRealSeam;
}

DWORD PresentLetters(const DiscoverySeam& seam) {
    const DWORD present = seam.getLogicalDrives ? seam.getLogicalDrives() : 0;
    return present != 0 ? present : ~DWORD{0};
}

UINT LetterDriveType(const DiscoverySeam& seam, char letter) {
    const char root[3] = {letter, ':', '\0'};
    return seam.getDriveType(root);
}

HANDLE OpenLetter(const DiscoverySeam& seam, char letter) {
    const char path[7] = {'\\', '\\', '.', '\\', letter, ':', '\0'};
    return seam.createFile(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
}

} // namespace velotune
