// Plain functions of the drive layer: command blocks, reply reading and the
// text of a drive list entry. No Windows headers, so they build and fuzz natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace velotune {

constexpr std::size_t kCdb12 = 12;
constexpr std::size_t kCdb6 = 6;

// Vendor status read: FF 07 B1 00 00 00 00 00 00 00 FF AA, data in, 255 bytes.
extern const std::uint8_t kStatusReadCdb[kCdb12];
constexpr std::uint32_t kStatusReadLength = 255;

// Vendor mode set template: FF 07 B0 00 00 00 vv 00 00 00 00 AA, data in, 1024 bytes.
extern const std::uint8_t kModeSetTemplate[kCdb12];
constexpr std::size_t kModeSetValueByte = 6;
constexpr std::uint32_t kModeSetLength = 1024;
constexpr std::uint8_t kModeHighSpeed = 0xFF;
constexpr std::uint8_t kModeSilence = 0x00;

// INQUIRY: 12 00 00 00 24 00, data in, 36 bytes.
extern const std::uint8_t kInquiryCdb[kCdb6];
constexpr std::uint32_t kInquiryLength = 36;

// Adapters refuse request records and data buffers that break their alignment
// mask; none asks for more than this.
constexpr std::size_t kBufferAlignment = 16;

// A command buffer of N bytes starting on a kBufferAlignment boundary, wherever
// the object itself lands (the heap of a 32-bit program only promises 8 bytes).
template <std::size_t N> class AlignedBuffer {
public:
    AlignedBuffer() = default;
    AlignedBuffer(const AlignedBuffer&) = delete;
    AlignedBuffer& operator=(const AlignedBuffer&) = delete;

    std::uint8_t* data() {
        const auto address = reinterpret_cast<std::uintptr_t>(storage_);
        return storage_ + ((kBufferAlignment - address % kBufferAlignment) % kBufferAlignment);
    }
    static constexpr std::size_t size() { return N; }
    std::uint8_t* begin() { return data(); }
    std::uint8_t* end() { return data() + N; }

private:
    std::uint8_t storage_[N + kBufferAlignment - 1] = {};
};

// Result bytes of a command (ASPI status meanings).
constexpr std::uint8_t kResultOk = 0x01;
constexpr std::uint8_t kResultError = 0x04;
constexpr std::uint8_t kResultIoFailed = 0xFF;

// Fills cdb with the mode set command for the given value of byte 6.
void BuildModeSetCdb(std::uint8_t value, std::uint8_t cdb[kCdb12]);

// A status reply as the panel reads it.
struct SpeedStatus {
    bool twoMode = false;     // byte 0 == 0x00 and byte 1 == 0x04
    bool highSpeed = false;   // two-mode: byte 5 == 0xFF
    std::uint8_t current = 0; // byte 5 (speed-list: the current speed)
    // Speed-list: bytes 6 .. byte1+1, clipped to the reply. A view into the
    // reply itself, so reading a reply allocates nothing.
    std::span<const std::uint8_t> speeds;
};

// A status read that transferred fewer bytes than this is no reply at all:
// USB bridges and other makers' drives can end an unknown vendor command GOOD
// with no data.
constexpr std::uint32_t kStatusReplyMinimum = 6;

// The number of reply bytes to read after a status read of `requested` bytes
// of which the drive transferred `transferred`: never more than were asked for,
// and 0 when the reply is too short to count.
std::size_t StatusReplyBytes(std::uint32_t requested, std::uint32_t transferred);

// Sense key, additional sense code and qualifier of a command that ended in
// CHECK CONDITION.
struct SenseCode {
    std::uint8_t key = 0; // four bits
    std::uint8_t asc = 0;
    std::uint8_t ascq = 0;
};
constexpr std::uint8_t kSenseNotReady = 0x02;
constexpr std::uint8_t kSenseIllegalRequest = 0x05;
constexpr std::uint8_t kSenseUnitAttention = 0x06;

// SCSI status bytes a command can end with.
constexpr std::uint8_t kScsiGood = 0x00;
constexpr std::uint8_t kScsiCheckCondition = 0x02;
constexpr std::uint8_t kScsiBusy = 0x08;
constexpr std::uint8_t kScsiTaskSetFull = 0x28;

// Reads the sense key, ASC and ASCQ from `length` bytes of sense data in fixed
// format (response code 0x70/0x71: key in byte 2, ASC and ASCQ in bytes 12 and
// 13, no further than its additional length reaches) or descriptor format
// (0x72/0x73: bytes 1, 2 and 3). Returns false, with `code` zeroed, for data of
// another format or too short to hold the sense key; an ASC or ASCQ that did not
// arrive reads as 0. Never reads past `length`.
bool ParseSense(const std::uint8_t* sense, std::size_t length, SenseCode& code);

// How long a command may take before the transport gives it up, on every path.
constexpr unsigned kCommandTimeoutSeconds = 60;

// A command is sent at most this often: once, and twice more for a drive that
// answers with unit attention (after power-on, a bus reset or a media change)
// or is still becoming ready.
constexpr int kCommandTries = 3;
constexpr std::uint32_t kBecomingReadyPauseMs = 1000;

// After try number `tries` (1 for the first) ended with `result` (and, for
// kResultError, with `sense`): the pause in milliseconds before the command is
// sent again, or -1 when the result counts as it is. Unit attention is sent
// again at once; NOT READY "becoming ready" (2/04/01) after a pause.
int RetryPauseMs(std::uint8_t result, const SenseCode& sense, int tries);

// NOT READY, "in process of becoming ready" (2/04/01): the drive is spinning up.
bool IsBecomingReady(const SenseCode& sense);

// Reads a status reply of `size` valid bytes. Never reads past `size`; a speed
// list that byte 1 claims to run past the reply is cut at its end.
SpeedStatus ParseStatusReply(const std::uint8_t* reply, std::size_t size);

// "Current Speed = %2d" for a speed-list drive, into a buffer of the caller's.
constexpr std::size_t kStatusTextSize = 32;
void FormatSpeedListStatus(std::uint8_t current, char (&text)[kStatusTextSize]);
std::string SpeedListStatusText(std::uint8_t current);

// A speed list entry: the speed in plain decimal.
constexpr std::size_t kSpeedEntrySize = 4;
void FormatSpeedEntry(std::uint8_t speed, char (&text)[kSpeedEntrySize]);

// The text of a drive list entry from an INQUIRY reply: bytes 8 to 35 and three
// blanks, cut at the first zero byte; at most 31 characters.
std::string InquiryEntryText(const std::uint8_t* inquiry, std::size_t size);

// Reads a speed list entry as a number: leading white space skipped, optional
// sign, digits up to the first non-digit; no digits gives 0. Low 8 bits kept.
std::uint8_t ParseSpeedEntry(const char* text);

} // namespace velotune
