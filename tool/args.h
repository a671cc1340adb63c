// The velotune command line's arguments: plain parsing, no system calls.
#pragma once

#include <string>
#include <vector>

namespace velotune::tool {

enum class Command { List, Status, Set, Apply, Help, Version };
enum class Setting { High, Silence, Speed };

struct Options {
    Command command = Command::Help;
    bool json = false;
    bool verbose = false; // each command on stderr
    bool quiet = false;   // no output, the exit code only
    bool all = false;     // list: other makers' optical drives too
    std::vector<std::string> devices;
    Setting setting = Setting::High;
    unsigned speed = 0; // Setting::Speed; above 255 when the number fits no drive
    std::string config; // apply: the configuration named with --config ("" for the default)
    bool check = false; // apply: only read the configuration and say what each line names
};

struct Parsed {
    bool ok = false;
    Options options;   // when !ok: json and quiet still as the arguments ask
    std::string error; // when !ok: one line for stderr
};

// A value for set: high or silence in any case, or a decimal speed (above 255
// when the number fits no drive).
bool ParseSetting(const std::string& word, Setting& setting, unsigned& speed);

// Parses the arguments after the program name.
Parsed ParseArgs(const std::vector<std::string>& args);

std::string HelpText();
std::string VersionText();

} // namespace velotune::tool
