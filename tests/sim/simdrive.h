// A simulated optical drive, described by a small text file of key=value lines.
// Shared by the SG_IO emulator (Linux, LD_PRELOAD) and the simulated ASPI layer
// (Windows DLL). The file is read again for every command, so a test can change
// the drive between cases; a mode set writes the new state back into the file.
//
// Keys (all optional):
//   kind=twomode|speedlist   reply format of the status read (default twomode)
//   mode=high|silence        two-mode drive: the active mode (default high)
//   speeds=8,16,24,40        speed-list drive: the selectable speeds
//   current=24               speed-list drive: the current speed (byte 5)
//   status_byte0=N           byte 0 of a speed-list reply (default 0, or 1 when
//                            the list is empty so that the reply is not two-mode)
//   status_hex=00 04 ...     raw status reply, replaces the built one
//   status_len=N             number of status reply bytes transferred
//   vendor=, product=, revision=   INQUIRY text (8, 16 and 4 characters, blank padded)
//   type=N                   INQUIRY byte 0, peripheral device type (default 5)
//   inquiry_hex=...          raw INQUIRY reply, replaces the built one
//   inquiry_len=N            number of INQUIRY bytes transferred
//   reject_status=1          status read ends in CHECK CONDITION (status_sense)
//   status_sense=5,20,00     sense key, ASC, ASCQ of that rejection (hex)
//   inquiry_fails=1          INQUIRY ends in CHECK CONDITION (inquiry_sense, 5,24,00)
//   set_fails=1              mode set ends in CHECK CONDITION (set_sense, 5,24,00)
//   unit_attention=N|always  the next N commands (any command) end in CHECK
//                            CONDITION 6/29/00, unit attention after a reset;
//                            the count in the file goes down with each
//   becoming_ready=N|always  likewise with NOT READY, becoming ready (2/04/01)
//   sense_format=descriptor  sense data in descriptor format (0x72: key, ASC and
//                            ASCQ in bytes 1 to 3, 8 bytes) instead of fixed (0x70)
//   busy=N|always            the next N commands end with SCSI status BUSY and no
//                            sense; busy_status=N gives another status (0x28,
//                            TASK SET FULL)
//   status_busy=N|always     likewise, for the status read only
//   busy_sense=5,20,00       sense data that come with BUSY (none by default)
//   host_status=N            SG_IO only: every command ends with this host status
//   hang_ms=N                every command waits N ms before it is answered
//   gone=1                   every command fails at the transport (no answer)
// Any other operation code ends in CHECK CONDITION 5/20/00.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vtsim {

enum class Direction { None, In, Out, Both };

struct Command {
    const std::uint8_t* cdb = nullptr;
    std::size_t cdbLength = 0;
    Direction direction = Direction::None;
    std::uint8_t* data = nullptr;
    std::uint32_t dataLength = 0;
};

struct Answer {
    enum class Kind { Good, CheckCondition, Busy, Gone } kind = Kind::Good;
    std::uint32_t transferred = 0; // data bytes written into the buffer
    std::uint8_t scsiStatus = 0;   // the SCSI status byte
    std::uint8_t sense[18] = {};   // sense data for CheckCondition ...
    std::uint8_t senseLength = 0;  // ... of this many bytes
};

// Carries out one command on the drive described by `path`. `logPrefix` leads the
// log line (transport fields such as "dir=in len=255 timeout=60000"); the command
// block and the answer are added. The line goes to `path`.log.
Answer Execute(const std::string& path, const Command& command, const std::string& logFields);

// Reads one key of a drive file ("" when missing).
std::string ReadKey(const std::string& path, const std::string& key);

// Device type the drive reports (INQUIRY byte 0 & 0x1F), or -1 when the file is missing.
int DeviceType(const std::string& path);

// Appends one line (a newline is added) to a file.
void AppendLine(const std::string& path, const std::string& line);

std::string Hex(const std::uint8_t* bytes, std::size_t size);
const char* DirectionName(Direction direction);

} // namespace vtsim
