// LD_PRELOAD library: answers SG_IO for file descriptors that name a simulated
// drive file (a regular file whose name ends in ".drive") and passes every other
// ioctl on to the C library. Wine turns DeviceIoControl(IOCTL_SCSI_PASS_THROUGH_DIRECT)
// into ioctl(fd, SG_IO, sg_io_hdr) in the calling process, so this sits under the
// real program's pass-through path.
#include "simdrive.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

#include <dlfcn.h>
#include <scsi/sg.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using IoctlFn = int (*)(int, unsigned long, ...);

IoctlFn RealIoctl() {
    static IoctlFn real = reinterpret_cast<IoctlFn>(dlsym(RTLD_NEXT, "ioctl"));
    return real;
}

bool SimulatedDrivePath(int fd, std::string& path) {
    char link[64];
    char target[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, target, sizeof target - 1);
    if (n <= 0) return false;
    target[n] = 0;
    path = target;
    const std::string suffix = ".drive";
    if (path.size() <= suffix.size() ||
        path.compare(path.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    struct stat st;
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

vtsim::Direction FromSg(int direction) {
    switch (direction) {
    case SG_DXFER_FROM_DEV:
        return vtsim::Direction::In;
    case SG_DXFER_TO_DEV:
        return vtsim::Direction::Out;
    case SG_DXFER_TO_FROM_DEV:
        return vtsim::Direction::Both;
    default:
        return vtsim::Direction::None;
    }
}

int Emulate(const std::string& path, sg_io_hdr_t* io) {
    if (!io || io->interface_id != 'S' || !io->cmdp || io->cmd_len == 0 || io->iovec_count) {
        errno = EINVAL;
        return -1;
    }
    vtsim::Command command;
    command.cdb = io->cmdp;
    command.cdbLength = io->cmd_len;
    command.direction = FromSg(io->dxfer_direction);
    command.data = static_cast<std::uint8_t*>(io->dxferp);
    command.dataLength = io->dxfer_len;
    std::string fields = std::string("dir=") + vtsim::DirectionName(command.direction) +
                         " len=" + std::to_string(io->dxfer_len) +
                         " timeout=" + std::to_string(io->timeout) +
                         " sense_max=" + std::to_string(io->mx_sb_len);
    // A drive that stays busy for at least the command's time-out: the command
    // times out. Answered at once (the pass-through call fails with ETIMEDOUT),
    // so that a test need not wait the whole time-out.
    const long hang = std::strtol(vtsim::ReadKey(path, "hang_ms").c_str(), nullptr, 10);
    if (hang > 0 && io->timeout > 0 && static_cast<unsigned long>(hang) >= io->timeout) {
        vtsim::AppendLine(path + ".log", "cdb=" + vtsim::Hex(io->cmdp, io->cmd_len) + " " + fields +
                                             " answer=timeout");
        errno = ETIMEDOUT;
        return -1;
    }
    // A fault between the host and the drive: the command never reached it.
    const long host = std::strtol(vtsim::ReadKey(path, "host_status").c_str(), nullptr, 0);
    if (host > 0) {
        vtsim::AppendLine(path + ".log", "cdb=" + vtsim::Hex(io->cmdp, io->cmd_len) + " " + fields +
                                             " answer=host");
        io->resid = static_cast<int>(io->dxfer_len);
        io->status = io->masked_status = io->driver_status = 0;
        io->host_status = static_cast<unsigned short>(host);
        io->sb_len_wr = 0;
        io->info = SG_INFO_CHECK;
        return 0;
    }
    vtsim::Answer answer = vtsim::Execute(path, command, fields);
    if (answer.kind == vtsim::Answer::Kind::Gone) {
        errno = EIO;
        return -1;
    }
    io->resid = static_cast<int>(io->dxfer_len - answer.transferred);
    io->host_status = 0;
    io->msg_status = 0;
    io->duration = 1;
    io->sb_len_wr = 0;
    if (answer.kind == vtsim::Answer::Kind::CheckCondition) {
        io->status = 0x02;
        io->masked_status = 0x01;
        io->driver_status = 0x08; // DRIVER_SENSE
        io->info = SG_INFO_CHECK;
        unsigned n = std::min<unsigned>(io->mx_sb_len, answer.senseLength);
        if (io->sbp && n) std::memcpy(io->sbp, answer.sense, n);
        io->sb_len_wr = static_cast<unsigned char>(n);
    } else if (answer.kind == vtsim::Answer::Kind::Busy) {
        io->status = answer.scsiStatus;
        io->masked_status = static_cast<unsigned char>(answer.scsiStatus >> 1);
        io->driver_status = 0;
        io->info = SG_INFO_CHECK;
        const unsigned n = std::min<unsigned>(io->mx_sb_len, answer.senseLength);
        if (io->sbp && n) {
            std::memcpy(io->sbp, answer.sense, n);
            io->sb_len_wr = static_cast<unsigned char>(n);
            io->driver_status = 0x08; // DRIVER_SENSE: the kernel says sense data came
        }
    } else {
        io->status = 0;
        io->masked_status = 0;
        io->driver_status = 0;
        io->info = SG_INFO_OK;
    }
    return 0;
}

} // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) {
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    if (request == SG_IO) {
        std::string path;
        if (SimulatedDrivePath(fd, path)) {
            int saved = errno;
            int result = Emulate(path, static_cast<sg_io_hdr_t*>(arg));
            if (result == 0) errno = saved;
            return result;
        }
    }
    IoctlFn real = RealIoctl();
    if (!real) {
        errno = ENOSYS;
        return -1;
    }
    return real(fd, request, arg);
}
