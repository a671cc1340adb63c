// The velotune commands and their exit codes, on top of the shared drive layer
// and one Transport. No system calls here: each system's main passes its own
// transport.
#pragma once

#include "tool/args.h"
#include "tool/transport.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velotune::tool {

enum ExitCode : int {
    kExitOk = 0,
    kExitUsage = 1,        // usage error, a value the drive refuses, several drives found
    kExitNoDevice = 2,     // no such device, not a SCSI device, not this maker's drive, none found
    kExitFailed = 3,       // a command failed, or the drive reports another setting than asked
    kExitNotPermitted = 4, // the system refuses the pass-through
};

// What the command writes: the text for stdout and for stderr, and the exit code.
struct Outcome {
    int exitCode = kExitOk;
    std::string out;
    std::string err;
};

Outcome Run(const std::vector<std::string>& args, Transport& transport);

} // namespace velotune::tool
