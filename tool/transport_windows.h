// The tool's transport on Windows: the cdrom driver's own requests, which need
// only read access, for the multimedia commands that have one; SCSI
// pass-through, through the drive layer's own call, for the rest and where the
// driver lacks a request, which needs administrator rights.
#pragma once

#include "drive/letters.h"
#include "drive/transport.h"
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
                       std::uint8_t* data, std::uint32_t dataLength,
                       DataDirection direction = DataDirection::In) override;
    void Pause(unsigned milliseconds) override;
    CommandResult SelectCdSpeed(int slot, unsigned cdX) override;
    void Close(int slot) override;

private:
    // The cdrom driver's request for the command, where it has one; false
    // where it has none and pass-through may be tried instead.
    bool CdromRequest(int slot, const std::uint8_t* cdb, std::uint8_t cdbLength, std::uint8_t* data,
                      std::uint32_t dataLength, CommandResult& result);

    DiscoverySeam seam_;
    UniqueFileHandle handles_[kMaxNtDrives]; // closed through the seam
    bool writable_[kMaxNtDrives] = {};       // opened for pass-through (administrator)
};

} // namespace velotune::tool
