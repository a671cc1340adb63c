// The transport through its seam: records as they reach the drive layer,
// result bytes, sense folding and the ASPI support-info check.
#include "drive/transport.h"

#include "drive/drivecommands.h"
#include "fakes.h"

#include <cstring>

using namespace velotune;
using vt_test::Bytes;
using vt_test::DriveTest;
using vt_test::FakeDrive;

namespace {

template <typename T> T At(const Bytes& raw, std::size_t offset) {
    T value;
    std::memcpy(&value, raw.data() + offset, sizeof value);
    return value;
}

HANDLE Handle(std::uintptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

// Opens drive `letter` of the fake machine the way discovery does.
HANDLE OpenFakeDrive(char letter, FakeDrive drive) {
    auto& m = vt_test::Machine();
    m.letterDrives[letter] = std::move(drive);
    const auto seam = vt_test::DriveTest::FakeDiscoverySeam();
    const char path[7] = {'\\', '\\', '.', '\\', letter, ':', '\0'};
    return seam.createFile(path, GENERIC_READ | GENERIC_WRITE, 3, nullptr, OPEN_EXISTING, 0,
                           nullptr);
}

FakeDrive TwoModeDrive(bool high) {
    FakeDrive d;
    d.statusReply = vt_test::TwoModeReply(high);
    d.inquiry = vt_test::InquiryData(5, "VENDOR", "PRODUCT", "1.00");
    return d;
}

FakeDrive RejectingDrive() {
    FakeDrive d = TwoModeDrive(true);
    d.answersStatus = false;
    return d;
}

} // namespace

// --- pass-through path -------------------------------------------------------

TEST_F(DriveTest, PassThroughRecordFields) {
    HANDLE h = OpenFakeDrive('d', TwoModeDrive(true));
    std::uint8_t data[1024];
    ASSERT_EQ(PassThroughExecute(h, kStatusReadCdb, 12, data, 255, 0), 1);
    ASSERT_EQ(machine().passThroughRecords.size(), 1u);
    EXPECT_TRUE(machine().ioctlBuffersOk);
    EXPECT_EQ(machine().ioctlCodes.at(0), 0x4D014u);

    const Bytes& raw = machine().passThroughRecords[0];
    ASSERT_EQ(raw.size(), sizeof(PassThroughRecord));
    // x86_64 layout of SCSI_PASS_THROUGH_DIRECT: 56 bytes, the sense buffer after
    // the request and its 4-byte filler.
    EXPECT_EQ(sizeof(SCSI_PASS_THROUGH_DIRECT), 56u);
    EXPECT_EQ(offsetof(PassThroughRecord, sense), 60u);
    EXPECT_EQ(At<std::uint16_t>(raw, 0), sizeof(SCSI_PASS_THROUGH_DIRECT)); // Length
    EXPECT_EQ(raw[3], 0);                                                   // PathId
    EXPECT_EQ(raw[4], 1);                                                   // TargetId
    EXPECT_EQ(raw[5], 0);                                                   // Lun
    EXPECT_EQ(raw[6], 12);                                                  // CdbLength
    EXPECT_EQ(raw[7], 24);                                                  // SenseInfoLength
    EXPECT_EQ(raw[8], 1);                                                   // DataIn
    EXPECT_EQ(At<std::uint32_t>(raw, 12), 255u);                            // DataTransferLength
    EXPECT_EQ(At<std::uint32_t>(raw, 16), 60u);                             // TimeOutValue
    EXPECT_EQ(At<void*>(raw, 24), static_cast<void*>(data));                // DataBuffer
    EXPECT_EQ(At<std::uint32_t>(raw, 32), offsetof(PassThroughRecord, sense));
    EXPECT_EQ(Bytes(raw.begin() + 36, raw.begin() + 48), vt_test::StatusReadBytes());
    for (std::size_t i = 48; i < raw.size(); ++i)
        EXPECT_EQ(raw[i], 0) << "byte " << i;
}

TEST_F(DriveTest, PassThroughDirectionAndShortCdb) {
    HANDLE h = OpenFakeDrive('e', TwoModeDrive(true));
    std::uint8_t data[64] = {};
    PassThroughExecute(h, kInquiryCdb, 6, data, 36, 1);
    PassThroughExecute(h, kInquiryCdb, 6, data, 36, 0);
    PassThroughExecute(h, kInquiryCdb, 6, data, 36, 7);
    const auto& recs = machine().passThroughRecords;
    ASSERT_EQ(recs.size(), 3u);
    EXPECT_EQ(recs[0][8], 0); // SCSI_IOCTL_DATA_OUT
    EXPECT_EQ(recs[1][8], 1); // SCSI_IOCTL_DATA_IN
    EXPECT_EQ(recs[2][8], 0);
    EXPECT_EQ(recs[1][6], 6);
    EXPECT_EQ(Bytes(recs[1].begin() + 36, recs[1].begin() + 42), vt_test::InquiryBytes());
    for (std::size_t i = 42; i < 52; ++i)
        EXPECT_EQ(recs[1][i], 0) << "CDB byte " << i - 36;
}

TEST_F(DriveTest, PassThroughResults) {
    HANDLE good = OpenFakeDrive('d', TwoModeDrive(true));
    HANDLE bad = OpenFakeDrive('e', RejectingDrive());

    std::uint8_t data[255];
    std::memset(data, 0xA5, sizeof data);
    EXPECT_EQ(PassThroughExecute(good, kStatusReadCdb, 12, data, 255, 0), 1);
    EXPECT_EQ(Bytes(data, data + 6), vt_test::TwoModeReply(true));

    // CHECK CONDITION: key, ASC, ASCQ folded into bytes 2, 12, 13; nothing else.
    std::memset(data, 0xA5, sizeof data);
    EXPECT_EQ(PassThroughExecute(bad, kStatusReadCdb, 12, data, 255, 0), 4);
    for (std::size_t i = 0; i < sizeof data; ++i) {
        const int expect = i == 2 ? 0x05 : i == 12 ? 0x20 : i == 13 ? 0x00 : 0xA5;
        EXPECT_EQ(data[i], expect) << "byte " << i;
    }

    // A refusal in descriptor format is folded at the same places.
    FakeDrive refusing = RejectingDrive();
    refusing.descriptorSense = true;
    HANDLE r = OpenFakeDrive('g', refusing);
    std::memset(data, 0xA5, sizeof data);
    PassThroughReport report;
    EXPECT_EQ(PassThroughCommand(r, kStatusReadCdb, 12, data, 255, 0, report), 4);
    EXPECT_EQ(data[2], 0x05);
    EXPECT_EQ(data[12], 0x20);
    EXPECT_EQ(data[13], 0x00);
    EXPECT_EQ(report.scsiStatus, 0x02);
    EXPECT_EQ(report.senseLength, 8);
    EXPECT_TRUE(report.hasSense);

    // A failed call (closed handle): -1 and the buffer untouched.
    vt_test::DriveTest::FakeDiscoverySeam().closeHandle(good);
    std::memset(data, 0xA5, sizeof data);
    EXPECT_EQ(PassThroughExecute(good, kStatusReadCdb, 12, data, 255, 0), -1);
    for (std::uint8_t b : data)
        EXPECT_EQ(b, 0xA5);
}

TEST_F(DriveTest, ClosedHandleGivesFFThroughSendDriveCommand) {
    HANDLE h = OpenFakeDrive('d', TwoModeDrive(true));
    std::uint8_t targets[8] = {}, adapters[8] = {};
    HANDLE handles[26] = {};
    handles[0] = h;
    SetDriveTable(1, targets, adapters, handles);
    vt_test::DriveTest::FakeDiscoverySeam().closeHandle(h);

    std::uint8_t data[1024];
    std::memset(data, 0x3C, sizeof data);
    EXPECT_EQ(SendDriveCommand(0, kStatusReadCdb, 12, data, 255, 0), 0xFF);
    for (std::uint8_t b : data)
        ASSERT_EQ(b, 0x3C);
    EXPECT_EQ(machine().passThroughRecords.size(), 1u);
}

TEST_F(DriveTest, SendDriveCommandPicksTheHandleByPosition) {
    HANDLE d = OpenFakeDrive('d', TwoModeDrive(true));
    HANDLE f = OpenFakeDrive('f', TwoModeDrive(false));
    std::uint8_t targets[8] = {}, adapters[8] = {};
    HANDLE handles[26] = {};
    handles[0] = d;
    handles[1] = f;
    SetDriveTable(1, targets, adapters, handles);
    EXPECT_EQ(CurrentDriveTable().handles[1], f);

    std::uint8_t data[255] = {};
    EXPECT_EQ(SendDriveCommand(1, kStatusReadCdb, 12, data, 255, 0), 1);
    EXPECT_EQ(data[5], 0x00);
    ASSERT_EQ(machine().log.size(), 1u);
    EXPECT_EQ(machine().log[0].handle, f);
}

TEST_F(DriveTest, RefusedRequestsSendNothing) {
    HANDLE h = OpenFakeDrive('d', TwoModeDrive(true));
    std::uint8_t targets[8] = {}, adapters[8] = {};
    HANDLE handles[26] = {};
    handles[0] = h;
    SetDriveTable(1, targets, adapters, handles);
    std::uint8_t cdb[32] = {0xFF};
    std::uint8_t data[255] = {};
    EXPECT_EQ(SendDriveCommand(26, kStatusReadCdb, 12, data, 255, 0), 0xFF);
    EXPECT_EQ(SendDriveCommand(-1, kStatusReadCdb, 12, data, 255, 0), 0xFF);
    EXPECT_EQ(PassThroughExecute(h, cdb, 17, data, 255, 0), -1);
    EXPECT_EQ(PassThroughExecute(h, cdb, 0, data, 255, 0), -1);

    SetDriveTable(0, targets, adapters, handles);
    EXPECT_EQ(SendDriveCommand(8, kStatusReadCdb, 12, data, 255, 0), 0xFF);
    // No ASPI entry points loaded yet.
    EXPECT_EQ(AspiExecute(0, 0, kStatusReadCdb, 12, data, 255, 0), SS_NO_ASPI);
    EXPECT_TRUE(machine().passThroughRecords.empty());
    EXPECT_TRUE(machine().srbRecords.empty());
}

// --- ASPI path -----------------------------------------------------------------

TEST_F(DriveTest, LoadAspiSupportInfo) {
    const struct {
        DWORD info;
        int adapters;
    } cases[] = {{0x0102, 2}, {0x0101, 1}, {0xE800, 0}, {0x0000, 0}, {0x0302, 0}, {0x0100, 0}};
    for (const auto& c : cases) {
        machine().supportInfo = c.info;
        EXPECT_EQ(LoadAspi(), c.adapters) << std::hex << c.info;
    }
    EXPECT_EQ(machine().supportInfoCalls, 6);
    ASSERT_FALSE(machine().loadedLibraries.empty());
    EXPECT_EQ(machine().loadedLibraries[0], "WNASPI32.DLL");
    EXPECT_EQ(machine().lookedUp[0], "SendASPI32Command");
    EXPECT_EQ(machine().lookedUp[1], "GetASPI32SupportInfo");
    EXPECT_NE(CurrentDriveTable().sendAspi32Command, nullptr);
    EXPECT_NE(CurrentDriveTable().getAspi32SupportInfo, nullptr);
}

TEST_F(DriveTest, LoadAspiWithoutLibraryOrEntryPoints) {
    machine().supportInfo = 0x0102;
    machine().aspiLibrary = false;
    EXPECT_EQ(LoadAspi(), 0);
    EXPECT_TRUE(machine().lookedUp.empty());

    machine().aspiLibrary = true;
    machine().hasSupportInfo = false;
    EXPECT_EQ(LoadAspi(), 0);
    machine().hasSupportInfo = true;
    machine().hasSendCommand = false;
    EXPECT_EQ(LoadAspi(), 0);
    EXPECT_EQ(machine().supportInfoCalls, 0);

    machine().hasSendCommand = true;
    EXPECT_EQ(LoadAspi(), 2);
    EXPECT_EQ(machine().supportInfoCalls, 1);
}

TEST_F(DriveTest, AspiRecordFields) {
    machine().supportInfo = 0x0101;
    machine().aspiDrives[{1, 3}] = TwoModeDrive(true);
    ASSERT_EQ(LoadAspi(), 1);

    std::uint8_t data[1024];
    EXPECT_EQ(AspiExecute(1, 3, kStatusReadCdb, 12, data, 255, 0), SS_COMP);
    EXPECT_EQ(AspiExecute(1, 3, kInquiryCdb, 6, data, 36, 1), SS_COMP);
    const auto& recs = machine().srbRecords;
    ASSERT_EQ(recs.size(), 2u);

    const Bytes& r = recs[0];
    ASSERT_EQ(r.size(), 88u);
    EXPECT_EQ(r[0], 0x02);                     // SRB_Cmd
    EXPECT_EQ(r[1], 0x00);                     // SRB_Status: pending when sent
    EXPECT_EQ(r[2], 1);                        // SRB_HaId
    EXPECT_EQ(r[3], 0x08);                     // SRB_Flags: SRB_DIR_IN only
    EXPECT_EQ(At<std::uint32_t>(r, 4), 0u);    // SRB_Hdr_Rsvd
    EXPECT_EQ(r[8], 3);                        // SRB_Target
    EXPECT_EQ(r[9], 0);                        // SRB_Lun
    EXPECT_EQ(At<std::uint32_t>(r, 12), 255u); // SRB_BufLen
    // The data moves through the transport's own aligned storage.
    const auto buffer = reinterpret_cast<std::uintptr_t>(At<void*>(r, 16));
    EXPECT_NE(buffer, 0u);
    EXPECT_EQ(buffer % 16, 0u);
    EXPECT_EQ(r[24], 14);                 // SRB_SenseLen
    EXPECT_EQ(r[25], 12);                 // SRB_CDBLen
    EXPECT_EQ(At<void*>(r, 28), nullptr); // SRB_PostProc
    for (std::size_t i = 26; i < 56; ++i) {
        if (i < 28 || i >= 36) {
            EXPECT_EQ(r[i], 0) << "byte " << i;
        }
    }
    EXPECT_EQ(Bytes(r.begin() + 56, r.begin() + 68), vt_test::StatusReadBytes());
    for (std::size_t i = 68; i < 88; ++i)
        EXPECT_EQ(r[i], 0) << "byte " << i;

    // A 6-byte block leaves CDBByte 6 to 15 zero; direction 1 is SRB_DIR_OUT.
    const Bytes& s = recs[1];
    EXPECT_EQ(s[3], 0x10);
    EXPECT_EQ(s[25], 6);
    EXPECT_EQ(At<std::uint32_t>(s, 12), 36u);
    EXPECT_EQ(Bytes(s.begin() + 56, s.begin() + 62), vt_test::InquiryBytes());
    for (std::size_t i = 62; i < 72; ++i)
        EXPECT_EQ(s[i], 0) << "CDB byte " << i - 56;
}

TEST_F(DriveTest, AspiResultsAndSenseFolding) {
    machine().supportInfo = 0x0101;
    machine().aspiDrives[{0, 0}] = TwoModeDrive(false);
    machine().aspiDrives[{0, 1}] = RejectingDrive();
    ASSERT_EQ(LoadAspi(), 1);

    std::uint8_t data[255];
    std::memset(data, 0xA5, sizeof data);
    EXPECT_EQ(AspiExecute(0, 0, kStatusReadCdb, 12, data, 255, 0), SS_COMP);
    EXPECT_EQ(Bytes(data, data + 6), vt_test::TwoModeReply(false));

    std::memset(data, 0xA5, sizeof data);
    EXPECT_EQ(AspiExecute(0, 1, kStatusReadCdb, 12, data, 255, 0), SS_ERR);
    for (std::size_t i = 0; i < sizeof data; ++i) {
        const int expect = i == 2 ? 0x05 : i == 12 ? 0x20 : i == 13 ? 0x00 : 0xA5;
        EXPECT_EQ(data[i], expect) << "byte " << i;
    }

    // Other ASPI statuses pass through unchanged, without folding.
    std::memset(data, 0xA5, sizeof data);
    EXPECT_EQ(AspiExecute(0, 5, kStatusReadCdb, 12, data, 255, 0), SS_NO_DEVICE);
    for (std::uint8_t b : data)
        EXPECT_EQ(b, 0xA5);
}

TEST_F(DriveTest, AspiWaitsForALateCompletion) {
    // The ASPI layer finishes the request from another thread after returning.
    machine().supportInfo = 0x0101;
    machine().completeLater = true;
    machine().aspiDrives[{0, 2}] = TwoModeDrive(true);
    machine().aspiDrives[{0, 4}] = RejectingDrive();
    ASSERT_EQ(LoadAspi(), 1);

    std::uint8_t data[255] = {};
    EXPECT_EQ(AspiExecute(0, 2, kStatusReadCdb, 12, data, 255, 0), SS_COMP);
    EXPECT_EQ(Bytes(data, data + 6), vt_test::TwoModeReply(true));
    std::memset(data, 0, sizeof data);
    EXPECT_EQ(AspiExecute(0, 4, kStatusReadCdb, 12, data, 255, 0), SS_ERR);
    EXPECT_EQ(data[2], 0x05);
    EXPECT_EQ(data[12], 0x20);
}

TEST_F(DriveTest, SendDriveCommandAspiPositionThree) {
    machine().supportInfo = 0x0104;
    ASSERT_EQ(LoadAspi(), 4);
    const std::uint8_t targets[8] = {0, 1, 2, 6, 4, 5, 6, 7};
    const std::uint8_t adapters[8] = {0, 0, 1, 3, 1, 2, 2, 2};
    HANDLE handles[26] = {};
    handles[3] = Handle(0x999); // must be ignored with the NT flag 0
    machine().aspiDrives[{3, 6}] = TwoModeDrive(false);
    SetDriveTable(0, targets, adapters, handles);

    std::uint8_t data[255] = {};
    EXPECT_EQ(SendDriveCommand(3, kStatusReadCdb, 12, data, 255, 0), SS_COMP);
    ASSERT_EQ(machine().log.size(), 1u);
    EXPECT_TRUE(machine().log[0].aspi);
    EXPECT_EQ(machine().log[0].adapter, 3);
    EXPECT_EQ(machine().log[0].target, 6);
    EXPECT_EQ(machine().log[0].cdb, vt_test::StatusReadBytes());
    EXPECT_EQ(machine().log[0].length, 255u);
    EXPECT_TRUE(machine().log[0].dataIn);
    EXPECT_TRUE(machine().passThroughRecords.empty());
}

// --- repeats, transferred lengths, the ASPI bound ---------------------------

namespace {

FakeDrive DriveWithUnitAttentions(int count) {
    FakeDrive d = TwoModeDrive(true);
    d.unitAttentions = count;
    return d;
}

void SetAspiTable(std::uint8_t adapter, std::uint8_t target) {
    std::uint8_t targets[8] = {target}, adapters[8] = {adapter};
    HANDLE handles[26] = {};
    SetDriveTable(0, targets, adapters, handles);
}

} // namespace

// The pass-through loop is wired to the retry rule (its table is in
// commands_test.cpp): what the drive answers reaches the rule, the rule's pause
// goes to the seam's Sleep, and the last answer is the result.
TEST_F(DriveTest, PassThroughPathRepeatsAsTheRetryRuleSays) {
    // Unit attention once, in descriptor format (8 bytes of sense): sent again.
    FakeDrive once = DriveWithUnitAttentions(1);
    once.descriptorSense = true;
    FakeDrive spinning = TwoModeDrive(true);
    spinning.becomingReady = -1;
    std::uint8_t targets[8] = {}, adapters[8] = {};
    HANDLE handles[26] = {OpenFakeDrive('d', once), OpenFakeDrive('e', spinning)};
    SetDriveTable(1, targets, adapters, handles);
    std::uint8_t data[255];
    std::memset(data, 0xA5, sizeof data);
    std::uint32_t transferred = 99;
    EXPECT_EQ(SendDriveCommand(0, kStatusReadCdb, 12, data, 255, 0, &transferred), 1);
    EXPECT_EQ(machine().log.size(), 2u);
    EXPECT_EQ(Bytes(data, data + 6), vt_test::TwoModeReply(true));
    EXPECT_EQ(transferred, 6u);
    EXPECT_TRUE(machine().sleeps.empty());

    // Still becoming ready after three tries, with the pause between them: the
    // last answer counts, folded into the buffer.
    machine().log.clear();
    std::memset(data, 0xA5, sizeof data);
    EXPECT_EQ(SendDriveCommand(1, kStatusReadCdb, 12, data, 255, 0, &transferred), 4);
    EXPECT_EQ(machine().log.size(), 3u);
    EXPECT_EQ(machine().sleeps, (std::vector<DWORD>{1000, 1000}));
    EXPECT_EQ(data[2], 0x02);
    EXPECT_EQ(data[12], 0x04);
    EXPECT_EQ(data[13], 0x01);
    EXPECT_EQ(transferred, 0u);
}

TEST_F(DriveTest, PassThroughReportsBusyApartFromACheckCondition) {
    FakeDrive busy = TwoModeDrive(true);
    busy.busy = 1;
    HANDLE h = OpenFakeDrive('d', busy);
    std::uint8_t data[255];
    std::memset(data, 0xA5, sizeof data);
    PassThroughReport report;
    EXPECT_EQ(PassThroughCommand(h, kStatusReadCdb, 12, data, 255, 0, report), 4);
    EXPECT_EQ(report.scsiStatus, 0x08);
    EXPECT_EQ(report.senseLength, 0);
    EXPECT_FALSE(report.hasSense);
    EXPECT_EQ(machine().log.size(), 1u) << "BUSY is not sent again";
    EXPECT_EQ(data[2], 0x00); // no sense: zero at the fixed places
    EXPECT_EQ(PassThroughCommand(h, kStatusReadCdb, 12, data, 255, 0, report), 1);
    EXPECT_EQ(report.scsiStatus, 0x00);
    EXPECT_EQ(report.transferred, 6u);
}

// The ASPI loop is wired to the same rule: unit attention once is sent again,
// unit attention that outlasts the tries is the result.
TEST_F(DriveTest, AspiPathRepeatsAsTheRetryRuleSays) {
    machine().supportInfo = 0x0101;
    ASSERT_EQ(LoadAspi(), 1);
    SetAspiTable(0, 2);
    for (int attentions : {1, -1}) {
        machine().aspiDrives[{0, 2}] = DriveWithUnitAttentions(attentions);
        machine().log.clear();
        std::uint8_t data[1024] = {};
        std::uint32_t transferred = 99;
        const std::uint8_t result = SendDriveCommand(0, kInquiryCdb, 6, data, 36, 0, &transferred);
        if (attentions > 0) {
            EXPECT_EQ(result, SS_COMP);
            EXPECT_EQ(machine().log.size(), 2u);
            EXPECT_EQ(data[0], 5);
            EXPECT_EQ(transferred, 36u); // ASPI reports no residue
        } else {
            EXPECT_EQ(result, SS_ERR);
            EXPECT_EQ(machine().log.size(), 3u);
            EXPECT_EQ(data[2], 0x06);
            EXPECT_EQ(data[12], 0x29);
            EXPECT_EQ(transferred, 0u);
        }
    }
}

TEST_F(DriveTest, PassThroughReportsTheBytesTheDriveTransferred) {
    FakeDrive shortReply = TwoModeDrive(true);
    shortReply.statusReply = {0x00, 0x04};
    HANDLE s = OpenFakeDrive('d', shortReply);
    HANDLE full = OpenFakeDrive('e', TwoModeDrive(true));
    HANDLE bad = OpenFakeDrive('f', RejectingDrive());
    std::uint8_t data[255] = {};
    std::uint32_t transferred = 99;
    EXPECT_EQ(PassThroughExecute(s, kStatusReadCdb, 12, data, 255, 0, &transferred), 1);
    EXPECT_EQ(transferred, 2u);
    EXPECT_EQ(PassThroughExecute(full, kStatusReadCdb, 12, data, 255, 0, &transferred), 1);
    EXPECT_EQ(transferred, 6u);
    EXPECT_EQ(PassThroughExecute(bad, kStatusReadCdb, 12, data, 255, 0, &transferred), 4);
    EXPECT_EQ(transferred, 0u);

    std::uint8_t targets[8] = {}, adapters[8] = {};
    HANDLE handles[26] = {s};
    SetDriveTable(1, targets, adapters, handles);
    transferred = 99;
    EXPECT_EQ(SendDriveCommand(0, kStatusReadCdb, 12, data, 255, 0, &transferred), 1);
    EXPECT_EQ(transferred, 2u);
}

TEST_F(DriveTest, AspiWaitIsBoundedYieldsAndGivesTheRequestUp) {
    TransportSeam seam = FakeTransportSeam();
    seam.aspiWaitLimitMs = 50; // a short limit instead of the minute
    SetTransportSeam(seam);
    machine().supportInfo = 0x0101;
    machine().aspiDrives[{0, 1}] = TwoModeDrive(true);
    ASSERT_EQ(LoadAspi(), 1);

    machine().neverComplete = true;
    std::uint8_t data[255];
    std::memset(data, 0xA5, sizeof data);
    EXPECT_EQ(AspiExecute(0, 1, kStatusReadCdb, 12, data, 255, 0), SS_ABORTED);
    // Not sent again: a given-up request is no unit attention.
    ASSERT_EQ(machine().log.size(), 1u);
    // The wait slept between looks until the limit, and no longer.
    EXPECT_GE(machine().clock, 50u);
    EXPECT_LE(machine().clock, 51u);
    ASSERT_FALSE(machine().sleeps.empty());
    for (DWORD ms : machine().sleeps)
        EXPECT_LE(ms, 1u);

    // The request was aborted by its address.
    ASSERT_EQ(machine().abortRecords.size(), 1u);
    const Bytes& abort = machine().abortRecords[0];
    EXPECT_EQ(abort[0], SC_ABORT_SRB);
    EXPECT_EQ(abort[2], 0); // host adapter
    EXPECT_EQ(At<void*>(abort, 8), machine().recordAddresses[0]);

    // The layer finishing it late writes into storage that is still there,
    // never into the caller's buffer.
    auto* late = static_cast<SRB_ExecSCSICmd*>(machine().recordAddresses[0]);
    std::memset(late->SRB_BufPointer, 0x77, late->SRB_BufLen);
    late->SRB_Status = SS_COMP;
    for (std::uint8_t b : data)
        ASSERT_EQ(b, 0xA5);

    // The next request has storage of its own and completes as usual.
    machine().neverComplete = false;
    machine().clock = 0;
    EXPECT_EQ(AspiExecute(0, 1, kStatusReadCdb, 12, data, 255, 0), SS_COMP);
    ASSERT_EQ(machine().recordAddresses.size(), 2u);
    EXPECT_NE(machine().recordAddresses[1], machine().recordAddresses[0]);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(machine().recordAddresses[1]) % 16, 0u);
    EXPECT_EQ(Bytes(data, data + 6), vt_test::TwoModeReply(true));
    EXPECT_EQ(machine().abortRecords.size(), 1u);
}

TEST_F(DriveTest, AspiRequestRefusedBySendIsTheResultAtOnce) {
    machine().supportInfo = 0x0101;
    machine().aspiDrives[{0, 1}] = TwoModeDrive(true);
    ASSERT_EQ(LoadAspi(), 1);
    machine().refuseWith = SS_INVALID_HA;
    std::uint8_t data[255];
    std::memset(data, 0xA5, sizeof data);
    EXPECT_EQ(AspiExecute(0, 1, kStatusReadCdb, 12, data, 255, 0), SS_INVALID_HA);
    EXPECT_TRUE(machine().sleeps.empty());
    EXPECT_EQ(machine().log.size(), 1u);
    for (std::uint8_t b : data)
        ASSERT_EQ(b, 0xA5);
}

TEST_F(DriveTest, LoadAspiTakesTheSystemFolderOnlyOnTheNtFamily) {
    machine().supportInfo = 0x0101;
    machine().platformId = VER_PLATFORM_WIN32_NT;
    EXPECT_EQ(LoadAspi(), 1);
    machine().platformId = VER_PLATFORM_WIN32_WINDOWS;
    EXPECT_EQ(LoadAspi(), 1);
    ASSERT_EQ(machine().loadFlags.size(), 2u);
    EXPECT_EQ(machine().loadFlags[0], static_cast<DWORD>(LOAD_LIBRARY_SEARCH_SYSTEM32));
    EXPECT_EQ(machine().loadFlags[1], static_cast<DWORD>(-1)); // plain LoadLibraryA
    EXPECT_EQ(machine().loadedLibraries,
              (std::vector<std::string>{"WNASPI32.DLL", "WNASPI32.DLL"}));
}

TEST_F(DriveTest, RecordsAndBuffersAreAligned) {
    HANDLE h = OpenFakeDrive('d', TwoModeDrive(true));
    std::uint8_t data[255] = {};
    EXPECT_EQ(PassThroughExecute(h, kStatusReadCdb, 12, data, 255, 0), 1);
    machine().supportInfo = 0x0101;
    machine().aspiDrives[{0, 0}] = TwoModeDrive(true);
    ASSERT_EQ(LoadAspi(), 1);
    EXPECT_EQ(AspiExecute(0, 0, kStatusReadCdb, 12, data + 1, 200, 0), SS_COMP);
    ASSERT_EQ(machine().recordAddresses.size(), 2u);
    for (void* record : machine().recordAddresses)
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(record) % 16, 0u);
    // The ASPI path aligns even a caller's odd buffer.
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(machine().dataAddresses[1]) % 16, 0u);
    EXPECT_EQ(Bytes(data + 1, data + 7), vt_test::TwoModeReply(true));

    velotune::AlignedBuffer<37> buffers[3];
    for (auto& b : buffers) {
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b.data()) % 16, 0u);
        EXPECT_EQ(b.end() - b.begin(), 37);
    }
}
