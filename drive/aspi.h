// ASPI for Win32 records as the speed panel and a WNASPI32.DLL exchange them.
// The records are packed to 1 byte, pointers keep their native width:
//   x86_64: SRB_BufPointer 16, SRB_SenseLen 24, SRB_CDBLen 25, SRB_PostProc 28,
//           CDBByte 56, SenseArea 72, 88 bytes in all;
//   i686:   CDBByte 48, SenseArea 64, 80 bytes in all.
// A DLL that serves these commands includes this header too, so both sides agree.
#pragma once

#include <windows.h>
#include <cstddef>
#include <cstdint>

namespace velotune {

// Commands (SRB_Cmd).
constexpr BYTE SC_HA_INQUIRY = 0x00;
constexpr BYTE SC_GET_DEV_TYPE = 0x01;
constexpr BYTE SC_EXEC_SCSI_CMD = 0x02;
constexpr BYTE SC_ABORT_SRB = 0x03;

// Status bytes (SRB_Status, and bits 8 to 15 of GetASPI32SupportInfo).
constexpr BYTE SS_PENDING = 0x00;
constexpr BYTE SS_COMP = 0x01;
constexpr BYTE SS_ABORTED = 0x02;
constexpr BYTE SS_ERR = 0x04;
constexpr BYTE SS_INVALID_CMD = 0x80;
constexpr BYTE SS_INVALID_HA = 0x81;
constexpr BYTE SS_NO_DEVICE = 0x82;
constexpr BYTE SS_INVALID_SRB = 0xE0;
constexpr BYTE SS_NO_ASPI = 0xE3;
constexpr BYTE SS_NO_ADAPTERS = 0xE8;

// Request flags (SRB_Flags).
constexpr BYTE SRB_POSTING = 0x01;
constexpr BYTE SRB_DIR_IN = 0x08;
constexpr BYTE SRB_DIR_OUT = 0x10;
constexpr BYTE SRB_EVENT_NOTIFY = 0x40;

constexpr BYTE SENSE_LEN = 14;
constexpr std::size_t kAspiCdbSize = 16;

#pragma pack(push, 1)
struct SRB_ExecSCSICmd {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
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
    BYTE CDBByte[kAspiCdbSize];
    BYTE SenseArea[SENSE_LEN + 2];
};
#pragma pack(pop)

static_assert(offsetof(SRB_ExecSCSICmd, SRB_Status) == 1);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Target) == 8);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufLen) == 12);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufPointer) == 16);
#if defined(_WIN64)
static_assert(offsetof(SRB_ExecSCSICmd, SRB_SenseLen) == 24);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_CDBLen) == 25);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_PostProc) == 28);
static_assert(offsetof(SRB_ExecSCSICmd, CDBByte) == 56);
static_assert(offsetof(SRB_ExecSCSICmd, SenseArea) == 72);
static_assert(sizeof(SRB_ExecSCSICmd) == 88);
#else
static_assert(offsetof(SRB_ExecSCSICmd, SRB_SenseLen) == 20);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_CDBLen) == 21);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_PostProc) == 24);
static_assert(offsetof(SRB_ExecSCSICmd, CDBByte) == 48);
static_assert(offsetof(SRB_ExecSCSICmd, SenseArea) == 64);
static_assert(sizeof(SRB_ExecSCSICmd) == 80);
#endif

// SC_ABORT_SRB: asks the layer to give up a request it still holds.
#pragma pack(push, 1)
struct SRB_Abort {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    void* SRB_ToAbort;
};
#pragma pack(pop)

static_assert(offsetof(SRB_Abort, SRB_ToAbort) == 8);
static_assert(sizeof(SRB_Abort) == 8 + sizeof(void*));

// The two entry points of WNASPI32.DLL.
using SendAspi32CommandFn = DWORD(__cdecl*)(void* srb);
using GetAspi32SupportInfoFn = DWORD(__cdecl*)();

} // namespace velotune
