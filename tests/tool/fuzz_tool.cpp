// libFuzzer target: the tool's argument parsing and commands, with arguments cut
// from the input at zero bytes, against a transport with no devices.
#include "tool/cli.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

class NoDevices : public velotune::tool::Transport {
public:
    std::vector<std::string> Search() override { return {}; }
    std::string DeviceName(const std::string& given) override { return given; }
    velotune::tool::CommandResult Open(const std::string&, int&) override {
        velotune::tool::CommandResult result;
        result.status = velotune::tool::IoStatus::NotFound;
        return result;
    }
    velotune::tool::CommandResult Send(int, const std::uint8_t*, std::uint8_t, std::uint8_t*,
                                       std::uint32_t, velotune::tool::DataDirection) override {
        __builtin_trap(); // nothing is open, so nothing may be sent
    }
    velotune::tool::CommandResult SelectCdSpeed(int, unsigned) override { __builtin_trap(); }
    void Close(int) override { __builtin_trap(); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            args.emplace_back();
        else
            args.back().push_back(static_cast<char>(data[i]));
    }
    const velotune::tool::Parsed parsed = velotune::tool::ParseArgs(args);
    if (parsed.ok == parsed.error.empty()) {
        // ok exactly when there is no error text
    } else {
        __builtin_trap();
    }
    NoDevices transport;
    const velotune::tool::Outcome outcome = velotune::tool::Run(args, transport);
    if (outcome.exitCode < 0 || outcome.exitCode > 4) __builtin_trap();
    if (!parsed.ok && outcome.exitCode != velotune::tool::kExitUsage) __builtin_trap();
    return 0;
}
