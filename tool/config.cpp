// The configuration "velotune apply" follows: parsing and matching.
#include "tool/config.h"

#include "tool/output.h"

#include <fnmatch.h>

namespace velotune::tool {
namespace {

// The words of one line, up to its comment.
std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    for (char c : line) {
        if (c == '#') break;
        if (c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f') {
            if (!word.empty()) words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) words.push_back(word);
    return words;
}

// A speed here is one a drive could list: 1 to 255.
bool ParseMode(const std::string& word, ConfigRule& rule) {
    return ParseSetting(word, rule.setting, rule.speed) &&
           (rule.setting != Setting::Speed || (rule.speed >= 1 && rule.speed <= 255));
}

} // namespace

Config ParseConfig(const std::string& text, const std::string& fileName) {
    Config config;
    unsigned number = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::vector<std::string> words = Words(text.substr(start, end - start));
        start = end + 1;
        ++number;
        if (words.empty()) continue;
        const std::string where = Printable(fileName) + ":" + std::to_string(number) + ": ";
        if (words.size() != 2) {
            config.error = where + "expected PATTERN MODE, found " + std::to_string(words.size()) +
                           (words.size() == 1 ? " word" : " words") +
                           " (write a blank in a pattern as ?)";
            return config;
        }
        ConfigRule rule;
        rule.pattern = words[0];
        rule.line = number;
        if (!ParseMode(words[1], rule)) {
            config.error = where + "MODE is high, silence or a speed from 1 to 255, not " +
                           Printable(words[1]);
            return config;
        }
        config.rules.push_back(rule);
    }
    config.ok = true;
    return config;
}

const ConfigRule* MatchConfig(const std::vector<ConfigRule>& rules,
                              const std::vector<std::string>& names) {
    for (const ConfigRule& rule : rules)
        for (const std::string& name : names)
            if (!name.empty() && fnmatch(rule.pattern.c_str(), name.c_str(), 0) == 0) return &rule;
    return nullptr;
}

} // namespace velotune::tool
