// The velotune command line's arguments: plain parsing, no system calls.
#pragma once

#include <string>
#include <vector>

namespace velotune::tool {

enum class Command { List, Status, Set, Apply, Help, Version };
// High and Silence are the maker's two modes, Speed an entry of a maker's
// speed list; Times (Nx), Kbs (N kB/s) and Max are read speeds for any drive.
enum class Setting { High, Silence, Speed, Times, Kbs, Max };

struct Options {
    Command command = Command::Help;
    bool json = false;
    bool verbose = false; // each command on stderr
    bool quiet = false;   // no output, the exit code only
    bool all = false;     // list: other makers' optical drives too
    std::vector<std::string> devices;
    Setting setting = Setting::High;
    unsigned speed = 0; // Speed (above 255 when the number fits no drive), Times or Kbs: N
    std::string config; // apply: the configuration named with --config ("" for the default)
    bool check = false; // apply: only read the configuration and say what each line names
};

struct Parsed {
    bool ok = false;
    Options options;   // when !ok: json and quiet still as the arguments ask
    std::string error; // when !ok: one line for stderr
};

// A value for set: high or silence in any case, a decimal speed (above 255
// when the number fits no drive), or a read speed: Nx (1 to 255), NkB (1 to
// 65534, also NkB/s) or max.
bool ParseSetting(const std::string& word, Setting& setting, unsigned& speed);
// Whether the setting is a read speed for any drive.
bool IsReadSpeed(Setting setting);

// Parses the arguments after the program name.
Parsed ParseArgs(const std::vector<std::string>& args);

std::string HelpText();
std::string VersionText();

} // namespace velotune::tool
