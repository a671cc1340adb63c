// What the result of an open or a command means for the velotune run: its exit
// code and its cause in plain words, from one table.
#pragma once

#include "tool/transport.h"

#include <string>

namespace velotune::tool {

enum ExitCode : int {
    kExitOk = 0,
    kExitUsage = 1,        // usage error, a value the drive refuses, several drives found
    kExitNoDevice = 2,     // no such device, not a SCSI or optical device, not this maker's drive
    kExitFailed = 3,       // the drive did not answer, or a command failed
    kExitNotPermitted = 4, // the system refuses the pass-through
};

// The commands a run sends, by what they are for.
enum class Step { Open, Inquiry, StatusRead, ModeSet, ReadBack };

// Every outcome a run tells apart. One table (result.cpp) gives each its exit
// code and its cause in plain words; nothing else turns an outcome into a number.
enum class Cause {
    Ok,
    // An open or a command that did not complete, as Judge tells it.
    NotFound,
    NotScsi,
    NotOptical,
    NotPermitted,
    InUse,
    Locked,
    Failed,
    TimedOut,
    HostError,
    Busy,
    OtherStatus,
    Foreign, // another maker's drive: it refuses the status read as ILLEGAL REQUEST
    UnitAttention,
    BecomingReady,
    NotReady,
    Refused,
    // What the run makes of the devices and their answers.
    ShortStatusReply, // a status reply too short to be the maker's
    RefusedCommand,   // a standard command the drive refused, by name
    NoReply,          // the read-back after the mode set gave no bytes
    NotShown,         // the read-back shows another setting than the one asked for
    MediumUnknown,    // Nx asked of a drive that does not name its medium
    NoDiscForSpeed,
    SpeedDenied,
    NoSpeedCommand,
    SpeedKept, // the drive reads faster than asked
    NoDrive,
    OnlyOtherMakers,
    SeveralDrives,
    NotAccepted, // a setting the drive does not take
    Usage,       // the command line, or the configuration it names
    NotHere,     // a command of the other system's tool
    OutputLost,  // the output did not reach standard output
};

// An outcome and its cause in plain words. Ok unless something failed.
struct Verdict {
    Cause cause = Cause::Ok;
    std::string why;
    bool Ok() const { return cause == Cause::Ok; }
    // The exit code the table gives the outcome.
    int Code() const;
    // Whether it tells that the device is none velotune works on: no such
    // device, no SCSI or no optical device, or not this maker's drive.
    bool NoDevice() const;
    // Whether it counts for more than `other` when a run ends with one of them.
    bool Outweighs(const Verdict& other) const;
};
// What an open or a command that did not complete means; Ok for one that did.
Verdict Judge(Step step, const CommandResult& result);
// An outcome of the run, `first` and `second` filled into its text. With
// `result`, the text gets that command's sense codes too.
Verdict Judged(Cause cause, const std::string& first = {}, const std::string& second = {});
Verdict Judged(Cause cause, const CommandResult& result, const std::string& first);

// "5/20/00": sense key, ASC and ASCQ as -v and the messages show them.
std::string SenseText(const SenseCode& sense);
std::string Hex2(unsigned value);

} // namespace velotune::tool
