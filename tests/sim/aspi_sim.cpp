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
// SS_PENDING until a worker thread completes the command. SC_ABORT_SRB is logged
// there as "abort ha=H"; the request it names still completes in its own time.
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

using velotune::SRB_Abort;
using velotune::SRB_ExecSCSICmd;

// The records this layer serves beyond the program's own (aspi.h): the host
// adapter inquiry and the device type query. All begin with the same header.
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
#pragma pack(pop)

using velotune::SC_ABORT_SRB;
using velotune::SC_EXEC_SCSI_CMD;
using velotune::SC_GET_DEV_TYPE;
using velotune::SC_HA_INQUIRY;
using velotune::SRB_DIR_IN;
using velotune::SRB_DIR_OUT;
using velotune::SRB_EVENT_NOTIFY;
using velotune::SRB_POSTING;
using velotune::SS_COMP;
using velotune::SS_ERR;
using velotune::SS_INVALID_CMD;
using velotune::SS_INVALID_HA;
using velotune::SS_NO_ADAPTERS;
using velotune::SS_NO_DEVICE;
using velotune::SS_PENDING;

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
    BYTE missing = SS_NO_DEVICE;
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

void Finish(SRB_ExecSCSICmd* srb, BYTE status) {
    // The caller polls SRB_Status: it is written last, with release ordering.
    __atomic_store_n(&srb->SRB_Status, status, __ATOMIC_RELEASE);
    if ((srb->SRB_Flags & SRB_EVENT_NOTIFY) && srb->SRB_PostProc)
        SetEvent(static_cast<HANDLE>(srb->SRB_PostProc));
    else if ((srb->SRB_Flags & SRB_POSTING) && srb->SRB_PostProc)
        reinterpret_cast<void(__cdecl*)(SRB_ExecSCSICmd*)>(srb->SRB_PostProc)(srb);
}

BYTE Execute(SRB_ExecSCSICmd* srb, const Config& config) {
    int ha = srb->SRB_HaId, id = srb->SRB_Target;
    BYTE cdbLength = srb->SRB_CDBLen;
    if (cdbLength > 16) cdbLength = 16;
    vtsim::Direction dir = vtsim::Direction::None;
    BYTE dirBits = srb->SRB_Flags & (SRB_DIR_IN | SRB_DIR_OUT);
    if (dirBits == SRB_DIR_IN)
        dir = vtsim::Direction::In;
    else if (dirBits == SRB_DIR_OUT)
        dir = vtsim::Direction::Out;
    else if (dirBits)
        dir = vtsim::Direction::Both;
    char flags[8];
    std::snprintf(flags, sizeof flags, "%02x", srb->SRB_Flags);
    std::string fields = std::string("dir=") + vtsim::DirectionName(dir) +
                         " len=" + std::to_string(srb->SRB_BufLen) + " flags=" + flags +
                         " lun=" + std::to_string(srb->SRB_Lun) +
                         " sense_len=" + std::to_string(srb->SRB_SenseLen);
    std::string where = "ha=" + std::to_string(ha) + " target=" + std::to_string(id) + " ";
    std::string cdbHex = "cdb=" + vtsim::Hex(srb->CDBByte, cdbLength) + " ";

    BYTE status;
    const Target* target = FindTarget(config, ha, id);
    if (ha >= config.adapters) {
        status = SS_INVALID_HA;
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
            status = SS_COMP;
            break;
        case vtsim::Answer::Kind::CheckCondition: {
            srb->SRB_TargStat = 0x02;
            std::size_t n = srb->SRB_SenseLen;
            if (n > sizeof srb->SenseArea) n = sizeof srb->SenseArea;
            if (n > answer.senseLength) n = answer.senseLength;
            std::memcpy(srb->SenseArea, answer.sense, n);
            status = SS_ERR;
            break;
        }
        case vtsim::Answer::Kind::Busy:
            srb->SRB_TargStat = answer.scsiStatus;
            status = SS_ERR;
            break;
        default:
            srb->SRB_HaStat = 0x11; // selection time-out
            status = SS_ERR;
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
    SRB_ExecSCSICmd* srb;
    Config config;
};

DWORD WINAPI Worker(LPVOID parameter) {
    Job* job = static_cast<Job*>(parameter);
    if (job->config.delayMs > 0) Sleep(static_cast<DWORD>(job->config.delayMs));
    BYTE status = Execute(job->srb, job->config);
    SRB_ExecSCSICmd* srb = job->srb;
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
    if (config.adapters <= 0) return static_cast<DWORD>(SS_NO_ADAPTERS) << 8;
    return (static_cast<DWORD>(SS_COMP) << 8) | static_cast<DWORD>(config.adapters & 0xFF);
}

__declspec(dllexport) DWORD __cdecl SendASPI32Command(void* request) {
    if (!request) return SS_INVALID_CMD;
    SrbHeader* header = static_cast<SrbHeader*>(request);
    Config config = ReadConfig();
    switch (header->SRB_Cmd) {
    case SC_HA_INQUIRY: {
        SrbHaInquiry* srb = static_cast<SrbHaInquiry*>(request);
        if (srb->h.SRB_HaId >= config.adapters && config.adapters > 0) {
            srb->h.SRB_Status = SS_INVALID_HA;
            return SS_INVALID_HA;
        }
        srb->HA_Count = static_cast<BYTE>(config.adapters);
        srb->HA_SCSI_ID = 7;
        std::memcpy(srb->HA_ManagerId, "VTSIM ASPI      ", 16);
        std::memcpy(srb->HA_Identifier, "VTSIM ADAPTER   ", 16);
        std::memset(srb->HA_Unique, 0, sizeof srb->HA_Unique);
        srb->h.SRB_Status = SS_COMP;
        return SS_COMP;
    }
    case SC_GET_DEV_TYPE: {
        SrbGetDevType* srb = static_cast<SrbGetDevType*>(request);
        const Target* target = FindTarget(config, srb->h.SRB_HaId, srb->SRB_Target);
        int type = target && srb->SRB_Lun == 0 ? vtsim::DeviceType(target->drive) : -1;
        if (srb->h.SRB_HaId >= config.adapters)
            srb->h.SRB_Status = SS_INVALID_HA;
        else if (type < 0)
            srb->h.SRB_Status = SS_NO_DEVICE;
        else {
            srb->SRB_DeviceType = static_cast<BYTE>(type);
            srb->h.SRB_Status = SS_COMP;
        }
        return srb->h.SRB_Status;
    }
    case SC_EXEC_SCSI_CMD: {
        SRB_ExecSCSICmd* srb = static_cast<SRB_ExecSCSICmd*>(request);
        srb->SRB_Status = SS_PENDING;
        Job* job = new Job{srb, config};
        HANDLE thread = CreateThread(nullptr, 0, Worker, job, 0, nullptr);
        if (!thread) {
            delete job;
            BYTE status = Execute(srb, config);
            Finish(srb, status);
            return status;
        }
        CloseHandle(thread);
        return SS_PENDING;
    }
    case SC_ABORT_SRB: {
        // Logged only: the request goes on and completes in its own time, as
        // a layer that cannot stop a command in flight would do.
        SRB_Abort* srb = static_cast<SRB_Abort*>(request);
        char text[64];
        std::snprintf(text, sizeof text, "abort ha=%d", srb->SRB_HaId);
        vtsim::AppendLine(config.path + ".log", text);
        srb->SRB_Status = SS_COMP;
        return SS_COMP;
    }
    default:
        header->SRB_Status = SS_INVALID_CMD;
        return SS_INVALID_CMD;
    }
}

} // extern "C"
