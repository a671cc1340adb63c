// The velotune commands and their exit codes, on top of the shared drive layer
// and one Transport. No system calls here: each system's main passes its own
// transport.
#pragma once

#include "tool/args.h"
#include "tool/probe.h"
#include "tool/result.h"
#include "tool/transport.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velotune::tool {

// What the command writes: the text for stdout and for stderr, and the exit code.
struct Outcome {
    int exitCode = kExitOk;
    std::string out;
    std::string err;
};

Outcome Run(const std::vector<std::string>& args, Transport& transport);

} // namespace velotune::tool
