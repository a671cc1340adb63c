// Asking one device what it is, and what each result means for the exit code.
#include "tool/probe.h"

#include <algorithm>
#include <cstring>

namespace velotune::tool {
namespace {

constexpr std::uint8_t kOpticalDrive = 0x05; // qualifier 0 (connected), type 5 (CD/DVD)
constexpr std::uint8_t kNoDevice = 0x7F;     // what byte 0 reads when no INQUIRY data came
constexpr std::uint8_t kAscNotReady = 0x04, kAscqBecomingReady = 0x01;

std::string Hex2(unsigned value) {
    static const char digits[] = "0123456789ABCDEF";
    return {digits[(value >> 4) & 0xF], digits[value & 0xF]};
}

const char* CommandName(Step step) {
    switch (step) {
    case Step::Inquiry:
        return "INQUIRY";
    case Step::StatusRead:
        return "status read";
    case Step::ModeSet:
        return "mode set";
    case Step::ReadBack:
    default:
        return "status read after the mode set";
    }
}

Verdict Refused(Step step, const CommandResult& result) {
    const SenseCode& s = result.sense;
    const std::string sense = result.hasSense ? " (" + SenseText(s) + ")" : "";
    // Another maker's drive does not know the vendor opcode.
    if (step == Step::StatusRead && s.key == kSenseIllegalRequest)
        return {kExitNoDevice, "not this maker's drive (it refuses the status read" +
                                   (result.hasSense ? ", " + SenseText(s) : "") + ")"};
    if (s.key == kSenseUnitAttention)
        return {kExitFailed, "the drive still reports a unit attention after " +
                                 std::to_string(kCommandTries) + " tries" + sense};
    if (s.key == kSenseNotReady && s.asc == kAscNotReady && s.ascq == kAscqBecomingReady)
        return {kExitFailed, "the drive is still becoming ready after " +
                                 std::to_string(kCommandTries) + " tries" + sense};
    if (s.key == kSenseNotReady) return {kExitFailed, "the drive is not ready" + sense};
    return {kExitFailed, std::string("the drive refused the ") + CommandName(step) + sense};
}

} // namespace

std::string SenseText(const SenseCode& sense) {
    return "sense " + Hex2(sense.key).substr(1) + "/" + Hex2(sense.asc) + "/" + Hex2(sense.ascq);
}

Verdict Judge(Step step, const CommandResult& result) {
    switch (result.status) {
    case IoStatus::Ok:
        return {};
    case IoStatus::NotFound:
        return {kExitNoDevice, "no such device"};
    case IoStatus::NotScsi:
        return {kExitNoDevice, "not a SCSI device"};
    case IoStatus::NotOptical:
        return {kExitNoDevice, "not an optical drive"};
    case IoStatus::NotPermitted:
#ifdef _WIN32
        return {kExitNotPermitted, "not permitted: SCSI pass-through needs administrator rights"};
#else
        return {kExitNotPermitted, "not permitted: the vendor commands need root or CAP_SYS_RAWIO"};
#endif
    case IoStatus::InUse:
        return {kExitFailed, "the device is in use by another program"};
    case IoStatus::TimedOut:
        return {kExitFailed, "no answer within 60 s"};
    case IoStatus::HostError:
        return {kExitFailed, "the connection to the drive failed (host adapter or driver error)"};
    case IoStatus::Busy:
        return {kExitFailed, "the drive is busy"};
    case IoStatus::OtherStatus:
        return {kExitFailed, std::string("the drive ended the ") + CommandName(step) +
                                 " with SCSI status 0x" + Hex2(result.scsiStatus)};
    case IoStatus::CheckCondition:
        return Refused(step, result);
    case IoStatus::Failed:
    default:
        return {kExitFailed, result.detail.empty() ? "input/output error" : result.detail};
    }
}

Session::~Session() {
    for (int slot : open_)
        transport_.Close(slot);
}

Probe Session::Examine(const std::string& device, bool statusRead) {
    Probe probe;
    probe.device = device;
    probe.report.device = device;
    const CommandResult opened = transport_.Open(device, probe.slot);
    if (opened.status != IoStatus::Ok) {
        probe.failure = Judge(Step::Open, opened);
        return probe;
    }
    open_.push_back(probe.slot);

    // 1. INQUIRY. Byte 0 reads as no device unless the drive sent it.
    AlignedBuffer<kInquiryLength> inquiry;
    inquiry.data()[0] = kNoDevice;
    CommandResult result = Send(probe, kInquiryCdb, kCdb6, inquiry.data(), kInquiryLength);
    if (result.status != IoStatus::Ok) {
        probe.failure = Judge(Step::Inquiry, result);
        return probe;
    }
    const std::size_t size = std::min<std::size_t>(result.transferred, kInquiryLength);
    probe.answered = size > 0;
    if (size == 0 || inquiry.data()[0] != kOpticalDrive) {
        probe.failure = {kExitNoDevice, "not an optical drive"};
        return probe;
    }
    probe.optical = true;
    FromInquiry(probe.report, inquiry.data(), size);
    if (!statusRead) {
        probe.report.other = true;
        return probe;
    }

    // 2. The status read: the maker's drives answer it.
    AlignedBuffer<kStatusReadLength> reply;
    result = Send(probe, kStatusReadCdb, kCdb12, reply.data(), kStatusReadLength);
    const std::size_t replySize = StatusReplyBytes(kStatusReadLength, result.transferred);
    if (result.status != IoStatus::Ok)
        probe.failure = Judge(Step::StatusRead, result);
    else if (replySize == 0)
        probe.failure = {kExitNoDevice, "not this maker's drive (its status reply is too short)"};
    if (probe.failure.code != kExitOk) {
        // An optical drive all the same, whose standard commands may pass.
        probe.foreign = probe.failure.code == kExitNoDevice;
        if (result.status == IoStatus::NotPermitted) {
            probe.foreign = true;
#ifdef _WIN32
            probe.note = "the maker's modes need administrator rights";
#else
            probe.note = "the maker's modes need root";
#endif
        }
        probe.report.other = probe.foreign;
        return probe;
    }
    FromStatus(probe.report, reply.data(), replySize);
    return probe;
}

CommandResult Session::SelectCdSpeed(const Probe& probe, unsigned cdX) {
    const CommandResult result = transport_.SelectCdSpeed(probe.slot, cdX);
    if (trace_)
        trace_(probe.device, "CD speed request " + std::to_string(cdX) + "x: " +
                                 (result.status == IoStatus::Ok
                                      ? std::string("done")
                                      : Judge(Step::Inquiry, result).why));
    return result;
}

CommandResult Session::Send(const Probe& probe, const std::uint8_t* cdb, std::uint8_t cdbLength,
                            std::uint8_t* data, std::uint32_t dataLength,
                            DataDirection direction) {
    const CommandResult result =
        transport_.Send(probe.slot, cdb, cdbLength, data, dataLength, direction);
    if (trace_) {
        std::string line = "cdb";
        for (std::uint8_t i = 0; i < cdbLength; ++i) {
            line += ' '; // (" " + Hex2() draws GCC 12's false -Wrestrict at -O2)
            line += Hex2(cdb[i]);
        }
        line += ": ";
        if (result.status == IoStatus::Ok || result.status == IoStatus::CheckCondition ||
            result.status == IoStatus::Busy || result.status == IoStatus::OtherStatus)
            line += "SCSI status 0x" + Hex2(result.scsiStatus);
        else
            line += Judge(Step::Inquiry, result).why;
        if (result.hasSense) line += ", " + SenseText(result.sense);
        line += ", " + std::to_string(result.transferred) + " of " + std::to_string(dataLength) +
                " bytes";
        trace_(probe.device, line);
    }
    return result;
}

} // namespace velotune::tool
