// The read speed of any optical drive: what it reports, and set with its
// read-back. The order of the commands is fixed:
//   status: GET CONFIGURATION, GET PERFORMANCE type 0 and type 3, and page
//           0x2A only for what those did not give;
//   set:    GET CONFIGURATION, READ CAPACITY (only before SET STREAMING with a
//           disc in), SET STREAMING (DVD, BD, or a drive with real-time
//           streaming), SET CD SPEED (CD, no disc, or SET STREAMING not taken),
//           then one read-back.
#include "tool/speed.h"

#include "tool/mmc.h"

#include "drive/drivecommands.h"

#include <algorithm>

namespace velotune::tool {
namespace {

constexpr std::uint8_t kAscNoMedium = 0x3A;
constexpr std::uint32_t kNoData = 16;   // scratch for commands without data
constexpr unsigned kLinuxKbsPerX = 177; // what the cdrom driver counts to the CD x

// What one command's answer means to the sequences.
enum class Answer {
    NotSent,
    Done,
    Refused, // ILLEGAL REQUEST or another refusal the drive gave
    NoDisc,  // NOT READY, medium not present
    Denied,  // the system does not let this user send it
    Failed,  // no answer, or a transport failure
};

Answer Classify(const CommandResult& result) {
    switch (result.status) {
    case IoStatus::Ok:
        return Answer::Done;
    case IoStatus::CheckCondition:
        if (result.sense.key == kSenseNotReady && result.sense.asc == kAscNoMedium)
            return Answer::NoDisc;
        return Answer::Refused;
    case IoStatus::NotPermitted:
        return Answer::Denied;
    default:
        return Answer::Failed;
    }
}

Verdict Failure(const char* command, const CommandResult& result) {
    if (result.status == IoStatus::CheckCondition || result.status == IoStatus::OtherStatus)
        return Judged(Cause::RefusedCommand, result, command);
    Verdict verdict = Judge(Step::ReadBack, result);
    verdict.why = std::string(command) + ": " + verdict.why;
    return verdict;
}

// Sends one command and classifies its answer; a failure on the way to the
// drive lands in `failure`.
class Commands {
public:
    Commands(Session& session, const Probe& drive) : session_(session), drive_(drive) {}

    Answer In(const char* name, const std::uint8_t* cdb, std::uint8_t length, std::uint8_t* data,
              std::uint32_t dataLength, std::uint32_t& transferred) {
        const CommandResult result = session_.Send(drive_, cdb, length, data, dataLength);
        transferred = std::min(result.transferred, dataLength);
        return Note(name, result);
    }
    Answer Out(const char* name, const std::uint8_t* cdb, std::uint8_t* data,
               std::uint32_t dataLength) {
        return Note(name,
                    session_.Send(drive_, cdb, mmc::kCdb12, data, dataLength, DataDirection::Out));
    }
    Answer NoData(const char* name, const std::uint8_t* cdb) {
        AlignedBuffer<kNoData> scratch;
        return Note(
            name, session_.Send(drive_, cdb, mmc::kCdb12, scratch.data(), 0, DataDirection::None));
    }
    Verdict failure;

private:
    Answer Note(const char* name, const CommandResult& result) {
        const Answer answer = Classify(result);
        if (answer == Answer::Failed && failure.Ok()) failure = Failure(name, result);
        return answer;
    }

    Session& session_;
    const Probe& drive_;
};

struct Speeds {
    std::optional<std::uint32_t> current, max;
    std::vector<std::uint32_t> offered;
};

// Page 0x2A: the current read speed where `speeds` has none, and the maximum.
void FromCapabilities(Commands& commands, Speeds& speeds) {
    std::uint8_t cdb[mmc::kCdb10];
    mmc::CapabilitiesPageCdb(cdb);
    AlignedBuffer<mmc::kCapabilitiesLength> page;
    std::uint32_t size = 0;
    if (commands.In("MODE SENSE", cdb, mmc::kCdb10, page.data(), mmc::kCapabilitiesLength, size) !=
        Answer::Done)
        return;
    const mmc::Capabilities caps = mmc::ParseCapabilities(page.data(), size);
    if (!speeds.current) speeds.current = caps.currentKbs;
    if (caps.maxKbs) speeds.max = caps.maxKbs;
}

// GET PERFORMANCE of `type`; false unless the drive answered it.
bool Performance(Commands& commands, std::uint8_t type,
                 AlignedBuffer<mmc::kPerformanceLength>& reply, std::uint32_t& size) {
    std::uint8_t cdb[mmc::kCdb12];
    mmc::GetPerformanceCdb(type, cdb);
    return commands.In("GET PERFORMANCE", cdb, mmc::kCdb12, reply.data(), mmc::kPerformanceLength,
                       size) == Answer::Done;
}

// GET CONFIGURATION: the medium and the streaming feature; an unknown medium
// when the drive does not answer it.
mmc::Configuration Configuration(Commands& commands) {
    std::uint8_t cdb[mmc::kCdb10];
    mmc::GetConfigurationCdb(cdb);
    AlignedBuffer<mmc::kConfigurationLength> reply;
    std::uint32_t size = 0;
    if (commands.In("GET CONFIGURATION", cdb, mmc::kCdb10, reply.data(), mmc::kConfigurationLength,
                    size) != Answer::Done)
        return {};
    return mmc::ParseConfiguration(reply.data(), size);
}

mmc::Medium MediumOf(const mmc::Configuration& config) {
    return config.answered ? mmc::MediumOf(config.profile) : mmc::Medium::Unknown;
}

std::string KbsText(std::uint32_t kbs) {
    return std::to_string(kbs) + " kB/s";
}

} // namespace

std::string ReadSpeedAsked(Setting setting, unsigned value) {
    switch (setting) {
    case Setting::Times:
        return std::to_string(value) + "x";
    case Setting::Kbs:
        return KbsText(value);
    case Setting::Max:
    default:
        return "max";
    }
}

Verdict ReadMmcStatus(Session& session, const Probe& drive, DriveReport& report) {
    Commands commands(session, drive);
    report.note = drive.note;
    report.medium = MediumOf(Configuration(commands));
    Speeds speeds;
    AlignedBuffer<mmc::kPerformanceLength> reply;
    std::uint32_t size = 0;
    if (commands.failure.Ok() && Performance(commands, 0, reply, size)) {
        speeds.current = mmc::ParseCurrentSpeed(reply.data(), size);
        if (Performance(commands, 3, reply, size))
            speeds.offered = mmc::ParseOfferedSpeeds(reply.data(), size);
    }
    if (commands.failure.Ok() && (!speeds.current || speeds.offered.empty()))
        FromCapabilities(commands, speeds);
    if (!speeds.max && !speeds.offered.empty()) speeds.max = speeds.offered.back();
    report.speedKbs = speeds.current;
    report.maxKbs = speeds.max;
    report.speedsKbs = speeds.offered;
    return commands.failure;
}

SpeedResult SetReadSpeed(Session& session, const Probe& drive, Setting setting, unsigned value) {
    SpeedResult out;
    out.report = drive.report;
    out.report.other = true;
    Commands commands(session, drive);
    const auto failed = [&] {
        out.verdict = commands.failure;
        return !out.verdict.Ok();
    };

    // 2. The medium, and whether the drive streams.
    const mmc::Configuration config = Configuration(commands);
    if (failed()) return out;
    const mmc::Medium medium = MediumOf(config);
    out.report.medium = medium;
    if (setting == Setting::Times && mmc::OneXTenths(medium) == 0) {
        out.verdict =
            Judged(Cause::MediumUnknown, std::to_string(mmc::KbsOfX(value, mmc::Medium::Cd)));
        return out;
    }
    const bool max = setting == Setting::Max;
    const std::uint32_t kbs = setting == Setting::Times ? mmc::KbsOfX(value, medium) : value;
    const bool streams =
        medium == mmc::Medium::Dvd || medium == mmc::Medium::Bd || config.streaming;
    const bool disc = config.answered && medium != mmc::Medium::None;

    // 3. SET STREAMING, over the whole disc where READ CAPACITY tells its end.
    Answer streaming = Answer::NotSent;
    if (streams) {
        std::uint32_t lastLba = mmc::kNoLastLba;
        if (disc) {
            std::uint8_t cdb[mmc::kCdb10];
            mmc::ReadCapacityCdb(cdb);
            AlignedBuffer<mmc::kCapacityLength> capacity;
            std::uint32_t size = 0;
            if (commands.In("READ CAPACITY", cdb, mmc::kCdb10, capacity.data(),
                            mmc::kCapacityLength, size) == Answer::Done)
                lastLba = mmc::ParseLastLba(capacity.data(), size).value_or(mmc::kNoLastLba);
            if (failed()) return out;
        }
        std::uint8_t cdb[mmc::kCdb12];
        mmc::SetStreamingCdb(cdb);
        AlignedBuffer<mmc::kStreamingLength> descriptor;
        mmc::StreamingDescriptor(max, max ? mmc::kCdSpeedMax : kbs, lastLba, descriptor.data());
        streaming = commands.Out("SET STREAMING", cdb, descriptor.data(), mmc::kStreamingLength);
        if (failed()) return out;
    }

    // 4. SET CD SPEED for CD media and an empty drive, and where streaming was not taken.
    Answer cdSpeed = Answer::NotSent;
    if (medium == mmc::Medium::Cd || medium == mmc::Medium::None || streaming != Answer::Done) {
        std::uint8_t cdb[mmc::kCdb12];
        mmc::SetCdSpeedCdb(
            max ? mmc::kCdSpeedMax
                : static_cast<std::uint16_t>(std::min<std::uint32_t>(kbs, mmc::kCdSpeedMax - 1)),
            cdb);
        cdSpeed = commands.NoData("SET CD SPEED", cdb);
        if (failed()) return out;
    }

    bool taken = streaming == Answer::Done || cdSpeed == Answer::Done;
    const bool denied = streaming == Answer::Denied || cdSpeed == Answer::Denied;
    if (!taken && denied) {
        // The system lets this user send neither: its own request, in CD x.
        const unsigned cdX = max ? 0 : std::max(1u, (kbs + kLinuxKbsPerX / 2) / kLinuxKbsPerX);
        const CommandResult result = session.SelectCdSpeed(drive, cdX);
        if (result.status == IoStatus::Ok) {
            taken = true;
        } else if (result.status != IoStatus::NotScsi && result.status != IoStatus::NotPermitted) {
            out.verdict = Failure("the CD speed request", result);
            return out;
        }
    }
    if (!taken) {
        if (streaming == Answer::NoDisc || cdSpeed == Answer::NoDisc) {
            out.noDisc = true;
            out.verdict = Judged(Cause::NoDiscForSpeed);
        } else if (denied) {
            out.verdict = Judged(Cause::SpeedDenied);
        } else {
            out.noSpeedCommand = true;
            out.verdict = Judged(Cause::NoSpeedCommand);
        }
        return out;
    }

    // 5. One read-back: GET PERFORMANCE where the drive streams, else page 0x2A.
    Speeds speeds;
    AlignedBuffer<mmc::kPerformanceLength> reply;
    std::uint32_t size = 0;
    if (config.streaming && Performance(commands, 0, reply, size))
        speeds.current = mmc::ParseCurrentSpeed(reply.data(), size);
    if (failed()) return out;
    if (!speeds.current) FromCapabilities(commands, speeds);
    if (failed()) return out;
    out.report.speedKbs = speeds.current;
    out.report.maxKbs = speeds.max;

    const std::string asked = ReadSpeedAsked(setting, value);
    const auto show = [&](std::uint32_t speed) {
        return setting == Setting::Kbs ? KbsText(speed) : mmc::SpeedText(speed, medium);
    };
    out.report.confirmed = speeds.current.has_value();
    if (!speeds.current) {
        out.said = asked + " asked";
        out.warning = "not confirmed: the drive does not report its speed";
        return out;
    }
    const std::uint32_t now = *speeds.current;
    if (max) {
        out.said = "max: the drive reads at " + show(now);
        return out;
    }
    // Drives round, and Linux counts 177 kB/s to the CD x: half an x is the same.
    const std::uint32_t tolerance =
        mmc::HalfX(medium) ? mmc::HalfX(medium) : mmc::HalfX(mmc::Medium::Cd);
    if (now > kbs + tolerance) {
        out.verdict = Judged(Cause::SpeedKept, show(now));
    } else if (now + tolerance < kbs) {
        out.said = asked + " asked, the drive reads at " + show(now);
    } else {
        out.said = show(now);
    }
    return out;
}

} // namespace velotune::tool
