// The tool's transport on Linux: SG_IO on /dev/sr* (or any SCSI device given).
#pragma once

#include "drive/drivecommands.h"
#include "tool/transport.h"

#include <sys/stat.h>

namespace velotune::tool {

// The system calls the Linux transport makes, and where a search looks.
// Production passes the real ones; tests pass fakes or point the search elsewhere.
struct LinuxSeam {
    int (*open)(const char* path, int flags);
    int (*ioctl)(int fd, unsigned long request, void* arg);
    int (*close)(int fd);
    void (*sleepMs)(unsigned milliseconds);         // the pause before a command is sent again
    const char* searchDir;                          // "/dev"
    const char* searchPrefix;                       // "sr": names of the prefix and a number ...
    const char* searchSuffix;                       // ... and this ending ("" for /dev/srN)
    int (*stat)(const char* path, struct stat* st); // what a path is, before it is opened
    int (*flock)(int fd, int operation);
    const char* sysDir; // "/sys": where a device number tells what kind of device it is
};
const LinuxSeam& RealLinuxSeam();

class LinuxTransport : public Transport {
public:
    explicit LinuxTransport(const LinuxSeam& seam = RealLinuxSeam()) : seam_(seam) {}
    std::vector<std::string> Search() override;
    std::string DeviceName(const std::string& given) override;
    // Opens only what takes SCSI commands without harm: a block device backed
    // by a SCSI device, an sg node, or a regular file (which the ioctl then
    // refuses: not a SCSI device). A serial port, a tape or a watchdog, whose
    // mere opening acts, is never opened.
    CommandResult Open(const std::string& device, int& slot) override;
    CommandResult Lock(int slot) override;
    CommandResult Send(int slot, const std::uint8_t* cdb, std::uint8_t cdbLength,
                       std::uint8_t* data, std::uint32_t dataLength) override;
    void Pause(unsigned milliseconds) override;
    void Close(int slot) override;

private:
    bool TakesScsi(const struct stat& st) const;

    LinuxSeam seam_;
};

} // namespace velotune::tool
