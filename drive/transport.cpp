// SCSI command transport: ASPI for Win32 on the 95 family, direct SCSI
// pass-through on the NT family. Every request record lives on the stack of
// the send function; command blocks and data buffers belong to the caller.
#include "drive/transport.h"

#include "drive/aspi.h"
#include "drive/drivecommands.h"
#include "drive/passthrough.h"

#include <atomic>
#include <cstring>

namespace velotune {
namespace {

constexpr std::size_t kMaxCdbLength = 16;
// Sense bytes folded into the caller's data buffer: key, ASC, ASCQ.
constexpr std::size_t kSenseKeyByte = 2;
constexpr std::size_t kSenseAscByte = 12;
constexpr std::size_t kSenseAscqByte = 13;

const TransportSeam kRealSeam = {&LoadLibraryA, &GetProcAddress, &DeviceIoControl};

TransportSeam g_seam = kRealSeam;
DriveTable g_table;

void FoldSense(const BYTE* sense, std::uint8_t* data) {
    data[kSenseKeyByte] = sense[kSenseKeyByte];
    data[kSenseAscByte] = sense[kSenseAscByte];
    data[kSenseAscqByte] = sense[kSenseAscqByte];
}

} // namespace

const TransportSeam& RealTransportSeam() {
    return kRealSeam;
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
    HMODULE module = g_seam.loadLibrary("WNASPI32.DLL");
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
                              std::uint8_t* data, std::uint32_t dataLength,
                              std::uint8_t direction) {
    if (g_table.ntFlag != 0) {
        if (position < 0 || position >= kMaxNtDrives) return kResultIoFailed;
        return static_cast<std::uint8_t>(PassThroughExecute(
            g_table.handles[position], cdb, cdbLength, data, dataLength, direction));
    }
    if (position < 0 || position >= kMaxAspiDrives) return kResultIoFailed;
    return AspiExecute(g_table.hostAdapterIds[position], g_table.targetIds[position], cdb,
                       cdbLength, data, dataLength, direction);
}

std::uint8_t AspiExecute(std::uint8_t hostAdapterId, std::uint8_t targetId, const std::uint8_t* cdb,
                         std::uint8_t cdbLength, std::uint8_t* data, std::uint32_t dataLength,
                         std::uint8_t direction) {
    if (cdbLength == 0 || cdbLength > kMaxCdbLength) return SS_INVALID_SRB;
    if (g_table.sendAspi32Command == nullptr) return SS_NO_ASPI;

    SRB_ExecSCSICmd srb;
    std::memset(&srb, 0, sizeof srb);
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_HaId = hostAdapterId;
    srb.SRB_Flags = direction == 0 ? SRB_DIR_IN : SRB_DIR_OUT;
    srb.SRB_Target = targetId;
    srb.SRB_Lun = 0;
    srb.SRB_BufLen = dataLength;
    srb.SRB_BufPointer = data;
    srb.SRB_SenseLen = SENSE_LEN;
    srb.SRB_CDBLen = cdbLength;
    for (std::uint8_t i = 0; i < cdbLength; ++i)
        srb.CDBByte[i] = cdb[i];

    auto send =
        reinterpret_cast<SendAspi32CommandFn>(reinterpret_cast<void*>(g_table.sendAspi32Command));
    send(&srb);

    // The ASPI layer completes the request on its own time: read the status
    // from memory on every pass. The acquire load also orders the reads of the
    // sense area and the caller's data after the completion.
    std::atomic_ref<BYTE> status(srb.SRB_Status);
    BYTE result;
    while ((result = status.load(std::memory_order_acquire)) == SS_PENDING) {
    }

    if (result == SS_ERR) FoldSense(srb.SenseArea, data);
    return result;
}

int PassThroughExecute(HANDLE handle, const std::uint8_t* cdb, std::uint8_t cdbLength,
                       std::uint8_t* data, std::uint32_t dataLength, std::uint8_t direction) {
    if (cdbLength == 0 || cdbLength > kMaxCdbLength) return -1;

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
    if (sptd.ScsiStatus == 0) return kResultOk;
    FoldSense(record.sense, data);
    return kResultError;
}

} // namespace velotune
