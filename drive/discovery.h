// Finding the maker's drives among candidate devices, without windows: the
// panel's discovery core, tested apart from its Windows seam. A device counts as one of the
// maker's drives exactly when it completes the vendor status read; INQUIRY then
// gives its name. Plain code, no Windows headers: each caller brings its devices
// through a DevicePort.
#pragma once

#include "drive/drivecommands.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velotune {

// The devices a discovery looks at, by candidate number 0 .. n-1.
class DevicePort {
public:
    virtual ~DevicePort() = default;
    // Opens a candidate for commands; false skips it.
    virtual bool Open(int candidate) = 0;
    virtual void Close(int candidate) = 0;
    // Sends one command (data in) and returns its result byte (0x01 success);
    // `transferred` receives the number of data bytes the drive sent.
    virtual std::uint8_t Send(int candidate, const std::uint8_t* cdb, std::uint8_t cdbLength,
                              std::uint8_t* data, std::uint32_t dataLength,
                              std::uint32_t& transferred) = 0;
};

// One drive that completed the status read.
struct FoundDrive {
    int candidate = -1;
    bool inquiryOk = false;
    std::uint8_t status[kStatusReadLength] = {}; // the probe's reply ...
    std::size_t statusSize = 0;                  // ... of this many bytes
    std::uint8_t inquiry[kInquiryLength] = {};   // bytes 8..35 blank when INQUIRY failed
};

// Probes candidates 0 .. count-1 in order: open, status read, and close again
// those that do not complete it. Then sends INQUIRY to each kept drive, in
// order. A status read that transfers too few bytes to count (StatusReplyBytes)
// is no answer. Kept drives stay open; at most `limit` are kept. `reply` is the
// caller's command buffer (at least kStatusReadLength bytes, aligned as
// AlignedBuffer aligns).
std::vector<FoundDrive> FindDrives(DevicePort& port, int count, std::size_t limit,
                                   std::uint8_t* reply);

} // namespace velotune
