// The configuration "velotune apply" follows (/etc/velotune.conf): one rule a
// line, "PATTERN MODE", the first matching rule wins. Plain parsing and
// matching; reading the file and finding a drive's names are the caller's.
#pragma once

#include "tool/args.h"

#include <string>
#include <vector>

namespace velotune::tool {

inline constexpr char kDefaultConfig[] = "/etc/velotune.conf";

struct ConfigRule {
    std::string pattern; // a shell glob (fnmatch)
    Setting setting = Setting::High;
    unsigned speed = 0; // Setting::Speed
    unsigned line = 0;  // where the rule stands in its file, from 1
};

struct Config {
    bool ok = false;
    std::vector<ConfigRule> rules;     // in file order; none when no line is active
    std::string error;                 // when !ok: "FILE:LINE: what is wrong"
    std::vector<std::string> warnings; // "FILE:LINE: what looks wrong", the file still used
};

// Parses the text of the file `fileName` (named in messages only). A byte-order
// mark at the start is skipped; a "#" starts a comment; empty lines are skipped;
// MODE is high, silence or a speed, in any case. A NUL or another control byte
// (tab and the CR of CRLF aside) is an error; a "[" that is never closed, which
// fnmatch takes as itself, is a warning.
Config ParseConfig(const std::string& text, const std::string& fileName);

// Reads the configuration `file` as a program running as root must: opened
// without blocking (a FIFO cannot hold the run), and trusted only when it is a
// regular file, owned by root or by the user running the tool, and writable by
// neither group nor others. `required`: a missing file is an error, not an empty
// configuration. False with `error` ("FILE: why") when it is not used.
bool ReadConfigFile(const std::string& file, bool required, std::string& text, std::string& error);

// The rules whose pattern matches one of `names`, the names a drive goes by: its
// path as given, the path with links resolved, the links that name the same
// drive, its model text. In file order: the first is the one that applies.
std::vector<const ConfigRule*> MatchConfig(const std::vector<ConfigRule>& rules,
                                           const std::vector<std::string>& names);

} // namespace velotune::tool
