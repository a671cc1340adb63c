// Multimedia command blocks as the cdrom driver's own requests.
#include "tool/cdrom_windows.h"

#include "tool/mmc.h"

#include <cstring>

namespace velotune::tool::win {
namespace {

using mmc::Be16;
using mmc::Be32;

template <typename T> std::vector<std::uint8_t> Bytes(const T& value) {
    std::vector<std::uint8_t> bytes(sizeof value);
    std::memcpy(bytes.data(), &value, sizeof value);
    return bytes;
}

constexpr std::size_t kStreamingDescriptor = 28;

} // namespace

CdromRequest CdromRequestFor(const std::uint8_t* cdb, std::uint8_t cdbLength,
                             const std::uint8_t* data, std::uint32_t dataLength) {
    CdromRequest request;
    if (cdbLength == 6 && cdb[0] == 0x12 && (cdb[1] & 0x01) == 0) { // INQUIRY, standard data
        request.code = kIoctlCdromGetInquiryData;
        request.reply = CdromReply::Data;
    } else if (cdbLength == 10 && cdb[0] == 0x46) { // GET CONFIGURATION
        GET_CONFIGURATION_IOCTL_INPUT input = {};
        input.Feature = static_cast<FEATURE_NUMBER>(Be16(cdb + 2));
        input.RequestType = cdb[1] & 0x03;
        request.code = IOCTL_CDROM_GET_CONFIGURATION;
        request.input = Bytes(input);
        request.reply = CdromReply::Data;
    } else if (cdbLength == 12 && cdb[0] == 0xAC && cdb[10] == 0) { // GET PERFORMANCE, type 0
        CDROM_PERFORMANCE_REQUEST input = {};
        input.RequestType = CdromPerformanceRequest;
        input.PerformanceType = (cdb[1] & 0x04) ? CdromWritePerformance : CdromReadPerformance;
        input.Exceptions = static_cast<CDROM_PERFORMANCE_EXCEPTION_TYPE>(cdb[1] & 0x03);
        input.Tolerance = Cdrom10Nominal20Exceptions;
        input.StaringLba = Be32(cdb + 2);
        request.code = kIoctlCdromGetPerformance;
        request.input = Bytes(input);
        request.reply = CdromReply::Data;
    } else if (cdbLength == 12 && cdb[0] == 0xAC && cdb[10] == 3) { // the write speed descriptors
        CDROM_WRITE_SPEED_REQUEST input = {};
        input.RequestType = CdromWriteSpeedRequest;
        request.code = kIoctlCdromGetPerformance;
        request.input = Bytes(input);
        request.reply = CdromReply::Data;
    } else if (cdbLength == 12 && cdb[0] == 0xBB) { // SET CD SPEED
        CDROM_SET_SPEED input = {};
        input.RequestType = CdromSetSpeed;
        input.ReadSpeed = Be16(cdb + 2);
        input.WriteSpeed = Be16(cdb + 4);
        input.RotationControl = (cdb[1] & 0x03) ? CdromCAVRotation : CdromDefaultRotation;
        request.code = IOCTL_CDROM_SET_SPEED;
        request.input = Bytes(input);
    } else if (cdbLength == 12 && cdb[0] == 0xB6 && cdb[8] == 0 && data &&
               dataLength >= kStreamingDescriptor) { // SET STREAMING, one descriptor
        CDROM_SET_STREAMING input = {};
        input.RequestType = CdromSetStreaming;
        input.StartLba = Be32(data + 4);
        input.EndLba = Be32(data + 8);
        input.ReadSize = Be32(data + 12);
        input.ReadTime = Be32(data + 16);
        input.WriteSize = Be32(data + 20);
        input.WriteTime = Be32(data + 24);
        input.RotationControl = CdromDefaultRotation;
        input.RestoreDefaults = (data[0] & 0x04) != 0;
        input.SetExact = (data[0] & 0x02) != 0;
        input.RandomAccess = (data[0] & 0x01) != 0;
        input.Persistent = TRUE; // the driver keeps it across medium changes
        request.code = IOCTL_CDROM_SET_SPEED;
        request.input = Bytes(input);
    } else if (cdbLength == 10 && cdb[0] == 0x25) { // READ CAPACITY
        request.code = IOCTL_CDROM_GET_DRIVE_GEOMETRY_EX;
        request.reply = CdromReply::Capacity;
    }
    return request;
}

std::uint32_t CapacityReply(const std::uint8_t* geometry, std::size_t size, std::uint8_t reply[8]) {
    DISK_GEOMETRY_EX g;
    if (size < offsetof(DISK_GEOMETRY_EX, Data)) return 0;
    std::memcpy(&g, geometry, offsetof(DISK_GEOMETRY_EX, Data));
    const DWORD block = g.Geometry.BytesPerSector;
    if (block == 0 || g.DiskSize.QuadPart < static_cast<LONGLONG>(block)) return 0;
    const ULONGLONG blocks = static_cast<ULONGLONG>(g.DiskSize.QuadPart) / block;
    const std::uint32_t last =
        blocks > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(blocks - 1);
    const std::uint32_t values[2] = {last, block};
    for (int v = 0; v < 2; ++v)
        for (int i = 0; i < 4; ++i)
            reply[v * 4 + i] = static_cast<std::uint8_t>(values[v] >> (24 - 8 * i));
    return 8;
}

} // namespace velotune::tool::win
