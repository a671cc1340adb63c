// SCSI pass-through on the NT family. Opening a drive for pass-through needs
// administrator rights; without them Windows answers ERROR_ACCESS_DENIED, and
// the drive is opened for reading, where the cdrom driver's own requests
// (IOCTL_CDROM_*) still reach it.
#include "tool/transport_windows.h"

#include "tool/cdrom_windows.h"

#include "drive/drivecommands.h"
#include "drive/transport.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace velotune::tool {
namespace {

constexpr std::uint8_t kDataIn = 0, kDataOut = 1;

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
    UniqueFileHandle handle = OpenLetter(seam_, letter);
    bool writable = true;
    if (!handle && GetLastError() == ERROR_ACCESS_DENIED) {
        handle = OpenLetter(seam_, letter, GENERIC_READ);
        writable = false;
    }
    if (!handle) {
        const DWORD error = GetLastError();
        result.status = FromSystemError(error, result.detail);
        if (result.status == IoStatus::NotScsi) result.status = IoStatus::Failed;
        return result;
    }
    slot = letter - 'a';
    handles_[slot] = std::move(handle);
    writable_[slot] = writable;
    result.status = IoStatus::Ok;
    return result;
}

namespace {

// A refusal the driver reports by its error, as the drive's sense would say it.
void Refusal(CommandResult& result, std::uint8_t key, std::uint8_t asc) {
    result.status = IoStatus::CheckCondition;
    result.scsiStatus = kScsiCheckCondition;
    result.hasSense = true;
    result.sense.key = key;
    result.sense.asc = asc;
    result.sense.ascq = 0;
}

} // namespace

bool WindowsTransport::CdromRequest(int slot, const std::uint8_t* cdb, std::uint8_t cdbLength,
                                    std::uint8_t* data, std::uint32_t dataLength,
                                    CommandResult& result) {
    const win::CdromRequest request = win::CdromRequestFor(cdb, cdbLength, data, dataLength);
    if (request.code == 0) return false;
    constexpr std::uint32_t kLeastOutput = 256; // INQUIRYDATA, DISK_GEOMETRY_EX
    std::vector<std::uint8_t> output(
        request.reply == win::CdromReply::None ? 0 : std::max(dataLength, kLeastOutput));
    std::vector<std::uint8_t> input = request.input;
    DWORD returned = 0;
    SetLastError(ERROR_SUCCESS);
    if (!CurrentTransportSeam().deviceIoControl(
            handles_[slot].Get(), request.code, input.empty() ? nullptr : input.data(),
            static_cast<DWORD>(input.size()), output.empty() ? nullptr : output.data(),
            static_cast<DWORD>(output.size()), &returned, nullptr)) {
        const DWORD error = GetLastError();
        switch (error) {
        case ERROR_INVALID_FUNCTION: // the driver or the drive does not take it
        case ERROR_NOT_SUPPORTED:
        case ERROR_INVALID_PARAMETER:
            if (writable_[slot]) return false; // the drive's own answer, by pass-through
            Refusal(result, kSenseIllegalRequest, 0x20);
            return true;
        case ERROR_NOT_READY: // no disc
            Refusal(result, kSenseNotReady, 0x3A);
            return true;
        default:
            result.status = FromSystemError(error, result.detail);
            return true;
        }
    }
    result.status = IoStatus::Ok;
    const std::size_t got = std::min<std::size_t>(returned, output.size());
    switch (request.reply) {
    case win::CdromReply::Data:
        result.transferred = static_cast<std::uint32_t>(std::min<std::size_t>(got, dataLength));
        std::memcpy(data, output.data(), result.transferred);
        break;
    case win::CdromReply::Capacity: {
        std::uint8_t reply[8];
        const std::uint32_t size = win::CapacityReply(output.data(), got, reply);
        if (size == 0) {
            Refusal(result, kSenseNotReady, 0x3A);
            break;
        }
        result.transferred = std::min(size, dataLength);
        std::memcpy(data, reply, result.transferred);
        break;
    }
    case win::CdromReply::None:
    default:
        result.transferred = dataLength;
        break;
    }
    return true;
}

// The cdrom driver's request where it has one; else one try through the drive
// layer's pass-through call, and Classify tells what came back, in the same
// order as on Linux.
CommandResult WindowsTransport::Send(int slot, const std::uint8_t* cdb, std::uint8_t cdbLength,
                                     std::uint8_t* data, std::uint32_t dataLength,
                                     DataDirection direction) {
    RawReply reply;
    if (slot < 0 || slot >= kMaxNtDrives || !handles_[slot]) {
        reply.callFailed = true;
        return Classify(reply);
    }
    if (direction == DataDirection::None) dataLength = 0;
    CommandResult result;
    if (CdromRequest(slot, cdb, cdbLength, data, dataLength, result)) return result;
    SetLastError(ERROR_SUCCESS);
    PassThroughReport report;
    const int code =
        PassThroughCommandOnce(handles_[slot].Get(), cdb, cdbLength, data, dataLength,
                               direction == DataDirection::Out ? kDataOut : kDataIn, report);
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

// Windows has no request of its own besides IOCTL_CDROM_SET_SPEED.
CommandResult WindowsTransport::SelectCdSpeed(int, unsigned) {
    CommandResult result;
    result.status = IoStatus::NotScsi;
    return result;
}

void WindowsTransport::Close(int slot) {
    if (slot < 0 || slot >= kMaxNtDrives) return;
    handles_[slot].Reset();
}

} // namespace velotune::tool
