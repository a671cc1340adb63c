// Fuzz target over the plain reply readers: the status reply, the list entry
// text from INQUIRY data, sense data and the speed list entry read as a number.
#include "drive/drivecommands.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velotune;

    const SpeedStatus status = ParseStatusReply(data, size);
    Check(status.twoMode == (size >= 2 && data[0] == 0x00 && data[1] == 0x04));
    if (status.twoMode) {
        Check(status.speeds.empty());
    } else {
        const std::size_t claimed = size >= 2 && data[1] > 4 ? data[1] - 4u : 0u;
        const std::size_t available = size > 6 ? size - 6 : 0;
        Check(status.speeds.size() == (claimed < available ? claimed : available));
        for (std::size_t i = 0; i < status.speeds.size(); ++i)
            Check(status.speeds[i] == data[6 + i]);
    }
    const std::string line = SpeedListStatusText(status.current);
    Check(line.rfind("Current Speed = ", 0) == 0 && line.size() >= 18 && line.size() <= 19);

    const std::string entry = InquiryEntryText(data, size);
    Check(entry.size() <= 31);
    Check(entry.find('\0') == std::string::npos);
    for (std::size_t i = 0; i < entry.size() && i < 28; ++i)
        Check(static_cast<std::uint8_t>(entry[i]) == data[8 + i]);

    // Sense data of either format: never read past the bytes given.
    SenseCode sense;
    if (ParseSense(data, size, sense)) {
        Check(sense.key <= 0x0F && size >= 2);
        Check((data[0] & 0x7F) >= 0x70 && (data[0] & 0x7F) <= 0x73);
    }

    // The speed entry reader takes a zero-terminated text.
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::uint8_t value = ParseSpeedEntry(text.c_str());
    if (size > 0 && data[0] >= '0' && data[0] <= '9' &&
        (size == 1 || data[1] < '0' || data[1] > '9'))
        Check(value == data[0] - '0');
    return 0;
}
