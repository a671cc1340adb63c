// SG_IO on Linux. Opening /dev/srN with O_RDWR | O_NONBLOCK needs no medium;
// through it the kernel lets only root or CAP_SYS_RAWIO send the vendor opcode
// 0xFF, and answers EPERM otherwise. Through /dev/sgN it filters only read-only
// opens: whoever may open the node for writing sends any command. A writer of
// /dev/srN may send the common multimedia commands; a reader only those that
// change nothing, and the speed through CDROM_SELECT_SPEED.
#include "tool/transport_linux.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/cdrom.h>
#include <scsi/sg.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace velotune::tool {
namespace {

constexpr unsigned kTimeoutMs = kCommandTimeoutSeconds * 1000;
constexpr unsigned char kSenseSize = 32;
// The host and driver status values of SG_IO that this tool tells apart.
constexpr unsigned kHostTimeOut = 0x03;      // DID_TIME_OUT
constexpr unsigned kDriverStatusMask = 0x0F; // the rest are suggestions
constexpr unsigned kDriverTimeout = 0x06;
constexpr unsigned kDriverSense = 0x08; // sense data came; the status says what they mean
// How long a run waits for another velotune that holds the drive, and how
// often it looks.
constexpr unsigned kLockWaitMs = 10000, kLockLookMs = 100;

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
int RealStat(const char* path, struct stat* st) {
    return ::stat(path, st);
}
int RealFlock(int fd, int operation) {
    return ::flock(fd, operation);
}

const LinuxSeam kReal = {&RealOpen, &RealIoctl, &RealClose, &RealSleep, "/dev",
                         "sr",      "",         &RealStat,  &RealFlock, "/sys"};

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

// What a failed open or SG_IO call means for the tool.
CommandResult FromErrno(int error) {
    CommandResult result;
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
        result.status = IoStatus::NotFound;
        break;
    case EACCES:
    case EPERM:
    case EROFS:
        result.status = IoStatus::NotPermitted;
        break;
    case EISDIR:
    case ENXIO:
    case ENODEV:
    case ENOTTY: // a file, a directory, a pipe: the ioctl itself says no
    case EINVAL:
    case ENOSYS:
        result.status = IoStatus::NotScsi;
        break;
    case EBUSY:
        result.status = IoStatus::InUse;
        break;
    case ETIMEDOUT:
        result.status = IoStatus::TimedOut;
        break;
    default:
        result.status = IoStatus::Failed;
        result.detail = std::strerror(error);
        break;
    }
    return result;
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

// The sysfs folder of a device number: /sys/dev/block/8:0, /sys/dev/char/21:0.
bool LinuxTransport::TakesScsi(const struct stat& st) const {
    if (S_ISREG(st.st_mode)) return true;
    if (!S_ISBLK(st.st_mode) && !S_ISCHR(st.st_mode)) return false;
    const std::string node =
        std::string(seam_.sysDir) + "/dev/" + (S_ISBLK(st.st_mode) ? "block/" : "char/") +
        std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
    struct stat info;
    if (S_ISBLK(st.st_mode)) return ::stat((node + "/device/scsi_device").c_str(), &info) == 0;
    char target[4096];
    const ssize_t n = ::readlink((node + "/subsystem").c_str(), target, sizeof target - 1);
    if (n <= 0) return false;
    target[n] = '\0';
    const char* slash = std::strrchr(target, '/');
    return std::strcmp(slash ? slash + 1 : target, "scsi_generic") == 0;
}

CommandResult LinuxTransport::Open(const std::string& device, int& slot) {
    CommandResult result;
    struct stat st;
    if (seam_.stat(device.c_str(), &st) != 0) return FromErrno(errno);
    if (!TakesScsi(st)) {
        result.status = IoStatus::NotScsi;
        return result;
    }
    constexpr int kFlags = O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = seam_.open(device.c_str(), O_RDWR | kFlags);
    // Without write access, the commands that only read still pass.
    if (fd < 0 && (errno == EACCES || errno == EROFS))
        fd = seam_.open(device.c_str(), O_RDONLY | kFlags);
    if (fd < 0) return FromErrno(errno);
    // The path must still name what was looked at: a link changed in between
    // gets no command.
    struct stat opened;
    if (::fstat(fd, &opened) != 0 || (opened.st_mode & S_IFMT) != (st.st_mode & S_IFMT) ||
        opened.st_rdev != st.st_rdev || opened.st_ino != st.st_ino || opened.st_dev != st.st_dev) {
        seam_.close(fd);
        result.status = IoStatus::NotScsi;
        return result;
    }
    slot = fd;
    result.status = IoStatus::Ok;
    return result;
}

CommandResult LinuxTransport::Lock(int slot) {
    CommandResult result;
    result.status = IoStatus::Ok;
    for (unsigned waited = 0;; waited += kLockLookMs) {
        if (seam_.flock(slot, LOCK_EX | LOCK_NB) == 0) return result;
        // Only a lock held elsewhere is waited for: a device that takes no locks
        // is used as it is.
        if (errno != EWOULDBLOCK && errno != EINTR) return result;
        if (waited >= kLockWaitMs) break;
        seam_.sleepMs(kLockLookMs);
    }
    result.status = IoStatus::Locked;
    return result;
}

void LinuxTransport::Pause(unsigned milliseconds) {
    seam_.sleepMs(milliseconds);
}

// SG_IO tells the call, the host and its driver, and the drive's status apart;
// Classify reads them in that order.
CommandResult LinuxTransport::Send(int slot, const std::uint8_t* cdb, std::uint8_t cdbLength,
                                   std::uint8_t* data, std::uint32_t dataLength,
                                   DataDirection direction) {
    RawReply reply;
    unsigned char command[16] = {};
    if (cdbLength == 0 || cdbLength > sizeof command) {
        reply.callFailed = true;
        return Classify(reply);
    }
    std::memcpy(command, cdb, cdbLength);
    unsigned char senseData[kSenseSize] = {};
    sg_io_hdr_t io;
    std::memset(&io, 0, sizeof io);
    io.interface_id = 'S';
    if (direction == DataDirection::None) dataLength = 0;
    io.dxfer_direction = direction == DataDirection::Out ? SG_DXFER_TO_DEV
                         : dataLength == 0               ? SG_DXFER_NONE
                                                         : SG_DXFER_FROM_DEV;
    io.cmd_len = cdbLength;
    io.mx_sb_len = kSenseSize;
    io.dxfer_len = dataLength;
    io.dxferp = dataLength ? data : nullptr;
    io.cmdp = command;
    io.sbp = senseData;
    io.timeout = kTimeoutMs;
    if (seam_.ioctl(slot, SG_IO, &io) < 0) {
        const CommandResult failed = FromErrno(errno);
        reply.callFailed = true;
        reply.systemError = failed.status;
        reply.detail = failed.detail;
        return Classify(reply);
    }
    const unsigned driverStatus = io.driver_status & kDriverStatusMask;
    reply.timedOut = io.host_status == kHostTimeOut || driverStatus == kDriverTimeout;
    reply.transportFailed =
        io.host_status != 0 || (driverStatus != 0 && driverStatus != kDriverSense);
    reply.scsiStatus = io.status;
    reply.sense = senseData;
    reply.senseLength = io.sb_len_wr < kSenseSize ? io.sb_len_wr : kSenseSize;
    const int resid = io.resid < 0 ? 0 : io.resid;
    reply.transferred = static_cast<std::uint32_t>(resid) < dataLength
                            ? dataLength - static_cast<std::uint32_t>(resid)
                            : 0;
    return Classify(reply);
}

// The cdrom driver's own request: SET CD SPEED with the read speed of `cdX`
// times 177 kB/s, open to readers and without a capability check.
CommandResult LinuxTransport::SelectCdSpeed(int slot, unsigned cdX) {
    CommandResult result;
    if (seam_.ioctl(slot, CDROM_SELECT_SPEED,
                    reinterpret_cast<void*>(static_cast<std::uintptr_t>(cdX))) < 0)
        return FromErrno(errno);
    result.status = IoStatus::Ok;
    return result;
}

void LinuxTransport::Close(int slot) {
    seam_.close(slot);
}

} // namespace velotune::tool
