// What a command's reply is, and what each outcome means for the exit code.
#include "tool/result.h"

#include "drive/drivecommands.h"

#include <iterator>

namespace velotune::tool {
namespace {

#ifdef _WIN32
#define VT_NOT_PERMITTED "not permitted: SCSI pass-through needs administrator rights"
#else
#define VT_NOT_PERMITTED "not permitted: the vendor commands need root or CAP_SYS_RAWIO"
#endif

// The one table of outcomes. In the texts {command} stands for the command's
// name, {status} for its SCSI status, {tries} for the number of tries, and
// {timeout} for the commands' time-out, {, sense} and { (sense)} for the sense
// data when they came, { (codes)} for its codes alone; {1} and {2} for what
// the run fills in.
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
    {Cause::ShortStatusReply, kExitNoDevice,
     "not this maker's drive (its status reply is too short)"},
    {Cause::RefusedCommand, kExitFailed, "the drive refused {1}{ (codes)}"},
    {Cause::NoReply, kExitFailed, "no reply"},
    {Cause::NotShown, kExitFailed, "asked for {1}, the drive reports {2}"},
    {Cause::MediumUnknown, kExitUsage,
     "the drive does not say which medium it holds: give the speed in kB/s, such as {1}kB"},
    {Cause::NoDiscForSpeed, kExitFailed, "no disc: the drive takes a speed only with a disc in it"},
    {Cause::SpeedDenied, kExitNotPermitted,
     "not permitted: the speed commands need write access to the device"},
    {Cause::NoSpeedCommand, kExitNoDevice, "the drive takes no speed command"},
    {Cause::SpeedKept, kExitFailed, "the drive kept {1}"},
    {Cause::NoDrive, kExitNoDevice, "no drive found"},
    {Cause::OnlyOtherMakers, kExitNoDevice,
     "no drive of this maker found, but {1} of other makers: 'velotune list --all' shows {2}"},
    {Cause::SeveralDrives, kExitUsage, "several drives found: name one with --device"},
    {Cause::NotAccepted, kExitUsage, "{1}"},
    {Cause::Usage, kExitUsage, "{1}"},
    {Cause::NotHere, kExitUsage, "apply is a command of the Linux tool"},
    {Cause::OutputLost, kExitUsage, "cannot write to standard output{1}"},
};

// Each cause has its row, in the order of the causes.
constexpr bool InCauseOrder() {
    for (std::size_t i = 0; i < std::size(kCauses); ++i)
        if (static_cast<std::size_t>(kCauses[i].cause) != i) return false;
    return true;
}
static_assert(InCauseOrder() &&
              std::size(kCauses) == static_cast<std::size_t>(Cause::OutputLost) + 1);

const CauseRow& RowOf(Cause cause) {
    return kCauses[static_cast<std::size_t>(cause)];
}
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

// The row's text with its blanks filled: the command's from `result` and its
// name where there are they, the run's from `first` and `second`.
std::string Text(Cause cause, const CommandResult* result, const char* command,
                 const std::string& first, const std::string& second) {
    std::string text = RowOf(cause).text;
    if (result != nullptr) {
        const std::string codes = result->hasSense ? SenseText(result->sense) : "";
        const std::string sense = codes.empty() ? "" : "sense " + codes;
        if (command != nullptr) Replace(text, "{command}", command);
        Replace(text, "{status}", Hex2(result->scsiStatus));
        Replace(text, "{, sense}", sense.empty() ? "" : ", " + sense);
        Replace(text, "{ (sense)}", sense.empty() ? "" : " (" + sense + ")");
        Replace(text, "{ (codes)}", codes.empty() ? "" : " (" + codes + ")");
    }
    Replace(text, "{tries}", std::to_string(kCommandTries));
    Replace(text, "{timeout}", std::to_string(kCommandTimeoutSeconds));
    // The run's words last, {2} first: what they hold is never taken for a blank.
    Replace(text, "{2}", second);
    Replace(text, "{1}", first);
    return text;
}

} // namespace

std::string Hex2(unsigned value) {
    static const char digits[] = "0123456789ABCDEF";
    return {digits[(value >> 4) & 0xF], digits[value & 0xF]};
}

std::string SenseText(const SenseCode& sense) {
    return Hex2(sense.key).substr(1) + "/" + Hex2(sense.asc) + "/" + Hex2(sense.ascq);
}

int Verdict::Code() const {
    return RowOf(cause).code;
}

bool Verdict::NoDevice() const {
    return Code() == kExitNoDevice;
}

bool Verdict::Outweighs(const Verdict& other) const {
    return Code() > other.Code();
}

Verdict Judge(Step step, const CommandResult& result) {
    const Cause cause = CauseOf(step, result);
    if (cause == Cause::Failed && !result.detail.empty()) return {cause, result.detail};
    return {cause, Text(cause, &result, CommandName(step), {}, {})};
}

Verdict Judged(Cause cause, const std::string& first, const std::string& second) {
    return {cause, Text(cause, nullptr, nullptr, first, second)};
}

Verdict Judged(Cause cause, const CommandResult& result, const std::string& first) {
    return {cause, Text(cause, &result, nullptr, first, {})};
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
