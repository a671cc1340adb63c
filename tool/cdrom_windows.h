// The cdrom driver's own requests that stand in for multimedia commands on
// Windows. They need only read access to the drive, where SCSI pass-through
// needs read and write access, that is administrator rights. Plain functions:
// a command block in, the request's code and input out; the request's output
// back into the command's reply.
#pragma once

#include <windows.h>
#include <winioctl.h>

#include <ntddcdrm.h>
#include <ntddmmc.h>

#include <cstdint>
#include <vector>

namespace velotune::tool::win {

// What MinGW's headers lack, declared from Microsoft's documented layouts
// (ntddcdrm.h); CDROM_SET_SPEED, its enumerations and the configuration
// request's input come from MinGW's own headers.
constexpr DWORD CdromControlCode(DWORD function) {
    return (FILE_DEVICE_CD_ROM << 16) | (FILE_READ_ACCESS << 14) | (function << 2) |
           METHOD_BUFFERED;
}
constexpr DWORD kIoctlCdromGetInquiryData = CdromControlCode(0x0019);
constexpr DWORD kIoctlCdromGetPerformance = CdromControlCode(0x001C);
static_assert(CdromControlCode(0x0018) == IOCTL_CDROM_SET_SPEED, "the codes are built alike");

struct CDROM_SET_STREAMING {
    CDROM_SPEED_REQUEST RequestType;
    ULONG ReadSize;
    ULONG ReadTime;
    ULONG WriteSize;
    ULONG WriteTime;
    ULONG StartLba;
    ULONG EndLba;
    WRITE_ROTATION RotationControl;
    BOOLEAN RestoreDefaults;
    BOOLEAN SetExact;
    BOOLEAN RandomAccess;
    BOOLEAN Persistent;
};

enum CDROM_PERFORMANCE_REQUEST_TYPE { CdromPerformanceRequest, CdromWriteSpeedRequest };
enum CDROM_PERFORMANCE_TYPE { CdromReadPerformance, CdromWritePerformance };
enum CDROM_PERFORMANCE_EXCEPTION_TYPE {
    CdromNominalPerformance,
    CdromEntirePerformanceList,
    CdromPerformanceExceptionsOnly
};
enum CDROM_PERFORMANCE_TOLERANCE_TYPE { Cdrom10Nominal20Exceptions };

struct CDROM_PERFORMANCE_REQUEST {
    CDROM_PERFORMANCE_REQUEST_TYPE RequestType;
    CDROM_PERFORMANCE_TYPE PerformanceType;
    CDROM_PERFORMANCE_EXCEPTION_TYPE Exceptions;
    CDROM_PERFORMANCE_TOLERANCE_TYPE Tolerance;
    ULONG StaringLba; // sic, as documented
};

struct CDROM_WRITE_SPEED_REQUEST {
    CDROM_PERFORMANCE_REQUEST_TYPE RequestType;
};

static_assert(sizeof(CDROM_SET_STREAMING) == 36, "documented layout");
static_assert(sizeof(CDROM_PERFORMANCE_REQUEST) == 20, "documented layout");

// How a request's output becomes the command's reply.
enum class CdromReply {
    Data,     // the output is the reply (INQUIRY, GET CONFIGURATION, GET PERFORMANCE)
    Capacity, // DISK_GEOMETRY_EX, turned into READ CAPACITY's eight bytes
    None,     // no data (SET CD SPEED, SET STREAMING)
};

struct CdromRequest {
    DWORD code = 0; // 0: the driver has no request for this command
    std::vector<std::uint8_t> input;
    CdromReply reply = CdromReply::None;
};

// The request that stands in for the command block `cdb` with its data
// (SET STREAMING's descriptor). SET STREAMING asks the driver to keep the
// speed across medium changes (Persistent).
CdromRequest CdromRequestFor(const std::uint8_t* cdb, std::uint8_t cdbLength,
                             const std::uint8_t* data, std::uint32_t dataLength);

// READ CAPACITY's reply (last LBA, block length) from a DISK_GEOMETRY_EX of
// `size` bytes; 0 when it holds no disc.
std::uint32_t CapacityReply(const std::uint8_t* geometry, std::size_t size, std::uint8_t reply[8]);

} // namespace velotune::tool::win
