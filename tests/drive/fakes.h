// Fakes for the drive layer's seams: a machine with simulated drives behind a
// fake DeviceIoControl and fake ASPI entry points; the panel fake is shared.
#pragma once

#include "drive/aspi.h"
#include "drive/passthrough.h"
#include "drive/speedcontrol.h"
#include "tests/fakes/fakepanel.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace vt_test {

using Bytes = std::vector<std::uint8_t>;

// One simulated drive. It answers the vendor status read with statusReply,
// takes the mode set by patching byte 5 of that reply, and INQUIRY with inquiry.
struct FakeDrive {
    bool answersStatus = true;
    Bytes statusReply;
    bool inquiryOk = true;
    Bytes inquiry;
    // The next this many commands, whatever they are, end in CHECK CONDITION
    // with unit attention (6/29/00), or NOT READY becoming ready (2/04/01);
    // -1: every command does.
    int unitAttentions = 0;
    int becomingReady = 0;
    // Sense data in descriptor format (0x72) instead of fixed format (0x70).
    bool descriptorSense = false;
    // The next this many commands end with SCSI status BUSY and no sense.
    int busy = 0;
};

// INQUIRY data of 36 bytes: device type, then vendor (8), product (16), revision (4).
Bytes InquiryData(std::uint8_t type, const std::string& vendor, const std::string& product,
                  const std::string& revision);
Bytes TwoModeReply(bool high);
Bytes Reply(std::initializer_list<std::uint8_t> bytes);

// One command as the fake drive layer received it.
struct LoggedCommand {
    bool aspi = false;
    HANDLE handle = nullptr; // pass-through path
    int adapter = -1;        // ASPI path
    int target = -1;
    Bytes cdb; // CDB-length bytes
    std::uint32_t length = 0;
    bool dataIn = false;
};

struct FakeMachine {
    // Operating system family, as IsNtFamily is told it: 2 for NT, 1 for the 95 family.
    DWORD platformId = VER_PLATFORM_WIN32_NT;

    // NT family: drive type per letter (missing = DRIVE_NO_ROOT_DIR) and drives per letter.
    std::map<char, UINT> driveTypes;
    std::map<char, FakeDrive> letterDrives;
    std::set<char> openFails;
    std::map<HANDLE, char> openHandles;
    std::vector<HANDLE> closedHandles;
    std::vector<std::string> createdPaths;
    std::vector<std::string> driveTypeRoots;
    bool createArgsOk = true;
    std::uintptr_t nextHandle = 0x100;

    // 95 family: ASPI library and drives per (adapter, target).
    bool aspiLibrary = true;
    bool hasSendCommand = true;
    bool hasSupportInfo = true;
    DWORD supportInfo = 0x0101;
    int supportInfoCalls = 0;
    std::vector<std::string> loadedLibraries;
    std::vector<DWORD> loadFlags; // -1 for a plain LoadLibraryA
    std::vector<std::string> lookedUp;
    std::map<std::pair<int, int>, FakeDrive> aspiDrives;
    bool completeLater = false; // ASPI: complete each request from another thread
    std::vector<std::thread> completions;
    bool neverComplete = false; // ASPI: requests stay pending
    DWORD refuseWith = 0;       // ASPI: SendASPI32Command returns this, nothing pending
    std::vector<void*> recordAddresses;
    std::vector<void*> dataAddresses; // data buffers as the drive layer got them
    std::vector<Bytes> abortRecords;

    // The transport's clock and pauses: sleeps are logged and advance the clock.
    std::vector<DWORD> sleeps;
    DWORD clock = 0;

    // Raw records as they reached the drive layer.
    std::vector<Bytes> passThroughRecords;
    std::vector<Bytes> srbRecords;
    std::vector<DWORD> ioctlCodes;
    bool ioctlBuffersOk = true;

    std::vector<LoggedCommand> log;
};

FakeMachine& Machine();

// Installs the fake transport seam, the fake machine's Windows family and a
// fresh machine; restores everything on exit.
class DriveTest : public ::testing::Test {
public:
    static velotune::DiscoverySeam FakeDiscoverySeam();
    static velotune::TransportSeam FakeTransportSeam();

protected:
    void SetUp() override;
    void TearDown() override;
    FakeMachine& machine() { return Machine(); }
};

// The vendor command blocks as literal bytes, independent of the code under test.
Bytes StatusReadBytes();
Bytes ModeSetBytes(std::uint8_t value);
Bytes InquiryBytes();

} // namespace vt_test
