#include "fakes.h"

#include "common/windowsfamily.h"

#include <chrono>
#include <cstring>
#include <sstream>

using namespace velotune;

namespace vt_test {
namespace {

FakeMachine g_machine;
const HMODULE kAspiModule = reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x5150));

struct Sense {
    std::uint8_t key, asc, ascq;
};

// Counts down one of the drive's "next commands" counters (-1 never runs out).
bool TakeOne(int& count) {
    if (count == 0) return false;
    if (count > 0) --count;
    return true;
}

// Runs one command on a drive. Returns false with sense data for CHECK CONDITION.
// `moved` receives the number of data bytes written.
bool Execute(FakeDrive* drive, const std::uint8_t* cdb, std::uint8_t* data, std::uint32_t length,
             Sense& sense, std::uint32_t& moved) {
    moved = 0;
    if (drive == nullptr) {
        sense = {0x02, 0x04, 0x00};
        return false;
    }
    if (TakeOne(drive->unitAttentions)) {
        sense = {0x06, 0x29, 0x00};
        return false;
    }
    if (TakeOne(drive->becomingReady)) {
        sense = {0x02, 0x04, 0x01};
        return false;
    }
    auto copy = [&](const Bytes& from) {
        const std::size_t n = std::min<std::size_t>(from.size(), length);
        if (n != 0) std::memcpy(data, from.data(), n);
        moved = static_cast<std::uint32_t>(n);
    };
    if (cdb[0] == 0xFF && cdb[2] == 0xB1) {
        if (!drive->answersStatus) {
            sense = {0x05, 0x20, 0x00};
            return false;
        }
        copy(drive->statusReply);
        return true;
    }
    if (cdb[0] == 0xFF && cdb[2] == 0xB0) {
        if (!drive->answersStatus) {
            sense = {0x05, 0x20, 0x00};
            return false;
        }
        if (drive->statusReply.size() > 5) drive->statusReply[5] = cdb[6];
        return true;
    }
    if (cdb[0] == 0x12) {
        if (!drive->inquiryOk) {
            sense = {0x05, 0x24, 0x00};
            return false;
        }
        copy(drive->inquiry);
        return true;
    }
    sense = {0x05, 0x20, 0x00};
    return false;
}

// Sense data with junk in the bytes the caller must not take; returns its length.
std::size_t WriteSense(std::uint8_t* area, std::size_t size, const Sense& sense,
                       bool descriptor = false) {
    std::memset(area, 0xEE, size);
    if (descriptor) {
        area[0] = 0x72;
        area[1] = sense.key;
        area[2] = sense.asc;
        area[3] = sense.ascq;
        area[7] = 0;
        return 8;
    }
    area[0] = 0x70;
    area[2] = sense.key;
    area[7] = 10;
    area[12] = sense.asc;
    area[13] = sense.ascq;
    return 18;
}

HMODULE WINAPI FakeLoadLibrary(LPCSTR name) {
    g_machine.loadedLibraries.push_back(name);
    g_machine.loadFlags.push_back(static_cast<DWORD>(-1));
    return g_machine.aspiLibrary ? kAspiModule : nullptr;
}

HMODULE WINAPI FakeLoadLibraryEx(LPCSTR name, HANDLE file, DWORD flags) {
    g_machine.loadedLibraries.push_back(name);
    g_machine.loadFlags.push_back(flags);
    return g_machine.aspiLibrary && file == nullptr ? kAspiModule : nullptr;
}

void WINAPI FakeSleep(DWORD ms) {
    g_machine.sleeps.push_back(ms);
    g_machine.clock += ms;
    // Short pauses are real, so that a request completed by another thread can land.
    if (ms <= 1) ::Sleep(ms);
}

DWORD WINAPI FakeTickCount() {
    return g_machine.clock;
}

DWORD __cdecl FakeSupportInfo() {
    ++g_machine.supportInfoCalls;
    return g_machine.supportInfo;
}

void CompleteSrb(SRB_ExecSCSICmd* srb) {
    auto it = g_machine.aspiDrives.find({srb->SRB_HaId, srb->SRB_Target});
    FakeDrive* drive = it == g_machine.aspiDrives.end() ? nullptr : &it->second;
    BYTE status = SS_COMP;
    if (drive == nullptr) {
        status = SS_NO_DEVICE;
    } else {
        Sense sense{};
        std::uint32_t moved = 0;
        if (TakeOne(drive->busy)) {
            srb->SRB_TargStat = 0x08;
            status = SS_ERR;
        } else if (!Execute(drive, srb->CDBByte, srb->SRB_BufPointer, srb->SRB_BufLen, sense,
                            moved)) {
            WriteSense(srb->SenseArea, sizeof srb->SenseArea, sense, drive->descriptorSense);
            srb->SRB_TargStat = 2;
            status = SS_ERR;
        }
    }
    *static_cast<volatile BYTE*>(&srb->SRB_Status) = status;
}

DWORD __cdecl FakeSendAspi(void* request) {
    const auto* raw = static_cast<const std::uint8_t*>(request);
    if (raw[0] == SC_ABORT_SRB) {
        g_machine.abortRecords.emplace_back(raw, raw + sizeof(SRB_Abort));
        return SS_COMP;
    }
    auto* srb = static_cast<SRB_ExecSCSICmd*>(request);
    g_machine.srbRecords.emplace_back(raw, raw + sizeof(SRB_ExecSCSICmd));
    g_machine.recordAddresses.push_back(request);
    g_machine.dataAddresses.push_back(srb->SRB_BufPointer);
    LoggedCommand cmd;
    cmd.aspi = true;
    cmd.adapter = srb->SRB_HaId;
    cmd.target = srb->SRB_Target;
    cmd.cdb.assign(srb->CDBByte, srb->CDBByte + std::min<int>(srb->SRB_CDBLen, 16));
    cmd.length = srb->SRB_BufLen;
    cmd.dataIn = srb->SRB_Flags == SRB_DIR_IN;
    g_machine.log.push_back(cmd);
    if (g_machine.refuseWith != 0) return g_machine.refuseWith;
    if (g_machine.neverComplete) return SS_PENDING;
    if (g_machine.completeLater) {
        g_machine.completions.emplace_back([srb] {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            CompleteSrb(srb);
        });
    } else {
        CompleteSrb(srb);
    }
    return SS_PENDING;
}

FARPROC WINAPI FakeGetProcAddress(HMODULE module, LPCSTR name) {
    g_machine.lookedUp.push_back(name);
    if (module != kAspiModule) return nullptr;
    if (std::string(name) == "SendASPI32Command" && g_machine.hasSendCommand)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&FakeSendAspi));
    if (std::string(name) == "GetASPI32SupportInfo" && g_machine.hasSupportInfo)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&FakeSupportInfo));
    return nullptr;
}

BOOL WINAPI FakeDeviceIoControl(HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) {
    g_machine.ioctlCodes.push_back(code);
    if (in != out || inSize != sizeof(PassThroughRecord) || outSize != inSize ||
        returned == nullptr || overlapped != nullptr)
        g_machine.ioctlBuffersOk = false;
    const auto* raw = static_cast<const std::uint8_t*>(in);
    g_machine.passThroughRecords.emplace_back(raw, raw + inSize);

    auto open = g_machine.openHandles.find(handle);
    if (open == g_machine.openHandles.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    auto* record = static_cast<PassThroughRecord*>(in);
    SCSI_PASS_THROUGH_DIRECT& sptd = record->sptd;
    g_machine.recordAddresses.push_back(in);
    g_machine.dataAddresses.push_back(sptd.DataBuffer);
    LoggedCommand cmd;
    cmd.handle = handle;
    cmd.cdb.assign(sptd.Cdb, sptd.Cdb + std::min<int>(sptd.CdbLength, 16));
    cmd.length = sptd.DataTransferLength;
    cmd.dataIn = sptd.DataIn == SCSI_IOCTL_DATA_IN;
    g_machine.log.push_back(cmd);

    auto found = g_machine.letterDrives.find(open->second);
    FakeDrive* drive = found == g_machine.letterDrives.end() ? nullptr : &found->second;
    Sense sense{};
    std::uint32_t moved = 0;
    if (drive != nullptr && TakeOne(drive->busy)) {
        sptd.ScsiStatus = 0x08;
        sptd.SenseInfoLength = 0;
        sptd.DataTransferLength = 0;
    } else if (Execute(drive, sptd.Cdb, static_cast<std::uint8_t*>(sptd.DataBuffer),
                       sptd.DataTransferLength, sense, moved)) {
        sptd.ScsiStatus = 0;
        sptd.SenseInfoLength = 0;
        // As the system hands it back: the length less what was not transferred.
        sptd.DataTransferLength = moved;
    } else {
        sptd.ScsiStatus = 2;
        // The sense length comes back as the number of sense bytes returned.
        const std::size_t length =
            WriteSense(static_cast<std::uint8_t*>(in) + sptd.SenseInfoOffset, sptd.SenseInfoLength,
                       sense, drive != nullptr && drive->descriptorSense);
        sptd.SenseInfoLength =
            static_cast<UCHAR>(std::min<std::size_t>(length, sptd.SenseInfoLength));
    }
    *returned = sizeof(PassThroughRecord);
    return TRUE;
}

BOOL WINAPI FakeGetVersionEx(LPOSVERSIONINFOA info) {
    if (info->dwOSVersionInfoSize != 148) return FALSE;
    info->dwPlatformId = g_machine.platformId;
    return TRUE;
}

UINT WINAPI FakeGetDriveType(LPCSTR root) {
    g_machine.driveTypeRoots.push_back(root);
    auto it = g_machine.driveTypes.find(root[0]);
    return it == g_machine.driveTypes.end() ? DRIVE_NO_ROOT_DIR : it->second;
}

HANDLE WINAPI FakeCreateFile(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                             DWORD disposition, DWORD flags, HANDLE templ) {
    g_machine.createdPaths.push_back(path);
    if (access != (GENERIC_READ | GENERIC_WRITE) || share != 3 || sa != nullptr ||
        disposition != OPEN_EXISTING || flags != 0 || templ != nullptr)
        g_machine.createArgsOk = false;
    const std::string p(path);
    if (p.size() != 6 || p.compare(0, 4, "\\\\.\\") != 0 || p[5] != ':')
        return INVALID_HANDLE_VALUE;
    const char letter = p[4];
    if (g_machine.openFails.count(letter)) return INVALID_HANDLE_VALUE;
    HANDLE handle = reinterpret_cast<HANDLE>(g_machine.nextHandle);
    g_machine.nextHandle += 0x10;
    g_machine.openHandles[handle] = letter;
    return handle;
}

BOOL WINAPI FakeCloseHandle(HANDLE handle) {
    g_machine.closedHandles.push_back(handle);
    return g_machine.openHandles.erase(handle) != 0;
}

} // namespace

FakeMachine& Machine() {
    return g_machine;
}

Bytes InquiryData(std::uint8_t type, const std::string& vendor, const std::string& product,
                  const std::string& revision) {
    Bytes data(36, 0);
    data[0] = type;
    data[4] = 31;
    auto put = [&](std::size_t at, const std::string& text, std::size_t width) {
        for (std::size_t i = 0; i < width; ++i)
            data[at + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : ' ';
    };
    put(8, vendor, 8);
    put(16, product, 16);
    put(32, revision, 4);
    return data;
}

Bytes TwoModeReply(bool high) {
    return Reply({0x00, 0x04, 0x11, 0x22, 0x33, static_cast<std::uint8_t>(high ? 0xFF : 0x00)});
}

Bytes Reply(std::initializer_list<std::uint8_t> bytes) {
    return Bytes(bytes);
}

void DriveTest::SetUp() {
    g_machine = FakeMachine{};
    ResetDriveTable();
    SetTransportSeam(FakeTransportSeam());
    SetWindowsVersionSource(&FakeGetVersionEx);
}

void DriveTest::TearDown() {
    for (auto& t : g_machine.completions)
        t.join();
    g_machine.completions.clear();
    SetTransportSeam(RealTransportSeam());
    SetWindowsVersionSource(nullptr);
    ResetDriveTable();
}

TransportSeam DriveTest::FakeTransportSeam() {
    return {&FakeLoadLibrary, &FakeLoadLibraryEx, &FakeGetProcAddress, &FakeDeviceIoControl,
            &FakeSleep,       &FakeTickCount,     kAspiWaitLimitMs};
}

DiscoverySeam DriveTest::FakeDiscoverySeam() {
    return {&FakeGetDriveType, &FakeCreateFile, &FakeCloseHandle};
}

Bytes StatusReadBytes() {
    return {0xFF, 0x07, 0xB1, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xAA};
}

Bytes ModeSetBytes(std::uint8_t value) {
    return {0xFF, 0x07, 0xB0, 0x00, 0x00, 0x00, value, 0x00, 0x00, 0x00, 0x00, 0xAA};
}

Bytes InquiryBytes() {
    return {0x12, 0x00, 0x00, 0x00, 0x24, 0x00};
}

} // namespace vt_test
