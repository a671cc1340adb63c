// The tool's transport on Windows: SCSI pass-through to a CD-ROM drive letter,
// through the drive layer's own pass-through call.
#pragma once

#include "drive/speedcontrol.h"
#include "tool/transport.h"

#include <windows.h>

namespace velotune::tool {

class WindowsTransport : public Transport {
public:
    // The letters' type and the opening of "\\.\X:" go through the discovery seam.
    explicit WindowsTransport(const DiscoverySeam& seam = RealDiscoverySeam()) : seam_(seam) {}
    ~WindowsTransport() override;
    std::vector<std::string> Search() override;
    std::string DeviceName(const std::string& given) override;
    CommandResult Open(const std::string& device, int& slot) override;
    CommandResult Send(int slot, const std::uint8_t* cdb, std::uint8_t cdbLength,
                       std::uint8_t* data, std::uint32_t dataLength) override;
    void Pause(unsigned milliseconds) override;
    void Close(int slot) override;

private:
    DiscoverySeam seam_;
    HANDLE handles_[kMaxNtDrives] = {};
};

} // namespace velotune::tool
