// SCSI pass-through on the NT family. Opening a drive for pass-through needs
// administrator rights; without them Windows answers ERROR_ACCESS_DENIED.
#include "tool/transport_windows.h"

#include "drive/drivecommands.h"
#include "drive/transport.h"

#include <algorithm>

namespace velotune::tool {
namespace {

constexpr std::uint8_t kDataIn = 0;

// What a failed open or pass-through call means for the tool.
IoStatus FromSystemError(DWORD error, std::string& detail) {
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
        return IoStatus::NotPermitted;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return IoStatus::NotFound;
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
        return IoStatus::NotScsi;
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return IoStatus::InUse;
    case ERROR_SEM_TIMEOUT:
    case ERROR_TIMEOUT:
        return IoStatus::TimedOut;
    case ERROR_ADAP_HDW_ERR:
    case ERROR_DEVICE_NOT_CONNECTED:
        return IoStatus::HostError;
    case ERROR_IO_DEVICE:
        detail = "input/output error";
        return IoStatus::Failed;
    default:
        detail = "system error " + std::to_string(error);
        return IoStatus::Failed;
    }
}

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

CommandResult WindowsTransport::Open(const std::string& device, int& slot) {
    CommandResult result;
    result.status = IoStatus::NotFound;
    if (device.size() != 2) return result;
    const char letter = static_cast<char>(device[0] - 'A' + 'a');
    // Only optical drives: a vendor command never goes to a disk.
    const UINT type = LetterDriveType(seam_, letter);
    if (type == DRIVE_NO_ROOT_DIR || type == DRIVE_UNKNOWN) return result;
    if (type != DRIVE_CDROM) {
        result.status = IoStatus::NotOptical;
        return result;
    }
    HANDLE handle = OpenLetter(seam_, letter);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        result.status = FromSystemError(error, result.detail);
        if (result.status == IoStatus::NotScsi) result.status = IoStatus::Failed;
        return result;
    }
    slot = letter - 'a';
    if (handles_[slot]) seam_.closeHandle(handles_[slot]);
    handles_[slot] = handle;
    result.status = IoStatus::Ok;
    return result;
}

// One try through the drive layer's pass-through call; Classify tells what came
// back, in the same order as on Linux.
CommandResult WindowsTransport::Send(int slot, const std::uint8_t* cdb, std::uint8_t cdbLength,
                                     std::uint8_t* data, std::uint32_t dataLength) {
    RawReply reply;
    if (slot < 0 || slot >= kMaxNtDrives || !handles_[slot]) {
        reply.callFailed = true;
        return Classify(reply);
    }
    SetLastError(ERROR_SUCCESS);
    PassThroughReport report;
    const int code =
        PassThroughCommandOnce(handles_[slot], cdb, cdbLength, data, dataLength, kDataIn, report);
    if (code < 0) {
        reply.callFailed = true;
        reply.systemError = FromSystemError(GetLastError(), reply.detail);
        return Classify(reply);
    }
    reply.scsiStatus = report.scsiStatus;
    reply.sense = report.senseData;
    reply.senseLength = std::min<std::size_t>(report.senseLength, sizeof report.senseData);
    reply.transferred = report.transferred;
    return Classify(reply);
}

void WindowsTransport::Pause(unsigned milliseconds) {
    Sleep(milliseconds);
}

void WindowsTransport::Close(int slot) {
    if (slot < 0 || slot >= kMaxNtDrives || !handles_[slot]) return;
    seam_.closeHandle(handles_[slot]);
    handles_[slot] = nullptr;
}

} // namespace velotune::tool
