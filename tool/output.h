// What the velotune tool prints about a drive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velotune::tool {

// A drive as the tool reports it.
struct DriveReport {
    std::string device;
    std::optional<std::string> model; // none when no byte of it arrived
    bool twoMode = true;
    bool high = false;                // two-mode
    unsigned speed = 0;               // speed-list: current speed
    std::vector<std::uint8_t> speeds; // speed-list
};

// JSON object of one drive.
std::string DriveJson(const DriveReport& drive);
// A JSON string: valid UTF-8 as the characters it encodes, control characters
// escaped, and any byte that is not UTF-8 as \u00XX.
std::string JsonString(const std::string& text);

// The kind-dependent part of a report, from a status reply of `size` bytes.
DriveReport FromStatus(const std::string& device, const std::uint8_t* status, std::size_t size);
std::string KindName(const DriveReport& drive);
// "high", "silence" or "speed N".
std::string SettingText(const DriveReport& drive);
std::string SpeedsText(const std::vector<std::uint8_t>& speeds, const char* separator);
// One line per drive, in aligned columns: device, model, kind, setting.
std::string Table(const std::vector<DriveReport>& drives);
// The lines of status: device, model, kind, mode or speed and speeds.
std::string StatusText(const DriveReport& drive);
// Text safe for a terminal: control characters, and bytes that are not UTF-8,
// shown as '?'.
std::string Printable(const std::string& text);
// The model as the table shows it: "-" when it did not arrive.
std::string ModelText(const DriveReport& drive);

} // namespace velotune::tool
