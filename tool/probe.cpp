// Asking one device what it is, and sending it commands with the retry rule.
#include "tool/probe.h"

#include "drive/retry.h"

#include <algorithm>
#include <cstring>

namespace velotune::tool {
namespace {

constexpr std::uint8_t kOpticalDrive = 0x05; // qualifier 0 (connected), type 5 (CD/DVD)
constexpr std::uint8_t kNoDevice = 0x7F;     // what byte 0 reads when no INQUIRY data came

} // namespace

Session::~Session() {
    for (int slot : open_)
        transport_.Close(slot);
}

Probe Session::Identify(const std::string& device) {
    Probe probe;
    probe.device = device;
    probe.report.device = device;
    const CommandResult opened = transport_.Open(device, probe.slot);
    if (opened.status != IoStatus::Ok) {
        probe.failure = Judge(Step::Open, opened);
        return probe;
    }
    open_.push_back(probe.slot);

    // Byte 0 reads as no device unless the drive sent it.
    AlignedBuffer<kInquiryLength> inquiry;
    inquiry.data()[0] = kNoDevice;
    const CommandResult result = Send(probe, kInquiryCdb, kCdb6, inquiry.data(), kInquiryLength);
    if (result.status != IoStatus::Ok) {
        probe.failure = Judge(Step::Inquiry, result);
        return probe;
    }
    const std::size_t size = std::min<std::size_t>(result.transferred, kInquiryLength);
    probe.answered = size > 0;
    if (size == 0 || inquiry.data()[0] != kOpticalDrive) {
        probe.failure = Judged(Cause::NotOptical);
        return probe;
    }
    probe.optical = true;
    FromInquiry(probe.report, inquiry.data(), size);
    return probe;
}

void Session::Lock(Probe& probe) {
    if (!lock_ || !probe.failure.Ok()) return;
    const CommandResult locked = transport_.Lock(probe.slot);
    if (locked.status != IoStatus::Ok) probe.failure = Judge(Step::Open, locked);
}

void Session::ReadStatus(Probe& probe) {
    if (!probe.optical || !probe.failure.Ok()) return;
    Lock(probe);
    if (!probe.failure.Ok()) return;
    // The maker's drives answer the status read.
    AlignedBuffer<kStatusReadLength> reply;
    const CommandResult result =
        Send(probe, kStatusReadCdb, kCdb12, reply.data(), kStatusReadLength);
    const std::size_t replySize = StatusReplyBytes(kStatusReadLength, result.transferred);
    if (result.status != IoStatus::Ok)
        probe.failure = Judge(Step::StatusRead, result);
    else if (replySize == 0)
        probe.failure = Judged(Cause::ShortStatusReply);
    if (!probe.failure.Ok()) {
        // An optical drive all the same, whose standard commands may pass.
        probe.foreign = probe.failure.NoDevice();
        if (result.status == IoStatus::NotPermitted) {
            probe.foreign = true;
#ifdef _WIN32
            probe.note = "the maker's modes need administrator rights";
#else
            probe.note = "the maker's modes need root";
#endif
        }
        probe.report.other = probe.foreign;
        return;
    }
    FromStatus(probe.report, reply.data(), replySize);
}

Probe Session::Examine(const std::string& device) {
    Probe probe = Identify(device);
    ReadStatus(probe);
    return probe;
}

CommandResult Session::SelectCdSpeed(const Probe& probe, unsigned cdX) {
    const CommandResult result = transport_.SelectCdSpeed(probe.slot, cdX);
    if (trace_)
        trace_(probe.device,
               "CD speed request " + std::to_string(cdX) + "x: " +
                   (result.status == IoStatus::Ok ? std::string("done")
                                                  : Judge(Step::Inquiry, result).why));
    return result;
}

CommandResult Session::Send(const Probe& probe, const std::uint8_t* cdb, std::uint8_t cdbLength,
                            std::uint8_t* data, std::uint32_t dataLength, DataDirection direction) {
    CommandResult result;
    SendWithRetries(
        [&] {
            result = transport_.Send(probe.slot, cdb, cdbLength, data, dataLength, direction);
            TraceTry(probe, cdb, cdbLength, dataLength, result);
            return TryOutcome{result.status == IoStatus::CheckCondition, result.sense};
        },
        [&](unsigned milliseconds) { transport_.Pause(milliseconds); });
    return result;
}

void Session::TraceTry(const Probe& probe, const std::uint8_t* cdb, std::uint8_t cdbLength,
                       std::uint32_t dataLength, const CommandResult& result) {
    if (!trace_) return;
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
    if (result.hasSense) line += ", sense " + SenseText(result.sense);
    line +=
        ", " + std::to_string(result.transferred) + " of " + std::to_string(dataLength) + " bytes";
    trace_(probe.device, line);
}

} // namespace velotune::tool
