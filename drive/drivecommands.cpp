// Command blocks, reply reading and list texts of the drive layer.
#include "drive/drivecommands.h"

#include "common/decimal.h"

#include <cstring>

namespace velotune {

const std::uint8_t kStatusReadCdb[kCdb12] = {0xFF, 0x07, 0xB1, 0x00, 0x00, 0x00,
                                             0x00, 0x00, 0x00, 0x00, 0xFF, 0xAA};
const std::uint8_t kModeSetTemplate[kCdb12] = {0xFF, 0x07, 0xB0, 0x00, 0x00, 0x00,
                                               0x00, 0x00, 0x00, 0x00, 0x00, 0xAA};
const std::uint8_t kInquiryCdb[kCdb6] = {0x12, 0x00, 0x00, 0x00, 0x24, 0x00};

namespace {

constexpr std::size_t kReplyKindByte = 0;
constexpr std::size_t kReplyLengthByte = 1;
constexpr std::size_t kReplyCurrentByte = 5;
constexpr std::size_t kReplyFirstSpeedByte = 6;
constexpr std::uint8_t kTwoModeLength = 0x04;

constexpr std::size_t kInquiryTextFirst = 8; // vendor, product, revision
constexpr std::size_t kInquiryTextEnd = 36;
constexpr const char kEntryTail[] = "   ";

// A byte beyond the valid part of a reply reads as 0.
std::uint8_t ReplyByte(const std::uint8_t* reply, std::size_t size, std::size_t index) {
    return index < size ? reply[index] : 0;
}

} // namespace

std::size_t StatusReplyBytes(std::uint32_t requested, std::uint32_t transferred) {
    const std::uint32_t size = transferred < requested ? transferred : requested;
    return size < kStatusReplyMinimum ? 0 : size;
}

bool ParseSense(const std::uint8_t* sense, std::size_t length, SenseCode& code) {
    code = SenseCode{};
    if (sense == nullptr || length == 0) return false;
    const std::uint8_t format = sense[0] & 0x7F;
    std::size_t key, asc, ascq;
    if (format == 0x70 || format == 0x71) {
        key = 2, asc = 12, ascq = 13;
        // Byte 7 tells how many bytes follow it; nothing past them counts.
        constexpr std::size_t kAdditionalLengthByte = 7;
        if (length > kAdditionalLengthByte) {
            const std::size_t reach = kAdditionalLengthByte + 1 + sense[kAdditionalLengthByte];
            if (reach < length) length = reach;
        }
    } else if (format == 0x72 || format == 0x73) {
        key = 1, asc = 2, ascq = 3;
    } else {
        return false;
    }
    if (length <= key) return false;
    code.key = sense[key] & 0x0F;
    code.asc = length > asc ? sense[asc] : 0;
    code.ascq = length > ascq ? sense[ascq] : 0;
    return true;
}

int RetryPauseMs(std::uint8_t result, const SenseCode& sense, int tries) {
    if (result != kResultError || tries >= kCommandTries) return -1;
    if (sense.key == kSenseUnitAttention) return 0;
    if (IsBecomingReady(sense)) return static_cast<int>(kBecomingReadyPauseMs);
    return -1;
}

bool IsBecomingReady(const SenseCode& sense) {
    constexpr std::uint8_t kAscNotReady = 0x04, kAscqBecomingReady = 0x01;
    return sense.key == kSenseNotReady && sense.asc == kAscNotReady &&
           sense.ascq == kAscqBecomingReady;
}

void BuildModeSetCdb(std::uint8_t value, std::uint8_t cdb[kCdb12]) {
    std::memcpy(cdb, kModeSetTemplate, kCdb12);
    cdb[kModeSetValueByte] = value;
}

SpeedStatus ParseStatusReply(const std::uint8_t* reply, std::size_t size) {
    SpeedStatus status;
    if (reply == nullptr) size = 0;
    const std::uint8_t kind = ReplyByte(reply, size, kReplyKindByte);
    const std::uint8_t length = ReplyByte(reply, size, kReplyLengthByte);
    status.current = ReplyByte(reply, size, kReplyCurrentByte);
    status.twoMode = kind == 0x00 && length == kTwoModeLength;
    if (status.twoMode) {
        status.highSpeed = status.current == kModeHighSpeed;
        return status;
    }
    // The list ends just before byte (length + 2), and never past the reply.
    std::size_t end = static_cast<std::size_t>(length) + 2;
    if (end > size) end = size;
    if (end > kReplyFirstSpeedByte)
        status.speeds =
            std::span<const std::uint8_t>(reply + kReplyFirstSpeedByte, end - kReplyFirstSpeedByte);
    return status;
}

void FormatSpeedListStatus(std::uint8_t current, char (&text)[kStatusTextSize]) {
    static constexpr char kPrefix[] = "Current Speed = ";
    static_assert(sizeof kPrefix - 1 + 3 < kStatusTextSize);
    std::memcpy(text, kPrefix, sizeof kPrefix - 1);
    FormatDecimal(text + sizeof kPrefix - 1, sizeof text - (sizeof kPrefix - 1), current, 2);
}

std::string SpeedListStatusText(std::uint8_t current) {
    char text[kStatusTextSize];
    FormatSpeedListStatus(current, text);
    return text;
}

void FormatSpeedEntry(std::uint8_t speed, char (&text)[kSpeedEntrySize]) {
    FormatDecimal(text, sizeof text, speed);
}

std::string InquiryEntryText(const std::uint8_t* inquiry, std::size_t size) {
    std::string text;
    if (inquiry == nullptr) return text;
    const std::size_t end = size < kInquiryTextEnd ? size : kInquiryTextEnd;
    for (std::size_t i = kInquiryTextFirst; i < end; ++i) {
        if (inquiry[i] == 0) return text;
        text.push_back(static_cast<char>(inquiry[i]));
    }
    if (end == kInquiryTextEnd) text += kEntryTail;
    return text;
}

std::uint8_t ParseSpeedEntry(const char* text) {
    if (text == nullptr) return 0;
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r')
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    // Unsigned arithmetic wraps modulo 2^32, which keeps the low 8 bits exact
    // however long the digit run is.
    std::uint32_t value = 0;
    while (*p >= '0' && *p <= '9') {
        value = value * 10u + static_cast<std::uint32_t>(*p - '0');
        ++p;
    }
    if (negative) value = 0u - value;
    return static_cast<std::uint8_t>(value & 0xFFu);
}

} // namespace velotune
