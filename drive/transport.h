// Carries SCSI command blocks to a drive through ASPI (95 family) or SCSI
// pass-through (NT family). Module-level state, no exceptions, result bytes
// where 0x01 means success.
#pragma once

#include "drive/drivecommands.h"

#include <windows.h>
#include <cstdint>

namespace velotune {

constexpr int kMaxNtDrives = 26;
constexpr int kMaxAspiDrives = 8;

// How long an ASPI request may stay pending: as long as a pass-through command.
constexpr DWORD kAspiWaitLimitMs = kCommandTimeoutSeconds * 1000;
// The largest data transfer the ASPI path carries.
constexpr std::uint32_t kAspiMaxTransfer = 65536;

// Platform calls the transport makes. Production uses the real functions;
// tests install fakes with SetTransportSeam.
struct TransportSeam {
    HMODULE(WINAPI* loadLibrary)(LPCSTR);
    HMODULE(WINAPI* loadLibraryEx)(LPCSTR, HANDLE, DWORD);
    FARPROC(WINAPI* getProcAddress)(HMODULE, LPCSTR);
    BOOL(WINAPI* deviceIoControl)
    (HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
    void(WINAPI* sleep)(DWORD);
    DWORD(WINAPI* tickCount)();
    DWORD aspiWaitLimitMs;
};
const TransportSeam& RealTransportSeam();
void SetTransportSeam(const TransportSeam& seam); // restores the real one when given it
const TransportSeam& CurrentTransportSeam();

// The transport's copy of the drive list, by list position.
struct DriveTable {
    int ntFlag = 0;
    std::uint8_t targetIds[kMaxAspiDrives] = {};
    std::uint8_t hostAdapterIds[kMaxAspiDrives] = {};
    HANDLE handles[kMaxNtDrives] = {};
    FARPROC sendAspi32Command = nullptr;
    FARPROC getAspi32SupportInfo = nullptr;
};
const DriveTable& CurrentDriveTable();
// Back to the starting state: zeroed table, no ASPI entry points.
void ResetDriveTable();

// Number of ASPI host adapters, or 0 when ASPI is not usable. On the NT family
// the library is taken from the system folder only.
int LoadAspi();

void SetDriveTable(int ntFlag, const std::uint8_t targetIds[kMaxAspiDrives],
                   const std::uint8_t hostAdapterIds[kMaxAspiDrives],
                   const HANDLE handles[kMaxNtDrives]);

// Direction 0 = data from the drive, any other value = data to the drive.
// The data buffer is at least 14 bytes: on an error (result 4) the sense key,
// ASC and ASCQ are written into its bytes 2, 12 and 13, whichever format the
// drive gave them in (zero when it gave none). A CDB length outside
// 1..16 is refused without sending (0xFF, or SS_INVALID_SRB on the ASPI path),
// and so is a position outside the table (0xFF). Without ASPI entry points
// (LoadAspi not run or failed) the ASPI path answers SS_NO_ASPI (0xE3).
//
// A command that ends in unit attention, or while the drive is becoming ready,
// is sent again, at most twice more (RetryPauseMs); the last try's result counts.
//
// `transferred`, when given, receives the number of data bytes the drive
// actually moved when the result is 1 (0 otherwise). The pass-through path
// reports it; the ASPI path has no such report and gives the data length.
//
// The ASPI path waits at most kAspiWaitLimitMs for a request and then gives it
// up with SS_ABORTED; its data moves through storage of the transport's own,
// so a request the layer still holds never writes into the caller's buffer.
// Data lengths above kAspiMaxTransfer are refused there with SS_INVALID_SRB.
std::uint8_t SendDriveCommand(int position, const std::uint8_t* cdb, std::uint8_t cdbLength,
                              std::uint8_t* data, std::uint32_t dataLength, std::uint8_t direction,
                              std::uint32_t* transferred = nullptr);
std::uint8_t AspiExecute(std::uint8_t hostAdapterId, std::uint8_t targetId, const std::uint8_t* cdb,
                         std::uint8_t cdbLength, std::uint8_t* data, std::uint32_t dataLength,
                         std::uint8_t direction, std::uint32_t* transferred = nullptr);
// What a pass-through command came back with, besides its result: the drive's
// SCSI status tells BUSY and TASK SET FULL apart from CHECK CONDITION.
struct PassThroughReport {
    std::uint32_t transferred = 0;   // data bytes the drive moved (result 1)
    std::uint8_t scsiStatus = 0;     // SCSI status of the last try
    std::uint8_t senseLength = 0;    // sense bytes the drive returned with it
    bool hasSense = false;           // whether they hold a sense key ...
    SenseCode sense;                 // ... and these codes, of either format
    std::uint8_t senseData[32] = {}; // the sense bytes themselves (senseLength of them)
};
// One try of PassThroughCommand, without its repeats.
int PassThroughCommandOnce(HANDLE handle, const std::uint8_t* cdb, std::uint8_t cdbLength,
                           std::uint8_t* data, std::uint32_t dataLength, std::uint8_t direction,
                           PassThroughReport& report);
// PassThroughExecute with the whole report; result 1, 4 or -1 (the call
// failed: GetLastError tells why, and the report is empty).
int PassThroughCommand(HANDLE handle, const std::uint8_t* cdb, std::uint8_t cdbLength,
                       std::uint8_t* data, std::uint32_t dataLength, std::uint8_t direction,
                       PassThroughReport& report);
// Returns 1, 4 or -1.
int PassThroughExecute(HANDLE handle, const std::uint8_t* cdb, std::uint8_t cdbLength,
                       std::uint8_t* data, std::uint32_t dataLength, std::uint8_t direction,
                       std::uint32_t* transferred = nullptr);

} // namespace velotune
