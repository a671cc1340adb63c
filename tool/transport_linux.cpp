// SG_IO on Linux. Opening /dev/srN with O_RDWR | O_NONBLOCK needs no medium;
// the kernel lets only root or CAP_SYS_RAWIO send the vendor opcode 0xFF, and
// answers EPERM otherwise.
#include "tool/transport_linux.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace velotune::tool {
namespace {

constexpr unsigned kTimeoutMs = 60000;
constexpr unsigned char kSenseSize = 32;
constexpr unsigned char kStatusCheckCondition = 0x02;

int RealOpen(const char* path, int flags) {
    return ::open(path, flags);
}
int RealIoctl(int fd, unsigned long request, void* arg) {
    return ::ioctl(fd, request, arg);
}
int RealClose(int fd) {
    return ::close(fd);
}
void RealSleep(unsigned milliseconds) {
    ::usleep(milliseconds * 1000u);
}

const LinuxSeam kReal = {&RealOpen, &RealIoctl, &RealClose, &RealSleep, "/dev", "sr", ""};

// The number in "<prefix><digits><suffix>", or -1 when the name is not of that form.
long SearchNumber(const std::string& name, const std::string& prefix, const std::string& suffix) {
    if (name.size() <= prefix.size() + suffix.size()) return -1;
    if (name.compare(0, prefix.size(), prefix) != 0) return -1;
    if (name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) return -1;
    const std::string digits =
        name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    if (digits.empty() || digits.size() > 6) return -1;
    long n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

} // namespace

const LinuxSeam& RealLinuxSeam() {
    return kReal;
}

std::vector<std::string> LinuxTransport::Search() {
    std::vector<std::pair<long, std::string>> found;
    if (DIR* dir = opendir(seam_.searchDir)) {
        while (dirent* entry = readdir(dir)) {
            const long n = SearchNumber(entry->d_name, seam_.searchPrefix, seam_.searchSuffix);
            if (n >= 0) found.emplace_back(n, entry->d_name);
        }
        closedir(dir);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> devices;
    std::string dir = seam_.searchDir;
    if (!dir.empty() && dir.back() != '/') dir += '/';
    for (const auto& f : found)
        devices.push_back(dir + f.second);
    return devices;
}

std::string LinuxTransport::DeviceName(const std::string& given) {
    return given;
}

IoStatus LinuxTransport::Open(const std::string& device, int& slot) {
    const int fd = seam_.open(device.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        switch (errno) {
        case EACCES:
        case EPERM:
        case EROFS:
            return IoStatus::NotPermitted;
        case EISDIR:
        case ENXIO:
        case ENODEV:
            return IoStatus::NotScsi;
        default:
            return IoStatus::NotFound;
        }
    }
    slot = fd;
    return IoStatus::Ok;
}

// The drive layer's rule: a command that ends in unit attention, or while the
// drive is becoming ready, is sent again (RetryPauseMs); the last try counts.
IoStatus LinuxTransport::Send(int slot, const std::uint8_t* cdb, std::uint8_t cdbLength,
                              std::uint8_t* data, std::uint32_t dataLength,
                              std::uint32_t& transferred) {
    IoStatus status;
    SenseCode sense;
    for (int tries = 1;; ++tries) {
        status = SendOnce(slot, cdb, cdbLength, data, dataLength, transferred, sense);
        const std::uint8_t result = status == IoStatus::Ok               ? kResultOk
                                    : status == IoStatus::CheckCondition ? kResultError
                                                                         : kResultIoFailed;
        const int pause = RetryPauseMs(result, sense, tries);
        if (pause < 0) break;
        if (pause > 0) seam_.sleepMs(static_cast<unsigned>(pause));
    }
    if (status == IoStatus::CheckCondition && dataLength >= 14) {
        // As on every path of the drive layer: sense key, ASC and ASCQ in data
        // bytes 2, 12 and 13.
        data[2] = sense.key;
        data[12] = sense.asc;
        data[13] = sense.ascq;
    }
    return status;
}

IoStatus LinuxTransport::SendOnce(int slot, const std::uint8_t* cdb, std::uint8_t cdbLength,
                                  std::uint8_t* data, std::uint32_t dataLength,
                                  std::uint32_t& transferred, SenseCode& sense) {
    transferred = 0;
    sense = SenseCode{};
    unsigned char command[16] = {};
    if (cdbLength == 0 || cdbLength > sizeof command) return IoStatus::Failed;
    std::memcpy(command, cdb, cdbLength);
    unsigned char senseData[kSenseSize] = {};
    sg_io_hdr_t io;
    std::memset(&io, 0, sizeof io);
    io.interface_id = 'S';
    io.dxfer_direction = SG_DXFER_FROM_DEV;
    io.cmd_len = cdbLength;
    io.mx_sb_len = kSenseSize;
    io.dxfer_len = dataLength;
    io.dxferp = data;
    io.cmdp = command;
    io.sbp = senseData;
    io.timeout = kTimeoutMs;
    if (seam_.ioctl(slot, SG_IO, &io) < 0) {
        switch (errno) {
        case EPERM:
        case EACCES:
            return IoStatus::NotPermitted;
        case ENOTTY:
        case EINVAL:
        case ENOSYS:
            return IoStatus::NotScsi;
        default:
            return IoStatus::Failed;
        }
    }
    if (io.status == kStatusCheckCondition || (io.driver_status & 0x08) != 0) {
        if (io.sb_len_wr >= 14)
            sense = {static_cast<std::uint8_t>(senseData[2] & 0x0F), senseData[12], senseData[13]};
        return IoStatus::CheckCondition;
    }
    if (io.status != 0 || io.host_status != 0 || (io.driver_status & ~0x08) != 0)
        return IoStatus::Failed;
    const int resid = io.resid < 0 ? 0 : io.resid;
    transferred = static_cast<std::uint32_t>(resid) < dataLength ? dataLength - resid : 0;
    return IoStatus::Ok;
}

void LinuxTransport::Close(int slot) {
    seam_.close(slot);
}

} // namespace velotune::tool
