// Multimedia command blocks, their replies and speed arithmetic. Every reply
// is read only as far as it came and as far as its own length fields say.
#include "tool/mmc.h"

#include <algorithm>
#include <cstring>

namespace velotune::tool::mmc {
namespace {

void PutBe32(std::uint32_t value, std::uint8_t* p) {
    p[0] = static_cast<std::uint8_t>(value >> 24);
    p[1] = static_cast<std::uint8_t>(value >> 16);
    p[2] = static_cast<std::uint8_t>(value >> 8);
    p[3] = static_cast<std::uint8_t>(value);
}
void PutBe16(std::uint16_t value, std::uint8_t* p) {
    p[0] = static_cast<std::uint8_t>(value >> 8);
    p[1] = static_cast<std::uint8_t>(value);
}

constexpr std::size_t kPerformanceHeader = 8, kPerformanceDescriptor = 16;
constexpr std::uint8_t kPageCapabilities = 0x2A;
constexpr std::size_t kModeHeader10 = 8;
constexpr std::size_t kPageMaxRead = 8, kPageCurrentRead = 14;

// The descriptors of a GET PERFORMANCE reply: as many whole ones as both the
// reply and its data length hold.
std::size_t Descriptors(const std::uint8_t* reply, std::size_t size) {
    if (size < kPerformanceHeader) return 0;
    // The data length counts the bytes after itself.
    const std::size_t stated = std::size_t{Be32(reply)} + 4;
    const std::size_t end = std::min(size, stated);
    return end < kPerformanceHeader ? 0 : (end - kPerformanceHeader) / kPerformanceDescriptor;
}

} // namespace

std::uint32_t Be32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}
std::uint16_t Be16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

void GetConfigurationCdb(std::uint8_t cdb[kCdb10]) {
    std::memset(cdb, 0, kCdb10);
    cdb[0] = kOpGetConfiguration;
    cdb[1] = 0x02; // RT 2: the one feature named
    PutBe16(kFeatureRealTimeStreaming, cdb + 2);
    PutBe16(static_cast<std::uint16_t>(kConfigurationLength), cdb + 7);
}

void GetPerformanceCdb(std::uint8_t type, std::uint8_t cdb[kCdb12]) {
    std::memset(cdb, 0, kCdb12);
    cdb[0] = kOpGetPerformance;
    // Type 0 asks for the nominal read performance with 10 % tolerance.
    cdb[1] = type == 0 ? 0x10 : 0x00;
    PutBe16(kPerformanceDescriptors, cdb + 8);
    cdb[10] = type;
}

void CapabilitiesPageCdb(std::uint8_t cdb[kCdb10]) {
    std::memset(cdb, 0, kCdb10);
    cdb[0] = kOpModeSense10;
    cdb[1] = 0x08; // DBD
    cdb[2] = kPageCapabilities;
    PutBe16(static_cast<std::uint16_t>(kCapabilitiesLength), cdb + 7);
}

void ReadCapacityCdb(std::uint8_t cdb[kCdb10]) {
    std::memset(cdb, 0, kCdb10);
    cdb[0] = kOpReadCapacity;
}

void SetCdSpeedCdb(std::uint16_t readKbs, std::uint8_t cdb[kCdb12]) {
    std::memset(cdb, 0, kCdb12);
    cdb[0] = kOpSetCdSpeed;
    PutBe16(readKbs, cdb + 2);
    PutBe16(kCdSpeedMax, cdb + 4);
}

void SetStreamingCdb(std::uint8_t cdb[kCdb12]) {
    std::memset(cdb, 0, kCdb12);
    cdb[0] = kOpSetStreaming;
    PutBe16(static_cast<std::uint16_t>(kStreamingLength), cdb + 9);
}

void StreamingDescriptor(bool restoreDefaults, std::uint32_t kbs, std::uint32_t lastLba,
                         std::uint8_t descriptor[kStreamingLength]) {
    constexpr std::uint32_t kTimeMs = 1000;
    std::memset(descriptor, 0, kStreamingLength);
    if (restoreDefaults) descriptor[0] = 0x04; // RDD
    PutBe32(0, descriptor + 4);                // start LBA
    PutBe32(lastLba, descriptor + 8);
    PutBe32(kbs, descriptor + 12); // read size, kB ...
    PutBe32(kTimeMs, descriptor + 16);
    PutBe32(kbs, descriptor + 20); // ... and the same for writing
    PutBe32(kTimeMs, descriptor + 24);
}

Configuration ParseConfiguration(const std::uint8_t* reply, std::size_t size) {
    Configuration config;
    constexpr std::size_t kHeader = 8, kFeatureHeader = 4;
    if (size < kHeader) return config;
    config.answered = true;
    config.profile = Be16(reply + 6);
    // The data length counts the bytes after itself; RT 2 gives at most the
    // one feature asked for, right after the header.
    const std::size_t end = std::min(size, std::size_t{Be32(reply)} + 4);
    if (end >= kHeader + kFeatureHeader && Be16(reply + kHeader) == kFeatureRealTimeStreaming)
        config.streaming = (reply[kHeader + 2] & 0x01) != 0; // current
    return config;
}

Medium MediumOf(std::uint16_t profile) {
    if (profile == 0) return Medium::None;
    if ((profile >= 0x08 && profile <= 0x0A) || (profile >= 0x20 && profile <= 0x22))
        return Medium::Cd;
    if (profile >= 0x10 && profile <= 0x2B) return Medium::Dvd;
    if (profile >= 0x40 && profile <= 0x43) return Medium::Bd;
    return Medium::Unknown;
}

std::optional<std::uint32_t> ParseCurrentSpeed(const std::uint8_t* reply, std::size_t size) {
    const std::size_t count = Descriptors(reply, size);
    std::uint32_t best = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* d = reply + kPerformanceHeader + i * kPerformanceDescriptor;
        best = std::max({best, Be32(d + 4), Be32(d + 12)}); // start and end performance
    }
    if (best == 0) return std::nullopt;
    return best;
}

std::vector<std::uint32_t> ParseOfferedSpeeds(const std::uint8_t* reply, std::size_t size) {
    const std::size_t count = Descriptors(reply, size);
    std::vector<std::uint32_t> speeds;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t read =
            Be32(reply + kPerformanceHeader + i * kPerformanceDescriptor + 8);
        if (read != 0) speeds.push_back(read);
    }
    std::sort(speeds.begin(), speeds.end());
    speeds.erase(std::unique(speeds.begin(), speeds.end()), speeds.end());
    return speeds;
}

Capabilities ParseCapabilities(const std::uint8_t* reply, std::size_t size) {
    Capabilities caps;
    if (size < kModeHeader10) return caps;
    // The page follows the header and any block descriptors, and must be the
    // page asked for and long enough to hold the current read speed.
    const std::size_t page = kModeHeader10 + Be16(reply + 6);
    if (size < page + kPageCurrentRead + 2) return caps;
    if ((reply[page] & 0x3F) != kPageCapabilities) return caps;
    if (std::size_t{reply[page + 1]} + 2 < kPageCurrentRead + 2) return caps;
    caps.answered = true;
    if (const std::uint16_t max = Be16(reply + page + kPageMaxRead)) caps.maxKbs = max;
    if (const std::uint16_t cur = Be16(reply + page + kPageCurrentRead)) caps.currentKbs = cur;
    return caps;
}

std::optional<std::uint32_t> ParseLastLba(const std::uint8_t* reply, std::size_t size) {
    if (size < 4) return std::nullopt;
    return Be32(reply);
}

std::uint32_t OneXTenths(Medium medium) {
    switch (medium) {
    case Medium::None:
    case Medium::Cd:
        return 1764;
    case Medium::Dvd:
        return 13850;
    case Medium::Bd:
        return 44960;
    case Medium::Unknown:
    default:
        return 0;
    }
}

std::uint32_t KbsOfX(std::uint32_t x, Medium medium) {
    const std::uint64_t kbs = (std::uint64_t{x} * OneXTenths(medium) + 5) / 10;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(kbs, 0xFFFFFFFFu));
}

std::uint32_t XOfKbs(std::uint32_t kbs, Medium medium) {
    const std::uint32_t one = OneXTenths(medium);
    if (one == 0) return 0;
    return static_cast<std::uint32_t>((std::uint64_t{kbs} * 10 + one / 2) / one);
}

std::uint32_t HalfX(Medium medium) {
    return OneXTenths(medium) / 20;
}

const char* MediumName(Medium medium) {
    switch (medium) {
    case Medium::None:
        return "none";
    case Medium::Cd:
        return "cd";
    case Medium::Dvd:
        return "dvd";
    case Medium::Bd:
        return "bd";
    case Medium::Unknown:
    default:
        return "unknown";
    }
}

std::string SpeedText(std::uint32_t kbs, Medium medium) {
    if (OneXTenths(medium) == 0) return std::to_string(kbs) + " kB/s";
    return std::to_string(XOfKbs(kbs, medium)) + "x";
}

} // namespace velotune::tool::mmc
