// The one seam between the velotune tool and a system's SCSI pass-through:
// SG_IO on Linux, IOCTL_SCSI_PASS_THROUGH_DIRECT on Windows. Plain C++, so the
// tool's logic builds and is tested on both systems.
#pragma once

#include "drive/drivecommands.h"

#include <cstddef>
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
    Locked,         // another velotune holds the drive, past the wait
    Failed,         // the system call failed otherwise (an I/O error)
    TimedOut,       // no answer within the time-out
    HostError,      // the host adapter or its driver failed the command
    CheckCondition, // the drive refused it; the sense data say why
    Busy,           // the drive answered BUSY or TASK SET FULL
    OtherStatus,    // the drive ended it with another SCSI status
};

// One open or command as it ended.
struct CommandResult {
    IoStatus status = IoStatus::Failed;
    std::uint32_t transferred = 0; // data bytes the drive sent (Ok)
    std::uint8_t scsiStatus = 0;   // as the drive gave it
    bool hasSense = false;         // the sense data held a sense key ...
    SenseCode sense;               // ... and these codes
    std::string detail;            // the system's words for Failed
};

// One command as a system's pass-through call handed it back, before it is
// told what it means.
struct RawReply {
    bool callFailed = false;                 // the system call itself failed, meaning ...
    IoStatus systemError = IoStatus::Failed; // ... this, in the system's ...
    std::string detail;                      // ... own words for Failed
    bool timedOut = false;                   // the transport gave up waiting
    bool transportFailed = false;            // the host adapter or its driver failed it
    std::uint8_t scsiStatus = 0;             // as the drive gave it
    const std::uint8_t* sense = nullptr;     // the sense bytes that came with it
    std::size_t senseLength = 0;
    std::uint32_t transferred = 0; // data bytes the drive sent
};

// What a command's reply is, told in one order by both systems: a failed call,
// then the transport (time-out first), then the SCSI status, where BUSY and TASK
// SET FULL count whatever came with them and sense data are read only with
// CHECK CONDITION, then GOOD.
CommandResult Classify(const RawReply& reply);

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
    // Keeps other velotune runs away from the open device until Close; waits
    // a bounded time for one that holds it (Locked after that).
    virtual CommandResult Lock(int /*slot*/) {
        CommandResult result;
        result.status = IoStatus::Ok;
        return result;
    }
    // One try of a command with data from the drive. Repeats are the caller's
    // (the drive layer's RetryPauseMs), with Pause between them.
    virtual CommandResult Send(int slot, const std::uint8_t* cdb, std::uint8_t cdbLength,
                               std::uint8_t* data, std::uint32_t dataLength) = 0;
    virtual void Pause(unsigned /*milliseconds*/) {}
    virtual void Close(int slot) = 0;
};

} // namespace velotune::tool
