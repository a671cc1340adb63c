// SCSI pass-through on the NT family. Opening a drive for pass-through needs
// administrator rights; without them Windows answers ERROR_ACCESS_DENIED.
#include "tool/transport_windows.h"

#include "drive/drivecommands.h"
#include "drive/transport.h"

namespace velotune::tool {
namespace {

constexpr std::uint8_t kDataIn = 0;

} // namespace

WindowsTransport::~WindowsTransport() {
    for (int slot = 0; slot < kMaxNtDrives; ++slot)
        Close(slot);
}

// The panel's rule on the NT family: every CD-ROM letter, a to z.
std::vector<std::string> WindowsTransport::Search() {
    std::vector<std::string> devices;
    const DWORD present = PresentLetters(seam_);
    for (char letter = 'a'; letter <= 'z'; ++letter)
        if ((present & (DWORD{1} << (letter - 'a'))) != 0 &&
            LetterDriveType(seam_, letter) == DRIVE_CDROM)
            devices.push_back(std::string(1, letter - 'a' + 'A') + ":");
    return devices;
}

// "E:", "e:", "E" and "e" all name drive E:.
std::string WindowsTransport::DeviceName(const std::string& given) {
    if (given.empty() || given.size() > 2) return "";
    if (given.size() == 2 && given[1] != ':') return "";
    char letter = given[0];
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
    if (letter < 'A' || letter > 'Z') return "";
    return std::string(1, letter) + ":";
}

IoStatus WindowsTransport::Open(const std::string& device, int& slot) {
    if (device.size() != 2) return IoStatus::NotFound;
    const char letter = static_cast<char>(device[0] - 'A' + 'a');
    // Only optical drives: a vendor command never goes to a disk.
    const UINT type = LetterDriveType(seam_, letter);
    if (type == DRIVE_NO_ROOT_DIR || type == DRIVE_UNKNOWN) return IoStatus::NotFound;
    if (type != DRIVE_CDROM) return IoStatus::NotScsi;
    HANDLE handle = OpenLetter(seam_, letter);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_ACCESS_DENIED || error == ERROR_PRIVILEGE_NOT_HELD)
            return IoStatus::NotPermitted;
        return IoStatus::NotFound;
    }
    slot = letter - 'a';
    if (handles_[slot]) seam_.closeHandle(handles_[slot]);
    handles_[slot] = handle;
    return IoStatus::Ok;
}

IoStatus WindowsTransport::Send(int slot, const std::uint8_t* cdb, std::uint8_t cdbLength,
                                std::uint8_t* data, std::uint32_t dataLength,
                                std::uint32_t& transferred) {
    transferred = 0;
    if (slot < 0 || slot >= kMaxNtDrives || !handles_[slot]) return IoStatus::Failed;
    SetLastError(ERROR_SUCCESS);
    const int result =
        PassThroughExecute(handles_[slot], cdb, cdbLength, data, dataLength, kDataIn);
    if (result == kResultOk) {
        transferred = dataLength;
        return IoStatus::Ok;
    }
    if (result == kResultError) return IoStatus::CheckCondition;
    switch (GetLastError()) {
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
        return IoStatus::NotPermitted;
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
        return IoStatus::NotScsi;
    default:
        return IoStatus::Failed;
    }
}

void WindowsTransport::Close(int slot) {
    if (slot < 0 || slot >= kMaxNtDrives || !handles_[slot]) return;
    seam_.closeHandle(handles_[slot]);
    handles_[slot] = nullptr;
}

} // namespace velotune::tool
