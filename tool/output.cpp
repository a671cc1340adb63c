// What the velotune tool prints about a drive: aligned lines for people, JSON
// for scripts.
#include "tool/output.h"

#include "drive/drivecommands.h"

#include <algorithm>
#include <cstdio>

namespace velotune::tool {
namespace {

constexpr std::size_t kVendorFirst = 8, kProductFirst = 16, kRevisionFirst = 32, kInquiryEnd = 36;

// The bytes of INQUIRY field [first, end) that arrived, cut at a zero byte and
// without trailing blanks; none when no byte of it arrived.
std::optional<std::string> InquiryField(const std::uint8_t* inquiry, std::size_t size,
                                        std::size_t first, std::size_t end) {
    if (size <= first) return std::nullopt;
    std::string text;
    for (std::size_t i = first; i < std::min(size, end) && inquiry[i] != 0; ++i)
        text.push_back(static_cast<char>(inquiry[i]));
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

// Columns count characters, not the bytes of their UTF-8.
std::size_t Width(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

std::string Pad(const std::string& text, std::size_t width) {
    const std::size_t have = Width(text);
    return text + std::string(width > have ? width - have : 0, ' ');
}

} // namespace

void FromInquiry(DriveReport& report, const std::uint8_t* inquiry, std::size_t size) {
    report.vendor = InquiryField(inquiry, size, kVendorFirst, kProductFirst);
    report.product = InquiryField(inquiry, size, kProductFirst, kRevisionFirst);
    report.revision = InquiryField(inquiry, size, kRevisionFirst, kInquiryEnd);
    report.model = InquiryField(inquiry, size, kVendorFirst, kInquiryEnd);
}

void FromStatus(DriveReport& report, const std::uint8_t* status, std::size_t size) {
    const SpeedStatus parsed = ParseStatusReply(status, size);
    report.other = false;
    report.twoMode = parsed.twoMode;
    report.high = parsed.highSpeed;
    report.speed = parsed.current;
    report.speeds.assign(parsed.speeds.begin(), parsed.speeds.end());
}

namespace {

// The length of the UTF-8 sequence at text[at] and the character it encodes,
// or 0 when the bytes there are not UTF-8 (overlong forms and surrogates
// included).
std::size_t Utf8At(const std::string& text, std::size_t at, std::uint32_t& character) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length;
    std::uint32_t minimum;
    if (lead < 0x80) {
        character = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, minimum = 0x80, character = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, minimum = 0x800, character = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, minimum = 0x10000, character = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() - at < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        character = (character << 6) | (byte(at + i) & 0x3F);
    }
    if (character < minimum || character > 0x10FFFF || (character >= 0xD800 && character <= 0xDFFF))
        return 0;
    return length;
}

bool IsControl(std::uint32_t character) {
    return character < 0x20 || (character >= 0x7F && character <= 0x9F);
}

// Unicode's format characters (general category Cf): invisible, and some of them
// (U+202E and the other bidirectional controls) reorder the text around them.
bool IsFormat(std::uint32_t c) {
    struct Range {
        std::uint32_t first, last;
    };
    static constexpr Range kFormat[] = {
        {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},
        {0x070F, 0x070F},   {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x180E, 0x180E},
        {0x200B, 0x200F},   {0x202A, 0x202E},   {0x2060, 0x2064},   {0x2066, 0x206F},
        {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD}, {0x110CD, 0x110CD},
        {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
        {0xE0020, 0xE007F},
    };
    for (const Range& range : kFormat)
        if (c >= range.first && c <= range.last) return true;
    return false;
}

} // namespace

std::string Printable(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        std::uint32_t character = 0;
        const std::size_t length = Utf8At(text, i, character);
        if (length == 0 || IsControl(character) || IsFormat(character)) {
            out += '?';
            i += length == 0 ? 1 : length;
        } else {
            out.append(text, i, length);
            i += length;
        }
    }
    return out;
}

std::string ModelText(const DriveReport& drive) {
    return drive.model && !drive.model->empty() ? Printable(*drive.model) : "-";
}

std::string KindName(const DriveReport& drive) {
    return drive.other ? "other" : drive.twoMode ? "two-mode" : "speed-list";
}

std::string SettingText(const DriveReport& drive) {
    if (drive.other) return "-";
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
        wDevice = std::max(wDevice, Width(Printable(d.device)));
        wModel = std::max(wModel, Width(ModelText(d)));
        wKind = std::max(wKind, KindName(d).size());
    }
    std::string text;
    for (const DriveReport& d : drives)
        text += Pad(Printable(d.device), wDevice) + "  " + Pad(ModelText(d), wModel) + "  " +
                Pad(KindName(d), wKind) + "  " + SettingText(d) + "\n";
    return text;
}

std::string StatusText(const DriveReport& d) {
    std::string text = "device:  " + Printable(d.device) + "\nmodel:   " + ModelText(d) +
                       "\nkind:    " + KindName(d) + "\n";
    if (d.other) return text;
    if (d.twoMode) return text + "mode:    " + (d.high ? "high" : "silence") + "\n";
    return text + "speed:   " + std::to_string(d.speed) +
           "\nspeeds:  " + (d.speeds.empty() ? std::string("(none)") : SpeedsText(d.speeds, " ")) +
           "\n";
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        std::uint32_t character = 0;
        const std::size_t length = Utf8At(text, i, character);
        if (length == 0) character = static_cast<unsigned char>(text[i]); // not UTF-8: the byte
        if (character == '"' || character == '\\') {
            out += '\\';
            out += static_cast<char>(character);
        } else if (length == 0 || IsControl(character) ||
                   (IsFormat(character) && character <= 0xFFFF)) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(character));
            out += escaped;
        } else {
            out.append(text, i, length);
        }
        i += length == 0 ? 1 : length;
    }
    return out + "\"";
}

std::string DriveJson(const DriveReport& drive) {
    const auto orNull = [](const std::optional<std::string>& text) {
        return text ? JsonString(*text) : std::string("null");
    };
    const bool listed = !drive.other && !drive.twoMode;
    return "{\"device\": " + JsonString(drive.device) + ", \"vendor\": " + orNull(drive.vendor) +
           ", \"product\": " + orNull(drive.product) + ", \"revision\": " + orNull(drive.revision) +
           ", \"model\": " + orNull(drive.model) + ", \"kind\": \"" + KindName(drive) +
           "\", \"mode\": " +
           (drive.other || !drive.twoMode ? "null"
            : drive.high                  ? "\"high\""
                                          : "\"silence\"") +
           ", \"speed\": " + (listed ? std::to_string(drive.speed) : "null") + ", \"speeds\": [" +
           (listed ? SpeedsText(drive.speeds, ", ") : "") + "]}";
}

std::string ErrorJson(const std::optional<std::string>& device, int code,
                      const std::string& message) {
    return "{\"error\": {\"device\": " + (device ? JsonString(*device) : "null") +
           ", \"code\": " + std::to_string(code) + ", \"message\": " + JsonString(message) + "}}";
}

} // namespace velotune::tool
