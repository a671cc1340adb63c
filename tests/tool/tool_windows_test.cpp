// The Windows velotune through its transport seam: drive names, the search of
// CD-ROM letters, and "not permitted" (exit 4) when Windows denies access, at
// the opening of the drive or at the pass-through call.
#include "drive/passthrough.h"
#include "drive/transport.h"
#include "tool/cdrom_windows.h"
#include "tool/cli.h"
#include "tool/transport_windows.h"

#include <gtest/gtest.h>

#include <cstring>

#include <string>
#include <vector>

using namespace velotune;
using namespace velotune::tool;

namespace {

int g_opens = 0;
int g_ioctls = 0;
std::vector<HANDLE> g_closed;
DWORD g_openError = ERROR_SUCCESS;
const HANDLE kDrive = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x4D0));

// CD-ROM drives at D: and F:; C: is a disk.
UINT WINAPI FakeDriveType(LPCSTR root) {
    const char c = root[0];
    if (c == 'd' || c == 'f') return DRIVE_CDROM;
    return c == 'c' ? DRIVE_FIXED : DRIVE_NO_ROOT_DIR;
}
HANDLE WINAPI FakeCreateFile(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    ++g_opens;
    if (g_openError != ERROR_SUCCESS) {
        SetLastError(g_openError);
        return INVALID_HANDLE_VALUE;
    }
    return kDrive;
}
DWORD WINAPI OnlyF() {
    return DWORD{1} << ('f' - 'a');
}
BOOL WINAPI FakeClose(HANDLE h) {
    g_closed.push_back(h);
    return TRUE;
}
// Pass-through without administrator rights.
BOOL WINAPI DeniedIoControl(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED) {
    ++g_ioctls;
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

// A drive that ends every command with g_scsiStatus, with fixed-format sense
// data of key g_senseKey when that is not 0, or fails the call with g_callError.
// With g_inquiryGood it answers INQUIRY as an optical drive.
UCHAR g_scsiStatus = 0;
UCHAR g_senseKey = 0;
bool g_inquiryGood = false;
DWORD g_callError = ERROR_SUCCESS;
BOOL WINAPI StatusIoControl(HANDLE, DWORD code, LPVOID in, DWORD, LPVOID, DWORD, LPDWORD returned,
                            LPOVERLAPPED) {
    if (code != IOCTL_SCSI_PASS_THROUGH_DIRECT) { // a cdrom driver without the request
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    ++g_ioctls;
    if (g_callError != ERROR_SUCCESS) {
        SetLastError(g_callError);
        return FALSE;
    }
    auto* record = static_cast<PassThroughRecord*>(in);
    SCSI_PASS_THROUGH_DIRECT* sptd = &record->sptd;
    *returned = sizeof(PassThroughRecord);
    if (g_inquiryGood && sptd->Cdb[0] == 0x12) {
        auto* data = static_cast<UCHAR*>(sptd->DataBuffer);
        std::memset(data, ' ', sptd->DataTransferLength);
        data[0] = 0x05;
        sptd->ScsiStatus = 0;
        sptd->SenseInfoLength = 0;
        return TRUE;
    }
    sptd->ScsiStatus = g_scsiStatus;
    sptd->SenseInfoLength = 0;
    if (g_senseKey != 0) {
        std::memset(record->sense, 0, sizeof record->sense);
        record->sense[0] = 0x70;
        record->sense[2] = g_senseKey;
        record->sense[7] = 10;
        record->sense[12] = 0x20;
        sptd->SenseInfoLength = 18;
    }
    *returned = sizeof(PassThroughRecord);
    return TRUE;
}

const DiscoverySeam kSeam = {&FakeDriveType, &FakeCreateFile, &FakeClose};

class WindowsTool : public ::testing::Test {
protected:
    void SetUp() override {
        g_opens = g_ioctls = 0;
        g_closed.clear();
        g_openError = ERROR_SUCCESS;
        TransportSeam seam = RealTransportSeam();
        seam.deviceIoControl = &DeniedIoControl;
        SetTransportSeam(seam);
    }
    void TearDown() override { SetTransportSeam(RealTransportSeam()); }
};

} // namespace

TEST_F(WindowsTool, DriveLettersInEveryForm) {
    WindowsTransport transport(kSeam);
    EXPECT_EQ(transport.DeviceName("e"), "E:");
    EXPECT_EQ(transport.DeviceName("E"), "E:");
    EXPECT_EQ(transport.DeviceName("e:"), "E:");
    EXPECT_EQ(transport.DeviceName("E:"), "E:");
    for (const char* bad : {"", "ee", "1:", "e:\\", "\\\\.\\e:", "/dev/sr0"})
        EXPECT_EQ(transport.DeviceName(bad), "") << bad;
    EXPECT_EQ(transport.Search(), (std::vector<std::string>{"D:", "F:"}));
    // Letters that do not exist are not asked.
    DiscoverySeam present = kSeam;
    present.getLogicalDrives = &OnlyF;
    EXPECT_EQ(WindowsTransport(present).Search(), std::vector<std::string>{"F:"});

    // A letter that is no drive, and a disk, are refused before anything is opened.
    const Outcome bad = tool::Run({"status", "--device", "x:y"}, transport);
    EXPECT_EQ(bad.exitCode, kExitNoDevice);
    const Outcome none = tool::Run({"status", "--device", "q"}, transport);
    EXPECT_EQ(none.err, "velotune: Q: no such device\n");
    const Outcome disk = tool::Run({"set", "high", "--device", "c"}, transport);
    EXPECT_EQ(disk.exitCode, kExitNoDevice);
    EXPECT_NE(disk.err.find("C: not an optical drive"), std::string::npos) << disk.err;
    EXPECT_EQ(g_opens, 0);
    EXPECT_EQ(g_ioctls, 0);
    // A command of the Linux tool only: a usage error, in JSON when asked for.
    EXPECT_EQ(tool::Run({"apply", "-j"}, transport).out,
              "{\"error\": {\"device\": null, \"code\": 1, \"message\": \"apply is a command of "
              "the Linux tool\"}}\n");
}

TEST_F(WindowsTool, AccessDeniedEndsWithExitFour) {
    WindowsTransport transport(kSeam);
    // Denied at the pass-through call: the probe fails, no mode set follows.
    const Outcome set = tool::Run({"set", "silence", "--device", "d:"}, transport);
    EXPECT_EQ(set.exitCode, kExitNotPermitted);
    EXPECT_EQ(g_ioctls, 1);
    EXPECT_EQ(set.out, "");
    EXPECT_EQ(set.err,
              "velotune: D: not permitted: SCSI pass-through needs administrator rights\n");
    EXPECT_EQ(tool::Run({"status", "--device", "D:"}, transport).exitCode, kExitNotPermitted);
    EXPECT_EQ(tool::Run({"list"}, transport).exitCode, kExitNotPermitted);

    // Denied at the opening of the drive.
    g_openError = ERROR_ACCESS_DENIED;
    g_ioctls = 0;
    EXPECT_EQ(tool::Run({"status", "--device", "f"}, transport).exitCode, kExitNotPermitted);
    EXPECT_EQ(tool::Run({"list", "--json"}, transport).out, "[]\n");
    EXPECT_EQ(g_ioctls, 0);
    // Any other failure to open is "no such device".
    g_openError = ERROR_FILE_NOT_FOUND;
    EXPECT_EQ(tool::Run({"status", "--device", "f"}, transport).exitCode, kExitNoDevice);
}

TEST_F(WindowsTool, ADriveThatDoesNotAnswerEndsWithExitThree) {
    TransportSeam seam = RealTransportSeam();
    seam.deviceIoControl = &StatusIoControl;
    SetTransportSeam(seam);
    WindowsTransport transport(kSeam);
    // The same replies give the same exit codes as through SG_IO on Linux.
    const struct {
        UCHAR status;
        UCHAR senseKey;
        bool inquiryGood; // the status read is the command that ends so
        DWORD error;
        const char* why;
    } cases[] = {
        {0x08, 0, false, ERROR_SUCCESS, "D: the drive is busy"},
        {0x28, 0, false, ERROR_SUCCESS, "D: the drive is busy"},
        {0x18, 0, false, ERROR_SUCCESS, "D: the drive ended the INQUIRY with SCSI status 0x18"},
        {0, 0, false, ERROR_SEM_TIMEOUT, "D: no answer within 60 s"},
        {0, 0, false, ERROR_IO_DEVICE, "D: input/output error"},
        // BUSY wins over the sense data that came with it: not "another maker's drive".
        {0x08, kSenseIllegalRequest, true, ERROR_SUCCESS, "D: the drive is busy"},
        // Sense data count only with CHECK CONDITION: a unit attention that came
        // with BUSY is not sent again.
        {0x08, kSenseUnitAttention, true, ERROR_SUCCESS, "D: the drive is busy"},
    };
    for (const auto& c : cases) {
        g_scsiStatus = c.status;
        g_senseKey = c.senseKey;
        g_inquiryGood = c.inquiryGood;
        g_callError = c.error;
        g_ioctls = 0;
        const Outcome set = tool::Run({"set", "high", "--device", "d"}, transport);
        EXPECT_EQ(set.exitCode, kExitFailed) << c.why;
        EXPECT_EQ(set.err, std::string("velotune: ") + c.why + "\n");
        EXPECT_EQ(g_ioctls, c.inquiryGood ? 2 : 1) << "INQUIRY, and the status read: " << c.why;
    }
    g_scsiStatus = g_senseKey = 0;
    g_inquiryGood = false;
    g_callError = ERROR_SUCCESS;
}

namespace {

// A two-mode drive in high speed mode behind pass-through, of which the next
// g_attentions commands end in CHECK CONDITION with unit attention (6/29/00) and
// the g_spinUps after them with NOT READY, becoming ready (2/04/01); -1: all of
// them. g_sent holds the opcode of every command that reached it.
int g_attentions = 0;
int g_spinUps = 0;
std::vector<UCHAR> g_sent;
bool TakeOne(int& count) {
    if (count == 0) return false;
    if (count > 0) --count;
    return true;
}
BOOL WINAPI RepeatIoControl(HANDLE, DWORD code, LPVOID in, DWORD, LPVOID, DWORD, LPDWORD returned,
                            LPOVERLAPPED) {
    if (code != IOCTL_SCSI_PASS_THROUGH_DIRECT) { // a cdrom driver without the request
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    auto* record = static_cast<PassThroughRecord*>(in);
    SCSI_PASS_THROUGH_DIRECT* sptd = &record->sptd;
    auto* data = static_cast<UCHAR*>(sptd->DataBuffer);
    g_sent.push_back(sptd->Cdb[0]);
    *returned = sizeof(PassThroughRecord);
    sptd->SenseInfoLength = 0;
    const bool attention = TakeOne(g_attentions);
    if (attention || TakeOne(g_spinUps)) {
        std::memset(record->sense, 0, sizeof record->sense);
        record->sense[0] = 0x70;
        record->sense[2] = attention ? kSenseUnitAttention : kSenseNotReady;
        record->sense[7] = 10;
        record->sense[12] = attention ? 0x29 : 0x04;
        record->sense[13] = attention ? 0x00 : 0x01;
        sptd->SenseInfoLength = 18;
        sptd->ScsiStatus = kScsiCheckCondition;
        return TRUE;
    }
    sptd->ScsiStatus = kScsiGood;
    if (sptd->Cdb[0] == 0x12) {
        const char text[] = "TRELVIX DVD-ROM VT-D16      1.00";
        std::memset(data, 0, sptd->DataTransferLength);
        data[0] = 0x05;
        data[4] = 31;
        std::memcpy(data + 8, text, 28);
        sptd->DataTransferLength = 36;
    } else if (sptd->Cdb[0] == 0xFF && sptd->Cdb[2] == 0xB1) { // the status read
        const UCHAR high[] = {0x00, 0x04, 0x00, 0x00, 0x00, 0xFF};
        std::memcpy(data, high, sizeof high);
        sptd->DataTransferLength = sizeof high;
    }
    return TRUE;
}

} // namespace

// The tool's loop (Session::Send) is wired to the retry rule on the Windows
// pass-through path too: unit attention once is sent again, "becoming ready"
// after the transport's pause, unit attention that outlasts the tries fails.
TEST_F(WindowsTool, RepeatsAsTheRetryRuleSays) {
    TransportSeam seam = RealTransportSeam();
    seam.deviceIoControl = &RepeatIoControl;
    SetTransportSeam(seam);
    WindowsTransport transport(kSeam);

    g_attentions = 1;
    g_spinUps = 0;
    g_sent.clear();
    const Outcome once = tool::Run({"status", "--device", "d"}, transport);
    EXPECT_EQ(once.exitCode, kExitOk) << once.err;
    EXPECT_NE(once.out.find("mode:    high\n"), std::string::npos) << once.out;
    EXPECT_EQ(g_sent, (std::vector<UCHAR>{0x12, 0x12, 0xFF})) << "INQUIRY twice, the status read";

    g_attentions = 0;
    g_spinUps = 1;
    g_sent.clear();
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(tool::Run({"status", "--device", "d"}, transport).exitCode, kExitOk);
    const ULONGLONG paused = GetTickCount64() - start;
    EXPECT_EQ(g_sent, (std::vector<UCHAR>{0x12, 0x12, 0xFF}));
    EXPECT_GE(paused, 900u) << "a pause of one second before the second try";
    EXPECT_LT(paused, 5000u);

    g_attentions = -1;
    g_spinUps = 0;
    g_sent.clear();
    const Outcome always = tool::Run({"status", "--device", "d"}, transport);
    EXPECT_EQ(always.exitCode, kExitFailed) << always.err;
    EXPECT_EQ(g_sent, (std::vector<UCHAR>{0x12, 0x12, 0x12})) << "three tries at most";
    g_attentions = 0;
}

TEST_F(WindowsTool, HandlesAreClosed) {
    g_closed.clear();
    {
        WindowsTransport transport(kSeam);
        tool::Run({"list"}, transport);
        tool::Run({"status", "--device", "d"}, transport);
    }
    EXPECT_EQ(static_cast<int>(g_closed.size()), g_opens);
}

// Rights as Windows gives them and Wine does not: a standard user opens the
// drive for reading only; the cdrom driver's requests need no more, while
// pass-through (the vendor commands, MODE SENSE) is denied. An administrator
// opens it for both, and pass-through stands in where the driver lacks a request.
namespace {

const HANDLE kReader = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x4D4));
bool g_elevated = false;
std::vector<DWORD> g_requests;            // every DeviceIoControl code, in order
std::vector<std::uint8_t> g_speedRequest; // the last IOCTL_CDROM_SET_SPEED input
ULONG g_readKbs = 22160;                  // what the simulated drive reads at

HANDLE WINAPI RightsCreateFile(LPCSTR, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                               HANDLE) {
    ++g_opens;
    if ((access & GENERIC_WRITE) && !g_elevated) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return access & GENERIC_WRITE ? kDrive : kReader;
}

void Put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

BOOL WINAPI RightsIoControl(HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                            DWORD outSize, LPDWORD returned, LPOVERLAPPED) {
    g_requests.push_back(code);
    auto* o = static_cast<std::uint8_t*>(out);
    *returned = 0;
    if (code == IOCTL_SCSI_PASS_THROUGH_DIRECT) {
        if (handle == kReader) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        auto* record = static_cast<PassThroughRecord*>(in);
        if (record->sptd.Cdb[0] == 0x12) { // INQUIRY: an optical drive
            auto* data = static_cast<std::uint8_t*>(record->sptd.DataBuffer);
            std::memset(data, 0, record->sptd.DataTransferLength);
            data[0] = 0x05;
            record->sptd.ScsiStatus = 0;
            record->sptd.SenseInfoLength = 0;
            *returned = sizeof *record;
            return TRUE;
        }
        // It refuses every other command: ILLEGAL REQUEST.
        record->sptd.ScsiStatus = kScsiCheckCondition;
        record->sptd.SenseInfoLength = 18;
        std::memset(record->sense, 0, sizeof record->sense);
        record->sense[0] = 0x70;
        record->sense[2] = kSenseIllegalRequest;
        record->sense[7] = 10;
        record->sense[12] = 0x20;
        *returned = sizeof *record;
        return TRUE;
    }
    if (g_elevated) { // an older driver: none of its own requests
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    if (code == tool::win::kIoctlCdromGetInquiryData) {
        const char text[] = "OTHERCO DVD-ROM VT-D16      1.00";
        std::memset(o, 0, 36);
        o[0] = 0x05;
        o[4] = 31;
        std::memcpy(o + 8, text, 28);
        *returned = 36;
    } else if (code == IOCTL_CDROM_GET_CONFIGURATION) {
        const auto* input = static_cast<const GET_CONFIGURATION_IOCTL_INPUT*>(in);
        EXPECT_EQ(input->Feature, 0x0107);
        EXPECT_EQ(input->RequestType, 2u);
        const std::uint8_t reply[] = {0,    0,    0,    12,   0, 0, 0, 0x10,
                                      0x01, 0x07, 0x05, 0x04, 0, 0, 0, 0};
        std::memcpy(o, reply, sizeof reply);
        *returned = sizeof reply;
    } else if (code == IOCTL_CDROM_GET_DRIVE_GEOMETRY_EX) {
        DISK_GEOMETRY_EX g = {};
        g.Geometry.BytesPerSector = 2048;
        g.DiskSize.QuadPart = 2048LL * 360000;
        std::memcpy(o, &g, sizeof g);
        *returned = sizeof g;
    } else if (code == IOCTL_CDROM_SET_SPEED) {
        g_speedRequest.assign(static_cast<std::uint8_t*>(in),
                              static_cast<std::uint8_t*>(in) + inSize);
        if (inSize == sizeof(tool::win::CDROM_SET_STREAMING))
            g_readKbs = static_cast<const tool::win::CDROM_SET_STREAMING*>(in)->ReadSize;
    } else if (code == tool::win::kIoctlCdromGetPerformance) {
        const auto* request = static_cast<const tool::win::CDROM_PERFORMANCE_REQUEST*>(in);
        EXPECT_TRUE(inSize == sizeof *request ||
                    inSize == sizeof(tool::win::CDROM_WRITE_SPEED_REQUEST));
        std::memset(o, 0, 24);
        o[3] = 20; // one descriptor
        if (request->RequestType == tool::win::CdromPerformanceRequest) {
            Put32(o + 12, g_readKbs);
            Put32(o + 20, g_readKbs);
        } else {
            Put32(o + 16, 11080);
        }
        *returned = 24;
    } else {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    EXPECT_LE(*returned, outSize);
    return TRUE;
}

} // namespace

TEST_F(WindowsTool, ReadSpeedNeedsOnlyReadAccess) {
    TransportSeam seam = RealTransportSeam();
    seam.deviceIoControl = &RightsIoControl;
    SetTransportSeam(seam);
    DiscoverySeam rights = kSeam;
    rights.createFile = &RightsCreateFile;
    WindowsTransport transport(rights);
    g_elevated = false;
    g_requests.clear();
    const Outcome set = tool::Run({"set", "8x", "d:"}, transport);
    EXPECT_EQ(set.exitCode, kExitOk) << set.err;
    EXPECT_EQ(set.out, "D:  8x\n");
    EXPECT_EQ(g_requests,
              (std::vector<DWORD>{tool::win::kIoctlCdromGetInquiryData,
                                  IOCTL_CDROM_GET_CONFIGURATION, IOCTL_CDROM_GET_DRIVE_GEOMETRY_EX,
                                  IOCTL_CDROM_SET_SPEED, tool::win::kIoctlCdromGetPerformance}))
        << "no pass-through at all";
    tool::win::CDROM_SET_STREAMING streaming = {};
    ASSERT_EQ(g_speedRequest.size(), sizeof streaming);
    std::memcpy(&streaming, g_speedRequest.data(), sizeof streaming);
    EXPECT_EQ(streaming.RequestType, CdromSetStreaming);
    EXPECT_EQ(streaming.ReadSize, 11080u);
    EXPECT_EQ(streaming.ReadTime, 1000u);
    EXPECT_EQ(streaming.WriteSize, 11080u);
    EXPECT_EQ(streaming.StartLba, 0u);
    EXPECT_EQ(streaming.EndLba, 359999u);
    EXPECT_FALSE(streaming.RestoreDefaults);
    EXPECT_TRUE(streaming.Persistent) << "kept across medium changes";

    const Outcome max = tool::Run({"set", "max", "d:"}, transport);
    std::memcpy(&streaming, g_speedRequest.data(), sizeof streaming);
    EXPECT_TRUE(streaming.RestoreDefaults);
    EXPECT_TRUE(streaming.Persistent);

    // status: the vendor status read is denied (pass-through), the rest is the driver's.
    g_requests.clear();
    const Outcome status = tool::Run({"status", "d:"}, transport);
    EXPECT_EQ(status.exitCode, kExitOk) << status.err;
    EXPECT_NE(status.out.find("kind:    mmc\nmedium:  dvd\n"), std::string::npos) << status.out;
    EXPECT_NE(status.out.find("note:    the maker's modes need administrator rights\n"),
              std::string::npos)
        << status.out;
    EXPECT_EQ(std::count(g_requests.begin(), g_requests.end(), IOCTL_SCSI_PASS_THROUGH_DIRECT), 1)
        << "the status read only";
    EXPECT_EQ(tool::Run({"set", "high", "d:"}, transport).exitCode, kExitNotPermitted);

    // Elevated, with a driver that has none of the requests: pass-through, and
    // this drive refuses both speed commands.
    g_elevated = true;
    g_requests.clear();
    const Outcome old = tool::Run({"set", "1411kB", "d:"}, transport);
    EXPECT_EQ(old.exitCode, kExitNoDevice) << old.err;
    EXPECT_NE(std::count(g_requests.begin(), g_requests.end(), IOCTL_SCSI_PASS_THROUGH_DIRECT), 0);
    g_elevated = false;
}
