// Drive discovery, release and drive selection with a fake machine and panel.
#include "drive/speedcontrol.h"

#include "drive/drivecommands.h"
#include "fakes.h"

using namespace velotune;
using vt_test::Bytes;
using vt_test::FakeDrive;
using vt_test::FakePanel;

namespace {

FakeDrive Drive(const std::string& product, bool high = true) {
    FakeDrive d;
    d.statusReply = vt_test::TwoModeReply(high);
    d.inquiry = vt_test::InquiryData(5, "ZIRVEROA", product, "1.00");
    return d;
}

std::string Entry(const std::string& product) {
    std::string p = product;
    p.resize(16, ' ');
    return "ZIRVEROA" + p + "1.00   ";
}

class Discovery : public vt_test::DriveTest {
protected:
    FakePanel panel;
    SpeedControl control{panel, FakeDiscoverySeam()};

    // NT machine: CD-ROM letters with their drives; c: is a fixed disk.
    void NtMachine(std::initializer_list<std::pair<char, FakeDrive>> drives) {
        machine().platformId = VER_PLATFORM_WIN32_NT;
        machine().driveTypes['c'] = DRIVE_FIXED;
        for (const auto& [letter, drive] : drives) {
            machine().driveTypes[letter] = DRIVE_CDROM;
            machine().letterDrives[letter] = drive;
        }
    }
    void AspiMachine(int adapters) {
        machine().platformId = VER_PLATFORM_WIN32_WINDOWS;
        machine().supportInfo = 0x0100u | static_cast<DWORD>(adapters);
    }
    std::size_t Count(const Bytes& cdb) const {
        std::size_t n = 0;
        for (const auto& c : vt_test::Machine().log)
            n += c.cdb == cdb;
        return n;
    }
};

} // namespace

TEST_F(Discovery, NtOnlyTheAnsweringDriveIsListed) {
    FakeDrive d = Drive("SILENT");
    d.answersStatus = false;
    NtMachine({{'d', d}, {'f', Drive("ANSWERS")}});

    control.DiscoverDrives();

    // Every letter's root is asked, without a backslash; only CD-ROMs are opened.
    ASSERT_EQ(machine().driveTypeRoots.size(), 26u);
    EXPECT_EQ(machine().driveTypeRoots.front(), "a:");
    EXPECT_EQ(machine().driveTypeRoots.back(), "z:");
    EXPECT_EQ(machine().createdPaths, (std::vector<std::string>{"\\\\.\\d:", "\\\\.\\f:"}));
    EXPECT_TRUE(machine().createArgsOk);

    ASSERT_EQ(panel.drives, std::vector<std::string>{Entry("ANSWERS")});
    EXPECT_EQ(panel.driveIndex, 0);
    const DriveList& list = control.Drives();
    EXPECT_EQ(list.count, 1);
    EXPECT_EQ(list.selected, 0);
    EXPECT_EQ(list.ntFlag, 1);

    // d's handle was closed; f's stays open at position 0, in the transport too.
    ASSERT_EQ(machine().closedHandles.size(), 1u);
    EXPECT_EQ(machine().openHandles.size(), 1u);
    HANDLE f = machine().openHandles.begin()->first;
    EXPECT_EQ(machine().openHandles.begin()->second, 'f');
    EXPECT_NE(machine().closedHandles[0], f);
    EXPECT_EQ(list.handles[0], f);
    EXPECT_EQ(CurrentDriveTable().ntFlag, 1);
    EXPECT_EQ(CurrentDriveTable().handles[0], f);

    // Status read to d, status read to f, INQUIRY to f, then the refresh of f.
    const auto& log = machine().log;
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].cdb, vt_test::StatusReadBytes());
    EXPECT_NE(log[0].handle, f);
    EXPECT_EQ(log[1].cdb, vt_test::StatusReadBytes());
    EXPECT_EQ(log[1].handle, f);
    EXPECT_EQ(log[2].cdb, vt_test::InquiryBytes());
    EXPECT_EQ(log[2].length, 36u);
    EXPECT_EQ(log[2].handle, f);
    EXPECT_EQ(log[3].cdb, vt_test::StatusReadBytes());
    EXPECT_EQ(log[3].handle, f);
    for (const auto& c : log) {
        EXPECT_TRUE(c.dataIn);
        if (c.cdb == vt_test::StatusReadBytes()) {
            EXPECT_EQ(c.length, 255u);
        }
    }
    EXPECT_EQ(panel.status, "Current Speed = High Speed Mode");
    EXPECT_TRUE(panel.messages.empty());
    EXPECT_EQ(panel.quitRequests, 0);
}

namespace {
DWORD g_logicalDrives = 0;
DWORD WINAPI FakeLogicalDrives() {
    return g_logicalDrives;
}
} // namespace

TEST_F(Discovery, NtOnlyLettersThatExistAreAskedForTheirType) {
    NtMachine({{'d', Drive("FIRST")}, {'f', Drive("SECOND")}});
    DiscoverySeam seam = FakeDiscoverySeam();
    seam.getLogicalDrives = &FakeLogicalDrives;
    // c, d and z exist; f does not, although the type fake would call it a CD-ROM.
    g_logicalDrives = (1u << ('c' - 'a')) | (1u << ('d' - 'a')) | (1u << ('z' - 'a'));
    FakePanel existing;
    SpeedControl withLetters{existing, seam};

    withLetters.DiscoverDrives();

    EXPECT_EQ(machine().driveTypeRoots, (std::vector<std::string>{"c:", "d:", "z:"}));
    EXPECT_EQ(machine().createdPaths, std::vector<std::string>{"\\\\.\\d:"});
    EXPECT_EQ(existing.drives, std::vector<std::string>{Entry("FIRST")});
    EXPECT_EQ(existing.status, "Current Speed = High Speed Mode");
    withLetters.ReleaseDrives();

    // No answer from the system: every letter is asked, as without the call.
    machine().driveTypeRoots.clear();
    g_logicalDrives = 0;
    FakePanel all;
    SpeedControl everyLetter{all, seam};
    everyLetter.DiscoverDrives();
    EXPECT_EQ(machine().driveTypeRoots.size(), 26u);
    EXPECT_EQ(all.drives, (std::vector<std::string>{Entry("FIRST"), Entry("SECOND")}));
    everyLetter.ReleaseDrives();
}

// A machine without any CD-ROM letter: nothing is opened, one message, the end.
TEST_F(Discovery, NtNoCdromLetterShowsDriveNotFoundOnce) {
    NtMachine({});
    machine().driveTypes['e'] = DRIVE_REMOTE;

    control.DiscoverDrives();

    EXPECT_EQ(machine().driveTypeRoots.size(), 26u);
    EXPECT_TRUE(machine().createdPaths.empty());
    EXPECT_TRUE(machine().log.empty());
    ASSERT_EQ(panel.messages.size(), 1u);
    EXPECT_EQ(panel.messages[0].text, "DRIVE NOT FOUND!!");
    EXPECT_EQ(panel.messages[0].caption, "MESSAGE");
    EXPECT_EQ(panel.quitRequests, 1);
    EXPECT_TRUE(panel.drives.empty());
    EXPECT_EQ(control.Drives().count, 0);
}

TEST_F(Discovery, NtListOrderAndEntryTexts) {
    FakeDrive cut = Drive("CUT");
    cut.inquiry[12] = 0;
    machine().openFails.insert('e');
    NtMachine({{'g', Drive("SECOND")}, {'d', Drive("FIRST")}, {'e', Drive("NOOPEN")}, {'k', cut}});

    control.DiscoverDrives();

    ASSERT_EQ(panel.drives.size(), 3u);
    EXPECT_EQ(panel.drives[0], Entry("FIRST"));
    EXPECT_EQ(panel.drives[0].size(), 31u);
    EXPECT_EQ(panel.drives[1], Entry("SECOND"));
    EXPECT_EQ(panel.drives[2], "ZIRV");
    EXPECT_EQ(control.Drives().count, 3);
    EXPECT_EQ(machine().openHandles.at(control.Drives().handles[0]), 'd');
    EXPECT_EQ(machine().openHandles.at(control.Drives().handles[1]), 'g');
    EXPECT_EQ(machine().openHandles.at(control.Drives().handles[2]), 'k');
    // One status read per opened letter, one INQUIRY per drive, one final refresh.
    EXPECT_EQ(Count(vt_test::StatusReadBytes()), 4u);
    EXPECT_EQ(Count(vt_test::InquiryBytes()), 3u);
    EXPECT_EQ(machine().log.size(), 7u);
}

TEST_F(Discovery, NtFailedInquiryShowsNoOtherDrivesName) {
    FakeDrive broken = Drive("BROKEN");
    broken.inquiryOk = false; // CHECK CONDITION, ASC 0x24 folded into byte 12
    NtMachine({{'d', Drive("GOOD")}, {'e', broken}});

    control.DiscoverDrives();

    ASSERT_EQ(panel.drives.size(), 2u);
    EXPECT_EQ(panel.drives[0], Entry("GOOD"));
    EXPECT_EQ(panel.drives[1], std::string(31, ' '));
    EXPECT_EQ(control.Drives().count, 2);
}

TEST_F(Discovery, DiscoveryTwiceKeepsEntriesAndPositionsInStep) {
    NtMachine({{'d', Drive("ONE")}, {'f', Drive("TWO")}});
    control.DiscoverDrives();
    control.DiscoverDrives();

    EXPECT_EQ(panel.drives, (std::vector<std::string>{Entry("ONE"), Entry("TWO")}));
    EXPECT_EQ(control.Drives().count, 2);
    // The first run's handles were closed, not leaked.
    EXPECT_EQ(machine().closedHandles.size(), 2u);
    EXPECT_EQ(machine().openHandles.size(), 2u);
    EXPECT_EQ(machine().openHandles.at(control.Drives().handles[1]), 'f');
}

TEST_F(Discovery, SelectionFollowsTheSelector) {
    NtMachine({{'d', Drive("ONE", true)}, {'f', Drive("TWO", false)}});
    control.DiscoverDrives();
    EXPECT_EQ(panel.status, "Current Speed = High Speed Mode");
    machine().log.clear();

    // The entry already selected: nothing is sent.
    panel.driveIndex = 0;
    control.FollowSelectedDrive();
    EXPECT_TRUE(machine().log.empty());
    // Nothing selected, or an index without a drive: nothing either.
    panel.driveIndex = -1;
    control.FollowSelectedDrive();
    panel.driveIndex = 5;
    control.FollowSelectedDrive();
    EXPECT_TRUE(machine().log.empty());
    EXPECT_EQ(control.Drives().selected, 0);

    panel.driveIndex = 1;
    control.FollowSelectedDrive();
    EXPECT_EQ(control.Drives().selected, 1);
    ASSERT_EQ(machine().log.size(), 1u);
    EXPECT_EQ(machine().log[0].cdb, vt_test::StatusReadBytes());
    EXPECT_EQ(machine().log[0].handle, control.Drives().handles[1]);
    EXPECT_EQ(panel.status, "Current Speed = Silence Mode");
    control.FollowSelectedDrive();
    EXPECT_EQ(machine().log.size(), 1u);
}

TEST_F(Discovery, AspiListsCdromsThatAnswer) {
    AspiMachine(2);
    FakeDrive rejects = Drive("REJECTS");
    rejects.answersStatus = false;
    FakeDrive disk = Drive("DISK");
    disk.inquiry[0] = 0x00;
    FakeDrive noInquiry = Drive("NOINQ");
    noInquiry.inquiryOk = false;
    machine().aspiDrives[{0, 1}] = Drive("FIRST");
    machine().aspiDrives[{0, 3}] = rejects;
    machine().aspiDrives[{0, 4}] = noInquiry;
    machine().aspiDrives[{1, 0}] = disk;
    machine().aspiDrives[{1, 7}] = Drive("SECOND", false);

    control.DiscoverDrives();

    EXPECT_EQ(panel.drives, (std::vector<std::string>{Entry("FIRST"), Entry("SECOND")}));
    EXPECT_EQ(panel.driveIndex, 0);
    const DriveList& list = control.Drives();
    EXPECT_EQ(list.count, 2);
    EXPECT_EQ(list.ntFlag, 0);
    EXPECT_EQ(list.hostAdapterIds[0], 0);
    EXPECT_EQ(list.targetIds[0], 1);
    EXPECT_EQ(list.hostAdapterIds[1], 1);
    EXPECT_EQ(list.targetIds[1], 7);
    EXPECT_EQ(CurrentDriveTable().ntFlag, 0);
    EXPECT_EQ(CurrentDriveTable().targetIds[1], 7);
    EXPECT_EQ(CurrentDriveTable().hostAdapterIds[1], 1);

    // 16 probes, an INQUIRY for each of the 4 that answered, one final refresh.
    EXPECT_EQ(Count(vt_test::StatusReadBytes()), 17u);
    EXPECT_EQ(Count(vt_test::InquiryBytes()), 4u);
    const auto& last = machine().log.back();
    EXPECT_EQ(last.adapter, 0);
    EXPECT_EQ(last.target, 1);
    for (const auto& c : machine().log)
        EXPECT_TRUE(c.dataIn);
    EXPECT_EQ(panel.status, "Current Speed = High Speed Mode");
    EXPECT_TRUE(panel.messages.empty());
}

TEST_F(Discovery, AspiTableHoldsEightDrives) {
    AspiMachine(2);
    for (int t = 0; t < 8; ++t) {
        machine().aspiDrives[{0, t}] = Drive("A" + std::to_string(t));
        machine().aspiDrives[{1, t}] = Drive("B" + std::to_string(t));
    }

    control.DiscoverDrives();

    ASSERT_EQ(panel.drives.size(), 8u);
    EXPECT_EQ(panel.drives[7], Entry("A7"));
    const DriveList& list = control.Drives();
    EXPECT_EQ(list.count, 8);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(list.targetIds[i], i);
        EXPECT_EQ(list.hostAdapterIds[i], 0);
    }
    for (HANDLE h : list.handles)
        EXPECT_EQ(h, nullptr);
    // Nothing was sent to adapter 1 once the table was full.
    for (const auto& c : machine().log)
        EXPECT_EQ(c.adapter, 0);
}

TEST_F(Discovery, AspiNotFoundShowsOneMessage) {
    AspiMachine(1);
    machine().aspiLibrary = false;
    control.DiscoverDrives();
    ASSERT_EQ(panel.messages.size(), 1u);
    EXPECT_EQ(panel.messages[0].text, "ASPI Not Found!!");
    EXPECT_EQ(panel.messages[0].caption, "MESSAGE");
    EXPECT_EQ(panel.messages[0].style, 0x1010u);
    EXPECT_EQ(panel.quitRequests, 1);
    EXPECT_TRUE(panel.drives.empty());
    EXPECT_EQ(panel.driveSelectCalls, 0);
    EXPECT_TRUE(machine().log.empty());

    // Adapters present but no drive: only the drive message.
    FakePanel other;
    SpeedControl second{other, FakeDiscoverySeam()};
    machine().aspiLibrary = true;
    machine().supportInfo = 0xE800;
    second.DiscoverDrives();
    ASSERT_EQ(other.messages.size(), 1u);
    EXPECT_EQ(other.messages[0].text, "ASPI Not Found!!");

    FakePanel third;
    SpeedControl control3{third, FakeDiscoverySeam()};
    machine().supportInfo = 0x0101;
    FakeDrive disk = Drive("DISK");
    disk.inquiry[0] = 0;
    machine().aspiDrives[{0, 2}] = disk;
    control3.DiscoverDrives();
    ASSERT_EQ(third.messages.size(), 1u);
    EXPECT_EQ(third.messages[0].text, "DRIVE NOT FOUND!!");
    EXPECT_EQ(third.messages[0].style, 0x1010u);
    EXPECT_EQ(third.quitRequests, 1);
    EXPECT_TRUE(third.drives.empty());
}

// ---- what both paths share: one case each, run on the NT and the 95 family -----

namespace {

// How a path places drives: in order, one after the other, on CD-ROM letters from
// d: (NT) or on the targets of ASPI adapter 0 (95 family).
struct DiscoveryPath {
    const char* name;
    int ntFlag;
    UINT notFoundStyle;
    void (*place)(const std::vector<FakeDrive>& drives);
    // The status reads a discovery sends before any retry: one per opened letter,
    // or one per target of the adapter.
    std::size_t (*probes)(std::size_t placed);
};

void PlaceOnLetters(const std::vector<FakeDrive>& drives) {
    vt_test::FakeMachine& m = vt_test::Machine();
    m.platformId = VER_PLATFORM_WIN32_NT;
    m.driveTypes['c'] = DRIVE_FIXED;
    for (std::size_t i = 0; i < drives.size(); ++i) {
        const char letter = static_cast<char>('d' + i);
        m.driveTypes[letter] = DRIVE_CDROM;
        m.letterDrives[letter] = drives[i];
    }
}
void PlaceOnTargets(const std::vector<FakeDrive>& drives) {
    vt_test::FakeMachine& m = vt_test::Machine();
    m.platformId = VER_PLATFORM_WIN32_WINDOWS;
    m.supportInfo = 0x0101u;
    for (std::size_t i = 0; i < drives.size(); ++i)
        m.aspiDrives[{0, static_cast<int>(i)}] = drives[i];
}

const DiscoveryPath kNtPath = {"Nt", 1, 0x10u, &PlaceOnLetters,
                               [](std::size_t placed) { return placed; }};
const DiscoveryPath kAspiPath = {"Aspi", 0, 0x1010u, &PlaceOnTargets,
                                 [](std::size_t) { return std::size_t{8}; }};

void PrintTo(const DiscoveryPath* path, std::ostream* os) {
    *os << path->name;
}

class BothPaths : public Discovery, public ::testing::WithParamInterface<const DiscoveryPath*> {
protected:
    const DiscoveryPath& path() const { return *GetParam(); }
    bool nt() const { return path().ntFlag == 1; }
};

} // namespace

TEST_P(BothPaths, NothingFoundShowsDriveNotFoundOnce) {
    FakeDrive d = Drive("SILENT");
    d.answersStatus = false;
    path().place({d});

    control.DiscoverDrives();

    ASSERT_EQ(panel.messages.size(), 1u);
    EXPECT_EQ(panel.messages[0].text, "DRIVE NOT FOUND!!");
    EXPECT_EQ(panel.messages[0].caption, "MESSAGE");
    EXPECT_EQ(panel.messages[0].style, path().notFoundStyle);
    EXPECT_EQ(panel.quitRequests, 1);
    EXPECT_TRUE(panel.drives.empty());
    EXPECT_EQ(control.Drives().count, 0);
    EXPECT_TRUE(machine().openHandles.empty());
    // The probes only: no INQUIRY, no refresh.
    EXPECT_EQ(machine().log.size(), path().probes(1));
    EXPECT_EQ(Count(vt_test::StatusReadBytes()), path().probes(1));
    EXPECT_EQ(CurrentDriveTable().ntFlag, path().ntFlag);
}

TEST_P(BothPaths, ReleaseAndRediscover) {
    path().place({Drive("ONE"), Drive("TWO")});
    control.DiscoverDrives();
    const std::vector<std::string> first = panel.drives;
    const HANDLE oldOne = control.Drives().handles[0];
    const HANDLE oldTwo = control.Drives().handles[1];
    ASSERT_EQ(first, (std::vector<std::string>{Entry("ONE"), Entry("TWO")}));

    control.ReleaseDrives();
    EXPECT_TRUE(panel.drives.empty());
    EXPECT_EQ(control.Drives().count, 0);
    // NT closes the listed drives' handles; ASPI has none to close.
    if (nt()) {
        EXPECT_EQ(machine().closedHandles, (std::vector<HANDLE>{oldOne, oldTwo}));
    } else {
        EXPECT_TRUE(machine().closedHandles.empty());
    }
    EXPECT_TRUE(machine().openHandles.empty());
    // Nothing is sent while released.
    const std::size_t sent = machine().log.size();
    control.RefreshSpeedStatus();
    control.SetChosenMode();
    EXPECT_EQ(machine().log.size(), sent);

    control.DiscoverDrives();
    EXPECT_EQ(panel.drives, first);
    EXPECT_EQ(panel.driveIndex, 0);
    EXPECT_EQ(control.Drives().count, 2);
    if (nt()) {
        EXPECT_NE(control.Drives().handles[0], oldOne);
        EXPECT_NE(control.Drives().handles[1], oldTwo);
        EXPECT_EQ(machine().openHandles.size(), 2u);
        EXPECT_EQ(CurrentDriveTable().handles[0], control.Drives().handles[0]);
    } else {
        EXPECT_EQ(machine().loadedLibraries.size(), 2u);
        EXPECT_EQ(CurrentDriveTable().targetIds[1], 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, BothPaths, ::testing::Values(&kNtPath, &kAspiPath),
                         [](const ::testing::TestParamInfo<const DiscoveryPath*>& info) {
                             return std::string(info.param->name);
                         });

TEST_F(Discovery, NtShortStatusReplyIsNoDrive) {
    // A status read that ends GOOD with 2 bytes, as a USB bridge may answer.
    FakeDrive shortReply = Drive("SHORT");
    shortReply.statusReply = {0x00, 0x04};
    NtMachine({{'f', shortReply}, {'g', Drive("PLAIN", false)}});
    control.DiscoverDrives();

    EXPECT_EQ(panel.drives, (std::vector<std::string>{Entry("PLAIN")}));
    EXPECT_TRUE(panel.messages.empty());
    EXPECT_EQ(panel.status, "Current Speed = Silence Mode");
    // f: one probe, no INQUIRY, its handle closed again.
    EXPECT_EQ(Count(vt_test::StatusReadBytes()), 3u);
    EXPECT_EQ(Count(vt_test::InquiryBytes()), 1u);
    EXPECT_EQ(machine().closedHandles.size(), 1u);
}

// ---- the search ahead: drives asked while the window is made ---------------------------

namespace {
std::vector<DWORD> g_typeThreads;
UINT(WINAPI* g_fakeDriveType)(LPCSTR) = nullptr;
UINT WINAPI DriveTypeOnWhichThread(LPCSTR root) {
    g_typeThreads.push_back(GetCurrentThreadId());
    return g_fakeDriveType(root);
}
} // namespace

TEST_F(Discovery, NtSearchAheadSendsWhatDiscoveryWouldOnAThreadOfItsOwn) {
    FakeDrive d = Drive("SILENT");
    d.answersStatus = false;
    NtMachine({{'d', d}, {'f', Drive("ANSWERS")}});
    DiscoverySeam seam = FakeDiscoverySeam();
    g_fakeDriveType = seam.getDriveType;
    seam.getDriveType = &DriveTypeOnWhichThread;
    g_typeThreads.clear();
    FakePanel ahead;
    {
        SpeedControl c{ahead, seam};
        c.SearchAhead();
        ASSERT_TRUE(c.SearchingAhead());
        // The search lists and shows nothing.
        EXPECT_TRUE(ahead.drives.empty());
        EXPECT_EQ(ahead.status, "");
        c.DiscoverDrives();
        EXPECT_FALSE(c.SearchingAhead());

        ASSERT_EQ(g_typeThreads.size(), 26u);
        for (DWORD t : g_typeThreads)
            EXPECT_NE(t, GetCurrentThreadId()) << "asked on the caller's thread";
        // The same as a discovery without a search ahead (see the first test).
        EXPECT_EQ(machine().createdPaths, (std::vector<std::string>{"\\\\.\\d:", "\\\\.\\f:"}));
        ASSERT_EQ(ahead.drives, std::vector<std::string>{Entry("ANSWERS")});
        const DriveList& list = c.Drives();
        ASSERT_EQ(list.count, 1);
        ASSERT_EQ(machine().openHandles.size(), 1u);
        EXPECT_EQ(list.handles[0], machine().openHandles.begin()->first);
        EXPECT_EQ(CurrentDriveTable().handles[0], list.handles[0]);
        const auto& log = machine().log;
        ASSERT_EQ(log.size(), 4u);
        EXPECT_EQ(log[0].cdb, vt_test::StatusReadBytes());
        EXPECT_NE(log[0].handle, list.handles[0]);
        EXPECT_EQ(log[1].cdb, vt_test::StatusReadBytes());
        EXPECT_EQ(log[2].cdb, vt_test::InquiryBytes());
        EXPECT_EQ(log[3].cdb, vt_test::StatusReadBytes()); // the refresh, after the search
        EXPECT_EQ(log[3].handle, list.handles[0]);
        EXPECT_EQ(ahead.status, "Current Speed = High Speed Mode");

        // Once: the next discovery searches on the caller's thread.
        g_typeThreads.clear();
        c.ReleaseDrives();
        c.DiscoverDrives();
        ASSERT_EQ(g_typeThreads.size(), 26u);
        EXPECT_EQ(g_typeThreads[0], GetCurrentThreadId());
        EXPECT_EQ(c.Drives().count, 1);
    }
    EXPECT_EQ(machine().openHandles.size(), 1u) << "a listed drive stays open until released";
}

TEST_F(Discovery, SearchAheadNeverTakenClosesWhatItOpened) {
    NtMachine({{'d', Drive("ONE")}, {'e', Drive("TWO")}});
    {
        SpeedControl c{panel, FakeDiscoverySeam()};
        c.SearchAhead();
        c.SearchAhead(); // one at a time
    }
    EXPECT_EQ(machine().createdPaths.size(), 2u);
    EXPECT_TRUE(machine().openHandles.empty());
    EXPECT_EQ(machine().closedHandles.size(), 2u);
    EXPECT_TRUE(panel.drives.empty());
}

TEST_F(Discovery, NoSearchAheadOnThe95Family) {
    AspiMachine(1);
    machine().aspiDrives[{0, 1}] = Drive("ASPI");
    control.SearchAhead();
    EXPECT_FALSE(control.SearchingAhead());
    EXPECT_TRUE(machine().log.empty());
    control.DiscoverDrives();
    EXPECT_EQ(panel.drives.size(), 1u);
}

// ---- the owning handle's empty value, by policy --------------------------------

namespace {

std::vector<HANDLE> g_policyCloses;
BOOL WINAPI CountedClose(HANDLE h) {
    g_policyCloses.push_back(h);
    return TRUE;
}

// One handle value under one policy: owned or empty, moved, released and reset,
// each owned value closed exactly once, through the closer it was given.
template <class Unique> void CheckPolicy(HANDLE given, bool owns, HANDLE empty) {
    g_policyCloses.clear();
    const HANDLE other = reinterpret_cast<HANDLE>(std::uintptr_t{0x80}); // owned by both
    {
        Unique a(given, HandleClose{&CountedClose});
        EXPECT_EQ(static_cast<bool>(a), owns);
        Unique b(std::move(a)); // the value moves, the source is left empty
        EXPECT_EQ(a.Get(), empty);
        EXPECT_FALSE(a);
        EXPECT_EQ(b.Get(), given);
        Unique c(other, HandleClose{&CountedClose});
        c = std::move(b); // c's own value is closed first
        EXPECT_EQ(c.Get(), given);
        EXPECT_EQ(b.Get(), empty);
        EXPECT_EQ(c.Release(), given); // let go of, not closed
        EXPECT_FALSE(c);
        c.Reset(given); // owned again, with the closer c was given
        Unique d;       // the default holds the empty value
        EXPECT_EQ(d.Get(), empty);
    } // c closes its value here; a, b and d hold nothing
    std::vector<HANDLE> expected = {other};
    if (owns) expected.push_back(given);
    EXPECT_EQ(g_policyCloses, expected);
}

} // namespace

TEST_F(Discovery, UniqueHandleEmptyValueByPolicy) {
    const HANDLE some = reinterpret_cast<HANDLE>(std::uintptr_t{0x40});
    // File handles are empty when CreateFile failed; kernel handles when null.
    const struct {
        HANDLE given;
        bool fileOwns, kernelOwns;
    } rows[] = {
        {INVALID_HANDLE_VALUE, false, true},
        {nullptr, true, false},
        {some, true, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(reinterpret_cast<std::uintptr_t>(row.given));
        CheckPolicy<UniqueFileHandle>(row.given, row.fileOwns, INVALID_HANDLE_VALUE);
        CheckPolicy<UniqueKernelHandle>(row.given, row.kernelOwns, nullptr);
    }
    // A drive letter's handle closes through the seam, once; a failed open
    // leaves nothing to close.
    machine().letterDrives['d'] = Drive("ONE");
    machine().openFails.insert('e');
    {
        UniqueFileHandle d = OpenLetter(FakeDiscoverySeam(), 'd');
        UniqueFileHandle e = OpenLetter(FakeDiscoverySeam(), 'e');
        ASSERT_TRUE(d);
        EXPECT_FALSE(e);
        UniqueFileHandle moved = std::move(d);
        EXPECT_TRUE(machine().closedHandles.empty());
    }
    ASSERT_EQ(machine().closedHandles.size(), 1u);
    EXPECT_TRUE(machine().openHandles.empty());
}
