// The configuration "velotune apply" follows: parsing and matching.
#include "tool/config.h"

#include <fnmatch.h>

#include <cctype>

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

// A word of the file as a message may show it: control bytes as '?'.
std::string Shown(const std::string& word) {
    std::string shown = word;
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return shown;
}

bool ParseMode(const std::string& word, ConfigRule& rule) {
    std::string lower;
    for (char c : word)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "high") {
        rule.setting = Setting::High;
        return true;
    }
    if (lower == "silence") {
        rule.setting = Setting::Silence;
        return true;
    }
    if (lower.empty() || lower.size() > 3) return false;
    unsigned speed = 0;
    for (char c : lower) {
        if (c < '0' || c > '9') return false;
        speed = speed * 10 + static_cast<unsigned>(c - '0');
    }
    if (speed == 0 || speed > 255) return false;
    rule.setting = Setting::Speed;
    rule.speed = speed;
    return true;
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
        const std::string where = Shown(fileName) + ":" + std::to_string(number) + ": ";
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
            config.error =
                where + "MODE is high, silence or a speed from 1 to 255, not " + Shown(words[1]);
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
