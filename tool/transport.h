// The one seam between the velotune tool and a system's SCSI pass-through:
// SG_IO on Linux, IOCTL_SCSI_PASS_THROUGH_DIRECT on Windows. Plain C++, so the
// tool's logic builds and is tested on both systems.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velotune::tool {

enum class IoStatus {
    Ok,             // the command completed (result 0x01)
    CheckCondition, // the drive refused it (result 0x04; sense in data bytes 2, 12, 13)
    NotFound,       // no such device
    NotScsi,        // the device takes no SCSI commands
    NotPermitted,   // the system refuses: administrator, root or CAP_SYS_RAWIO needed
    Failed,         // the pass-through call failed otherwise
};

class Transport {
public:
    virtual ~Transport() = default;
    // The devices a search without --device looks at, in order.
    virtual std::vector<std::string> Search() = 0;
    // The device a user's name stands for, as the tool prints it ("E:" for "e"),
    // or "" when the name cannot name a device on this system.
    virtual std::string DeviceName(const std::string& given) = 0;
    // Opens a device into `slot`; the slot stays valid until Close.
    virtual IoStatus Open(const std::string& device, int& slot) = 0;
    // One command with data from the drive; `transferred` receives the number of
    // data bytes the drive sent.
    virtual IoStatus Send(int slot, const std::uint8_t* cdb, std::uint8_t cdbLength,
                          std::uint8_t* data, std::uint32_t dataLength,
                          std::uint32_t& transferred) = 0;
    virtual void Close(int slot) = 0;
};

} // namespace velotune::tool
