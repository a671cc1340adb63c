// What the velotune tool prints about a drive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velotune::tool {

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
// Bytes outside printable ASCII shown as '?'.
std::string Printable(const std::string& text);

} // namespace velotune::tool
