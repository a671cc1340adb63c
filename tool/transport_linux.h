// The tool's transport on Linux: SG_IO on /dev/sr* (or any path given).
#pragma once

#include "drive/drivecommands.h"
#include "tool/transport.h"

namespace velotune::tool {

// The system calls the Linux transport makes, and where a search looks.
// Production passes the real ones; tests pass fakes or point the search elsewhere.
struct LinuxSeam {
    int (*open)(const char* path, int flags);
    int (*ioctl)(int fd, unsigned long request, void* arg);
    int (*close)(int fd);
    void (*sleepMs)(unsigned milliseconds); // the pause before a command is sent again
    const char* searchDir;                  // "/dev"
    const char* searchPrefix;               // "sr": names of the prefix and a number ...
    const char* searchSuffix;               // ... and this ending ("" for /dev/srN)
};
const LinuxSeam& RealLinuxSeam();

class LinuxTransport : public Transport {
public:
    explicit LinuxTransport(const LinuxSeam& seam = RealLinuxSeam()) : seam_(seam) {}
    std::vector<std::string> Search() override;
    std::string DeviceName(const std::string& given) override;
    CommandResult Open(const std::string& device, int& slot) override;
    CommandResult Send(int slot, const std::uint8_t* cdb, std::uint8_t cdbLength,
                       std::uint8_t* data, std::uint32_t dataLength,
                       DataDirection direction = DataDirection::In) override;
    CommandResult SelectCdSpeed(int slot, unsigned cdX) override;
    void Close(int slot) override;

private:
    CommandResult SendOnce(int slot, const std::uint8_t* cdb, std::uint8_t cdbLength,
                           std::uint8_t* data, std::uint32_t dataLength, DataDirection direction);

    LinuxSeam seam_;
};

} // namespace velotune::tool
