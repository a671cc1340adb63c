// The drive letters' seam.
#include "drive/letters.h"

namespace velotune {
namespace {

const DiscoverySeam kRealSeam = {&GetDriveTypeA, &CreateFileA, &CloseHandle, &GetLogicalDrives};

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

UniqueFileHandle OpenLetter(const DiscoverySeam& seam, char letter, DWORD access) {
    const char path[7] = {'\\', '\\', '.', '\\', letter, ':', '\0'};
    return UniqueFileHandle(seam.createFile(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, OPEN_EXISTING, 0, nullptr),
                            SeamClose(seam));
}

} // namespace velotune
