// The standard multimedia commands the tool sends to any optical drive: their
// command blocks, the replies they bring back, and the arithmetic of speeds.
// Plain functions, no system calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velotune::tool::mmc {

constexpr std::uint8_t kCdb10 = 10;
constexpr std::uint8_t kCdb12 = 12;

// Operation codes.
constexpr std::uint8_t kOpGetConfiguration = 0x46;
constexpr std::uint8_t kOpGetPerformance = 0xAC;
constexpr std::uint8_t kOpModeSense10 = 0x5A;
constexpr std::uint8_t kOpReadCapacity = 0x25;
constexpr std::uint8_t kOpSetCdSpeed = 0xBB;
constexpr std::uint8_t kOpSetStreaming = 0xB6;

// Reply sizes the tool asks for.
constexpr std::uint32_t kConfigurationLength = 32;
constexpr std::uint16_t kPerformanceDescriptors = 16;
constexpr std::uint32_t kPerformanceLength = 8 + 16 * kPerformanceDescriptors;
constexpr std::uint32_t kCapabilitiesLength = 256;
constexpr std::uint32_t kCapacityLength = 8;
constexpr std::uint32_t kStreamingLength = 28;

// The feature that says the drive takes SET STREAMING and GET PERFORMANCE.
constexpr std::uint16_t kFeatureRealTimeStreaming = 0x0107;
// SET CD SPEED's "as fast as the drive goes".
constexpr std::uint16_t kCdSpeedMax = 0xFFFF;
// SET STREAMING's end without a disc to measure.
constexpr std::uint32_t kNoLastLba = 0xFFFFFFFF;

enum class Medium { None, Cd, Dvd, Bd, Unknown };

// Fields of command blocks and replies, most significant byte first.
std::uint32_t Be32(const std::uint8_t* p);
std::uint16_t Be16(const std::uint8_t* p);

// GET CONFIGURATION, RT 2 from feature 0x0107: the current profile and the
// streaming feature in one reply.
void GetConfigurationCdb(std::uint8_t cdb[kCdb10]);
// GET PERFORMANCE type 0 (nominal read performance) or type 3 (write speed
// descriptors, which carry the read speeds the drive offers).
void GetPerformanceCdb(std::uint8_t type, std::uint8_t cdb[kCdb12]);
// MODE SENSE(10), no block descriptors, page 0x2A.
void CapabilitiesPageCdb(std::uint8_t cdb[kCdb10]);
void ReadCapacityCdb(std::uint8_t cdb[kCdb10]);
// SET CD SPEED: read speed in kB/s, write speed 0xFFFF.
void SetCdSpeedCdb(std::uint16_t readKbs, std::uint8_t cdb[kCdb12]);
// SET STREAMING with one performance descriptor of 28 bytes.
void SetStreamingCdb(std::uint8_t cdb[kCdb12]);
// The descriptor: RDD (restore defaults) or a read and write size of `kbs` kB
// per 1000 ms, from LBA 0 to `lastLba`.
void StreamingDescriptor(bool restoreDefaults, std::uint32_t kbs, std::uint32_t lastLba,
                         std::uint8_t descriptor[kStreamingLength]);

struct Configuration {
    bool answered = false; // a reply with its header came
    std::uint16_t profile = 0;
    bool streaming = false; // feature 0x0107 listed as current
};
Configuration ParseConfiguration(const std::uint8_t* reply, std::size_t size);
Medium MediumOf(std::uint16_t profile);

// GET PERFORMANCE type 0: the highest read speed the descriptors give, none
// when they give none.
std::optional<std::uint32_t> ParseCurrentSpeed(const std::uint8_t* reply, std::size_t size);
// GET PERFORMANCE type 3: the Read Speed fields, lowest first, each once.
std::vector<std::uint32_t> ParseOfferedSpeeds(const std::uint8_t* reply, std::size_t size);

struct Capabilities {
    bool answered = false; // page 0x2A came, long enough to hold both speeds
    std::optional<std::uint32_t> maxKbs, currentKbs; // none where the drive gives 0
};
Capabilities ParseCapabilities(const std::uint8_t* reply, std::size_t size);
// READ CAPACITY: the last LBA of the disc, none for a short reply.
std::optional<std::uint32_t> ParseLastLba(const std::uint8_t* reply, std::size_t size);

// The 1x speed of a medium in tenths of kB/s: CD 176.4, DVD 1385, BD 4496 kB/s;
// an empty drive counts as CD, and an unknown medium has none (0).
std::uint32_t OneXTenths(Medium medium);
// N times the 1x speed in kB/s, rounded.
std::uint32_t KbsOfX(std::uint32_t x, Medium medium);
// kB/s as x of the medium, rounded to the nearest whole x.
std::uint32_t XOfKbs(std::uint32_t kbs, Medium medium);
// Half an x in kB/s (the tolerance of a read-back), or 0 for an unknown medium.
std::uint32_t HalfX(Medium medium);

const char* MediumName(Medium medium);
// "8x" for a known medium, "1411 kB/s" otherwise.
std::string SpeedText(std::uint32_t kbs, Medium medium);

} // namespace velotune::tool::mmc
