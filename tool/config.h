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
    std::vector<ConfigRule> rules; // in file order; none when no line is active
    std::string error;             // when !ok: "FILE:LINE: what is wrong"
};

// Parses the text of the file `fileName` (named in errors only). A "#" starts a
// comment; empty lines are skipped; MODE is high, silence or a speed, in any
// case.
Config ParseConfig(const std::string& text, const std::string& fileName);

// The first rule whose pattern matches one of `names`, the names a drive goes
// by: its path as given, the path with links resolved, the links that name the
// same drive, its model text. nullptr when none matches.
const ConfigRule* MatchConfig(const std::vector<ConfigRule>& rules,
                              const std::vector<std::string>& names);

} // namespace velotune::tool
