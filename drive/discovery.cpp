// Finding the maker's drives among candidate devices.
#include "drive/discovery.h"

#include <cstring>

namespace velotune {
namespace {
constexpr std::size_t kInquiryTextFirst = 8;
} // namespace

std::vector<FoundDrive> FindDrives(DevicePort& port, int count, std::size_t limit,
                                   std::uint8_t* reply) {
    std::vector<FoundDrive> found;
    for (int candidate = 0; candidate < count && found.size() < limit; ++candidate) {
        if (!port.Open(candidate)) continue;
        // A cleared buffer: no byte of an earlier reply counts as this one's.
        std::memset(reply, 0, kStatusReadLength);
        std::uint32_t transferred = 0;
        const std::uint8_t result =
            port.Send(candidate, kStatusReadCdb, kCdb12, reply, kStatusReadLength, transferred);
        // A reply too short to hold the mode is no answer.
        const std::size_t size = StatusReplyBytes(kStatusReadLength, transferred);
        if (result != kResultOk || size == 0) {
            port.Close(candidate);
            continue;
        }
        FoundDrive& drive = found.emplace_back();
        drive.candidate = candidate;
        std::memcpy(drive.status, reply, kStatusReadLength);
        drive.statusSize = size;
    }
    // Every kept drive gets a name, whether or not its INQUIRY succeeds. The
    // reply lands in the caller's buffer, which keeps the alignment adapters ask for.
    for (FoundDrive& drive : found) {
        std::memset(reply, 0, kInquiryLength);
        std::uint32_t transferred = 0;
        drive.inquiryOk = port.Send(drive.candidate, kInquiryCdb, kCdb6, reply, kInquiryLength,
                                    transferred) == kResultOk;
        std::memcpy(drive.inquiry, reply, kInquiryLength);
        // A failed INQUIRY leaves no name of its own (at most sense bytes): the
        // name is blank rather than whatever the buffer held.
        if (!drive.inquiryOk)
            std::memset(drive.inquiry + kInquiryTextFirst, ' ', kInquiryLength - kInquiryTextFirst);
    }
    return found;
}

} // namespace velotune
