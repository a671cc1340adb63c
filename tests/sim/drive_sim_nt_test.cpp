// The real pass-through path and NT-family discovery under Wine, against drives
// played by the SG_IO emulator. The run script makes d, e, f, g and h CD-ROM
// letters whose devices are the files d.drive ... h.drive; a case writes the
// drives it needs, and the others fail every command at the transport (gone=1).
#include "simpath.h"

#include "drive/drivecommands.h"
#include "drive/speedcontrol.h"
#include "drive/transport.h"

#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using namespace velotune;
using simtest::DriveLog;
using simtest::Field;
using simtest::ReadDriveKey;
using simtest::Request;
using simtest::WriteDrive;
using ::testing::ElementsAre;

namespace {

const char* const kLetters[] = {"d", "e", "f", "g", "h"};

const std::string kStatusRead =
    "cdb=ff07b100000000000000ffaa dir=in len=255 timeout=60000 sense_max=24";
const std::string kInquiry = "cdb=120000002400 dir=in len=36 timeout=60000 sense_max=24";
std::string ModeSet(const char* value) {
    return std::string("cdb=ff07b0000000") + value +
           "00000000aa dir=in len=1024 timeout=60000 sense_max=24";
}

std::vector<std::string> Requests(const std::string& name) {
    std::vector<std::string> requests;
    for (const std::string& line : DriveLog(name))
        requests.push_back(Request(line));
    return requests;
}

std::string Entry(const std::string& vendor, const std::string& product, const std::string& rev) {
    return vendor + product + rev + "   ";
}

// Discovery's platform calls: the real ones, recorded. A case may name the
// machine's CD-ROM letters (g_cdroms); the other letters then read as no drive.
// Under Wine every CD-ROM letter opens, even one whose device is missing.
std::string g_cdroms;

struct SeamRecord {
    std::vector<std::string> paths;
    std::vector<HANDLE> opened;
    std::vector<HANDLE> closed;
} g_record;

UINT WINAPI RecordGetDriveType(LPCSTR root) {
    if (!g_cdroms.empty() && g_cdroms.find(root[0]) == std::string::npos) return DRIVE_NO_ROOT_DIR;
    return GetDriveTypeA(root);
}
HANDLE WINAPI RecordCreateFile(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                               DWORD disposition, DWORD flags, HANDLE tmpl) {
    HANDLE h = CreateFileA(path, access, share, sa, disposition, flags, tmpl);
    g_record.paths.push_back(path);
    g_record.opened.push_back(h);
    return h;
}
BOOL WINAPI RecordCloseHandle(HANDLE h) {
    g_record.closed.push_back(h);
    return CloseHandle(h);
}
const DiscoverySeam kRecordingSeam = {&RecordGetDriveType, &RecordCreateFile, &RecordCloseHandle};

HANDLE Opened(const char* letter) {
    const std::string path = std::string("\\\\.\\") + letter + ":";
    for (std::size_t i = 0; i < g_record.paths.size(); ++i)
        if (g_record.paths[i] == path) return g_record.opened[i];
    return nullptr;
}

HANDLE OpenDrive(const char* letter) {
    const std::string path = std::string("\\\\.\\") + letter + ":";
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
}

void UseHandleAtPosition0(HANDLE handle) {
    const std::uint8_t none[kMaxAspiDrives] = {};
    HANDLE handles[kMaxNtDrives] = {};
    handles[0] = handle;
    SetDriveTable(1, none, none, handles);
}

// The NT path of the shared cases: slots are the letters d to h.
class NtPath : public simtest::SimPath {
public:
    const char* Name() const override { return "Nt"; }
    void Prepare() override {
        g_record = {};
        g_cdroms = "defgh"; // whatever other letters the prefix has
        for (const char* letter : kLetters)
            WriteDrive(letter, "gone=1");
    }
    std::string Drive(int slot) const override { return kLetters[slot]; }
    void Attach(int) override {} // the letters are there from the start
    void Address(int count) override {
        const std::uint8_t none[kMaxAspiDrives] = {};
        HANDLE handles[kMaxNtDrives] = {};
        for (int slot = 0; slot < count; ++slot)
            handles[slot] = Handle(slot);
        SetDriveTable(1, none, none, handles);
    }
    int Execute(int slot, const std::uint8_t* cdb, std::uint8_t cdbLength, std::uint8_t* data,
                std::uint32_t length, int direction) override {
        return PassThroughExecute(Handle(slot), cdb, cdbLength, data, length, direction);
    }
    void ExpectLayerFields(const std::string& line, int, bool) const override {
        EXPECT_EQ(Field(line, "timeout"), "60000") << line;
        EXPECT_EQ(Field(line, "sense_max"), "24") << line;
    }
    void Release() override {
        for (HANDLE& h : handles_)
            if (h) {
                CloseHandle(h);
                h = nullptr;
            }
    }
    const DiscoverySeam& Seam() const override { return kRecordingSeam; }
    unsigned NotFoundStyle() const override { return MB_ICONHAND; }

private:
    HANDLE Handle(int slot) {
        if (!handles_[slot]) handles_[slot] = OpenDrive(kLetters[slot]);
        EXPECT_NE(handles_[slot], INVALID_HANDLE_VALUE);
        return handles_[slot];
    }
    HANDLE handles_[5] = {};
} g_ntPath;

class NtDrives : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(simtest::SimDir().empty()) << "VT_SIM_DIR is not set";
        g_ntPath.Prepare();
    }
    void TearDown() override { control.ReleaseDrives(); }

    simtest::FakePanel panel;
    SpeedControl control{panel, kRecordingSeam};
};

} // namespace

namespace simtest {
VT_SIM_PATH(Nt, g_ntPath);
} // namespace simtest

namespace {

TEST(NtEnvironment, TheSimulatedLettersAreCdroms) {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    EXPECT_EQ(version.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
    std::string cdroms;
    for (char letter = 'a'; letter <= 'z'; ++letter) {
        const char root[3] = {letter, ':', 0};
        if (GetDriveTypeA(root) == DRIVE_CDROM) cdroms += letter;
    }
    EXPECT_NE(cdroms.find("defgh"), std::string::npos) << cdroms;
}

TEST(NtEnvironment, LoadAspiNeverTakesTheLayerBesideTheProgram) {
    char self[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string beside(self);
    beside = beside.substr(0, beside.find_last_of('\\') + 1) + "WNASPI32.DLL";
    ASSERT_NE(GetFileAttributesA(beside.c_str()), INVALID_FILE_ATTRIBUTES) << beside;

    LoadAspi();
    HMODULE aspi = GetModuleHandleA("WNASPI32.DLL");
    ASSERT_NE(aspi, nullptr);
    char path[MAX_PATH] = "";
    GetModuleFileNameA(aspi, path, sizeof path);
    EXPECT_STRCASENE(path, beside.c_str());
    char system[MAX_PATH] = "";
    GetSystemDirectoryA(system, sizeof system);
    EXPECT_EQ(_strnicmp(path, system, std::strlen(system)), 0) << path;
}

TEST_F(NtDrives, OfDrivesDAndFOnlyFAnswers) {
    g_cdroms = "df";
    WriteDrive("d", "kind=twomode\nreject_status=1");
    WriteDrive("f",
               "kind=twomode\nmode=high\nvendor=TRELVIX\nproduct=DVD-RW SILENT\nrevision=2.10");
    control.DiscoverDrives();

    EXPECT_THAT(panel.drives, ElementsAre(Entry("TRELVIX ", "DVD-RW SILENT   ", "2.10")));
    EXPECT_TRUE(panel.messages.empty());
    EXPECT_EQ(panel.quitRequests, 0);
    EXPECT_EQ(control.Drives().count, 1);
    EXPECT_EQ(control.Drives().selected, 0);
    EXPECT_EQ(control.Drives().ntFlag, 1);
    EXPECT_EQ(panel.driveIndex, 0);

    // d: probed once and closed; f: probe, INQUIRY and the closing refresh.
    EXPECT_THAT(Requests("d"), ElementsAre(kStatusRead));
    EXPECT_EQ(Field(DriveLog("d")[0], "answer"), "check");
    EXPECT_THAT(Requests("f"), ElementsAre(kStatusRead, kInquiry, kStatusRead));
    HANDLE d = Opened("d");
    HANDLE f = Opened("f");
    ASSERT_NE(d, INVALID_HANDLE_VALUE);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    EXPECT_THAT(g_record.closed, ElementsAre(d));
    EXPECT_EQ(control.Drives().handles[0], f);
    EXPECT_EQ(panel.status, "Current Speed = High Speed Mode");
    EXPECT_TRUE(panel.highChecked);

    // Position 0 addresses f.
    std::uint8_t reply[255] = {};
    EXPECT_EQ(SendDriveCommand(0, kStatusReadCdb, kCdb12, reply, kStatusReadLength, 0), kResultOk);
    EXPECT_EQ(reply[1], 0x04);
    EXPECT_EQ(reply[5], 0xFF);
    EXPECT_EQ(DriveLog("d").size(), 1u);
    EXPECT_EQ(DriveLog("f").size(), 4u);
}

TEST_F(NtDrives, DiscoverySendsOneProbePerOpenLetterOneInquiryPerDriveAndOneRefresh) {
    WriteDrive("d", "kind=twomode\nmode=silence\nvendor=VENDOR-D");
    WriteDrive("e", "kind=twomode\nreject_status=1\nvendor=VENDOR-E");
    WriteDrive("f", "kind=speedlist\nspeeds=8,16\ncurrent=16\nvendor=VENDOR-F");
    WriteDrive("g", "kind=twomode\nvendor=VENDOR-G");
    // h is a CD-ROM letter whose device fails at the transport.
    control.DiscoverDrives();

    EXPECT_THAT(Requests("d"), ElementsAre(kStatusRead, kInquiry, kStatusRead));
    EXPECT_THAT(Requests("e"), ElementsAre(kStatusRead));
    EXPECT_THAT(Requests("f"), ElementsAre(kStatusRead, kInquiry));
    EXPECT_THAT(Requests("g"), ElementsAre(kStatusRead, kInquiry));
    EXPECT_THAT(Requests("h"), ElementsAre(kStatusRead));
    EXPECT_EQ(Field(DriveLog("h")[0], "answer"), "gone");
    EXPECT_THAT(g_record.paths,
                ElementsAre("\\\\.\\d:", "\\\\.\\e:", "\\\\.\\f:", "\\\\.\\g:", "\\\\.\\h:"));
    EXPECT_THAT(g_record.closed, ElementsAre(Opened("e"), Opened("h")));

    // List order is drive letter order.
    ASSERT_EQ(panel.drives.size(), 3u);
    EXPECT_EQ(panel.drives[0].substr(0, 8), "VENDOR-D");
    EXPECT_EQ(panel.drives[1].substr(0, 8), "VENDOR-F");
    EXPECT_EQ(panel.drives[2].substr(0, 8), "VENDOR-G");
    EXPECT_EQ(control.Drives().handles[0], Opened("d"));
    EXPECT_EQ(control.Drives().handles[1], Opened("f"));
    EXPECT_EQ(control.Drives().handles[2], Opened("g"));
    EXPECT_EQ(panel.status, "Current Speed = Silence Mode");
    EXPECT_FALSE(panel.highChecked);
}

TEST_F(NtDrives, EntryTextIsTheInquiryTextAndThreeBlanks) {
    WriteDrive("d", "vendor=ABCDEFGH\nproduct=0123456789ABCDEF\nrevision=R1.5");
    // A zero byte at INQUIRY byte 12 cuts the entry after 4 characters.
    WriteDrive("e",
               "inquiry_hex=05 80 00 32 1f 00 00 00 57 58 59 5a 00 41 42 43 44 45 46 47 48 49 4a "
               "4b 4c 4d 4e 4f 50 51 52 53 54 55 56 57");
    WriteDrive("f", "vendor=SHORT\nproduct=P\nrevision=1");
    WriteDrive("g", "inquiry_fails=1");
    control.DiscoverDrives();

    ASSERT_EQ(panel.drives.size(), 4u);
    EXPECT_EQ(panel.drives[0], "ABCDEFGH0123456789ABCDEFR1.5   ");
    EXPECT_EQ(panel.drives[0].size(), 31u);
    EXPECT_EQ(panel.drives[1], "WXYZ");
    EXPECT_EQ(panel.drives[2], "SHORT   P               1      ");
    // A drive whose INQUIRY fails must not carry another drive's name.
    EXPECT_LE(panel.drives[3].size(), 31u);
    EXPECT_EQ(panel.drives[3].find("SHORT"), std::string::npos);
    EXPECT_EQ(panel.drives[3].find_first_not_of(' '), std::string::npos);
    EXPECT_EQ(Field(DriveLog("g")[1], "answer"), "check");
}

TEST_F(NtDrives, RefusedModeSetRefreshShowsWhatTheDriveReports) {
    WriteDrive("d", "kind=twomode\nmode=high\nset_fails=1");
    control.DiscoverDrives();
    ASSERT_EQ(control.Drives().count, 1);
    ASSERT_EQ(panel.status, "Current Speed = High Speed Mode");

    simtest::ClearDriveLog("d");
    panel.CheckHighSpeed(false); // the user checks "Silence Mode"
    control.SetChosenMode();
    EXPECT_THAT(Requests("d"), ElementsAre(ModeSet("00"), kStatusRead));
    EXPECT_EQ(ReadDriveKey("d", "mode"), "high");
    EXPECT_EQ(panel.status, "Current Speed = High Speed Mode");

    // The drive changes by itself; a refused set still refreshes from it.
    WriteDrive("d", "kind=twomode\nmode=silence\nset_fails=1");
    simtest::ClearDriveLog("d");
    panel.CheckHighSpeed(true);
    control.SetChosenMode();
    EXPECT_THAT(Requests("d"), ElementsAre(ModeSet("ff"), kStatusRead));
    EXPECT_EQ(ReadDriveKey("d", "mode"), "silence");
    EXPECT_EQ(panel.status, "Current Speed = Silence Mode");
}

TEST_F(NtDrives, SpeedListDriveSetsTheSelectedSpeed) {
    WriteDrive("d", "kind=speedlist\nspeeds=8,16,24,40\ncurrent=8");
    control.DiscoverDrives();
    EXPECT_THAT(panel.speeds, ElementsAre("8", "16", "24", "40"));
    EXPECT_EQ(panel.speedIndex, 0);
    EXPECT_EQ(panel.status, "Current Speed =  8");
    EXPECT_TRUE(panel.groupEnabled);

    control.UseSpeedList();
    panel.speedIndex = 3;
    simtest::ClearDriveLog("d");
    control.SetChosenMode();
    EXPECT_THAT(Requests("d"), ElementsAre(ModeSet("28"), kStatusRead));
    EXPECT_EQ(ReadDriveKey("d", "current"), "40");
    // The refresh shows what the drive now reports, and keeps the unchanged
    // list with the user's choice.
    EXPECT_EQ(panel.status, "Current Speed = 40");
    EXPECT_THAT(panel.speeds, ElementsAre("8", "16", "24", "40"));
    EXPECT_EQ(panel.speedIndex, 3);
}

TEST_F(NtDrives, SpeedListWithoutSelectedEntrySetsNothing) {
    WriteDrive("d", "kind=speedlist\ncurrent=16");
    control.DiscoverDrives();
    EXPECT_TRUE(panel.speeds.empty());
    EXPECT_EQ(panel.speedIndex, -1);
    EXPECT_EQ(panel.status, "Current Speed = 16");

    control.UseSpeedList();
    simtest::ClearDriveLog("d");
    control.SetChosenMode();
    EXPECT_TRUE(DriveLog("d").empty());
    EXPECT_EQ(ReadDriveKey("d", "current"), "16");
}

TEST_F(NtDrives, LongSpeedListStaysInsideTheReply) {
    // Byte 1 claims a list far past the 255 bytes the drive was asked for.
    std::string reply = "status_hex=00 ff 00 00 00 20";
    for (int i = 6; i < 255; ++i)
        reply += " 0a";
    WriteDrive("d", "kind=speedlist\n" + reply);
    control.DiscoverDrives();
    ASSERT_EQ(control.Drives().count, 1);
    EXPECT_EQ(panel.status, "Current Speed = 32");
    // Bytes 6 to 254 of the 255 transferred: exactly 249 entries.
    ASSERT_EQ(panel.speeds.size(), 249u);
    for (const std::string& speed : panel.speeds)
        EXPECT_EQ(speed, "10");
}

TEST_F(NtDrives, ChoosingTheSelectedEntrySendsNothing) {
    WriteDrive("d", "kind=twomode\nmode=high");
    WriteDrive("f", "kind=twomode\nmode=silence");
    control.DiscoverDrives();
    ASSERT_EQ(control.Drives().count, 2);
    simtest::ClearDriveLog("d");
    simtest::ClearDriveLog("f");

    panel.driveIndex = 0;
    control.FollowSelectedDrive();
    EXPECT_TRUE(DriveLog("d").empty());
    EXPECT_TRUE(DriveLog("f").empty());

    panel.driveIndex = 1;
    control.FollowSelectedDrive();
    EXPECT_EQ(control.Drives().selected, 1);
    EXPECT_TRUE(DriveLog("d").empty());
    EXPECT_THAT(Requests("f"), ElementsAre(kStatusRead));
    EXPECT_EQ(panel.status, "Current Speed = Silence Mode");

    control.FollowSelectedDrive();
    EXPECT_EQ(DriveLog("f").size(), 1u);
}

TEST_F(NtDrives, ReportTellsACheckConditionWithItsSenseFromBusy) {
    // The report tells a check condition with its sense from BUSY without any,
    // and reads descriptor-format sense and a short transfer's length as well.
    WriteDrive("d", "reject_status=1\nstatus_sense=03,11,05");
    HANDLE handle = OpenDrive("d");
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    std::uint8_t data[255];
    PassThroughReport report;
    EXPECT_EQ(
        PassThroughCommand(handle, kStatusReadCdb, kCdb12, data, kStatusReadLength, 0, report), 4);
    EXPECT_EQ(report.scsiStatus, 0x02);
    EXPECT_GE(report.senseLength, 14);
    EXPECT_TRUE(report.hasSense);
    EXPECT_EQ(report.sense.asc, 0x11);
    WriteDrive("d", "reject_status=1\nsense_format=descriptor");
    EXPECT_EQ(
        PassThroughCommand(handle, kStatusReadCdb, kCdb12, data, kStatusReadLength, 0, report), 4);
    EXPECT_TRUE(report.hasSense);
    EXPECT_EQ(report.sense.key, 0x05);
    EXPECT_EQ(report.sense.asc, 0x20);
    WriteDrive("d", "busy=1");
    EXPECT_EQ(
        PassThroughCommand(handle, kStatusReadCdb, kCdb12, data, kStatusReadLength, 0, report), 4);
    EXPECT_EQ(report.scsiStatus, 0x08);
    EXPECT_FALSE(report.hasSense);
    EXPECT_EQ(
        PassThroughCommand(handle, kStatusReadCdb, kCdb12, data, kStatusReadLength, 0, report), 1);
    EXPECT_EQ(report.transferred, 6u);
    CloseHandle(handle);
}

TEST_F(NtDrives, ClosedHandleGives0xFFAndLeavesTheBufferAlone) {
    WriteDrive("d", "kind=twomode");
    HANDLE handle = OpenDrive("d");
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(CloseHandle(handle));
    UseHandleAtPosition0(handle);
    std::uint8_t data[255];
    std::memset(data, 0xCC, sizeof data);
    EXPECT_EQ(SendDriveCommand(0, kStatusReadCdb, kCdb12, data, kStatusReadLength, 0), 0xFF);
    for (std::size_t i = 0; i < sizeof data; ++i)
        ASSERT_EQ(data[i], 0xCC) << "byte " << i;
    EXPECT_TRUE(DriveLog("d").empty());

    // A drive that fails at the transport: the call itself fails as well.
    WriteDrive("d", "gone=1");
    handle = OpenDrive("d");
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(PassThroughExecute(handle, kStatusReadCdb, kCdb12, data, kStatusReadLength, 0), -1);
    for (std::size_t i = 0; i < sizeof data; ++i)
        ASSERT_EQ(data[i], 0xCC) << "byte " << i;
    CloseHandle(handle);
}

TEST_F(NtDrives, ReleaseThenDiscoveryGivesTheSameListWithFreshHandles) {
    g_cdroms = "dg";
    WriteDrive("d", "vendor=FIRST");
    WriteDrive("g", "vendor=SECOND");
    control.DiscoverDrives();
    const std::vector<std::string> first = panel.drives;
    ASSERT_EQ(first.size(), 2u) << "d: " << ::testing::PrintToString(DriveLog("d"))
                                << " g: " << ::testing::PrintToString(DriveLog("g"));
    HANDLE d = control.Drives().handles[0];
    HANDLE g = control.Drives().handles[1];

    control.ReleaseDrives();
    EXPECT_THAT(g_record.closed, ElementsAre(d, g));
    EXPECT_TRUE(panel.drives.empty());
    std::uint8_t data[255];
    std::memset(data, 0xCC, sizeof data);
    EXPECT_EQ(PassThroughExecute(d, kStatusReadCdb, kCdb12, data, kStatusReadLength, 0), -1);

    simtest::ClearDriveLog("d");
    control.DiscoverDrives();
    EXPECT_EQ(panel.drives, first);
    EXPECT_THAT(Requests("d"), ElementsAre(kStatusRead, kInquiry, kStatusRead));
    EXPECT_EQ(PassThroughExecute(control.Drives().handles[0], kStatusReadCdb, kCdb12, data,
                                 kStatusReadLength, 0),
              1);

    // A discovery without a release first keeps entries and positions one to one.
    control.DiscoverDrives();
    EXPECT_EQ(panel.drives, first);
    EXPECT_EQ(control.Drives().count, 2);
}

TEST_F(NtDrives, AShortReplyIsNoDrive) {
    g_cdroms = "def";
    // A status read that ends GOOD with 2 bytes, as a USB bridge may answer.
    WriteDrive("d", "kind=twomode\nstatus_len=2\nvendor=SHORT");
    WriteDrive("e", "kind=twomode\nmode=high\nvendor=PLAIN");
    // f: a speed-list drive whose reply ends before the list byte 1 announces.
    WriteDrive("f", "kind=speedlist\nspeeds=8,16,24,40\ncurrent=24\nstatus_len=8\nvendor=CUT");
    control.DiscoverDrives();

    ASSERT_EQ(panel.drives.size(), 2u);
    EXPECT_EQ(panel.drives[0].substr(0, 8), "PLAIN   ");
    EXPECT_EQ(panel.drives[1].substr(0, 8), "CUT     ");
    EXPECT_TRUE(panel.messages.empty());
    EXPECT_EQ(panel.status, "Current Speed = High Speed Mode");
    EXPECT_THAT(Requests("d"), ElementsAre(kStatusRead));
    EXPECT_EQ(Field(DriveLog("d")[0], "answer"), "good");
    EXPECT_THAT(Requests("e"), ElementsAre(kStatusRead, kInquiry, kStatusRead));
    EXPECT_THAT(Requests("f"), ElementsAre(kStatusRead, kInquiry));
    EXPECT_THAT(g_record.closed, ElementsAre(Opened("d")));

    // The cut list: only the speeds that came.
    panel.driveIndex = 1;
    control.FollowSelectedDrive();
    EXPECT_THAT(panel.speeds, ElementsAre("8", "16"));
    EXPECT_EQ(panel.status, "Current Speed = 24");

    // Whatever the panel does, no mode set reaches the short-reply device.
    for (int position = 0; position < 2; ++position) {
        panel.driveIndex = position;
        control.FollowSelectedDrive();
        control.SetChosenMode();
    }
    for (const std::string& line : DriveLog("d"))
        EXPECT_NE(Field(line, "cdb").substr(0, 6), "ff07b0") << line;
    EXPECT_EQ(DriveLog("d").size(), 1u);
}

} // namespace
