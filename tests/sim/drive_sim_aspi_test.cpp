// The real ASPI path and 95-family discovery under Wine, against the simulated
// WNASPI32.DLL beside this program. The run script makes this program see the
// 95 family; the cases write the ASPI configuration (aspi.ini) and the drive
// files they need.
#include "simpath.h"

#include "drive/drivecommands.h"
#include "drive/speedcontrol.h"
#include "drive/transport.h"

#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <cstring>
#include <string>
#include <vector>

using namespace velotune;
using simtest::DrivePath;
using simtest::Field;
using simtest::ReadDriveKey;
using simtest::Request;
using simtest::WriteDrive;
using simtest::WriteText;
using ::testing::ElementsAre;

namespace {

const std::string kStatusRead = "cdb=ff07b100000000000000ffaa";
const std::string kInquiry = "cdb=120000002400";

std::string AspiConfig() {
    return simtest::SimDir() + "aspi.ini";
}

// Writes the ASPI configuration and empties its log. Targets are "H:T name".
void WriteAspi(const std::string& head, const std::vector<std::string>& targets) {
    std::string text = head + "\n";
    for (const std::string& t : targets) {
        const std::size_t space = t.find(' ');
        text += "target=" + t.substr(0, space) + " " + DrivePath(t.substr(space + 1)) + "\n";
    }
    simtest::WriteText(AspiConfig(), text);
    simtest::WriteText(AspiConfig() + ".log", "");
}

std::vector<std::string> AspiLog() {
    return simtest::ReadLines(AspiConfig() + ".log");
}

// "ha target cdb len status" of each logged command.
std::vector<std::string> Commands() {
    std::vector<std::string> commands;
    for (const std::string& line : AspiLog())
        commands.push_back(Field(line, "ha") + ":" + Field(line, "target") + " " +
                           Field(line, "cdb") + " " + Field(line, "len") + " " +
                           Field(line, "status"));
    return commands;
}

const std::string kStatus = "ff07b100000000000000ffaa 255";
const std::string kInq = "120000002400 36";

// The ASPI path of the shared cases: slots are targets 1, 3, 5, 6 and 7 of
// adapter 1, so that both ids reach the layer as given.
const int kSlotTargets[] = {1, 3, 5, 6, 7};

class AspiPath : public simtest::SimPath {
public:
    const char* Name() const override { return "Aspi"; }
    void Prepare() override { WriteAspi("adapters=2", {}); }
    std::string Drive(int slot) const override { return "slot" + std::to_string(slot); }
    void Attach(int count) override {
        std::vector<std::string> targets;
        for (int slot = 0; slot < count; ++slot)
            targets.push_back("1:" + std::to_string(kSlotTargets[slot]) + " " + Drive(slot));
        WriteAspi("adapters=2", targets);
        EXPECT_EQ(LoadAspi(), 2);
    }
    void Address(int count) override {
        std::uint8_t targets[kMaxAspiDrives] = {};
        std::uint8_t adapters[kMaxAspiDrives] = {};
        for (int slot = 0; slot < count; ++slot) {
            targets[slot] = static_cast<std::uint8_t>(kSlotTargets[slot]);
            adapters[slot] = 1;
        }
        const HANDLE handles[kMaxNtDrives] = {};
        SetDriveTable(0, targets, adapters, handles);
    }
    int Execute(int slot, const std::uint8_t* cdb, std::uint8_t cdbLength, std::uint8_t* data,
                std::uint32_t length, int direction) override {
        return AspiExecute(1, static_cast<std::uint8_t>(kSlotTargets[slot]), cdb, cdbLength, data,
                           length, direction);
    }
    void ExpectLayerFields(const std::string& line, int slot, bool out) const override {
        EXPECT_EQ(Field(line, "ha"), "1") << line;
        EXPECT_EQ(Field(line, "target"), std::to_string(kSlotTargets[slot])) << line;
        EXPECT_EQ(Field(line, "flags"), out ? "10" : "08") << line;
        EXPECT_EQ(Field(line, "lun"), "0") << line;
        EXPECT_EQ(Field(line, "sense_len"), "14") << line;
    }
    void Release() override {}
    const DiscoverySeam& Seam() const override { return RealDiscoverySeam(); }
    unsigned NotFoundStyle() const override { return MB_ICONHAND | MB_SYSTEMMODAL; }
} g_aspiPath;

} // namespace

namespace simtest {
VT_SIM_PATH(Aspi, g_aspiPath);
} // namespace simtest

namespace {

class AspiDrives : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(simtest::SimDir().empty()) << "VT_SIM_DIR is not set"; }
    void TearDown() override { control.ReleaseDrives(); }

    simtest::FakePanel panel;
    SpeedControl control{panel};
};

TEST(AspiEnvironment, ProgramSeesThe95FamilyAndTheSimulatedLayer) {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    EXPECT_EQ(version.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_WINDOWS));
    HMODULE aspi = LoadLibraryA("WNASPI32.DLL");
    ASSERT_NE(aspi, nullptr);
    char path[MAX_PATH] = "";
    GetModuleFileNameA(aspi, path, sizeof path);
    char self[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string dir(self);
    dir = dir.substr(0, dir.find_last_of('\\') + 1);
    EXPECT_STRCASEEQ(path, (dir + "WNASPI32.DLL").c_str());
}

TEST_F(AspiDrives, LoadAspiReadsTheSupportInfo) {
    WriteAspi("adapters=2", {});
    EXPECT_EQ(LoadAspi(), 2);
    WriteAspi("support=0x0102", {});
    EXPECT_EQ(LoadAspi(), 2);
    WriteAspi("support=0x0302", {});
    EXPECT_EQ(LoadAspi(), 0);
    WriteAspi("support=0xE800", {});
    EXPECT_EQ(LoadAspi(), 0);
    WriteAspi("support=0x0000", {});
    EXPECT_EQ(LoadAspi(), 0);
    EXPECT_TRUE(AspiLog().empty());
}

TEST_F(AspiDrives, DiscoveryListsCdromDrivesByAdapterThenTarget) {
    WriteDrive("a01", "kind=twomode\nmode=silence\nvendor=VENDOR-A\nproduct=FIRST");
    WriteDrive("a03", "kind=twomode\ntype=0\nvendor=DISK");
    WriteDrive("a05", "kind=twomode\nreject_status=1\nvendor=REJECTS");
    WriteDrive("a10", "kind=speedlist\nspeeds=4,8\ncurrent=8\nvendor=VENDOR-B");
    WriteDrive("a12", "kind=twomode\ninquiry_fails=1");
    WriteDrive("a16", "kind=twomode\nvendor=VENDOR-C\nproduct=0123456789ABCDEF\nrevision=9.99");
    WriteAspi("adapters=2\ndelay_ms=1",
              {"0:1 a01", "0:3 a03", "0:5 a05", "1:0 a10", "1:2 a12", "1:6 a16"});
    control.DiscoverDrives();

    ASSERT_EQ(panel.drives.size(), 3u);
    EXPECT_EQ(panel.drives[0], "VENDOR-AFIRST           1.00   ");
    EXPECT_EQ(panel.drives[1].substr(0, 8), "VENDOR-B");
    EXPECT_EQ(panel.drives[2], "VENDOR-C0123456789ABCDEF9.99   ");
    EXPECT_EQ(panel.drives[2].size(), 31u);
    EXPECT_TRUE(panel.messages.empty());
    const DriveList& list = control.Drives();
    EXPECT_EQ(list.count, 3);
    EXPECT_EQ(list.ntFlag, 0);
    EXPECT_EQ(list.selected, 0);
    EXPECT_THAT(std::vector<int>(list.hostAdapterIds, list.hostAdapterIds + 3),
                ElementsAre(0, 1, 1));
    EXPECT_THAT(std::vector<int>(list.targetIds, list.targetIds + 3), ElementsAre(1, 0, 6));
    EXPECT_EQ(panel.status, "Current Speed = Silence Mode");

    // Every target is probed once, in order; INQUIRY follows each completed probe;
    // one refresh of position 0 ends it.
    std::vector<std::string> expected;
    for (int ha = 0; ha < 2; ++ha)
        for (int t = 0; t < 8; ++t) {
            const std::string at = std::to_string(ha) + ":" + std::to_string(t) + " ";
            const int key = ha * 10 + t;
            const bool present =
                key == 1 || key == 3 || key == 5 || key == 10 || key == 12 || key == 16;
            const bool answers = present && key != 5;
            expected.push_back(at + kStatus + " " + (answers ? "01" : present ? "04" : "82"));
            if (answers) expected.push_back(at + kInq + " " + (key == 12 ? "04" : "01"));
        }
    expected.push_back("0:1 " + kStatus + " 01");
    EXPECT_EQ(Commands(), expected);
    for (const std::string& line : AspiLog()) {
        EXPECT_EQ(Field(line, "dir"), "in");
        EXPECT_EQ(Field(line, "flags"), "08");
        EXPECT_EQ(Field(line, "lun"), "0");
        EXPECT_EQ(Field(line, "sense_len"), "14");
    }
}

TEST_F(AspiDrives, OtherStatusesComeBackUnchangedAndLeaveTheBufferAlone) {
    WriteDrive("r", "kind=twomode\nreject_status=1");
    WriteAspi("adapters=1", {"0:2 r"});
    ASSERT_EQ(LoadAspi(), 1);
    std::uint8_t data[255];
    std::memset(data, 0xCC, sizeof data);
    EXPECT_EQ(AspiExecute(0, 7, kStatusReadCdb, kCdb12, data, kStatusReadLength, 0), 0x82);
    EXPECT_EQ(AspiExecute(3, 0, kStatusReadCdb, kCdb12, data, kStatusReadLength, 0), 0x81);
    for (std::size_t i = 0; i < sizeof data; ++i)
        ASSERT_EQ(data[i], 0xCC) << "byte " << i;
}

TEST_F(AspiDrives, PendingCommandIsAwaited) {
    WriteDrive("slow", "kind=speedlist\nspeeds=10,20\ncurrent=20");
    WriteAspi("adapters=1\ndelay_ms=150", {"0:0 slow"});
    std::uint8_t data[255] = {};
    EXPECT_EQ(AspiExecute(0, 0, kStatusReadCdb, kCdb12, data, kStatusReadLength, 0), 0x01);
    EXPECT_EQ(data[1], 6);
    EXPECT_EQ(data[5], 20);
    EXPECT_EQ(data[6], 10);
    EXPECT_EQ(data[7], 20);
}

TEST_F(AspiDrives, ANinthDriveIsNotListed) {
    std::vector<std::string> targets;
    for (int i = 0; i < 9; ++i) {
        const std::string name = "n" + std::to_string(i);
        WriteDrive(name, "kind=twomode\nvendor=DRIVE-" + std::to_string(i));
        targets.push_back(std::to_string(i / 8) + ":" + std::to_string(i % 8) + " " + name);
    }
    WriteAspi("adapters=2", targets);
    control.DiscoverDrives();
    ASSERT_EQ(control.Drives().count, 8);
    ASSERT_EQ(panel.drives.size(), 8u);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(panel.drives[i].substr(0, 8), "DRIVE-" + std::to_string(i) + " ");
        EXPECT_EQ(control.Drives().targetIds[i], i);
        EXPECT_EQ(control.Drives().hostAdapterIds[i], 0);
    }
    EXPECT_TRUE(simtest::DriveLog("n8").empty() ||
                Field(simtest::DriveLog("n8").back(), "cdb") != "120000002400");
}

TEST_F(AspiDrives, NoAdaptersShowsAspiNotFoundOnce) {
    WriteDrive("z", "kind=twomode");
    WriteAspi("adapters=0", {"0:0 z"});
    control.DiscoverDrives();
    EXPECT_THAT(panel.MessageLines(), ElementsAre("ASPI Not Found!!|MESSAGE|4112"));
    EXPECT_EQ(panel.quitRequests, 1);
    EXPECT_TRUE(panel.drives.empty());
    EXPECT_TRUE(AspiLog().empty());
}

TEST_F(AspiDrives, NoDriveShowsDriveNotFoundOnce) {
    WriteDrive("disk", "kind=twomode\ntype=0");
    WriteAspi("adapters=1", {"0:6 disk"});
    control.DiscoverDrives();
    EXPECT_THAT(panel.MessageLines(), ElementsAre("DRIVE NOT FOUND!!|MESSAGE|4112"));
    EXPECT_EQ(panel.quitRequests, 1);
    EXPECT_TRUE(panel.drives.empty());
    const std::vector<std::string> commands = Commands();
    ASSERT_EQ(commands.size(), 9u); // 8 probes and the INQUIRY of the disk
    EXPECT_EQ(commands[7], "0:6 " + kInq + " 01");
}

TEST_F(AspiDrives, AShortReplyReadsAsZeros) {
    WriteDrive("plain", "kind=twomode\nmode=high\nvendor=PLAIN");
    // A status read that ends GOOD with 2 bytes: 00 04 of a High Speed reply.
    WriteDrive("short", "kind=twomode\nmode=high\nstatus_len=2\nvendor=SHORT");
    WriteAspi("adapters=1", {"0:0 plain", "0:2 short"});
    control.DiscoverDrives();

    // ASPI reports no length: the short device is listed like any other.
    ASSERT_EQ(panel.drives.size(), 2u);
    EXPECT_EQ(panel.drives[0].substr(0, 8), "PLAIN   ");
    EXPECT_EQ(panel.drives[1].substr(0, 8), "SHORT   ");
    EXPECT_TRUE(panel.messages.empty());
    EXPECT_EQ(panel.status, "Current Speed = High Speed Mode");
    std::vector<std::string> expected = {"0:0 " + kStatus + " 01", "0:0 " + kInq + " 01",
                                         "0:1 " + kStatus + " 82", "0:2 " + kStatus + " 01",
                                         "0:2 " + kInq + " 01"};
    for (int t = 3; t < 8; ++t)
        expected.push_back("0:" + std::to_string(t) + " " + kStatus + " 82");
    expected.push_back("0:0 " + kStatus + " 01");
    EXPECT_EQ(Commands(), expected);

    // The short reply follows a High Speed reply in the same buffer: what the
    // drive did not send reads as zeros, never as the earlier reply.
    panel.driveIndex = 1;
    control.FollowSelectedDrive();
    EXPECT_EQ(panel.status, "Current Speed = Silence Mode");
}

TEST_F(AspiDrives, AGivenUpRequestIsAbortedAndNeverWritesIntoTheCallersBuffer) {
    WriteDrive("hung", "kind=twomode\nmode=high\nhang_ms=1500");
    WriteAspi("adapters=1", {"0:0 hung"});
    ASSERT_EQ(LoadAspi(), 1);
    TransportSeam seam = RealTransportSeam();
    seam.aspiWaitLimitMs = 200; // instead of the minute
    SetTransportSeam(seam);

    std::uint8_t data[255];
    std::memset(data, 0xA5, sizeof data);
    const std::uint8_t result =
        AspiExecute(0, 0, kStatusReadCdb, kCdb12, data, kStatusReadLength, 0);
    SetTransportSeam(RealTransportSeam());
    EXPECT_EQ(result, 0x02); // SS_ABORTED
    EXPECT_THAT(AspiLog(), ElementsAre("abort ha=0"));

    // The layer finishes the request later; the caller's buffer stays as it was.
    for (int i = 0; i < 50 && AspiLog().size() < 2; ++i)
        Sleep(100);
    ASSERT_EQ(AspiLog().size(), 2u);
    EXPECT_EQ(Field(AspiLog()[1], "status"), "01");
    for (std::size_t i = 0; i < sizeof data; ++i)
        ASSERT_EQ(data[i], 0xA5) << "byte " << i;

    // The transport goes on with storage of its own.
    WriteDrive("hung", "kind=twomode\nmode=silence");
    EXPECT_EQ(AspiExecute(0, 0, kStatusReadCdb, kCdb12, data, kStatusReadLength, 0), 0x01);
    EXPECT_EQ(data[1], 0x04);
    EXPECT_EQ(data[5], 0x00);
}

} // namespace
