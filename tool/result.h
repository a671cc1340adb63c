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

// What an open or a command that did not complete means: the exit code and the
// cause in plain words. Code 0 for one that did.
struct Verdict {
    int code = kExitOk;
    std::string why;
};
Verdict Judge(Step step, const CommandResult& result);

// "5/20/00": sense key, ASC and ASCQ as -v and the messages show them.
std::string SenseText(const SenseCode& sense);
std::string Hex2(unsigned value);

} // namespace velotune::tool
