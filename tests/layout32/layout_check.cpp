// 32-bit record layouts of the drive layer, checked when this build compiles.
// The program is never run: 32-bit executables cannot start on the test machines.
#include "drive/aspi.h"
#include "drive/drivecommands.h"
#include "drive/passthrough.h"
#include "drive/speedcontrol.h"
#include "drive/transport.h"

#include <cstddef>

using namespace velotune;

static_assert(sizeof(void*) == 4, "this check belongs to the i686 build");

// Direct SCSI pass-through: 44-byte request, sense buffer at 48, 80-byte record.
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 44);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataTransferLength) == 12);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, TimeOutValue) == 16);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == 20);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset) == 24);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == 28);
static_assert(offsetof(PassThroughRecord, filler) == 44);
static_assert(offsetof(PassThroughRecord, sense) == 48);
static_assert(sizeof(PassThroughRecord) == 80);

// The ASPI records assert their layout for both widths where they are declared
// (drive/aspi.h); including it here compiles those checks for 32 bits.

// Links the whole drive library into a program, so the 32-bit build of every
// part of it is compiled and resolved.
int main() {
    std::uint8_t data[255] = {};
    const DriveTable& table = CurrentDriveTable();
    return LoadAspi() + SendDriveCommand(0, kStatusReadCdb, kCdb12, data, kStatusReadLength, 0) +
           table.ntFlag + static_cast<int>(sizeof(SpeedControl) > 0) +
           (RealDiscoverySeam().getDriveType != nullptr);
}
