// velotune: reads and switches the speed mode of the maker's optical drives from
// a prompt or a script. See velotune --help.
#include "tool/cli.h"

#ifdef _WIN32
#include "tool/transport_windows.h"
#else
#include "tool/transport_linux.h"
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
#ifdef _WIN32
    velotune::tool::WindowsTransport transport;
#else
    velotune::tool::LinuxTransport transport;
#endif
    velotune::tool::Outcome outcome = velotune::tool::Run(args, transport);
    // Output that did not reach its file is a failed run.
    errno = 0;
    const std::size_t written = std::fwrite(outcome.out.data(), 1, outcome.out.size(), stdout);
    if (std::fflush(stdout) != 0 || written != outcome.out.size() || std::ferror(stdout)) {
        const int error = errno;
        const velotune::tool::Verdict lost = velotune::tool::Judged(
            velotune::tool::Cause::OutputLost,
            error ? std::string(": ") + std::strerror(error) : std::string());
        outcome.err += "velotune: " + lost.why + "\n";
        // A run that failed already keeps its own code.
        if (outcome.exitCode == velotune::tool::kExitOk) outcome.exitCode = lost.Code();
    }
    std::fputs(outcome.err.c_str(), stderr);
    return outcome.exitCode;
}
