// velotune: reads and switches the speed mode of the maker's optical drives from
// a prompt or a script. See velotune --help.
#include "tool/cli.h"

#ifdef _WIN32
#include "tool/transport_windows.h"
#else
#include "tool/transport_linux.h"
#endif

#include <cstdio>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
#ifdef _WIN32
    velotune::tool::WindowsTransport transport;
#else
    velotune::tool::LinuxTransport transport;
#endif
    const velotune::tool::Outcome outcome = velotune::tool::Run(args, transport);
    std::fputs(outcome.out.c_str(), stdout);
    std::fflush(stdout);
    std::fputs(outcome.err.c_str(), stderr);
    return outcome.exitCode;
}
