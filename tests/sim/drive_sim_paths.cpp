// Drive integration cases that run on both transport paths under Wine: each test
// program instantiates them with its path (see simpath.h).
#include "simpath.h"

#include "drive/drivecommands.h"
#include "drive/transport.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using namespace velotune;
using ::testing::ElementsAre;

namespace simtest {
namespace {

const std::string kStatusRead = "cdb=ff07b100000000000000ffaa dir=in len=255";
const std::string kInquiry = "cdb=120000002400 dir=in len=36";
std::string ModeSet(const char* value) {
    return std::string("cdb=ff07b0000000") + value + "00000000aa dir=in len=1024";
}

// "cdb dir len" of each command the drive received, whatever the layer.
std::vector<std::string> Sent(const std::string& drive) {
    std::vector<std::string> sent;
    for (const std::string& line : DriveLog(drive))
        sent.push_back("cdb=" + Field(line, "cdb") + " dir=" + Field(line, "dir") +
                       " len=" + Field(line, "len"));
    return sent;
}

void ExpectUntouchedBut(const std::uint8_t* data, std::size_t size,
                        std::initializer_list<std::size_t> changed) {
    for (std::size_t i = 0; i < size; ++i)
        if (std::find(changed.begin(), changed.end(), i) == changed.end()) {
            ASSERT_EQ(data[i], 0xCC) << "byte " << i;
        }
}

} // namespace

TEST_P(BothPaths, SetSendsOneModeSetAndOneStatusRead) {
    const std::string d = path().Drive(0);
    WriteDrive(d, "kind=twomode\nmode=high");
    path().Attach(1);
    control.DiscoverDrives();
    ASSERT_EQ(control.Drives().count, 1);
    ASSERT_EQ(panel.status, "Current Speed = High Speed Mode");

    // The user checks "Silence Mode", then "High Speed Mode".
    struct Step {
        bool high;
        const char* value;
        const char* mode;
        const char* status;
    };
    for (const Step& step : {Step{false, "00", "silence", "Current Speed = Silence Mode"},
                             Step{true, "ff", "high", "Current Speed = High Speed Mode"}}) {
        ClearDriveLog(d);
        panel.CheckHighSpeed(step.high);
        control.SetChosenMode();
        EXPECT_THAT(Sent(d), ElementsAre(ModeSet(step.value), kStatusRead));
        EXPECT_EQ(ReadDriveKey(d, "mode"), step.mode);
        EXPECT_EQ(panel.status, step.status);
        EXPECT_EQ(panel.highChecked, step.high);
    }

    // The timer's refresh is one status read; the selected entry again is nothing.
    ClearDriveLog(d);
    control.RefreshSpeedStatus();
    EXPECT_THAT(Sent(d), ElementsAre(kStatusRead));
    ClearDriveLog(d);
    panel.driveIndex = 0;
    control.FollowSelectedDrive();
    EXPECT_TRUE(DriveLog(d).empty());
}

TEST_P(BothPaths, CheckConditionFoldsSenseIntoBytes2_12_13) {
    WriteDrive(path().Drive(0), "kind=twomode\nreject_status=1");
    WriteDrive(path().Drive(1), "kind=twomode\nreject_status=1\nstatus_sense=03,11,05");
    path().Attach(2);
    std::uint8_t data[255];
    std::memset(data, 0xCC, sizeof data);
    EXPECT_EQ(path().Execute(0, kStatusReadCdb, kCdb12, data, kStatusReadLength, 0), 4);
    EXPECT_EQ(data[2], 0x05);
    EXPECT_EQ(data[12], 0x20);
    EXPECT_EQ(data[13], 0x00);
    ExpectUntouchedBut(data, sizeof data, {2, 12, 13});

    // Other sense values come through as the drive gave them, by position.
    path().Address(2);
    std::memset(data, 0xCC, sizeof data);
    EXPECT_EQ(SendDriveCommand(1, kStatusReadCdb, kCdb12, data, kStatusReadLength, 0), 4);
    EXPECT_EQ(data[2], 0x03);
    EXPECT_EQ(data[12], 0x11);
    EXPECT_EQ(data[13], 0x05);
    ExpectUntouchedBut(data, sizeof data, {2, 12, 13});
    EXPECT_THAT(Sent(path().Drive(1)), ElementsAre(kStatusRead));
}

TEST_P(BothPaths, CommandBlocksLengthsAndDirectionsReachTheDrive) {
    const std::string d = path().Drive(0);
    WriteDrive(d, "kind=twomode\nvendor=EXACT");
    path().Attach(1);
    path().Address(1);
    std::uint8_t data[1024] = {};
    EXPECT_EQ(SendDriveCommand(0, kInquiryCdb, kCdb6, data, kInquiryLength, 0), kResultOk);
    EXPECT_EQ(data[0], 0x05);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data + 8), 8), "EXACT   ");
    std::uint8_t cdb[kCdb12];
    BuildModeSetCdb(0xFF, cdb);
    EXPECT_EQ(path().Execute(0, cdb, kCdb12, data, kModeSetLength, 0), 1);
    // Direction 1 carries data to the drive.
    EXPECT_EQ(SendDriveCommand(0, kStatusReadCdb, kCdb12, data, 16, 1), kResultOk);

    EXPECT_THAT(Sent(d), ElementsAre(kInquiry, ModeSet("ff"),
                                     "cdb=ff07b100000000000000ffaa dir=out len=16"));
    const std::vector<std::string> log = DriveLog(d);
    ASSERT_EQ(log.size(), 3u);
    for (std::size_t i = 0; i < log.size(); ++i)
        path().ExpectLayerFields(log[i], 0, i == 2);
}

TEST_P(BothPaths, NoAnsweringDriveShowsOneMessageAndSendsNoInquiry) {
    WriteDrive(path().Drive(0), "kind=twomode\nreject_status=1");
    WriteDrive(path().Drive(1), "gone=1");
    path().Attach(2);
    control.DiscoverDrives();
    EXPECT_THAT(panel.MessageLines(),
                ElementsAre("DRIVE NOT FOUND!!|MESSAGE|" + std::to_string(path().NotFoundStyle())));
    EXPECT_EQ(panel.quitRequests, 1);
    EXPECT_TRUE(panel.drives.empty());
    EXPECT_EQ(control.Drives().count, 0);
    EXPECT_THAT(Sent(path().Drive(0)), ElementsAre(kStatusRead));
    EXPECT_EQ(Field(DriveLog(path().Drive(0))[0], "answer"), "check");
    EXPECT_THAT(Sent(path().Drive(1)), ElementsAre(kStatusRead));
}

TEST_P(BothPaths, UnitAttentionIsSentAgain) {
    const std::string once = path().Drive(0), always = path().Drive(1), plain = path().Drive(2);
    // The first unit attention comes in descriptor format, the later ones in fixed format.
    WriteDrive(once, "kind=twomode\nmode=high\nunit_attention=1\nsense_format=descriptor\n"
                     "vendor=ONCE");
    WriteDrive(always, "kind=twomode\nunit_attention=always\nvendor=ALWAYS");
    WriteDrive(plain, "kind=twomode\nmode=silence\nvendor=PLAIN");
    path().Attach(3);
    control.DiscoverDrives();

    ASSERT_EQ(panel.drives.size(), 2u);
    EXPECT_EQ(panel.drives[0].substr(0, 8), "ONCE    ");
    EXPECT_EQ(panel.drives[1].substr(0, 8), "PLAIN   ");
    EXPECT_TRUE(panel.messages.empty());
    EXPECT_EQ(panel.status, "Current Speed = High Speed Mode");
    EXPECT_EQ(ReadDriveKey(once, "unit_attention"), "0");

    // One command more per unit attention, three tries at most.
    EXPECT_THAT(Sent(once), ElementsAre(kStatusRead, kStatusRead, kInquiry, kStatusRead));
    EXPECT_EQ(Field(DriveLog(once)[0], "answer"), "check");
    EXPECT_EQ(Field(DriveLog(once)[1], "answer"), "good");
    EXPECT_THAT(Sent(always), ElementsAre(kStatusRead, kStatusRead, kStatusRead));
    for (const std::string& line : DriveLog(always))
        EXPECT_EQ(Field(line, "answer"), "check") << line;
    EXPECT_THAT(Sent(plain), ElementsAre(kStatusRead, kInquiry));

    // A media change on the first drive: the refresh, sent by list position, is sent again.
    panel.driveIndex = 1;
    control.FollowSelectedDrive();
    EXPECT_EQ(panel.status, "Current Speed = Silence Mode");
    WriteDrive(once, "kind=twomode\nmode=high\nunit_attention=1\nvendor=ONCE");
    panel.driveIndex = 0;
    control.FollowSelectedDrive();
    EXPECT_THAT(Sent(once), ElementsAre(kStatusRead, kStatusRead));
    EXPECT_EQ(panel.status, "Current Speed = High Speed Mode");
}

} // namespace simtest
