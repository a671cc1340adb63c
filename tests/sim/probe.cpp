// vtsim_probe: shows what the Windows side sees of the simulated drives.
//   vtsim_probe nt LETTER           GetDriveTypeA, CreateFileA and one status read by
//                                   IOCTL_SCSI_PASS_THROUGH_DIRECT
//   vtsim_probe aspi HA TARGET      GetASPI32SupportInfo and one status read by ASPI
// Prints key=value lines; exit code 0 when the status read completed.
#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const unsigned char kStatusRead[12] = {0xFF, 0x07, 0xB1, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xAA};

void PrintReply(const unsigned char* reply, int n) {
    std::printf("reply=");
    for (int i = 0; i < n; ++i)
        std::printf("%02x", reply[i]);
    std::printf("\n");
}

int ProbeNt(char letter) {
    char root[3] = {letter, ':', 0};
    UINT type = GetDriveTypeA(root);
    std::printf("drive_type=%u\n", type);
    char path[8] = {'\\', '\\', '.', '\\', letter, ':', 0};
    HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    std::printf("open=%d error=%lu\n", h != INVALID_HANDLE_VALUE ? 1 : 0,
                h == INVALID_HANDLE_VALUE ? GetLastError() : 0ul);
    if (h == INVALID_HANDLE_VALUE) return 2;
    struct {
        SCSI_PASS_THROUGH_DIRECT spt;
        ULONG filler;
        UCHAR sense[32];
    } record = {};
    unsigned char reply[255] = {};
    record.spt.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
    record.spt.CdbLength = 12;
    record.spt.SenseInfoLength = 24;
    record.spt.DataIn = SCSI_IOCTL_DATA_IN;
    record.spt.DataTransferLength = sizeof reply;
    record.spt.TimeOutValue = 60;
    record.spt.DataBuffer = reply;
    record.spt.SenseInfoOffset = offsetof(decltype(record), sense);
    std::memcpy(record.spt.Cdb, kStatusRead, 12);
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(h, IOCTL_SCSI_PASS_THROUGH_DIRECT, &record, sizeof record, &record,
                              sizeof record, &returned, nullptr);
    std::printf("ioctl=%d error=%lu scsi_status=%u sense=%02x/%02x/%02x\n", ok ? 1 : 0,
                ok ? 0ul : GetLastError(), record.spt.ScsiStatus, record.sense[2], record.sense[12],
                record.sense[13]);
    PrintReply(reply, 16);
    CloseHandle(h);
    return ok && record.spt.ScsiStatus == 0 ? 0 : 1;
}

#pragma pack(push, 1)
struct ExecSrb {
    BYTE cmd, status, ha, flags;
    DWORD rsvd;
    BYTE target, lun;
    WORD rsvd1;
    DWORD bufLen;
    BYTE* buf;
    BYTE senseLen, cdbLen, haStat, targStat;
    void* postProc;
    BYTE rsvd2[20];
    BYTE cdb[16];
    BYTE sense[16];
};
#pragma pack(pop)

int ProbeAspi(int ha, int target) {
    HMODULE dll = LoadLibraryA("WNASPI32.DLL");
    char name[MAX_PATH] = "";
    if (dll) GetModuleFileNameA(dll, name, sizeof name);
    std::printf("aspi=%d module=%s\n", dll ? 1 : 0, name);
    if (!dll) return 2;
    auto support = reinterpret_cast<DWORD(__cdecl*)()>(
        reinterpret_cast<void*>(GetProcAddress(dll, "GetASPI32SupportInfo")));
    auto send = reinterpret_cast<DWORD(__cdecl*)(void*)>(
        reinterpret_cast<void*>(GetProcAddress(dll, "SendASPI32Command")));
    if (!support || !send) return 2;
    std::printf("support=0x%04lx\n", support());
    ExecSrb srb = {};
    unsigned char reply[255] = {};
    srb.cmd = 2;
    srb.ha = static_cast<BYTE>(ha);
    srb.target = static_cast<BYTE>(target);
    srb.flags = 0x08;
    srb.bufLen = sizeof reply;
    srb.buf = reply;
    srb.senseLen = 14;
    srb.cdbLen = 12;
    std::memcpy(srb.cdb, kStatusRead, 12);
    send(&srb);
    unsigned long polls = 0;
    while (__atomic_load_n(&srb.status, __ATOMIC_ACQUIRE) == 0)
        ++polls;
    std::printf("srb_status=0x%02x polls=%s sense=%02x/%02x/%02x\n", srb.status,
                polls ? "some" : "none", srb.sense[2], srb.sense[12], srb.sense[13]);
    PrintReply(reply, 16);
    return srb.status == 1 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "nt") == 0) return ProbeNt(argv[2][0]);
    if (argc >= 4 && std::strcmp(argv[1], "aspi") == 0)
        return ProbeAspi(std::atoi(argv[2]), std::atoi(argv[3]));
    std::fprintf(stderr, "usage: vtsim_probe nt LETTER | aspi HA TARGET\n");
    return 2;
}
