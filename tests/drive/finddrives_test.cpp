// The windowless discovery shared by the panel and the tool, against a port that
// records every call.
#include "drive/discovery.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace velotune;

namespace {

// Candidate i: opens unless in noOpen, answers the status read unless in noStatus,
// answers INQUIRY unless in noInquiry. Status replies carry the candidate number.
class RecordingPort : public DevicePort {
public:
    std::vector<int> noOpen, noStatus, noInquiry;
    std::vector<std::string> calls;
    std::uint32_t statusBytes = 6;

    bool Open(int c) override {
        calls.push_back("open " + std::to_string(c));
        return !Has(noOpen, c);
    }
    void Close(int c) override { calls.push_back("close " + std::to_string(c)); }
    std::uint8_t Send(int c, const std::uint8_t* cdb, std::uint8_t, std::uint8_t* data,
                      std::uint32_t length, std::uint32_t& transferred) override {
        const bool status = cdb[0] == 0xFF;
        calls.push_back((status ? "status " : "inquiry ") + std::to_string(c));
        transferred = 0;
        if (status) {
            if (Has(noStatus, c)) return kResultError;
            std::memset(data, 0, length);
            data[1] = 4;
            data[5] = static_cast<std::uint8_t>(c);
            transferred = statusBytes;
            return kResultOk;
        }
        if (Has(noInquiry, c)) return kResultError;
        std::memset(data, 'A' + c, length);
        transferred = length;
        return kResultOk;
    }

private:
    static bool Has(const std::vector<int>& v, int c) {
        for (int x : v)
            if (x == c) return true;
        return false;
    }
};

} // namespace

TEST(FindDrives, ProbesInOrderThenNamesTheKeptDrives) {
    RecordingPort port;
    port.noOpen = {1};
    port.noStatus = {2};
    port.noInquiry = {3};
    std::uint8_t reply[kStatusReadLength];
    const std::vector<FoundDrive> found = FindDrives(port, 5, 26, reply);
    EXPECT_EQ(port.calls,
              (std::vector<std::string>{"open 0", "status 0", "open 1", "open 2", "status 2",
                                        "close 2", "open 3", "status 3", "open 4", "status 4",
                                        "inquiry 0", "inquiry 3", "inquiry 4"}));
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].candidate, 0);
    EXPECT_EQ(found[1].candidate, 3);
    EXPECT_EQ(found[1].status[5], 3) << "each drive keeps its own probe reply";
    EXPECT_EQ(found[1].statusSize, 6u);
    EXPECT_TRUE(found[0].inquiryOk);
    EXPECT_EQ(InquiryEntryText(found[0].inquiry, kInquiryLength), std::string(28, 'A') + "   ");
    // A failed INQUIRY leaves a blank name, not another drive's.
    EXPECT_FALSE(found[1].inquiryOk);
    EXPECT_EQ(InquiryEntryText(found[1].inquiry, kInquiryLength), std::string(31, ' '));
}

TEST(FindDrives, KeepsAtMostTheLimitAndClipsTheReplySize) {
    RecordingPort port;
    port.statusBytes = 4096; // more than was asked for
    std::uint8_t reply[kStatusReadLength];
    const std::vector<FoundDrive> found = FindDrives(port, 12, 8, reply);
    ASSERT_EQ(found.size(), 8u);
    EXPECT_EQ(found.back().candidate, 7);
    EXPECT_EQ(found[0].statusSize, kStatusReadLength);
    EXPECT_EQ(port.calls[port.calls.size() - 9], "status 7") << "no candidate past the limit";
}
