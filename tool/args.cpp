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

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// The options that take no value, by long and short name.
struct Flag {
    const char* name;
    char letter;
    bool Options::*field;
};
const Flag kFlags[] = {{"--json", 'j', &Options::json},
                       {"--verbose", 'v', &Options::verbose},
                       {"--quiet", 'q', &Options::quiet},
                       {"--all", '\0', &Options::all},
                       {"--check", '\0', &Options::check}};

class Parser {
public:
    explicit Parser(const std::vector<std::string>& args) : args_(args) {}

    Parsed Parse() {
        for (i_ = 0; i_ < args_.size(); ++i_) {
            const std::string& a = args_[i_];
            bool stop = false;
            if (options_ && a == "--") {
                options_ = false;
            } else if (options_ && a.size() > 1 && a[0] == '-' && !IsNumber(a)) {
                if (!Option(a, stop)) return parsed_;
                if (stop) return Done();
            } else if (!Operand(a)) {
                return parsed_;
            }
        }
        return Finish();
    }

private:
    static bool IsNumber(const std::string& a) {
        return a.size() > 1 && a[1] >= '0' && a[1] <= '9';
    }

    bool Error(const std::string& text) {
        parsed_.ok = false;
        parsed_.error = text + "; try 'velotune --help'";
        return false;
    }

    Parsed Done() {
        parsed_.ok = true;
        return parsed_;
    }

    // One option word: --name, --name=value, -x, or short flags run together (-vj).
    bool Option(const std::string& a, bool& stop) {
        Options& o = parsed_.options;
        if (a == "--help" || a == "-h" || a == "--version" || a == "-V") {
            o.command = a == "--help" || a == "-h" ? Command::Help : Command::Version;
            stop = true;
            return true;
        }
        if (a == "--device" || a == "-d") {
            if (i_ + 1 >= args_.size()) return Error(a + " needs a device");
            o.devices.push_back(args_[++i_]);
            return true;
        }
        if (a.rfind("--device=", 0) == 0) {
            o.devices.push_back(a.substr(9));
            return true;
        }
        if (a == "--config") {
            if (i_ + 1 >= args_.size()) return Error(a + " needs a file");
            config_ = true;
            o.config = args_[++i_];
            return true;
        }
        if (a.rfind("--config=", 0) == 0) {
            config_ = true;
            o.config = a.substr(9);
            return true;
        }
        for (const Flag& flag : kFlags)
            if (a == flag.name) {
                o.*flag.field = true;
                return true;
            }
        if (a[1] == '-') return Error("unknown option '" + a + "'");
        for (std::size_t k = 1; k < a.size(); ++k) {
            const char letter = a[k];
            if (letter == 'd') { // the rest of the word, or the next argument
                if (k + 1 < a.size()) {
                    o.devices.push_back(a.substr(k + 1));
                    return true;
                }
                if (i_ + 1 >= args_.size()) return Error("-d needs a device");
                o.devices.push_back(args_[++i_]);
                return true;
            }
            if (letter == 'h' || letter == 'V') {
                o.command = letter == 'h' ? Command::Help : Command::Version;
                stop = true;
                return true;
            }
            const Flag* flag = std::find_if(std::begin(kFlags), std::end(kFlags),
                                            [&](const Flag& f) { return f.letter == letter; });
            if (flag == std::end(kFlags))
                return Error("unknown option '-" + std::string(1, letter) + "'");
            o.*flag->field = true;
        }
        return true;
    }

    // The command, then set's value, then devices.
    bool Operand(const std::string& a) {
        Options& o = parsed_.options;
        if (!haveCommand_) {
            haveCommand_ = true;
            if (a == "list")
                o.command = Command::List;
            else if (a == "status")
                o.command = Command::Status;
            else if (a == "set")
                o.command = Command::Set;
            else if (a == "apply")
                o.command = Command::Apply;
            else
                return Error("unknown command '" + a + "'");
            return true;
        }
        if (o.command == Command::Set && !haveValue_) {
            haveValue_ = true;
            if (!ParseSetting(a, o.setting, o.speed))
                return Error("set takes high, silence or a speed, not '" + a + "'");
            return true;
        }
        o.devices.push_back(a);
        return true;
    }

    Parsed Finish() {
        const Options& o = parsed_.options;
        std::string problem;
        if (!haveCommand_)
            problem = "no command given";
        else if (o.command == Command::Set && !haveValue_)
            problem = "set needs high, silence or a speed";
        else if (o.command != Command::List && o.command != Command::Apply && o.devices.size() > 1)
            problem = "name one device for status and set";
        else if (config_ && o.command != Command::Apply)
            problem = "--config is for apply";
        else if (config_ && o.config.empty())
            problem = "--config needs a file";
        else if (o.all && o.command != Command::List)
            problem = "--all is for list";
        else if (o.check && o.command != Command::Apply)
            problem = "--check is for apply";
        else if (o.quiet && o.verbose)
            problem = "--quiet and --verbose exclude each other";
        if (!problem.empty()) {
            Error(problem);
            return parsed_;
        }
        return Done();
    }

    const std::vector<std::string>& args_;
    std::size_t i_ = 0;
    bool options_ = true; // until "--"
    bool haveCommand_ = false, haveValue_ = false, config_ = false;
    Parsed parsed_;
};

// Whether a flag stands before "--", wherever it is and whatever else is wrong
// with the arguments: a script that asked for JSON gets its error in JSON.
bool Flagged(const std::vector<std::string>& args, const char* name, char letter) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--") break;
        if (a == name) return true;
        if (a == "--device" || a == "--config") {
            ++i; // its value
            continue;
        }
        if (a.size() < 2 || a[0] != '-' || a[1] == '-' || (a[1] >= '0' && a[1] <= '9')) continue;
        for (std::size_t k = 1; k < a.size(); ++k) {
            if (a[k] == letter) return true;
            if (a[k] == 'd') { // the rest of the word, or the next argument, is a device
                if (k + 1 == a.size()) ++i;
                break;
            }
        }
    }
    return false;
}

} // namespace

bool ParseSetting(const std::string& word, Setting& setting, unsigned& speed) {
    const std::string value = Lower(word);
    if (value == "high")
        setting = Setting::High;
    else if (value == "silence")
        setting = Setting::Silence;
    else if (ParseNumber(word, speed))
        setting = Setting::Speed;
    else
        return false;
    return true;
}

Parsed ParseArgs(const std::vector<std::string>& args) {
    Parsed parsed = Parser(args).Parse();
    if (!parsed.ok) {
        parsed.options.json = Flagged(args, "--json", 'j');
        parsed.options.quiet = Flagged(args, "--quiet", 'q');
    }
    return parsed;
}

std::string HelpText() {
    return "Usage:\n"
           "  velotune list   [-j] [-v|-q] [--all] [DEV...]   the maker's drives, one line each\n"
           "  velotune status [-j] [-v|-q] [DEV]              one drive's kind, setting and "
           "speeds\n"
           "  velotune set (high | silence | SPEED) [-j] [-v|-q] [DEV]   switch one drive\n"
#ifndef _WIN32
           "  velotune apply [-j] [-v|-q] [--config FILE] [--check] [DEV...]   the modes\n"
           "                  of /etc/velotune.conf (or FILE) given to the drives it names\n"
#endif
           "  velotune -h | --help | -V | --version\n"
           "Options:\n"
           "  -d, --device DEV  the device (also as the last argument; list takes several)\n"
           "  -j, --json        JSON on standard output\n"
           "  -v, --verbose     each command on standard error: CDB, SCSI status, sense, bytes\n"
           "  -q, --quiet       no output, the exit code only\n"
           "      --all         list: other makers' optical drives too (kind \"other\")\n"
#ifndef _WIN32
           "      --config FILE apply: the configuration to follow\n"
           "      --check       apply: only check it and show the drives each line names\n"
#endif
           "  -h, --help        this text;  -V, --version  the version\n"
           "  --                the end of the options\n"
#ifdef _WIN32
           "DEV is a drive letter (E: or e). Values are case-insensitive (HIGH, Silence).\n"
#else
           "DEV is a device path (/dev/sr0). Values are case-insensitive (HIGH, Silence).\n"
#endif
           "Exit codes: 0 done; 1 usage error, value refused or output not written; 2 no\n"
           "such device, not an optical drive, not this maker's drive, or none found; 3 the\n"
           "drive did not answer or a command failed; 4 not permitted. See velotune(1).\n";
}

std::string VersionText() {
    return std::string("velotune ") + VELOTUNE_FILE_VERSION_STR + " (" VELOTUNE_COMMIT_STR ")\n";
}

} // namespace velotune::tool
