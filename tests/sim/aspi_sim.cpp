// A simulated ASPI for Win32 layer (WNASPI32.DLL) for the 95-family path.
//
// Configuration: the file named by the environment variable VTSIM_ASPI_CONFIG, or
// WNASPI32.ini beside this DLL, read again on every call. Lines:
//   adapters=N               number of host adapters (default 1)
//   support=0xSSCC           raw GetASPI32SupportInfo result (overrides adapters)
//   delay_ms=N               time until a command completes (default 1)
//   missing=0xSS             SRB_Status for an absent target (default 0x82 SS_NO_DEVICE)
//   target=H:T FILE          a device at host adapter H, target T: a drive file
//                            (see simdrive.h); Unix paths are reached through Z:
// Every SC_EXEC_SCSI_CMD is logged to <config>.log ("ha=H target=T cdb=..."), and
// to the drive file's own log like the SG_IO emulator does. SRB_Status stays
// SS_PENDING until a worker thread completes the command.
#include "simdrive.h"

#include "drive/aspi.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

#pragma pack(push, 1)
struct SrbHeader {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
};

struct SrbHaInquiry {
    SrbHeader h;
    BYTE HA_Count;
    BYTE HA_SCSI_ID;
    BYTE HA_ManagerId[16];
    BYTE HA_Identifier[16];
    BYTE HA_Unique[16];
    WORD HA_Rsvd1;
};

struct SrbGetDevType {
    SrbHeader h;
    BYTE SRB_Target;
    BYTE SRB_Lun;
    BYTE SRB_DeviceType;
    BYTE SRB_Rsvd1;
};

struct SrbExecScsiCmd {
    SrbHeader h;
    BYTE SRB_Target;
    BYTE SRB_Lun;
    WORD SRB_Rsvd1;
    DWORD SRB_BufLen;
    BYTE* SRB_BufPointer;
    BYTE SRB_SenseLen;
    BYTE SRB_CDBLen;
    BYTE SRB_HaStat;
    BYTE SRB_TargStat;
    void* SRB_PostProc;
    BYTE SRB_Rsvd2[20];
    BYTE CDBByte[16];
    BYTE SenseArea[16];
};
#pragma pack(pop)

// Same layout as the program's own record.
static_assert(sizeof(SrbExecScsiCmd) == sizeof(velotune::SRB_ExecSCSICmd));
static_assert(offsetof(SrbExecScsiCmd, SRB_BufPointer) ==
              offsetof(velotune::SRB_ExecSCSICmd, SRB_BufPointer));
static_assert(offsetof(SrbExecScsiCmd, SRB_SenseLen) ==
              offsetof(velotune::SRB_ExecSCSICmd, SRB_SenseLen));
static_assert(offsetof(SrbExecScsiCmd, SRB_CDBLen) ==
              offsetof(velotune::SRB_ExecSCSICmd, SRB_CDBLen));
static_assert(offsetof(SrbExecScsiCmd, SRB_PostProc) ==
              offsetof(velotune::SRB_ExecSCSICmd, SRB_PostProc));
static_assert(offsetof(SrbExecScsiCmd, CDBByte) == offsetof(velotune::SRB_ExecSCSICmd, CDBByte));
static_assert(offsetof(SrbExecScsiCmd, SenseArea) ==
              offsetof(velotune::SRB_ExecSCSICmd, SenseArea));
#ifdef _WIN64
static_assert(offsetof(SrbExecScsiCmd, SRB_BufPointer) == 16);
static_assert(offsetof(SrbExecScsiCmd, SRB_SenseLen) == 24);
static_assert(offsetof(SrbExecScsiCmd, SRB_CDBLen) == 25);
static_assert(offsetof(SrbExecScsiCmd, SRB_PostProc) == 28);
static_assert(offsetof(SrbExecScsiCmd, CDBByte) == 56);
static_assert(offsetof(SrbExecScsiCmd, SenseArea) == 72);
static_assert(sizeof(SrbExecScsiCmd) == 88);
#else
static_assert(offsetof(SrbExecScsiCmd, CDBByte) == 48);
static_assert(offsetof(SrbExecScsiCmd, SenseArea) == 64);
static_assert(sizeof(SrbExecScsiCmd) == 80);
#endif

constexpr BYTE kScHaInquiry = 0x00;
constexpr BYTE kScGetDevType = 0x01;
constexpr BYTE kScExecScsiCmd = 0x02;
constexpr BYTE kSsPending = 0x00;
constexpr BYTE kSsComp = 0x01;
constexpr BYTE kSsErr = 0x04;
constexpr BYTE kSsInvalidCmd = 0x80;
constexpr BYTE kSsInvalidHa = 0x81;
constexpr BYTE kSsNoDevice = 0x82;
constexpr BYTE kSsNoAdapters = 0xE8;
constexpr BYTE kSrbDirIn = 0x08;
constexpr BYTE kSrbDirOut = 0x10;
constexpr BYTE kSrbPosting = 0x01;
constexpr BYTE kSrbEventNotify = 0x40;

HMODULE g_module;

std::string WindowsPath(std::string path) {
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

struct Target {
    int ha = 0;
    int id = 0;
    std::string drive;
};

struct Config {
    std::string path;
    int adapters = 1;
    long support = -1;
    int delayMs = 1;
    BYTE missing = kSsNoDevice;
    std::vector<Target> targets;
};

std::string ConfigPath() {
    char value[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("VTSIM_ASPI_CONFIG", value, sizeof value);
    if (n > 0 && n < sizeof value) return WindowsPath(value);
    char self[MAX_PATH];
    n = GetModuleFileNameA(g_module, self, sizeof self);
    std::string path(self, n);
    std::size_t slash = path.find_last_of("\\/");
    return (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) +
           "WNASPI32.ini";
}

Config ReadConfig() {
    Config config;
    config.path = ConfigPath();
    std::FILE* f = std::fopen(config.path.c_str(), "rb");
    if (!f) return config;
    char line[1024];
    while (std::fgets(line, sizeof line, f)) {
        std::string s(line);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' '))
            s.pop_back();
        std::size_t eq = s.find('=');
        if (s.empty() || s[0] == '#' || eq == std::string::npos) continue;
        std::string key = s.substr(0, eq), value = s.substr(eq + 1);
        if (key == "adapters")
            config.adapters = std::atoi(value.c_str());
        else if (key == "support")
            config.support = std::strtol(value.c_str(), nullptr, 0);
        else if (key == "delay_ms")
            config.delayMs = std::atoi(value.c_str());
        else if (key == "missing")
            config.missing = static_cast<BYTE>(std::strtol(value.c_str(), nullptr, 0));
        else if (key == "target") {
            Target t;
            std::size_t colon = value.find(':'), space = value.find(' ');
            if (colon == std::string::npos || space == std::string::npos) continue;
            t.ha = std::atoi(value.substr(0, colon).c_str());
            t.id = std::atoi(value.substr(colon + 1, space - colon - 1).c_str());
            std::size_t start = value.find_first_not_of(' ', space);
            t.drive = WindowsPath(start == std::string::npos ? "" : value.substr(start));
            config.targets.push_back(t);
        }
    }
    std::fclose(f);
    return config;
}

const Target* FindTarget(const Config& config, int ha, int id) {
    for (const Target& t : config.targets)
        if (t.ha == ha && t.id == id) return &t;
    return nullptr;
}

void Finish(SrbExecScsiCmd* srb, BYTE status) {
    // The caller polls SRB_Status: it is written last, with release ordering.
    __atomic_store_n(&srb->h.SRB_Status, status, __ATOMIC_RELEASE);
    if ((srb->h.SRB_Flags & kSrbEventNotify) && srb->SRB_PostProc)
        SetEvent(static_cast<HANDLE>(srb->SRB_PostProc));
    else if ((srb->h.SRB_Flags & kSrbPosting) && srb->SRB_PostProc)
        reinterpret_cast<void(__cdecl*)(SrbExecScsiCmd*)>(srb->SRB_PostProc)(srb);
}

BYTE Execute(SrbExecScsiCmd* srb, const Config& config) {
    int ha = srb->h.SRB_HaId, id = srb->SRB_Target;
    BYTE cdbLength = srb->SRB_CDBLen;
    if (cdbLength > 16) cdbLength = 16;
    vtsim::Direction dir = vtsim::Direction::None;
    BYTE dirBits = srb->h.SRB_Flags & (kSrbDirIn | kSrbDirOut);
    if (dirBits == kSrbDirIn)
        dir = vtsim::Direction::In;
    else if (dirBits == kSrbDirOut)
        dir = vtsim::Direction::Out;
    else if (dirBits)
        dir = vtsim::Direction::Both;
    char flags[8];
    std::snprintf(flags, sizeof flags, "%02x", srb->h.SRB_Flags);
    std::string fields = std::string("dir=") + vtsim::DirectionName(dir) +
                         " len=" + std::to_string(srb->SRB_BufLen) + " flags=" + flags +
                         " lun=" + std::to_string(srb->SRB_Lun) +
                         " sense_len=" + std::to_string(srb->SRB_SenseLen);
    std::string where = "ha=" + std::to_string(ha) + " target=" + std::to_string(id) + " ";
    std::string cdbHex = "cdb=" + vtsim::Hex(srb->CDBByte, cdbLength) + " ";

    BYTE status;
    const Target* target = FindTarget(config, ha, id);
    if (ha >= config.adapters) {
        status = kSsInvalidHa;
    } else if (!target || srb->SRB_Lun != 0) {
        status = config.missing;
    } else {
        vtsim::Command command;
        command.cdb = srb->CDBByte;
        command.cdbLength = cdbLength;
        command.direction = dir;
        command.data = srb->SRB_BufPointer;
        command.dataLength = srb->SRB_BufLen;
        vtsim::Answer answer = vtsim::Execute(target->drive, command, where + fields);
        switch (answer.kind) {
        case vtsim::Answer::Kind::Good:
            srb->SRB_TargStat = 0;
            status = kSsComp;
            break;
        case vtsim::Answer::Kind::CheckCondition: {
            srb->SRB_TargStat = 0x02;
            std::size_t n = srb->SRB_SenseLen;
            if (n > sizeof srb->SenseArea) n = sizeof srb->SenseArea;
            if (n > sizeof answer.sense) n = sizeof answer.sense;
            std::memcpy(srb->SenseArea, answer.sense, n);
            status = kSsErr;
            break;
        }
        default:
            srb->SRB_HaStat = 0x11; // selection time-out
            status = kSsErr;
            break;
        }
    }
    char statusText[8];
    std::snprintf(statusText, sizeof statusText, "%02x", status);
    vtsim::AppendLine(config.path + ".log",
                      where + cdbHex + fields + " status=" + std::string(statusText));
    return status;
}

struct Job {
    SrbExecScsiCmd* srb;
    Config config;
};

DWORD WINAPI Worker(LPVOID parameter) {
    Job* job = static_cast<Job*>(parameter);
    if (job->config.delayMs > 0) Sleep(static_cast<DWORD>(job->config.delayMs));
    BYTE status = Execute(job->srb, job->config);
    SrbExecScsiCmd* srb = job->srb;
    delete job;
    Finish(srb, status);
    return 0;
}

} // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_module = instance;
    return TRUE;
}

__declspec(dllexport) DWORD __cdecl GetASPI32SupportInfo(void) {
    Config config = ReadConfig();
    if (config.support >= 0) return static_cast<DWORD>(config.support);
    if (config.adapters <= 0) return static_cast<DWORD>(kSsNoAdapters) << 8;
    return (static_cast<DWORD>(kSsComp) << 8) | static_cast<DWORD>(config.adapters & 0xFF);
}

__declspec(dllexport) DWORD __cdecl SendASPI32Command(void* request) {
    if (!request) return kSsInvalidCmd;
    SrbHeader* header = static_cast<SrbHeader*>(request);
    Config config = ReadConfig();
    switch (header->SRB_Cmd) {
    case kScHaInquiry: {
        SrbHaInquiry* srb = static_cast<SrbHaInquiry*>(request);
        if (srb->h.SRB_HaId >= config.adapters && config.adapters > 0) {
            srb->h.SRB_Status = kSsInvalidHa;
            return kSsInvalidHa;
        }
        srb->HA_Count = static_cast<BYTE>(config.adapters);
        srb->HA_SCSI_ID = 7;
        std::memcpy(srb->HA_ManagerId, "VTSIM ASPI      ", 16);
        std::memcpy(srb->HA_Identifier, "VTSIM ADAPTER   ", 16);
        std::memset(srb->HA_Unique, 0, sizeof srb->HA_Unique);
        srb->h.SRB_Status = kSsComp;
        return kSsComp;
    }
    case kScGetDevType: {
        SrbGetDevType* srb = static_cast<SrbGetDevType*>(request);
        const Target* target = FindTarget(config, srb->h.SRB_HaId, srb->SRB_Target);
        int type = target && srb->SRB_Lun == 0 ? vtsim::DeviceType(target->drive) : -1;
        if (srb->h.SRB_HaId >= config.adapters)
            srb->h.SRB_Status = kSsInvalidHa;
        else if (type < 0)
            srb->h.SRB_Status = kSsNoDevice;
        else {
            srb->SRB_DeviceType = static_cast<BYTE>(type);
            srb->h.SRB_Status = kSsComp;
        }
        return srb->h.SRB_Status;
    }
    case kScExecScsiCmd: {
        SrbExecScsiCmd* srb = static_cast<SrbExecScsiCmd*>(request);
        srb->h.SRB_Status = kSsPending;
        Job* job = new Job{srb, config};
        HANDLE thread = CreateThread(nullptr, 0, Worker, job, 0, nullptr);
        if (!thread) {
            delete job;
            BYTE status = Execute(srb, config);
            Finish(srb, status);
            return status;
        }
        CloseHandle(thread);
        return kSsPending;
    }
    default:
        header->SRB_Status = kSsInvalidCmd;
        return kSsInvalidCmd;
    }
}

} // extern "C"
