// SCSI command transport: ASPI for Win32 on the 95 family, direct SCSI
// pass-through on the NT family. The pass-through record lives on the stack of
// the send function and the data moves straight to the caller's buffer. An
// ASPI request lives in storage of the transport's own, because the layer
// completes it on its own time, perhaps after the transport has given up.
#include "drive/transport.h"

#include "common/windowsfamily.h"

#include "drive/aspi.h"
#include "drive/drivecommands.h"
#include "drive/passthrough.h"
#include "drive/retry.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

namespace velotune {
namespace {

constexpr std::size_t kMaxCdbLength = 16;

// Looks at the status of a pending ASPI request: the first ones only give up
// the rest of the time slice, later ones sleep.
constexpr unsigned kAspiQuickLooks = 64;
constexpr DWORD kAspiLookPauseMs = 1;

const TransportSeam kRealSeam = {&LoadLibraryA, &LoadLibraryExA, &GetProcAddress, &DeviceIoControl,
                                 &Sleep,        &GetTickCount,   kAspiWaitLimitMs};

TransportSeam g_seam = kRealSeam;
DriveTable g_table;

// The pause between tries, through the seam.
auto Sleeper() {
    return [](unsigned milliseconds) { g_seam.sleep(static_cast<DWORD>(milliseconds)); };
}

// A failed command's sense key, ASC and ASCQ go into the caller's buffer at
// the places fixed-format sense data has them.
void FoldSense(const SenseCode& sense, std::uint8_t* data) {
    constexpr std::size_t kKeyByte = 2, kAscByte = 12, kAscqByte = 13;
    data[kKeyByte] = sense.key;
    data[kAscByte] = sense.asc;
    data[kAscqByte] = sense.ascq;
}

// One ASPI request with its data, aligned for the adapter. A request that was
// given up keeps its storage for the rest of the run: the layer may still
// write into it.
struct alignas(kBufferAlignment) AspiRequest {
    SRB_ExecSCSICmd srb;
    SRB_Abort abort;
    alignas(kBufferAlignment) std::uint8_t data[kAspiMaxTransfer];
};

AspiRequest g_firstAspiRequest;
AspiRequest* g_aspiRequest = &g_firstAspiRequest;

// Leaves the current request to the layer and takes fresh storage for the next.
// Page-granular memory is aligned whatever the heap of the build promises.
void RetireAspiRequest() {
    void* fresh =
        VirtualAlloc(nullptr, sizeof(AspiRequest), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    g_aspiRequest = fresh ? new (fresh) AspiRequest : nullptr;
}

// Sends one ASPI request and waits for it. The data buffer is copied into the
// request's own storage and back, so bytes the drive does not write keep the
// caller's values.
BYTE AspiExecuteOnce(BYTE hostAdapterId, BYTE targetId, const std::uint8_t* cdb,
                     std::uint8_t cdbLength, std::uint8_t* data, std::uint32_t dataLength,
                     std::uint8_t direction, SenseCode& sense) {
    AspiRequest* request = g_aspiRequest;
    if (request == nullptr) return SS_ABORTED; // no storage left after a give-up
    SRB_ExecSCSICmd& srb = request->srb;
    std::memset(&srb, 0, sizeof srb);
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_HaId = hostAdapterId;
    srb.SRB_Flags = direction == 0 ? SRB_DIR_IN : SRB_DIR_OUT;
    srb.SRB_Target = targetId;
    srb.SRB_Lun = 0;
    srb.SRB_BufLen = dataLength;
    srb.SRB_BufPointer = request->data;
    srb.SRB_SenseLen = SENSE_LEN;
    srb.SRB_CDBLen = cdbLength;
    for (std::uint8_t i = 0; i < cdbLength; ++i)
        srb.CDBByte[i] = cdb[i];
    if (dataLength != 0) std::memcpy(request->data, data, dataLength);

    auto send =
        reinterpret_cast<SendAspi32CommandFn>(reinterpret_cast<void*>(g_table.sendAspi32Command));
    const DWORD accepted = send(&srb);

    // The ASPI layer completes the request on its own time: read the status
    // from memory on every look. The acquire load also orders the reads of the
    // sense area and the data after the completion.
    std::atomic_ref<BYTE> status(srb.SRB_Status);
    BYTE result;
    if (accepted != SS_PENDING && accepted != SS_COMP) {
        result = static_cast<BYTE>(accepted); // refused: nothing is pending
    } else {
        const DWORD start = g_seam.tickCount();
        for (unsigned looks = 0; (result = status.load(std::memory_order_acquire)) == SS_PENDING;
             ++looks) {
            if (g_seam.tickCount() - start >= g_seam.aspiWaitLimitMs) {
                SRB_Abort& abort = request->abort;
                std::memset(&abort, 0, sizeof abort);
                abort.SRB_Cmd = SC_ABORT_SRB;
                abort.SRB_HaId = hostAdapterId;
                abort.SRB_ToAbort = &srb;
                send(&abort);
                RetireAspiRequest();
                return SS_ABORTED;
            }
            g_seam.sleep(looks < kAspiQuickLooks ? 0 : kAspiLookPauseMs);
        }
    }

    if (dataLength != 0) std::memcpy(data, request->data, dataLength);
    sense = SenseCode{};
    if (result == SS_ERR) ParseSense(srb.SenseArea, SENSE_LEN, sense);
    return result;
}

int PassThroughExecuteOnce(HANDLE handle, const std::uint8_t* cdb, std::uint8_t cdbLength,
                           std::uint8_t* data, std::uint32_t dataLength, std::uint8_t direction,
                           PassThroughReport& report) {
    report = PassThroughReport{};
    PassThroughRecord record;
    std::memset(&record, 0, sizeof record);
    SCSI_PASS_THROUGH_DIRECT& sptd = record.sptd;
    sptd.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
    sptd.PathId = 0;
    sptd.TargetId = kPassThroughTargetId;
    sptd.Lun = 0;
    sptd.CdbLength = cdbLength;
    sptd.SenseInfoLength = kPassThroughSenseInfoLength;
    sptd.DataIn = direction == 0 ? SCSI_IOCTL_DATA_IN : SCSI_IOCTL_DATA_OUT;
    sptd.DataTransferLength = dataLength;
    sptd.TimeOutValue = kPassThroughTimeoutSeconds;
    sptd.DataBuffer = data;
    sptd.SenseInfoOffset = offsetof(PassThroughRecord, sense);
    for (std::uint8_t i = 0; i < cdbLength; ++i)
        sptd.Cdb[i] = cdb[i];

    DWORD returned = 0;
    if (!g_seam.deviceIoControl(handle, IOCTL_SCSI_PASS_THROUGH_DIRECT, &record, sizeof record,
                                &record, sizeof record, &returned, nullptr))
        return -1;
    report.scsiStatus = sptd.ScsiStatus;
    // The call hands back how many sense bytes came, never more than were asked for.
    report.senseLength = sptd.SenseInfoLength < kPassThroughSenseInfoLength
                             ? sptd.SenseInfoLength
                             : kPassThroughSenseInfoLength;
    report.hasSense = ParseSense(record.sense, report.senseLength, report.sense);
    std::memcpy(report.senseData, record.sense,
                std::min<std::size_t>(report.senseLength, sizeof report.senseData));
    if (sptd.ScsiStatus == kScsiGood) {
        // The length less what the drive left untransferred.
        report.transferred =
            sptd.DataTransferLength < dataLength ? sptd.DataTransferLength : dataLength;
        return kResultOk;
    }
    return kResultError;
}

} // namespace

const TransportSeam& RealTransportSeam() {
    return kRealSeam;
}

const TransportSeam& CurrentTransportSeam() {
    return g_seam;
}

void SetTransportSeam(const TransportSeam& seam) {
    g_seam = seam;
}

const DriveTable& CurrentDriveTable() {
    return g_table;
}

void ResetDriveTable() {
    g_table = DriveTable{};
}

int LoadAspi() {
    // The NT family runs the panel elevated: a library from its own folder, or
    // from any folder but the system's, must never be taken. The 95 family
    // knows neither elevation nor the flag, and finds the layer the usual way.
    HMODULE module =
        IsNtFamily() ? g_seam.loadLibraryEx("WNASPI32.DLL", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)
                     : g_seam.loadLibrary("WNASPI32.DLL");
    if (module == nullptr) return 0;
    // The library stays loaded for the rest of the run.
    g_table.sendAspi32Command = g_seam.getProcAddress(module, "SendASPI32Command");
    g_table.getAspi32SupportInfo = g_seam.getProcAddress(module, "GetASPI32SupportInfo");
    if (g_table.sendAspi32Command == nullptr || g_table.getAspi32SupportInfo == nullptr) return 0;

    auto supportInfo = reinterpret_cast<GetAspi32SupportInfoFn>(
        reinterpret_cast<void*>(g_table.getAspi32SupportInfo));
    const DWORD info = supportInfo();
    const int adapters = static_cast<int>(info & 0xFF);
    const BYTE status = static_cast<BYTE>((info >> 8) & 0xFF);
    return (adapters != 0 && status == SS_COMP) ? adapters : 0;
}

void SetDriveTable(int ntFlag, const std::uint8_t targetIds[kMaxAspiDrives],
                   const std::uint8_t hostAdapterIds[kMaxAspiDrives],
                   const HANDLE handles[kMaxNtDrives]) {
    g_table.ntFlag = ntFlag;
    std::memcpy(g_table.targetIds, targetIds, sizeof g_table.targetIds);
    std::memcpy(g_table.hostAdapterIds, hostAdapterIds, sizeof g_table.hostAdapterIds);
    for (int i = 0; i < kMaxNtDrives; ++i)
        g_table.handles[i] = handles[i];
}

std::uint8_t SendDriveCommand(int position, const std::uint8_t* cdb, std::uint8_t cdbLength,
                              std::uint8_t* data, std::uint32_t dataLength, std::uint8_t direction,
                              std::uint32_t* transferred) {
    if (transferred != nullptr) *transferred = 0;
    if (g_table.ntFlag != 0) {
        if (position < 0 || position >= kMaxNtDrives) return kResultIoFailed;
        return static_cast<std::uint8_t>(PassThroughExecute(
            g_table.handles[position], cdb, cdbLength, data, dataLength, direction, transferred));
    }
    if (position < 0 || position >= kMaxAspiDrives) return kResultIoFailed;
    return AspiExecute(g_table.hostAdapterIds[position], g_table.targetIds[position], cdb,
                       cdbLength, data, dataLength, direction, transferred);
}

std::uint8_t AspiExecute(std::uint8_t hostAdapterId, std::uint8_t targetId, const std::uint8_t* cdb,
                         std::uint8_t cdbLength, std::uint8_t* data, std::uint32_t dataLength,
                         std::uint8_t direction, std::uint32_t* transferred) {
    if (transferred != nullptr) *transferred = 0;
    if (cdbLength == 0 || cdbLength > kMaxCdbLength || dataLength > kAspiMaxTransfer)
        return SS_INVALID_SRB;
    if (g_table.sendAspi32Command == nullptr) return SS_NO_ASPI;

    BYTE result;
    SenseCode sense;
    SendWithRetries(
        [&] {
            result = AspiExecuteOnce(hostAdapterId, targetId, cdb, cdbLength, data, dataLength,
                                     direction, sense);
            return TryOutcome{result == SS_ERR, sense};
        },
        Sleeper());
    if (result == SS_ERR) FoldSense(sense, data);
    // ASPI reports no residue: a completed request counts as complete.
    if (result == SS_COMP && transferred != nullptr) *transferred = dataLength;
    return result;
}

int PassThroughCommand(HANDLE handle, const std::uint8_t* cdb, std::uint8_t cdbLength,
                       std::uint8_t* data, std::uint32_t dataLength, std::uint8_t direction,
                       PassThroughReport& report) {
    report = PassThroughReport{};
    if (cdbLength == 0 || cdbLength > kMaxCdbLength) return -1;

    int result;
    SendWithRetries(
        [&] {
            result =
                PassThroughExecuteOnce(handle, cdb, cdbLength, data, dataLength, direction, report);
            return TryOutcome{result == kResultError, report.sense};
        },
        Sleeper());
    if (result == kResultError) FoldSense(report.sense, data);
    return result;
}

int PassThroughCommandOnce(HANDLE handle, const std::uint8_t* cdb, std::uint8_t cdbLength,
                           std::uint8_t* data, std::uint32_t dataLength, std::uint8_t direction,
                           PassThroughReport& report) {
    report = PassThroughReport{};
    if (cdbLength == 0 || cdbLength > kMaxCdbLength) return -1;
    return PassThroughExecuteOnce(handle, cdb, cdbLength, data, dataLength, direction, report);
}

int PassThroughExecute(HANDLE handle, const std::uint8_t* cdb, std::uint8_t cdbLength,
                       std::uint8_t* data, std::uint32_t dataLength, std::uint8_t direction,
                       std::uint32_t* transferred) {
    PassThroughReport report;
    const int result =
        PassThroughCommand(handle, cdb, cdbLength, data, dataLength, direction, report);
    if (transferred != nullptr) *transferred = report.transferred;
    return result;
}

} // namespace velotune
