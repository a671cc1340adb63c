// What a command's reply is, and what each outcome means for the exit code.
#include "tool/result.h"

#include "drive/drivecommands.h"

namespace velotune::tool {
namespace {

// Every outcome a run tells apart. A command that ends in CHECK CONDITION is
// told by its sense data.
enum class Cause {
    Ok,
    NotFound,
    NotScsi,
    NotOptical,
    NotPermitted,
    InUse,
    Locked,
    Failed,
    TimedOut,
    HostError,
    Busy,
    OtherStatus,
    Foreign, // another maker's drive: it refuses the status read as ILLEGAL REQUEST
    UnitAttention,
    BecomingReady,
    NotReady,
    Refused,
};

#ifdef _WIN32
#define VT_NOT_PERMITTED "not permitted: SCSI pass-through needs administrator rights"
#else
#define VT_NOT_PERMITTED "not permitted: the vendor commands need root or CAP_SYS_RAWIO"
#endif

// The one table of outcomes. In the texts {command} stands for the command's
// name, {status} for its SCSI status, {tries} for the number of tries, and
// {timeout} for the commands' time-out, {, sense} and { (sense)} for the sense
// data when they came.
struct CauseRow {
    Cause cause;
    int code;
    const char* text;
};
constexpr CauseRow kCauses[] = {
    {Cause::Ok, kExitOk, ""},
    {Cause::NotFound, kExitNoDevice, "no such device"},
    {Cause::NotScsi, kExitNoDevice, "not a SCSI device"},
    {Cause::NotOptical, kExitNoDevice, "not an optical drive"},
    {Cause::NotPermitted, kExitNotPermitted, VT_NOT_PERMITTED},
    {Cause::InUse, kExitFailed, "the device is in use by another program"},
    {Cause::Locked, kExitFailed, "the drive is in use by another velotune"},
    {Cause::Failed, kExitFailed, "input/output error"},
    {Cause::TimedOut, kExitFailed, "no answer within {timeout} s"},
    {Cause::HostError, kExitFailed,
     "the connection to the drive failed (host adapter or driver error)"},
    {Cause::Busy, kExitFailed, "the drive is busy"},
    {Cause::OtherStatus, kExitFailed, "the drive ended the {command} with SCSI status 0x{status}"},
    {Cause::Foreign, kExitNoDevice, "not this maker's drive (it refuses the status read{, sense})"},
    {Cause::UnitAttention, kExitFailed,
     "the drive still reports a unit attention after {tries} tries{ (sense)}"},
    {Cause::BecomingReady, kExitFailed,
     "the drive is still becoming ready after {tries} tries{ (sense)}"},
    {Cause::NotReady, kExitFailed, "the drive is not ready{ (sense)}"},
    {Cause::Refused, kExitFailed, "the drive refused the {command}{ (sense)}"},
};
#undef VT_NOT_PERMITTED

const char* CommandName(Step step) {
    switch (step) {
    case Step::Open:
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

Cause CauseOf(Step step, const CommandResult& result) {
    switch (result.status) {
    case IoStatus::Ok:
        return Cause::Ok;
    case IoStatus::NotFound:
        return Cause::NotFound;
    case IoStatus::NotScsi:
        return Cause::NotScsi;
    case IoStatus::NotOptical:
        return Cause::NotOptical;
    case IoStatus::NotPermitted:
        return Cause::NotPermitted;
    case IoStatus::InUse:
        return Cause::InUse;
    case IoStatus::Locked:
        return Cause::Locked;
    case IoStatus::TimedOut:
        return Cause::TimedOut;
    case IoStatus::HostError:
        return Cause::HostError;
    case IoStatus::Busy:
        return Cause::Busy;
    case IoStatus::OtherStatus:
        return Cause::OtherStatus;
    case IoStatus::CheckCondition: {
        const SenseCode& s = result.sense;
        if (step == Step::StatusRead && s.key == kSenseIllegalRequest) return Cause::Foreign;
        if (s.key == kSenseUnitAttention) return Cause::UnitAttention;
        if (IsBecomingReady(s)) return Cause::BecomingReady;
        if (s.key == kSenseNotReady) return Cause::NotReady;
        return Cause::Refused;
    }
    case IoStatus::Failed:
    default:
        return Cause::Failed;
    }
}

void Replace(std::string& text, const std::string& token, const std::string& with) {
    const std::size_t at = text.find(token);
    if (at != std::string::npos) text.replace(at, token.size(), with);
}

} // namespace

std::string Hex2(unsigned value) {
    static const char digits[] = "0123456789ABCDEF";
    return {digits[(value >> 4) & 0xF], digits[value & 0xF]};
}

std::string SenseText(const SenseCode& sense) {
    return Hex2(sense.key).substr(1) + "/" + Hex2(sense.asc) + "/" + Hex2(sense.ascq);
}

Verdict Judge(Step step, const CommandResult& result) {
    const Cause cause = CauseOf(step, result);
    for (const CauseRow& row : kCauses) {
        if (row.cause != cause) continue;
        if (cause == Cause::Failed && !result.detail.empty()) return {row.code, result.detail};
        std::string text = row.text;
        const std::string sense = result.hasSense ? "sense " + SenseText(result.sense) : "";
        Replace(text, "{command}", CommandName(step));
        Replace(text, "{status}", Hex2(result.scsiStatus));
        Replace(text, "{tries}", std::to_string(kCommandTries));
        Replace(text, "{timeout}", std::to_string(kCommandTimeoutSeconds));
        Replace(text, "{, sense}", sense.empty() ? "" : ", " + sense);
        Replace(text, "{ (sense)}", sense.empty() ? "" : " (" + sense + ")");
        return {row.code, text};
    }
    return {kExitFailed, "input/output error"};
}

CommandResult Classify(const RawReply& reply) {
    CommandResult result;
    if (reply.callFailed) {
        result.status = reply.systemError;
        result.detail = reply.detail;
        return result;
    }
    result.scsiStatus = reply.scsiStatus;
    if (reply.timedOut) {
        result.status = IoStatus::TimedOut;
    } else if (reply.transportFailed) {
        result.status = IoStatus::HostError;
    } else if (reply.scsiStatus == kScsiBusy || reply.scsiStatus == kScsiTaskSetFull) {
        result.status = IoStatus::Busy;
    } else if (reply.scsiStatus == kScsiCheckCondition) {
        result.status = IoStatus::CheckCondition;
        result.hasSense =
            reply.sense != nullptr && ParseSense(reply.sense, reply.senseLength, result.sense);
    } else if (reply.scsiStatus != kScsiGood) {
        result.status = IoStatus::OtherStatus;
    } else {
        result.status = IoStatus::Ok;
        result.transferred = reply.transferred;
    }
    return result;
}

} // namespace velotune::tool
