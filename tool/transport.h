// The one seam between the velotune tool and a system's SCSI pass-through:
// SG_IO on Linux, IOCTL_SCSI_PASS_THROUGH_DIRECT on Windows. Plain C++, so the
// tool's logic builds and is tested on both systems.
#pragma once

#include "drive/drivecommands.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velotune::tool {

// How an open or a command ended, in the order a result is told apart: the
// system's refusals first, then the transport, then the drive's own answer.
enum class IoStatus {
    Ok,             // the command completed
    NotFound,       // no such device
    NotScsi,        // the device takes no SCSI commands
    NotOptical,     // the system knows the device as something other than an optical drive
    NotPermitted,   // the system refuses: administrator, root or CAP_SYS_RAWIO needed
    InUse,          // the device is held by another program
    Failed,         // the system call failed otherwise (an I/O error)
    TimedOut,       // no answer within the time-out
    HostError,      // the host adapter or its driver failed the command
    CheckCondition, // the drive refused it; the sense data say why
    Busy,           // the drive answered BUSY or TASK SET FULL
    OtherStatus,    // the drive ended it with another SCSI status
};

// Which way a command's data go.
enum class DataDirection { In, Out, None };

// One open or command as it ended.
struct CommandResult {
    IoStatus status = IoStatus::Failed;
    std::uint32_t transferred = 0; // data bytes moved (Ok)
    std::uint8_t scsiStatus = 0;   // as the drive gave it
    bool hasSense = false;         // the sense data held a sense key ...
    SenseCode sense;               // ... and these codes
    std::string detail;            // the system's words for Failed
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
    virtual CommandResult Open(const std::string& device, int& slot) = 0;
    // One command, its data going `direction` (a buffer of at least 14 bytes
    // even without data). A command that ends in unit attention, or while the
    // drive is becoming ready, is sent again as the drive layer's RetryPauseMs
    // says; the last try counts.
    virtual CommandResult Send(int slot, const std::uint8_t* cdb, std::uint8_t cdbLength,
                               std::uint8_t* data, std::uint32_t dataLength,
                               DataDirection direction = DataDirection::In) = 0;
    // The system's own read speed request, in CD x (0 for the fastest), where
    // the system refuses the speed commands themselves; NotScsi where it has none.
    virtual CommandResult SelectCdSpeed(int slot, unsigned cdX) = 0;
    virtual void Close(int slot) = 0;
};

} // namespace velotune::tool
