// The record handed to DeviceIoControl(IOCTL_SCSI_PASS_THROUGH_DIRECT): the
// direct pass-through request, a filler and a 32-byte sense buffer. On 32-bit
// Windows the request is 44 bytes, the sense buffer sits at offset 48 and the
// record is 80 bytes; on x86_64 the sizes follow from the wider data pointer.
#pragma once

#include "drive/drivecommands.h"

#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>
#include <cstddef>

namespace velotune {

static_assert(IOCTL_SCSI_PASS_THROUGH_DIRECT == 0x4D014);

constexpr std::size_t kPassThroughSenseSize = 32;
constexpr UCHAR kPassThroughSenseInfoLength = 24;
constexpr ULONG kPassThroughTimeoutSeconds = kCommandTimeoutSeconds;
constexpr UCHAR kPassThroughTargetId = 1;

struct alignas(kBufferAlignment) PassThroughRecord {
    SCSI_PASS_THROUGH_DIRECT sptd;
    ULONG filler;
    UCHAR sense[kPassThroughSenseSize];
};

#if !defined(_WIN64)
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 44);
static_assert(offsetof(PassThroughRecord, sense) == 48);
static_assert(sizeof(PassThroughRecord) == 80);
#endif

} // namespace velotune
