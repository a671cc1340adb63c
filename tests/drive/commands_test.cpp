// The plain functions: command blocks, reply reading, sense data, the retry
// rule and list texts.
#include "drive/drivecommands.h"
#include "drive/retry.h"

#include "common/decimal.h"

#include "fakes.h"

#include <cstring>

using namespace velotune;
using vt_test::Bytes;

namespace {

std::vector<std::uint8_t> Speeds(const SpeedStatus& s) {
    return {s.speeds.begin(), s.speeds.end()};
}

Bytes Cdb(const std::uint8_t* cdb, std::size_t n) {
    return Bytes(cdb, cdb + n);
}

} // namespace

TEST(CommandBlocks, VendorAndInquiryBytes) {
    EXPECT_EQ(Cdb(kStatusReadCdb, kCdb12), vt_test::StatusReadBytes());
    EXPECT_EQ(Cdb(kModeSetTemplate, kCdb12), vt_test::ModeSetBytes(0x00));
    EXPECT_EQ(Cdb(kInquiryCdb, kCdb6), vt_test::InquiryBytes());
    EXPECT_EQ(kStatusReadLength, 255u);
    EXPECT_EQ(kModeSetLength, 1024u);
    EXPECT_EQ(kInquiryLength, 36u);
}

TEST(CommandBlocks, ModeSetPatchesOnlyByteSix) {
    for (int value : {0x00, 0x28, 0x7F, 0xFF}) {
        std::uint8_t cdb[kCdb12];
        std::memset(cdb, 0x5A, sizeof cdb);
        BuildModeSetCdb(static_cast<std::uint8_t>(value), cdb);
        EXPECT_EQ(Cdb(cdb, kCdb12), vt_test::ModeSetBytes(static_cast<std::uint8_t>(value)));
    }
}

TEST(StatusReply, TwoModeHighAndSilence) {
    const Bytes high = {0x00, 0x04, 0x99, 0x98, 0x97, 0xFF, 0x08, 0x10};
    SpeedStatus s = ParseStatusReply(high.data(), high.size());
    EXPECT_TRUE(s.twoMode);
    EXPECT_TRUE(s.highSpeed);
    EXPECT_TRUE(s.speeds.empty());

    for (std::uint8_t b5 : {0x00, 0x01, 0x7F, 0xFE}) {
        const Bytes low = {0x00, 0x04, 0x00, 0x00, 0x00, b5};
        s = ParseStatusReply(low.data(), low.size());
        EXPECT_TRUE(s.twoMode);
        EXPECT_FALSE(s.highSpeed) << int(b5);
    }
}

TEST(StatusReply, SpeedListInReplyOrder) {
    const Bytes reply = {0x00, 0x08, 0x00, 0x00, 0x00, 0x18, 0x08, 0x10, 0x18, 0x20, 0x30, 0x40};
    const SpeedStatus s = ParseStatusReply(reply.data(), reply.size());
    EXPECT_FALSE(s.twoMode);
    EXPECT_EQ(s.current, 24);
    EXPECT_EQ(Speeds(s), (std::vector<std::uint8_t>{8, 16, 24, 32}));
}

TEST(StatusReply, NonZeroByteZeroIsSpeedListEvenWithLengthFour) {
    const Bytes reply = {0x01, 0x04, 0x00, 0x00, 0x00, 0x10, 0x08, 0x10};
    const SpeedStatus s = ParseStatusReply(reply.data(), reply.size());
    EXPECT_FALSE(s.twoMode);
    EXPECT_EQ(s.current, 16);
    EXPECT_TRUE(s.speeds.empty());

    const Bytes shortList = {0x00, 0x02, 0x00, 0x00, 0x00, 0x10, 0x08};
    EXPECT_TRUE(ParseStatusReply(shortList.data(), shortList.size()).speeds.empty());
    const Bytes oneSpeed = {0x00, 0x05, 0x00, 0x00, 0x00, 0x10, 0x08, 0x10};
    EXPECT_EQ(Speeds(ParseStatusReply(oneSpeed.data(), oneSpeed.size())),
              std::vector<std::uint8_t>{8});
}

TEST(StatusReply, NeverReadsPastTheReply) {
    // Byte 1 claims a list of 251 speeds; only the bytes given may be read.
    Bytes buffer(64, 0x77);
    const Bytes head = {0x00, 0xFF, 0x00, 0x00, 0x00, 0x10, 0x01, 0x02, 0x03};
    std::copy(head.begin(), head.end(), buffer.begin());
    const SpeedStatus s = ParseStatusReply(buffer.data(), head.size());
    EXPECT_EQ(Speeds(s), (std::vector<std::uint8_t>{1, 2, 3}));

    Bytes full(255, 0x11);
    full[0] = 0x00;
    full[1] = 0xFF;
    EXPECT_EQ(ParseStatusReply(full.data(), full.size()).speeds.size(), 249u);

    // Short replies: missing bytes read as 0.
    const Bytes two = {0x00, 0x04};
    SpeedStatus t = ParseStatusReply(two.data(), two.size());
    EXPECT_TRUE(t.twoMode);
    EXPECT_FALSE(t.highSpeed);
    t = ParseStatusReply(nullptr, 100);
    EXPECT_FALSE(t.twoMode);
    EXPECT_TRUE(t.speeds.empty());
}

TEST(StatusText, WidthTwo) {
    EXPECT_EQ(SpeedListStatusText(8), "Current Speed =  8");
    EXPECT_EQ(SpeedListStatusText(24), "Current Speed = 24");
    EXPECT_EQ(SpeedListStatusText(0), "Current Speed =  0");
    EXPECT_EQ(SpeedListStatusText(255), "Current Speed = 255");
}

TEST(StatusText, SpeedEntriesAndCutText) {
    char entry[kSpeedEntrySize];
    FormatSpeedEntry(0, entry);
    EXPECT_STREQ(entry, "0");
    FormatSpeedEntry(255, entry);
    EXPECT_STREQ(entry, "255");
    // Cut where the room ends, as snprintf cuts, and always terminated.
    const struct {
        unsigned value;
        std::size_t size, width;
        const char* text;
    } rows[] = {{4294967295u, 11, 0, "4294967295"},
                {255, 3, 0, "25"},
                {7, 3, 5, "  "},
                {16, 1, 0, ""},
                {16, 6, 4, "  16"}};
    for (const auto& r : rows) {
        char out[12];
        std::memset(out, 'x', sizeof out);
        EXPECT_EQ(FormatDecimal(out, r.size, r.value, r.width), std::strlen(r.text));
        EXPECT_STREQ(out, r.text) << r.value << " in " << r.size;
    }
}

TEST(EntryText, FullInquiryGivesThirtyOneCharacters) {
    const Bytes inq = vt_test::InquiryData(5, "ZIRVEROA", "DVD-RW QX-7160A ", "1.03");
    const std::string text = InquiryEntryText(inq.data(), inq.size());
    EXPECT_EQ(text, "ZIRVEROADVD-RW QX-7160A 1.03   ");
    EXPECT_EQ(text.size(), 31u);

    // Bytes past 35 never reach the text.
    Bytes longer = inq;
    longer.resize(96, 'X');
    EXPECT_EQ(InquiryEntryText(longer.data(), longer.size()), text);
}

TEST(EntryText, CutAtFirstZeroAndAtTheEndOfData) {
    Bytes inq = vt_test::InquiryData(5, "ABCDEFGH", "PRODUCT", "0001");
    inq[12] = 0;
    EXPECT_EQ(InquiryEntryText(inq.data(), inq.size()), "ABCD");
    inq[8] = 0;
    EXPECT_EQ(InquiryEntryText(inq.data(), inq.size()), "");

    const Bytes full = vt_test::InquiryData(5, "ABCDEFGH", "PRODUCT", "0001");
    EXPECT_EQ(InquiryEntryText(full.data(), 20), "ABCDEFGHPROD");
    EXPECT_EQ(InquiryEntryText(full.data(), 8), "");
    EXPECT_EQ(InquiryEntryText(full.data(), 0), "");
    EXPECT_EQ(InquiryEntryText(nullptr, 36), "");
}

TEST(SpeedEntry, ReadsLikeADecimalInteger) {
    EXPECT_EQ(ParseSpeedEntry("40"), 40);
    EXPECT_EQ(ParseSpeedEntry("8"), 8);
    EXPECT_EQ(ParseSpeedEntry("  24"), 24);
    EXPECT_EQ(ParseSpeedEntry("\t\n 16x"), 16);
    EXPECT_EQ(ParseSpeedEntry("+32"), 32);
    EXPECT_EQ(ParseSpeedEntry("12abc"), 12);
    EXPECT_EQ(ParseSpeedEntry("abc"), 0);
    EXPECT_EQ(ParseSpeedEntry(""), 0);
    EXPECT_EQ(ParseSpeedEntry("-"), 0);
    EXPECT_EQ(ParseSpeedEntry("- 5"), 0);
    EXPECT_EQ(ParseSpeedEntry(nullptr), 0);
}

TEST(SpeedEntry, KeepsTheLowEightBits) {
    EXPECT_EQ(ParseSpeedEntry("255"), 255);
    EXPECT_EQ(ParseSpeedEntry("256"), 0);
    EXPECT_EQ(ParseSpeedEntry("300"), 44);
    EXPECT_EQ(ParseSpeedEntry("-1"), 255);
    EXPECT_EQ(ParseSpeedEntry("-40"), 216);
    // Far beyond 32 bits: still the low 8 bits of the written number.
    EXPECT_EQ(ParseSpeedEntry("99999999999"), static_cast<std::uint8_t>(99999999999ull % 256));
    EXPECT_EQ(ParseSpeedEntry("123456789012345678"),
              static_cast<std::uint8_t>(123456789012345678ull % 256));
}

// The retry rule as every sender runs it (SendWithRetries over RetryPauseMs):
// the answers of the drive, try by try, give the tries made and the pauses
// between them. A drive that runs out of scripted answers answers GOOD.
TEST(RetryRule, TriesAndPausesForEachAnswer) {
    const TryOutcome good{false, {}};
    const TryOutcome resetUa{true, {0x06, 0x29, 0x00}};  // unit attention after a reset
    const TryOutcome mediumUa{true, {0x06, 0x28, 0x00}}; // unit attention, medium changed
    const TryOutcome spinUp{true, {0x02, 0x04, 0x01}};   // NOT READY, becoming ready
    const TryOutcome busyUa{false, {0x06, 0x29, 0x00}};  // UA sense without CHECK CONDITION
    const TryOutcome refused{true, {0x05, 0x20, 0x00}};  // ILLEGAL REQUEST
    const TryOutcome notReady{true, {0x02, 0x04, 0x00}}; // NOT READY, cause not reportable
    const TryOutcome noMedium{true, {0x02, 0x3A, 0x00}}; // NOT READY, no medium
    const TryOutcome otherAsc{true, {0x02, 0x05, 0x01}}; // ASCQ 1 under another ASC
    const TryOutcome otherKey{true, {0x03, 0x04, 0x01}}; // 04/01 under another key
    const TryOutcome noSense{true, {0x00, 0x00, 0x00}};  // CHECK CONDITION, no sense
    const std::vector<TryOutcome> alwaysUa(10, resetUa), alwaysSpinUp(10, spinUp);
    const struct {
        const char* what;
        std::vector<TryOutcome> answers;
        int tries;
        std::vector<unsigned> pauses;
    } cases[] = {
        {"good at once", {good}, 1, {}},
        {"unit attention once: again at once", {resetUa}, 2, {}},
        {"medium changed twice: again at once, twice", {mediumUa, mediumUa}, 3, {}},
        {"unit attention always: three tries in all", alwaysUa, 3, {}},
        {"becoming ready once: again after a pause", {spinUp}, 2, {1000}},
        {"becoming ready always: two pauses, about two seconds", alwaysSpinUp, 3, {1000, 1000}},
        {"becoming ready, then unit attention: the limit is shared",
         {spinUp, resetUa, resetUa},
         3,
         {1000}},
        {"unit attention sense without CHECK CONDITION counts as it is", {busyUa}, 1, {}},
        {"illegal request counts as it is", {refused}, 1, {}},
        {"not ready without becoming ready counts", {notReady}, 1, {}},
        {"no medium counts", {noMedium}, 1, {}},
        {"ASCQ 1 under another ASC counts", {otherAsc}, 1, {}},
        {"04/01 under another sense key counts", {otherKey}, 1, {}},
        {"CHECK CONDITION without sense counts", {noSense}, 1, {}},
        {"a refusal after unit attention counts", {resetUa, refused, resetUa}, 2, {}},
    };
    for (const auto& c : cases) {
        std::size_t sent = 0;
        std::vector<unsigned> pauses;
        const int tries = SendWithRetries(
            [&] { return sent < c.answers.size() ? c.answers[sent++] : (++sent, good); },
            [&](unsigned ms) { pauses.push_back(ms); });
        EXPECT_EQ(tries, c.tries) << c.what;
        EXPECT_EQ(sent, static_cast<std::size_t>(c.tries)) << c.what;
        EXPECT_EQ(pauses, c.pauses) << c.what;
    }
}

TEST(ShortReply, StatusReplyCountsOnlyWithSixBytesAndNeverPastTheRequest) {
    EXPECT_EQ(StatusReplyBytes(255, 0), 0u);
    EXPECT_EQ(StatusReplyBytes(255, 2), 0u);
    EXPECT_EQ(StatusReplyBytes(255, 5), 0u);
    EXPECT_EQ(StatusReplyBytes(255, 6), 6u);
    EXPECT_EQ(StatusReplyBytes(255, 10), 10u);
    EXPECT_EQ(StatusReplyBytes(255, 255), 255u);
    EXPECT_EQ(StatusReplyBytes(255, 4000), 255u);
    EXPECT_EQ(StatusReplyBytes(4, 4000), 0u);

    // A speed list cut short by the transfer gives only the speeds that came.
    const std::uint8_t reply[] = {0x00, 0x08, 0x00, 0x00, 0x00, 0x18, 0x08, 0x10, 0x00, 0x00};
    const SpeedStatus status = ParseStatusReply(reply, StatusReplyBytes(255, 8));
    EXPECT_FALSE(status.twoMode);
    EXPECT_EQ(std::vector<std::uint8_t>(status.speeds.begin(), status.speeds.end()),
              (std::vector<std::uint8_t>{0x08, 0x10}));
}

TEST(SenseData, FixedAndDescriptorFormatsIntoOneCode) {
    const struct {
        Bytes sense;
        bool ok;
        std::uint8_t key, asc, ascq;
    } cases[] = {
        // Fixed format, 18 bytes; the valid bit and the flags beside the key do not count.
        {{0x70, 0, 0x06, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x29, 0x00, 0, 0, 0, 0}, true, 6, 0x29, 0},
        {{0xF1, 0, 0xE5, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x01}, true, 5, 0x24, 1},
        // Cut short: the key alone, ASC and ASCQ read as 0.
        {{0x70, 0, 0x06, 0, 0, 0, 0, 10}, true, 6, 0, 0},
        {{0x70, 0, 0x02}, true, 2, 0, 0},
        // The additional length says ASC and ASCQ are not there.
        {{0x70, 0, 0x02, 0, 0, 0, 0, 4, 0, 0, 0, 0, 0x04, 0x01}, true, 2, 0, 0},
        // It reaches byte 12 only, or exactly byte 13.
        {{0x70, 0, 0x02, 0, 0, 0, 0, 5, 0, 0, 0, 0, 0x04, 0x01}, true, 2, 0x04, 0},
        {{0x70, 0, 0x02, 0, 0, 0, 0, 6, 0, 0, 0, 0, 0x04, 0x01}, true, 2, 0x04, 0x01},
        // Descriptor format.
        {{0x72, 0x06, 0x28, 0x00, 0, 0, 0, 0}, true, 6, 0x28, 0},
        {{0x73, 0x02, 0x04}, true, 2, 0x04, 0},
        // Too short to hold the key, or no sense data at all.
        {{
             0x70,
             0,
         },
         false,
         0,
         0,
         0},
        {{0x72}, false, 0, 0, 0},
        {{0x00, 0, 0x06, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x29, 0}, false, 0, 0, 0},
        {{0x7F, 0x06, 0x29, 0x00}, false, 0, 0, 0},
        {{}, false, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SenseCode code{9, 9, 9};
        EXPECT_EQ(ParseSense(c.sense.data(), c.sense.size(), code), c.ok)
            << ::testing::PrintToString(c.sense);
        EXPECT_EQ(code.key, c.key) << ::testing::PrintToString(c.sense);
        EXPECT_EQ(code.asc, c.asc) << ::testing::PrintToString(c.sense);
        EXPECT_EQ(code.ascq, c.ascq) << ::testing::PrintToString(c.sense);
    }
    SenseCode code;
    EXPECT_FALSE(ParseSense(nullptr, 18, code));
}
