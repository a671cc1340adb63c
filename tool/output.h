// What the velotune tool prints about a drive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velotune::tool {

// A drive as the tool reports it. The INQUIRY fields are none when no byte of
// them arrived.
struct DriveReport {
    std::string device;
    std::optional<std::string> vendor, product, revision;
    std::optional<std::string> model; // vendor, product and revision as they came
    bool other = false;               // another maker's optical drive: no setting
    bool twoMode = true;
    bool high = false;                // two-mode
    unsigned speed = 0;               // speed-list: current speed
    std::vector<std::uint8_t> speeds; // speed-list
};

// The INQUIRY part of a report, from `size` bytes of INQUIRY data.
void FromInquiry(DriveReport& report, const std::uint8_t* inquiry, std::size_t size);
// The kind-dependent part of a report, from a status reply of `size` bytes.
void FromStatus(DriveReport& report, const std::uint8_t* status, std::size_t size);

// JSON object of one drive, the same keys for every kind: device, vendor,
// product, revision, model, kind, mode, speed, speeds.
std::string DriveJson(const DriveReport& drive);
// {"error": {"device": ..., "code": N, "message": ...}}; the device null when
// the failure names none.
std::string ErrorJson(const std::optional<std::string>& device, int code,
                      const std::string& message);
// A JSON string: valid UTF-8 as the characters it encodes, control characters
// and format characters of the first plane escaped, and any byte that is not
// UTF-8 as \u00XX.
std::string JsonString(const std::string& text);

std::string KindName(const DriveReport& drive);
// "high", "silence", "speed N", or "-" for another maker's drive.
std::string SettingText(const DriveReport& drive);
std::string SpeedsText(const std::vector<std::uint8_t>& speeds, const char* separator);
// One line per drive, in aligned columns: device, model, kind, setting.
std::string Table(const std::vector<DriveReport>& drives);
// The lines of status: device, model, kind, mode or speed and speeds.
std::string StatusText(const DriveReport& drive);
// Text safe for a terminal: control characters, format characters (such as the
// bidirectional U+202E), and bytes that are not UTF-8, shown as '?'.
std::string Printable(const std::string& text);
// The model as the table shows it: "-" when it did not arrive.
std::string ModelText(const DriveReport& drive);

} // namespace velotune::tool
