// Status refresh, Set and the group handlers against one discovered drive.
#include "drive/speedcontrol.h"

#include "drive/drivecommands.h"
#include "fakes.h"

using namespace velotune;
using vt_test::Bytes;
using vt_test::FakeDrive;
using vt_test::FakePanel;

namespace {

class Speed : public vt_test::DriveTest {
protected:
    FakePanel panel;
    SpeedControl control{panel, FakeDiscoverySeam()};

    // One drive at d: with the given status reply, discovered; the log emptied.
    void Discover(const Bytes& reply) {
        machine().platformId = VER_PLATFORM_WIN32_NT;
        machine().driveTypes['d'] = DRIVE_CDROM;
        FakeDrive drive;
        drive.statusReply = reply;
        drive.inquiry = vt_test::InquiryData(5, "ZIRVEROA", "DRIVE", "1.00");
        machine().letterDrives['d'] = drive;
        control.DiscoverDrives();
        ASSERT_EQ(control.Drives().count, 1);
        machine().log.clear();
    }
    FakeDrive& drive() { return machine().letterDrives['d']; }
    const std::vector<vt_test::LoggedCommand>& log() { return machine().log; }
};

Bytes SpeedListReply() {
    return {0x00, 0x08, 0x01, 0x02, 0x03, 0x18, 0x08, 0x10, 0x18, 0x20};
}

} // namespace

TEST_F(Speed, TwoModeHigh) {
    panel.listEnabled = true;
    panel.groupEnabled = true;
    panel.speeds = {"8", "16"};
    Discover(vt_test::TwoModeReply(true));
    EXPECT_EQ(panel.status, "Current Speed = High Speed Mode");
    EXPECT_TRUE(panel.highChecked);
    EXPECT_FALSE(panel.lowChecked);
    EXPECT_TRUE(panel.radioEnabled);
    EXPECT_FALSE(panel.listEnabled);
    EXPECT_TRUE(panel.speeds.empty());
    EXPECT_FALSE(panel.groupEnabled);
    EXPECT_EQ(panel.modeGroupCaption, CaptionColor::WindowText);
    EXPECT_EQ(panel.speedGroupCaption, CaptionColor::InactiveCaption);
}

TEST_F(Speed, TwoModeSilenceForAnyByteFiveButFF) {
    for (std::uint8_t b5 : {0x00, 0x01, 0xFE}) {
        Discover({0x00, 0x04, 0x00, 0x00, 0x00, b5});
        EXPECT_EQ(panel.status, "Current Speed = Silence Mode") << int(b5);
        EXPECT_TRUE(panel.lowChecked);
        EXPECT_FALSE(panel.highChecked);
    }
}

TEST_F(Speed, SpeedListBuiltAndFollowed) {
    panel.radioEnabled = true;
    panel.highChecked = true;
    Discover(SpeedListReply());
    EXPECT_EQ(panel.speeds, (std::vector<std::string>{"8", "16", "24", "32"}));
    EXPECT_EQ(panel.speedIndex, 0);
    EXPECT_EQ(panel.status, "Current Speed = 24");
    EXPECT_TRUE(panel.groupEnabled);
    // Not touched on this path: radio buttons, ComboBox1's state, captions.
    EXPECT_TRUE(panel.radioEnabled);
    EXPECT_TRUE(panel.highChecked);
    EXPECT_FALSE(panel.listEnabled);
    EXPECT_EQ(panel.modeGroupCaption, CaptionColor::WindowText);

    // A refresh with the same speeds keeps the list and shows the new speed.
    drive().statusReply[5] = 0x10;
    control.RefreshSpeedStatus();
    EXPECT_EQ(panel.status, "Current Speed = 16");
    EXPECT_EQ(panel.speeds, (std::vector<std::string>{"8", "16", "24", "32"}));
    ASSERT_EQ(log().size(), 1u);
    EXPECT_EQ(log()[0].cdb, vt_test::StatusReadBytes());
    EXPECT_EQ(log()[0].length, 255u);

    // A two-mode reply clears the list and the "built" flag.
    drive().statusReply = vt_test::TwoModeReply(false);
    control.RefreshSpeedStatus();
    EXPECT_TRUE(panel.speeds.empty());
    EXPECT_FALSE(panel.groupEnabled);
    EXPECT_EQ(panel.status, "Current Speed = Silence Mode");
    drive().statusReply = SpeedListReply();
    control.RefreshSpeedStatus();
    EXPECT_EQ(panel.speeds.size(), 4u);
}

TEST_F(Speed, SpeedListWithoutSpeedsAndNarrowCurrent) {
    Discover({0x01, 0x04, 0x00, 0x00, 0x00, 0x10, 0x08, 0x10});
    EXPECT_TRUE(panel.speeds.empty());
    EXPECT_EQ(panel.speedIndex, -1);
    EXPECT_EQ(panel.status, "Current Speed = 16");

    FakePanel other;
    SpeedControl second{other, FakeDiscoverySeam()};
    drive().statusReply = {0x00, 0x06, 0x00, 0x00, 0x00, 0x08, 0x04, 0x08};
    second.DiscoverDrives();
    EXPECT_EQ(other.status, "Current Speed =  8");
    EXPECT_EQ(other.speeds, (std::vector<std::string>{"4", "8"}));
}

TEST_F(Speed, LongestListStaysInsideTheReply) {
    Bytes reply(255, 0x11);
    reply[0] = 0x00;
    reply[1] = 0xFF; // the list would end before byte 257
    reply[5] = 0x20;
    Discover(reply);
    ASSERT_EQ(panel.speeds.size(), 249u); // bytes 6 to 254
    for (const auto& s : panel.speeds)
        ASSERT_EQ(s, "17");
}

TEST_F(Speed, FailedStatusReadChangesNothing) {
    Discover(SpeedListReply());
    control.UseSpeedList();
    const std::string before = panel.Snapshot();
    drive().answersStatus = false;
    drive().statusReply = vt_test::TwoModeReply(true);
    control.RefreshSpeedStatus();
    EXPECT_EQ(panel.Snapshot(), before);

    // A closed handle (0xFF) changes nothing either.
    drive().answersStatus = true;
    machine().openHandles.clear();
    const std::size_t calls = machine().passThroughRecords.size();
    control.RefreshSpeedStatus();
    EXPECT_EQ(panel.Snapshot(), before);
    EXPECT_EQ(machine().passThroughRecords.size(), calls + 1);
    EXPECT_EQ(log().size(), 1u); // the closed handle never reached the drive
}

TEST_F(Speed, SetInRadioPresentation) {
    Discover(vt_test::TwoModeReply(true));
    panel.CheckHighSpeed(false);
    control.SetChosenMode();
    ASSERT_EQ(log().size(), 2u);
    EXPECT_EQ(log()[0].cdb, vt_test::ModeSetBytes(0x00));
    EXPECT_EQ(log()[0].length, 1024u);
    EXPECT_TRUE(log()[0].dataIn);
    EXPECT_EQ(log()[1].cdb, vt_test::StatusReadBytes());
    // The drive took the new mode and the refresh shows it.
    EXPECT_EQ(panel.status, "Current Speed = Silence Mode");
    EXPECT_TRUE(panel.lowChecked);

    panel.CheckHighSpeed(true);
    control.SetChosenMode();
    ASSERT_EQ(log().size(), 4u);
    EXPECT_EQ(log()[2].cdb, vt_test::ModeSetBytes(0xFF));
    EXPECT_EQ(log()[3].cdb, vt_test::StatusReadBytes());
    EXPECT_EQ(panel.status, "Current Speed = High Speed Mode");
}

TEST_F(Speed, SetInListPresentation) {
    Discover({0x00, 0x08, 0x00, 0x00, 0x00, 0x18, 0x08, 0x10, 0x18, 0x28});
    control.UseSpeedList();
    panel.SpeedListSelect(3);
    ASSERT_EQ(panel.speeds.at(3), "40");
    control.SetChosenMode();
    ASSERT_EQ(log().size(), 2u);
    EXPECT_EQ(log()[0].cdb, vt_test::ModeSetBytes(0x28));
    EXPECT_EQ(log()[0].length, 1024u);
    EXPECT_EQ(log()[1].cdb, vt_test::StatusReadBytes());

    // An entry that does not read as a number sets 0x00.
    panel.speeds[0] = "fast";
    panel.SpeedListSelect(0);
    control.SetChosenMode();
    ASSERT_EQ(log().size(), 4u);
    EXPECT_EQ(log()[2].cdb, vt_test::ModeSetBytes(0x00));
}

TEST_F(Speed, SetWithAnEmptySpeedListSendsNothing) {
    Discover({0x01, 0x04, 0x00, 0x00, 0x00, 0x10});
    control.UseSpeedList();
    ASSERT_TRUE(panel.listEnabled);
    ASSERT_EQ(panel.speedIndex, -1);
    const std::string before = panel.Snapshot();
    control.SetChosenMode();
    EXPECT_TRUE(log().empty());
    EXPECT_EQ(panel.Snapshot(), before);
}

TEST_F(Speed, GroupHandlersSwitchPresentationWithoutCommands) {
    Discover(vt_test::TwoModeReply(true));
    control.UseSpeedList();
    EXPECT_FALSE(panel.radioEnabled);
    EXPECT_TRUE(panel.listEnabled);
    EXPECT_EQ(panel.speedGroupCaption, CaptionColor::WindowText);
    EXPECT_EQ(panel.modeGroupCaption, CaptionColor::InactiveCaption);

    control.UseModeButtons();
    EXPECT_TRUE(panel.radioEnabled);
    EXPECT_FALSE(panel.listEnabled);
    EXPECT_EQ(panel.speedGroupCaption, CaptionColor::InactiveCaption);
    EXPECT_EQ(panel.modeGroupCaption, CaptionColor::WindowText);
    EXPECT_TRUE(log().empty());

    // Back in the radio presentation, Set uses the radio buttons again.
    control.UseSpeedList();
    control.UseModeButtons();
    panel.CheckHighSpeed(true);
    control.SetChosenMode();
    ASSERT_EQ(log().size(), 2u);
    EXPECT_EQ(log()[0].cdb, vt_test::ModeSetBytes(0xFF));
}

// Every successful speed-list refresh shows that reply's speed; the list is
// built again only when the reply's speeds differ from the entries it holds.
TEST_F(Speed, SpeedListOfAnotherDriveIsShownWithItsOwnSpeed) {
    machine().platformId = VER_PLATFORM_WIN32_NT;
    machine().driveTypes['d'] = DRIVE_CDROM;
    machine().driveTypes['e'] = DRIVE_CDROM;
    FakeDrive first, second;
    first.statusReply = {0x00, 0x07, 0x00, 0x00, 0x00, 0x08, 0x08, 0x10, 0x18};
    second.statusReply = {0x00, 0x07, 0x00, 0x00, 0x00, 0x18, 0x04, 0x18, 0x30};
    first.inquiry = second.inquiry = vt_test::InquiryData(5, "ZIRVEROA", "DRIVE", "1.00");
    machine().letterDrives['d'] = first;
    machine().letterDrives['e'] = second;
    control.DiscoverDrives();
    ASSERT_EQ(control.Drives().count, 2);
    EXPECT_EQ(panel.status, "Current Speed =  8");
    EXPECT_EQ(panel.speeds, (std::vector<std::string>{"8", "16", "24"}));
    panel.SpeedListSelect(2);

    machine().log.clear();
    panel.driveIndex = 1;
    control.FollowSelectedDrive();
    ASSERT_EQ(log().size(), 1u); // one status read, as before
    EXPECT_EQ(log()[0].cdb, vt_test::StatusReadBytes());
    EXPECT_EQ(panel.status, "Current Speed = 24");
    EXPECT_EQ(panel.speeds, (std::vector<std::string>{"4", "24", "48"}));
    EXPECT_EQ(panel.speedIndex, 0);
    EXPECT_TRUE(panel.groupEnabled);
    EXPECT_FALSE(panel.listEnabled); // the presentation does not change
}

TEST_F(Speed, SpeedListThatChangedIsBuiltAgain) {
    Discover(SpeedListReply());
    control.UseSpeedList();
    panel.SpeedListSelect(3);
    const std::string radioBefore = std::to_string(panel.radioEnabled) +
                                    std::to_string(panel.highChecked) +
                                    std::to_string(panel.listEnabled);
    drive().statusReply = {0x00, 0x06, 0x00, 0x00, 0x00, 0x28, 0x28, 0x30};
    control.RefreshSpeedStatus();
    EXPECT_EQ(panel.status, "Current Speed = 40");
    EXPECT_EQ(panel.speeds, (std::vector<std::string>{"40", "48"}));
    EXPECT_EQ(panel.speedIndex, 0);
    EXPECT_EQ(std::to_string(panel.radioEnabled) + std::to_string(panel.highChecked) +
                  std::to_string(panel.listEnabled),
              radioBefore);
    // A longer list whose first entries match is another list too.
    drive().statusReply = {0x00, 0x07, 0x00, 0x00, 0x00, 0x30, 0x28, 0x30, 0x38};
    control.RefreshSpeedStatus();
    EXPECT_EQ(panel.speeds, (std::vector<std::string>{"40", "48", "56"}));
    EXPECT_EQ(log().size(), 2u);
}

TEST_F(Speed, SameSpeedsKeepTheChoiceAndShowTheNewSpeed) {
    Discover(SpeedListReply());
    control.UseSpeedList();
    panel.SpeedListSelect(1);
    control.SetChosenMode(); // sets 16, which the drive then reports
    ASSERT_EQ(log().size(), 2u);
    EXPECT_EQ(log()[0].cdb, vt_test::ModeSetBytes(0x10));
    EXPECT_EQ(panel.status, "Current Speed = 16");
    EXPECT_EQ(panel.speedIndex, 1);
    drive().statusReply[5] = 0x20;
    control.RefreshSpeedStatus();
    EXPECT_EQ(panel.status, "Current Speed = 32");
    EXPECT_EQ(panel.speeds, (std::vector<std::string>{"8", "16", "24", "32"}));
    EXPECT_EQ(panel.speedIndex, 1);
    EXPECT_TRUE(panel.listEnabled);
}

TEST_F(Speed, ShortStatusReplyChangesNothingAndIsNeverSetOn) {
    Discover(vt_test::TwoModeReply(true));
    const std::string before = panel.Snapshot();
    for (Bytes reply : {Bytes{}, Bytes{0x00, 0x04}, Bytes{0x00, 0x04, 0x00, 0x00, 0x00}}) {
        drive().statusReply = reply;
        control.RefreshSpeedStatus();
        EXPECT_EQ(panel.Snapshot(), before) << reply.size();
    }
    EXPECT_EQ(log().size(), 3u);
}

TEST_F(Speed, SpeedListCutShortGivesOnlyTheSpeedsTransferred) {
    // Byte 1 announces four speeds; only two of them came.
    Discover({0x00, 0x08, 0x00, 0x00, 0x00, 0x18, 0x08, 0x10});
    EXPECT_EQ(panel.speeds, (std::vector<std::string>{"8", "16"}));
    EXPECT_EQ(panel.status, "Current Speed = 24");
}

TEST_F(Speed, ReplyBufferIsClearedBeforeEachStatusRead) {
    // On the ASPI path nothing reports the length: the bytes a short reply
    // leaves out must read as zero, not as the previous reply's.
    machine().platformId = VER_PLATFORM_WIN32_WINDOWS;
    machine().supportInfo = 0x0101;
    FakeDrive drive;
    drive.statusReply = vt_test::TwoModeReply(true);
    drive.inquiry = vt_test::InquiryData(5, "ZIRVEROA", "DRIVE", "1.00");
    machine().aspiDrives[{0, 0}] = drive;
    control.DiscoverDrives();
    ASSERT_EQ(panel.status, "Current Speed = High Speed Mode");
    machine().aspiDrives[{0, 0}].statusReply = {0x00, 0x04};
    control.RefreshSpeedStatus();
    EXPECT_EQ(panel.status, "Current Speed = Silence Mode");
}

TEST_F(Speed, PanelBuffersAreAligned) {
    Discover(vt_test::TwoModeReply(true));
    control.SetChosenMode();
    ASSERT_FALSE(machine().dataAddresses.empty());
    for (void* data : machine().dataAddresses)
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(data) % 16, 0u);
}
