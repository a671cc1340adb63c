// What the velotune tool prints about a drive: aligned lines for people, JSON
// for scripts.
#include "tool/output.h"

#include "drive/drivecommands.h"

#include <algorithm>
#include <cstdio>

namespace velotune::tool {
namespace {

std::string Pad(const std::string& text, std::size_t width) {
    return text + std::string(width > text.size() ? width - text.size() : 0, ' ');
}

} // namespace

// The kind-dependent part of a drive's report, from its status reply.
DriveReport FromStatus(const std::string& device, const std::uint8_t* status, std::size_t size) {
    DriveReport report;
    report.device = device;
    const SpeedStatus parsed = ParseStatusReply(status, size);
    report.twoMode = parsed.twoMode;
    report.high = parsed.highSpeed;
    report.speed = parsed.current;
    report.speeds.assign(parsed.speeds.begin(), parsed.speeds.end());
    return report;
}

std::string Printable(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = '?';
    return out;
}

std::string KindName(const DriveReport& drive) {
    return drive.twoMode ? "two-mode" : "speed-list";
}

std::string SettingText(const DriveReport& drive) {
    if (drive.twoMode) return drive.high ? "high" : "silence";
    return "speed " + std::to_string(drive.speed);
}

std::string SpeedsText(const std::vector<std::uint8_t>& speeds, const char* separator) {
    std::string text;
    for (std::size_t i = 0; i < speeds.size(); ++i) {
        if (i) text += separator;
        text += std::to_string(speeds[i]);
    }
    return text;
}

// One line per drive, in aligned columns: device, model, kind, setting.
std::string Table(const std::vector<DriveReport>& drives) {
    std::size_t wDevice = 0, wModel = 0, wKind = 0;
    for (const DriveReport& d : drives) {
        wDevice = std::max(wDevice, d.device.size());
        wModel = std::max(wModel, Printable(d.model).size());
        wKind = std::max(wKind, KindName(d).size());
    }
    std::string text;
    for (const DriveReport& d : drives)
        text += Pad(d.device, wDevice) + "  " + Pad(Printable(d.model), wModel) + "  " +
                Pad(KindName(d), wKind) + "  " + SettingText(d) + "\n";
    return text;
}

std::string StatusText(const DriveReport& d) {
    std::string text = "device:  " + d.device + "\nmodel:   " + Printable(d.model) +
                       "\nkind:    " + KindName(d) + "\n";
    if (d.twoMode) return text + "mode:    " + (d.high ? "high" : "silence") + "\n";
    return text + "speed:   " + std::to_string(d.speed) +
           "\nspeeds:  " + (d.speeds.empty() ? std::string("(none)") : SpeedsText(d.speeds, " ")) +
           "\n";
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c > 0x7E) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

std::string DriveJson(const DriveReport& drive) {
    std::string text = "{\"device\": " + JsonString(drive.device) +
                       ", \"model\": " + JsonString(drive.model) + ", \"kind\": \"" +
                       KindName(drive) + "\"";
    if (drive.twoMode) return text + ", \"mode\": \"" + (drive.high ? "high" : "silence") + "\"}";
    text += ", \"speed\": " + std::to_string(drive.speed);
    return text + ", \"speeds\": [" + SpeedsText(drive.speeds, ", ") + "]}";
}

} // namespace velotune::tool
