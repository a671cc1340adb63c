// The velotune command line's arguments, help and version.
#include "tool/args.h"

#include "resources/version.h"
#include "velotune_commit.h"

#include <algorithm>

namespace velotune::tool {
namespace {

constexpr unsigned kNoSpeed = 256; // a number no drive lists

// A decimal number. Digit runs too long or too large for a byte are numbers
// too, just none that a drive lists.
bool ParseNumber(const std::string& text, unsigned& value) {
    if (text.empty() ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    unsigned v = 0;
    for (char c : text) {
        v = v * 10 + static_cast<unsigned>(c - '0');
        if (v > 255) {
            value = kNoSpeed;
            return true;
        }
    }
    value = v;
    return true;
}

} // namespace

Parsed ParseArgs(const std::vector<std::string>& args) {
    Parsed parsed;
    Options& o = parsed.options;
    bool haveCommand = false, haveValue = false, help = false, version = false;
    auto error = [&](const std::string& text) {
        parsed.ok = false;
        parsed.error = text;
        return parsed;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            help = true;
        } else if (a == "--version") {
            version = true;
        } else if (a == "--json") {
            o.json = true;
        } else if (a == "--device") {
            if (i + 1 >= args.size()) return error("--device needs a device");
            o.devices.push_back(args[++i]);
        } else if (a.rfind("--device=", 0) == 0) {
            o.devices.push_back(a.substr(9));
        } else if (a.size() > 1 && a[0] == '-' && !(a[1] >= '0' && a[1] <= '9')) {
            return error("unknown option " + a);
        } else if (!haveCommand) {
            haveCommand = true;
            if (a == "list")
                o.command = Command::List;
            else if (a == "status")
                o.command = Command::Status;
            else if (a == "set")
                o.command = Command::Set;
            else
                return error("unknown command " + a);
        } else if (o.command == Command::Set && !haveValue) {
            haveValue = true;
            if (a == "high") {
                o.setting = Setting::High;
            } else if (a == "silence") {
                o.setting = Setting::Silence;
            } else if (ParseNumber(a, o.speed)) {
                o.setting = Setting::Speed;
            } else {
                return error("set takes high, silence or a speed, not " + a);
            }
        } else {
            return error("unexpected argument " + a);
        }
    }
    if (help || version) {
        if (haveCommand || o.json || !o.devices.empty() || (help && version))
            return error("--help and --version stand alone");
        o.command = help ? Command::Help : Command::Version;
        parsed.ok = true;
        return parsed;
    }
    if (!haveCommand) return error("no command given");
    if (o.command == Command::Set && !haveValue) return error("set needs high, silence or a speed");
    if (o.command == Command::Set && o.json) return error("set does not take --json");
    if (o.command != Command::List && o.devices.size() > 1)
        return error("name one device for status and set");
    parsed.ok = true;
    return parsed;
}

std::string HelpText() {
    return "Usage:\n"
           "  velotune list   [--json] [--device DEV]...   the maker's drives, one line each\n"
           "  velotune status [--json] [--device DEV]      one drive's kind, setting and speeds\n"
           "  velotune set (high | silence | SPEED) [--device DEV]   switch one drive\n"
           "  velotune --help | --version\n"
#ifdef _WIN32
           "DEV is a drive letter (E: or e).\n"
#else
           "DEV is a device path (/dev/sr0).\n"
#endif
           "Exit codes: 0 done, 1 usage or value refused, 2 no such drive,\n"
           "3 command failed, 4 not permitted.\n";
}

std::string VersionText() {
    return std::string("velotune ") + VELOTUNE_FILE_VERSION_STR + " (" VELOTUNE_COMMIT_STR ")\n";
}

} // namespace velotune::tool
