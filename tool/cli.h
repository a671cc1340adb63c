// The velotune command line: argument parsing, the three commands and their
// output, on top of the shared drive layer and one Transport. No system calls
// here: each system's main passes its own transport.
#pragma once

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

enum class Command { List, Status, Set, Help, Version };
enum class Setting { High, Silence, Speed };

struct Options {
    Command command = Command::Help;
    bool json = false;
    std::vector<std::string> devices;
    Setting setting = Setting::High;
    unsigned speed = 0; // Setting::Speed; above 255 when the number fits no drive
};

struct Parsed {
    bool ok = false;
    Options options;
    std::string error; // when !ok: one line for stderr
};

// Parses the arguments after the program name.
Parsed ParseArgs(const std::vector<std::string>& args);

// What the command writes: the text for stdout and for stderr, and the exit code.
struct Outcome {
    int exitCode = kExitOk;
    std::string out;
    std::string err;
};

Outcome Run(const std::vector<std::string>& args, Transport& transport);

std::string HelpText();
std::string VersionText();

// A drive as the tool reports it.
struct DriveReport {
    std::string device;
    std::string model;
    bool twoMode = true;
    bool high = false;                // two-mode
    unsigned speed = 0;               // speed-list: current speed
    std::vector<std::uint8_t> speeds; // speed-list
};

// JSON object of one drive; the model is escaped, and bytes outside printable
// ASCII are written as \u00XX.
std::string DriveJson(const DriveReport& drive);
std::string JsonString(const std::string& text);

} // namespace velotune::tool
