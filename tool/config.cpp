// The configuration "velotune apply" follows: reading, parsing and matching.
#include "tool/config.h"

#include "tool/output.h"
#include "tool/result.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velotune::tool {
namespace {

constexpr std::size_t kMaxConfigBytes = 64 * 1024;
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

// The words of one line, up to its comment.
std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    for (char c : line) {
        if (c == '#') break;
        if (c == ' ' || c == '\t' || c == '\r') {
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

// The first control byte of a line, other than a tab and the CR of CRLF; -1 for none.
int ControlByte(const std::string& line) {
    for (std::size_t i = 0; i < line.size(); ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        const bool crlf = c == '\r' && i + 1 == line.size();
        if ((c < 0x20 && c != '\t' && !crlf) || c == 0x7F) return c;
    }
    return -1;
}

// Whether a "[" of the pattern opens no bracket expression: fnmatch then takes
// it as itself, and a pattern meant as a set of characters never matches.
bool UnclosedBracket(const std::string& pattern) {
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '\\') {
            ++i;
            continue;
        }
        if (pattern[i] != '[') continue;
        std::size_t j = i + 1;
        if (j < pattern.size() && (pattern[j] == '!' || pattern[j] == '^')) ++j;
        if (j < pattern.size() && pattern[j] == ']') ++j; // a "]" first is one of the set
        const std::size_t close = pattern.find(']', j);
        if (close == std::string::npos) return true;
        i = close;
    }
    return false;
}

std::string Why(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

} // namespace

Config ParseConfig(const std::string& text, const std::string& fileName) {
    Config config;
    unsigned number = 0;
    std::size_t start = text.compare(0, 3, kByteOrderMark) == 0 ? 3 : 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        const std::string where = Printable(fileName) + ":" + std::to_string(number) + ": ";
        const int control = ControlByte(line);
        if (control >= 0) {
            config.error = where +
                           (control == 0 ? std::string("a NUL byte")
                                         : "a control byte (0x" + Hex2(control) + ")") +
                           " in the line: not a configuration";
            return config;
        }
        const std::vector<std::string> words = Words(line);
        if (words.empty()) continue;
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
        if (UnclosedBracket(rule.pattern))
            config.warnings.push_back(where + "warning: the '[' in " + Printable(rule.pattern) +
                                      " is never closed, so it matches only a '[' itself");
        config.rules.push_back(rule);
    }
    config.ok = true;
    return config;
}

bool ReadConfigFile(const std::string& file, bool required, std::string& text, std::string& error) {
    const std::string name = Printable(file);
    text.clear();
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (!required && errno == ENOENT) return true;
        error = Why(name + ": cannot read the configuration", errno);
        return false;
    }
    struct stat st;
    std::string refusal;
    if (::fstat(fd, &st) != 0)
        refusal = std::strerror(errno);
    else if (!S_ISREG(st.st_mode))
        refusal = "not a regular file";
    else if (st.st_uid != 0 && st.st_uid != ::geteuid())
        refusal = "owned by user " + std::to_string(st.st_uid) + ", not by root" +
                  (::geteuid() != 0 ? " or by you" : "");
    else if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        refusal = (st.st_mode & S_IWOTH ? "writable by others" : "writable by its group") +
                  std::string(" (chmod go-w)");
    while (refusal.empty() && text.size() <= kMaxConfigBytes) {
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) refusal = std::strerror(errno);
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (refusal.empty() && text.size() > kMaxConfigBytes) refusal = "larger than 64 KiB";
    if (refusal.empty()) return true;
    error = name + ": not used as the configuration: " + refusal;
    text.clear();
    return false;
}

std::vector<const ConfigRule*> MatchConfig(const std::vector<ConfigRule>& rules,
                                           const std::vector<std::string>& names) {
    std::vector<const ConfigRule*> matched;
    for (const ConfigRule& rule : rules)
        for (const std::string& name : names)
            if (!name.empty() && fnmatch(rule.pattern.c_str(), name.c_str(), 0) == 0) {
                matched.push_back(&rule);
                break;
            }
    return matched;
}

} // namespace velotune::tool
