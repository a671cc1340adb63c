#include "simdrive.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

namespace vtsim {
namespace {

using Lines = std::vector<std::pair<std::string, std::string>>;

std::string Trim(const std::string& s) {
    std::size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    std::size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

bool ReadText(const std::string& path, std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    char buffer[4096];
    std::size_t n;
    text.clear();
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        text.append(buffer, n);
    std::fclose(f);
    return true;
}

// Keeps every line of the file; a line without '=' is kept with an empty key.
Lines Parse(const std::string& text) {
    Lines lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::size_t eq = line.find('=');
        if (eq == std::string::npos || Trim(line).rfind('#', 0) == 0)
            lines.emplace_back("", line);
        else
            lines.emplace_back(Trim(line.substr(0, eq)), line.substr(eq + 1));
        pos = end + 1;
    }
    return lines;
}

std::string Get(const Lines& lines, const std::string& key, const std::string& fallback = "") {
    std::string value = fallback;
    for (const auto& [k, v] : lines)
        if (k == key) value = Trim(v); // the last one counts
    return value;
}

long GetNumber(const Lines& lines, const std::string& key, long fallback) {
    std::string v = Get(lines, key);
    if (v.empty()) return fallback;
    return std::strtol(v.c_str(), nullptr, 0);
}

bool GetFlag(const Lines& lines, const std::string& key) {
    std::string v = Get(lines, key);
    return !v.empty() && v != "0" && v != "no" && v != "false";
}

// Rewrites the file in place (same file, so open descriptors keep naming it).
void Put(const std::string& path, Lines lines, const std::string& key, const std::string& value) {
    bool found = false;
    for (auto& [k, v] : lines)
        if (k == key) {
            v = value;
            found = true;
        }
    if (!found) lines.emplace_back(key, value);
    std::string text;
    for (const auto& [k, v] : lines)
        text += (k.empty() ? v : k + "=" + v) + "\n";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

// "00 04 ff", "0004ff" or "0x00,0x04" style byte lists.
std::vector<std::uint8_t> ParseHex(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    std::string digits;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
            ++i;
            continue;
        }
        if (std::isxdigit(static_cast<unsigned char>(c))) {
            digits += c;
            if (digits.size() == 2) {
                bytes.push_back(
                    static_cast<std::uint8_t>(std::strtoul(digits.c_str(), nullptr, 16)));
                digits.clear();
            }
        } else if (!digits.empty()) {
            bytes.push_back(static_cast<std::uint8_t>(std::strtoul(digits.c_str(), nullptr, 16)));
            digits.clear();
        }
    }
    if (!digits.empty())
        bytes.push_back(static_cast<std::uint8_t>(std::strtoul(digits.c_str(), nullptr, 16)));
    return bytes;
}

std::vector<std::uint8_t> ParseNumbers(const std::string& text) {
    std::vector<std::uint8_t> values;
    const char* p = text.c_str();
    while (*p) {
        char* end;
        unsigned long v = std::strtoul(p, &end, 0);
        if (end == p) {
            ++p;
            continue;
        }
        values.push_back(static_cast<std::uint8_t>(v));
        p = end;
    }
    return values;
}

void SetSense(Answer& answer, const Lines& lines, const std::string& spec, std::uint8_t key,
              std::uint8_t asc, std::uint8_t ascq) {
    if (!spec.empty()) {
        std::vector<std::uint8_t> v = ParseHex(spec);
        if (v.size() > 0) key = v[0];
        if (v.size() > 1) asc = v[1];
        if (v.size() > 2) ascq = v[2];
    }
    answer.kind = Answer::Kind::CheckCondition;
    answer.scsiStatus = 0x02;
    std::memset(answer.sense, 0, sizeof answer.sense);
    if (Get(lines, "sense_format") == "descriptor") {
        answer.sense[0] = 0x72;
        answer.sense[1] = key;
        answer.sense[2] = asc;
        answer.sense[3] = ascq;
        answer.senseLength = 8; // no descriptors: additional length 0
        return;
    }
    answer.senseLength = 18;
    answer.sense[0] = 0x70;
    answer.sense[2] = key;
    answer.sense[7] = 10;
    answer.sense[12] = asc;
    answer.sense[13] = ascq;
}

void Reply(Answer& answer, const Command& command, const std::vector<std::uint8_t>& reply,
           std::size_t limit) {
    std::size_t n = std::min<std::size_t>({reply.size(), limit, command.dataLength});
    if (command.direction == Direction::In || command.direction == Direction::Both) {
        if (command.data && n) std::memcpy(command.data, reply.data(), n);
        answer.transferred = static_cast<std::uint32_t>(n);
    }
}

void Pad(std::vector<std::uint8_t>& out, const std::string& text, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i)
        out.push_back(i < text.size() ? static_cast<std::uint8_t>(text[i]) : ' ');
}

std::vector<std::uint8_t> StatusReply(const Lines& lines) {
    std::string raw = Get(lines, "status_hex");
    if (!raw.empty()) return ParseHex(raw);
    std::vector<std::uint8_t> reply(6, 0);
    if (Get(lines, "kind", "twomode") == "speedlist") {
        std::vector<std::uint8_t> speeds = ParseNumbers(Get(lines, "speeds"));
        reply[0] =
            static_cast<std::uint8_t>(GetNumber(lines, "status_byte0", speeds.empty() ? 1 : 0));
        reply[1] = static_cast<std::uint8_t>(4 + speeds.size());
        reply[5] = static_cast<std::uint8_t>(GetNumber(lines, "current", 0));
        reply.insert(reply.end(), speeds.begin(), speeds.end());
    } else {
        reply[1] = 0x04;
        reply[5] = Get(lines, "mode", "high") == "silence" ? 0x00 : 0xFF;
    }
    return reply;
}

std::vector<std::uint8_t> InquiryReply(const Lines& lines) {
    std::string raw = Get(lines, "inquiry_hex");
    if (!raw.empty()) return ParseHex(raw);
    std::vector<std::uint8_t> reply = {static_cast<std::uint8_t>(GetNumber(lines, "type", 5)),
                                       0x80,
                                       0x00,
                                       0x32,
                                       31,
                                       0x00,
                                       0x00,
                                       0x00};
    Pad(reply, Get(lines, "vendor", "TRELVIX"), 8);
    Pad(reply, Get(lines, "product", "SIMULATED DRIVE"), 16);
    Pad(reply, Get(lines, "revision", "1.00"), 4);
    return reply;
}

// A "next N commands" key: true while it lasts, counting down in the file.
bool TakeCountdown(const std::string& path, const Lines& lines, const std::string& key) {
    const std::string value = Get(lines, key);
    if (value == "always") return true;
    const long left = value.empty() ? 0 : std::strtol(value.c_str(), nullptr, 0);
    if (left <= 0) return false;
    Put(path, lines, key, std::to_string(left - 1));
    return true;
}

const char* AnswerName(Answer::Kind kind) {
    switch (kind) {
    case Answer::Kind::Good:
        return "good";
    case Answer::Kind::CheckCondition:
        return "check";
    case Answer::Kind::Busy:
        return "busy";
    default:
        return "gone";
    }
}

} // namespace

std::string Hex(const std::uint8_t* bytes, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (std::size_t i = 0; i < size; ++i) {
        s += digits[bytes[i] >> 4];
        s += digits[bytes[i] & 15];
    }
    return s;
}

const char* DirectionName(Direction direction) {
    switch (direction) {
    case Direction::In:
        return "in";
    case Direction::Out:
        return "out";
    case Direction::Both:
        return "both";
    default:
        return "none";
    }
}

void AppendLine(const std::string& path, const std::string& line) {
    std::FILE* f = std::fopen(path.c_str(), "ab");
    if (!f) return;
    std::string text = line + "\n";
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

std::string ReadKey(const std::string& path, const std::string& key) {
    std::string text;
    if (!ReadText(path, text)) return "";
    return Get(Parse(text), key);
}

int DeviceType(const std::string& path) {
    std::string text;
    if (!ReadText(path, text)) return -1;
    Lines lines = Parse(text);
    std::vector<std::uint8_t> inquiry = InquiryReply(lines);
    return inquiry.empty() ? 0 : (inquiry[0] & 0x1F);
}

Answer Execute(const std::string& path, const Command& command, const std::string& logFields) {
    Answer answer;
    std::string text;
    Lines lines;
    if (ReadText(path, text))
        lines = Parse(text);
    else
        answer.kind = Answer::Kind::Gone;

    long hang = GetNumber(lines, "hang_ms", 0);
    if (hang > 0) std::this_thread::sleep_for(std::chrono::milliseconds(hang));

    const std::uint8_t* cdb = command.cdb;
    std::size_t len = command.cdbLength;
    bool vendor = len == 12 && cdb[0] == 0xFF && cdb[1] == 0x07;
    if (answer.kind == Answer::Kind::Gone || GetFlag(lines, "gone")) {
        answer.kind = Answer::Kind::Gone;
    } else if (TakeCountdown(path, lines, "busy") ||
               (vendor && cdb[2] == 0xB1 && TakeCountdown(path, lines, "status_busy"))) {
        // Sense data with it, as a confused drive may send: they say nothing.
        if (!Get(lines, "busy_sense").empty())
            SetSense(answer, lines, Get(lines, "busy_sense"), 0x00, 0x00, 0x00);
        answer.kind = Answer::Kind::Busy;
        answer.scsiStatus = static_cast<std::uint8_t>(GetNumber(lines, "busy_status", 0x08));
    } else if (TakeCountdown(path, lines, "unit_attention")) {
        SetSense(answer, lines, "", 0x06, 0x29, 0x00);
    } else if (TakeCountdown(path, lines, "becoming_ready")) {
        SetSense(answer, lines, "", 0x02, 0x04, 0x01);
    } else if (len >= 6 && cdb[0] == 0x12) {
        if (GetFlag(lines, "inquiry_fails"))
            SetSense(answer, lines, Get(lines, "inquiry_sense"), 0x05, 0x24, 0x00);
        else
            Reply(answer, command, InquiryReply(lines),
                  std::min<std::size_t>(
                      cdb[4], static_cast<std::size_t>(GetNumber(lines, "inquiry_len", 0xFFFF))));
    } else if (vendor && cdb[2] == 0xB1) {
        if (GetFlag(lines, "reject_status"))
            SetSense(answer, lines, Get(lines, "status_sense"), 0x05, 0x20, 0x00);
        else
            Reply(answer, command, StatusReply(lines),
                  static_cast<std::size_t>(GetNumber(lines, "status_len", 0xFFFF)));
    } else if (vendor && cdb[2] == 0xB0) {
        if (GetFlag(lines, "set_fails")) {
            SetSense(answer, lines, Get(lines, "set_sense"), 0x05, 0x24, 0x00);
        } else if (Get(lines, "kind", "twomode") == "speedlist") {
            Put(path, lines, "current", std::to_string(cdb[6]));
        } else {
            Put(path, lines, "mode", cdb[6] == 0xFF ? "high" : "silence");
        }
    } else {
        SetSense(answer, lines, "", 0x05, 0x20, 0x00);
    }

    AppendLine(path + ".log",
               "cdb=" + Hex(cdb, len) + " " + logFields + " answer=" + AnswerName(answer.kind));
    return answer;
}

} // namespace vtsim
