// The velotune commands: list, status, set and apply over one Transport.
#include "tool/cli.h"

#include "tool/output.h"
#include "tool/probe.h"
#include "tool/speed.h"

#include "drive/drivecommands.h"

#ifndef _WIN32
#include "tool/config.h"
#include "tool/drivenames_linux.h"

#endif

#include <algorithm>

namespace velotune::tool {
namespace {

constexpr char kProgram[] = "velotune";

// "E: ..." for a drive letter, "/dev/sr0: ..." for a path.
std::string About(const std::string& device) {
    const std::string shown = Printable(device);
    return !shown.empty() && shown.back() == ':' ? shown + " " : shown + ": ";
}

std::string Line(const std::string& text) {
    return std::string(kProgram) + ": " + text + "\n";
}

// Drives as one JSON array, on one line.
std::string JsonArray(const std::vector<DriveReport>& drives) {
    std::string text = "[";
    for (std::size_t i = 0; i < drives.size(); ++i)
        text += (i ? ", " : "") + DriveJson(drives[i]);
    return text + "]\n";
}

class Runner {
public:
    Runner(const Options& options, Transport& transport)
        : options_(options), transport_(transport) {}

    Outcome Run() {
        switch (options_.command) {
        case Command::Help:
            out_.out = HelpText();
            break;
        case Command::Version:
            out_.out = VersionText();
            break;
        case Command::List:
            List();
            break;
        case Command::Status:
            Status();
            break;
        case Command::Set:
            Set();
            break;
        case Command::Apply:
            Apply();
            break;
        }
        // A script that asked for JSON gets JSON whatever happened: the error
        // document for a run that ended before any device (usage, configuration)
        // and for status and set; an array from list and apply.
        const bool oneDrive =
            options_.command == Command::Status || options_.command == Command::Set;
        const bool array = options_.command == Command::List || options_.command == Command::Apply;
        if (failure_) out_.exitCode = failure_->Code();
        if (options_.json && failure_ && (oneDrive || !examined_))
            out_.out = ErrorJson(failedDevice_, failure_->Code(), failure_->why) + "\n";
        else if (options_.json && array && out_.out.empty())
            out_.out = "[]\n";
        if (options_.quiet) {
            out_.out.clear();
            out_.err.clear();
        }
        return out_;
    }

private:
    // One failure, on stderr. The run ends with the first of those that
    // outweigh the others: its exit code, and the one a JSON error names.
    void Fail(const std::optional<std::string>& device, const Verdict& verdict) {
        out_.err += Line((device ? About(*device) : std::string()) + verdict.why);
        if (!failure_ || verdict.Outweighs(*failure_)) {
            failedDevice_ = device;
            failure_ = verdict;
        }
    }
    void Fail(const Verdict& verdict) { Fail(std::nullopt, verdict); }

    // Each command on stderr when asked for.
    Session::Trace Trace() {
        if (!options_.verbose) return nullptr;
        return [this](const std::string& device, const std::string& line) {
            out_.err += Line(About(device) + line);
        };
    }

    // The devices named with --device, as this system names them ("" for a name
    // that names none), or those a search finds.
    std::vector<std::string> Devices() const {
        if (options_.devices.empty()) return transport_.Search();
        std::vector<std::string> devices;
        for (const std::string& given : options_.devices)
            devices.push_back(transport_.DeviceName(given));
        return devices;
    }

    // Examines one device; a name that names none is no such device. Without
    // the status read (`statusRead` false) every optical drive passes.
    Probe Examine(Session& session, const std::string& given, const std::string& device,
                  bool statusRead = true) {
        if (device.empty()) {
            Probe probe;
            probe.device = given;
            probe.failure = Judged(Cause::NotFound);
            return probe;
        }
        if (statusRead) return session.Examine(device);
        Probe probe = session.Identify(device);
        if (probe.failure.Ok()) {
            probe.report.other = true; // no kind asked: an MMC drive to this run
            session.Lock(probe);
        }
        return probe;
    }

    // The maker's drives among the devices, in order, and with `others` every
    // other optical drive (kind mmc). A named device that is not listed is told
    // about on stderr and its code counts; a search passes over devices that are
    // not the maker's drives quietly, and tells only of those that failed.
    // `foreign` receives the number of other optical drives left out.
    std::vector<Probe> Find(Session& session, int& foreign, bool others, bool statusRead = true) {
        examined_ = true;
        const bool named = !options_.devices.empty();
        const std::vector<std::string> devices = Devices();
        std::vector<Probe> drives;
        foreign = 0;
        for (std::size_t i = 0; i < devices.size(); ++i) {
            Probe probe =
                Examine(session, named ? options_.devices[i] : devices[i], devices[i], statusRead);
            if (probe.failure.Ok() || (others && probe.foreign)) {
                drives.push_back(std::move(probe));
            } else {
                foreign += probe.foreign ? 1 : 0;
                if (named || !probe.failure.NoDevice()) Fail(probe.device, probe.failure);
            }
        }
        return drives;
    }

    // A search that lists nothing: say whether optical drives were there.
    void NoneFound(int foreign) {
        if (foreign == 0)
            Fail(Judged(Cause::NoDrive));
        else
            Fail(Judged(Cause::OnlyOtherMakers,
                        std::to_string(foreign) + " optical drive" + (foreign > 1 ? "s" : ""),
                        foreign > 1 ? "them" : "it"));
    }

    void List() {
        Session session(transport_, Trace());
        int foreign = 0;
        const std::vector<Probe> drives = Find(session, foreign, options_.all);
        std::vector<DriveReport> reports;
        for (const Probe& probe : drives) {
            reports.push_back(probe.report);
            if (probe.foreign) {
                const Verdict verdict = ReadMmcStatus(session, probe, reports.back());
                if (!verdict.Ok()) Fail(probe.device, verdict);
            }
        }
        out_.out = options_.json ? JsonArray(reports) : Table(reports);
        if (reports.empty() && options_.devices.empty() && !failure_)
            NoneFound(foreign);
        else if (foreign > 0 && options_.devices.empty())
            out_.err +=
                Line(std::to_string(foreign) + " other optical drive" + (foreign > 1 ? "s" : "") +
                     " (kind mmc): 'velotune list --all' adds " + (foreign > 1 ? "them" : "it"));
    }

    // The one drive status and set act on: the named one, or the only one a
    // search finds, with `others` any optical drive. It stays open in `session`.
    bool OneDrive(Session& session, Probe& drive, bool others, bool statusRead = true) {
        examined_ = true;
        if (!options_.devices.empty()) {
            const std::string& given = options_.devices[0];
            drive = Examine(session, given, transport_.DeviceName(given), statusRead);
            if (drive.failure.Ok() || (others && drive.foreign)) return true;
            Fail(drive.device, drive.failure);
            return false;
        }
        int foreign = 0;
        std::vector<Probe> drives = Find(session, foreign, others, statusRead);
        if (drives.empty()) {
            // Devices that failed have been told about already.
            if (!failure_) NoneFound(foreign);
            return false;
        }
        if (drives.size() > 1) {
            std::vector<DriveReport> reports;
            for (const Probe& probe : drives)
                reports.push_back(probe.report);
            out_.err += Table(reports);
            Fail(Judged(Cause::SeveralDrives));
            return false;
        }
        drive = std::move(drives[0]);
        return true;
    }

    void Status() {
        Session session(transport_, Trace());
        Probe drive;
        if (!OneDrive(session, drive, true)) return;
        if (drive.foreign) {
            const Verdict verdict = ReadMmcStatus(session, drive, drive.report);
            if (!verdict.Ok()) {
                Fail(drive.device, verdict);
                return;
            }
        }
        Print(drive.report);
    }

    void Print(const DriveReport& drive) {
        out_.out = options_.json ? DriveJson(drive) + "\n" : StatusText(drive);
    }

    // Whether the drive takes `setting`; the message names what it takes.
    static bool Accepts(const DriveReport& drive, Setting setting, unsigned speed,
                        std::string& refusal) {
        if (drive.other) {
            refusal = "it is an mmc drive, which takes a read speed: " +
                      (setting == Setting::Speed ? std::to_string(speed) + "x, " : std::string()) +
                      "NkB or max";
            return false;
        }
        if (drive.twoMode) {
            if (setting != Setting::Speed) return true;
            refusal = "it is a two-mode drive, which accepts high or silence";
            return false;
        }
        if (setting == Setting::Speed &&
            std::find(drive.speeds.begin(), drive.speeds.end(), speed) != drive.speeds.end())
            return true;
        refusal = "it is a speed-list drive, which accepts " +
                  (drive.speeds.empty() ? std::string("no speed (its list is empty)")
                                        : "one of its speeds: " + SpeedsText(drive.speeds, ", "));
        return false;
    }

    static bool Shows(const DriveReport& drive, Setting setting, unsigned speed) {
        switch (setting) {
        case Setting::High:
            return drive.twoMode && drive.high;
        case Setting::Silence:
            return drive.twoMode && !drive.high;
        case Setting::Speed:
        default:
            return !drive.twoMode && drive.speed == speed;
        }
    }

    static std::string Requested(Setting setting, unsigned speed) {
        switch (setting) {
        case Setting::High:
            return "high";
        case Setting::Silence:
            return "silence";
        case Setting::Speed:
        default:
            return "speed " + std::to_string(speed);
        }
    }

    void Set() {
        if (IsReadSpeed(options_.setting)) {
            SetSpeed();
            return;
        }
        Session session(transport_, Trace(), true);
        Probe drive;
        // The probe's status read comes first: a mode set goes only to a drive
        // that answers it. A number names an entry of the maker's speed lists.
        if (!OneDrive(session, drive, options_.setting == Setting::Speed)) return;
        std::string refusal;
        if (!Accepts(drive.report, options_.setting, options_.speed, refusal)) {
            Fail(drive.device, Judged(Cause::NotAccepted, refusal));
            return;
        }
        DriveReport after;
        if (!Switch(session, drive, options_.setting, options_.speed, after)) return;
        out_.out = options_.json ? DriveJson(after) + "\n"
                                 : Printable(drive.device) + "  " + SettingText(after) + "\n";
    }

    // set Nx, NkB or max: any optical drive, by the standard commands only.
    void SetSpeed() {
        Session session(transport_, Trace(), true);
        Probe drive;
        if (!OneDrive(session, drive, true, false)) return;
        const SpeedResult result = SetReadSpeed(session, drive, options_.setting, options_.speed);
        if (!result.warning.empty()) out_.err += Line(About(drive.device) + result.warning);
        if (!result.verdict.Ok()) {
            Fail(drive.device, result.verdict);
            return;
        }
        out_.out = options_.json ? DriveJson(result.report) + "\n"
                                 : Printable(drive.device) + "  " + result.said + "\n";
    }

    // The mode set to a drive that takes `setting`, and the read-back; `after`
    // receives the drive as read back. Tells of a failure and returns false.
    bool Switch(Session& session, const Probe& drive, Setting setting, unsigned speed,
                DriveReport& after) {
        std::uint8_t cdb[kCdb12];
        const std::uint8_t value = setting == Setting::High      ? kModeHighSpeed
                                   : setting == Setting::Silence ? kModeSilence
                                                                 : static_cast<std::uint8_t>(speed);
        BuildModeSetCdb(value, cdb);
        AlignedBuffer<kModeSetLength> buffer;
        CommandResult result = session.Send(drive, cdb, kCdb12, buffer.data(), kModeSetLength);
        if (result.status != IoStatus::Ok) {
            Verdict verdict = Judge(Step::ModeSet, result);
            verdict.why = "the mode set failed: " + verdict.why;
            Fail(drive.device, verdict);
            return false;
        }
        // The read-back.
        AlignedBuffer<kStatusReadLength> reply;
        result = session.Send(drive, kStatusReadCdb, kCdb12, reply.data(), kStatusReadLength);
        const std::size_t size = StatusReplyBytes(kStatusReadLength, result.transferred);
        if (result.status != IoStatus::Ok || size == 0) {
            Verdict verdict = result.status != IoStatus::Ok ? Judge(Step::ReadBack, result)
                                                            : Judged(Cause::NoReply);
            verdict.why = "the status read after the mode set failed: " + verdict.why;
            Fail(drive.device, verdict);
            return false;
        }
        after = drive.report;
        FromStatus(after, reply.data(), size);
        if (!Shows(after, setting, speed)) {
            Fail(drive.device,
                 Judged(Cause::NotShown, Requested(setting, speed), SettingText(after)));
            return false;
        }
        return true;
    }

#ifdef _WIN32
    void Apply() {
        Fail(Judged(Cause::NotHere));
    }
#else
    // A drive apply leaves as it is, and why; the exit code stays.
    void LeftAlone(const std::string& device, const std::string& why) {
        out_.err += Line(About(device) + "left alone: " + why);
    }

    static std::string ModeWord(const ConfigRule& rule) {
        return rule.setting == Setting::High      ? "high"
               : rule.setting == Setting::Silence ? "silence"
               : IsReadSpeed(rule.setting)        ? ReadSpeedAsked(rule.setting, rule.speed)
                                                  : std::to_string(rule.speed);
    }

    // apply: each drive found or named gets the mode of the first line that
    // names it, by the same steps as set. The lines are matched before any
    // vendor command: on the drive's path and links before anything is sent,
    // on its model after INQUIRY. A drive that no line names gets INQUIRY at
    // most. Nothing is sent while the configuration has no active line.
    void Apply() {
        const std::string file = options_.config.empty() ? kDefaultConfig : options_.config;
        std::string text, error;
        if (!ReadConfigFile(file, !options_.config.empty(), text, error)) {
            Fail(Judged(Cause::Usage, error));
            return;
        }
        const Config config = ParseConfig(text, file);
        if (!config.ok) {
            Fail(Judged(Cause::Usage, config.error));
            return;
        }
        for (const std::string& warning : config.warnings)
            out_.err += Line(warning);
        examined_ = true;
        if (config.rules.empty()) {
            if (options_.check) out_.err += Line(Printable(file) + ": no active line");
            return;
        }

        Session session(transport_, Trace(), !options_.check);
        const bool named = !options_.devices.empty();
        const std::vector<std::string> devices = Devices();
        if (devices.empty()) Fail(Judged(Cause::NoDrive));
        std::vector<std::vector<std::string>> namedBy(config.rules.size());
        std::vector<DriveReport> applied;
        for (std::size_t i = 0; i < devices.size(); ++i) {
            const std::string& given = named ? options_.devices[i] : devices[i];
            std::vector<const ConfigRule*> lines;
            Probe drive;
            if (!Named(session, config, file, given, devices[i], drive, lines)) continue;
            for (const ConfigRule* rule : lines)
                namedBy[static_cast<std::size_t>(rule - config.rules.data())].push_back(
                    drive.device);
            if (!options_.check) ApplyLine(session, file, *lines.front(), drive, applied);
        }
        if (options_.check)
            CheckReport(config, file, namedBy);
        else if (options_.json)
            out_.out = JsonArray(applied);
        else
            for (const DriveReport& drive : applied)
                out_.out += Printable(drive.device) + "  " + SettingText(drive) + "\n";
    }

    // The lines that name one device, the first the one that applies: its
    // names are read before anything is sent, its model after INQUIRY. False
    // when none does, or the device is no optical drive (told about).
    bool Named(Session& session, const Config& config, const std::string& configFile,
               const std::string& given, const std::string& device, Probe& drive,
               std::vector<const ConfigRule*>& lines) {
        const std::string file = Printable(configFile);
        if (device.empty()) { // a name that names no device here
            Fail(given, Judged(Cause::NotFound));
            return false;
        }
        std::vector<std::string> names = DriveNames(given);
        drive = session.Identify(device);
        if (!drive.failure.Ok()) {
            if (drive.answered)
                LeftAlone(drive.device, drive.failure.why); // a disk, a scanner
            else if (!options_.devices.empty() || !drive.failure.NoDevice())
                Fail(drive.device, drive.failure);
            return false;
        }
        if (drive.report.model) names.push_back(*drive.report.model);
        lines = MatchConfig(config.rules, names);
        if (lines.empty()) {
            LeftAlone(drive.device, "no line of " + file + " matches it");
            return false;
        }
        for (std::size_t k = 1; k < lines.size(); ++k)
            out_.err += Line(file + ":" + std::to_string(lines[k]->line) +
                             ": warning: " + Printable(drive.device) + " is named by line " +
                             std::to_string(lines.front()->line) + " already, which applies");
        return true;
    }

    // A read speed line, by the steps of set and under the lock. A drive that
    // takes a speed only with a disc in it, or none at all, or not the line's
    // (Nx without a medium it names), is left alone: the disc's arrival applies
    // the line later.
    void ApplySpeed(Session& session, const ConfigRule& rule, Probe& drive,
                    std::vector<DriveReport>& applied) {
        session.Lock(drive);
        if (!drive.failure.Ok()) {
            Fail(drive.device, drive.failure);
            return;
        }
        drive.report.other = true;
        const SpeedResult result = SetReadSpeed(session, drive, rule.setting, rule.speed);
        // A line this drive cannot take (Nx where it names no medium) is the
        // line's, not the drive's failure.
        if (result.noDisc || result.noSpeedCommand ||
            result.verdict.cause == Cause::MediumUnknown) {
            LeftAlone(drive.device, result.verdict.why);
            return;
        }
        if (!result.warning.empty()) out_.err += Line(About(drive.device) + result.warning);
        if (!result.verdict.Ok()) {
            Fail(drive.device, result.verdict);
            return;
        }
        applied.push_back(result.report);
    }

    // One line given to one drive: the status read (under the lock), then the
    // line's action by the steps of set.
    void ApplyLine(Session& session, const std::string& file, const ConfigRule& rule, Probe& drive,
                   std::vector<DriveReport>& applied) {
        if (IsReadSpeed(rule.setting)) {
            ApplySpeed(session, rule, drive, applied);
            return;
        }
        session.ReadStatus(drive);
        if (!drive.failure.Ok()) {
            // A drive the system keeps the status read from may well be the
            // maker's: the line is not applied, and that is a failure.
            if (drive.foreign && drive.note.empty())
                LeftAlone(drive.device, drive.failure.why);
            else
                Fail(drive.device, drive.failure);
            return;
        }
        std::string refusal;
        if (!Accepts(drive.report, rule.setting, rule.speed, refusal)) {
            LeftAlone(drive.device, Printable(file) + " line " + std::to_string(rule.line) +
                                        " asks for " + Requested(rule.setting, rule.speed) +
                                        ", but " + refusal);
            return;
        }
        DriveReport after;
        if (Switch(session, drive, rule.setting, rule.speed, after)) applied.push_back(after);
    }

    // apply --check: each line and the drives it names.
    void CheckReport(const Config& config, const std::string& file,
                     const std::vector<std::vector<std::string>>& namedBy) {
        std::string json = "[", text;
        for (std::size_t i = 0; i < config.rules.size(); ++i) {
            const ConfigRule& rule = config.rules[i];
            std::string devices, shown;
            for (const std::string& device : namedBy[i]) {
                devices += (devices.empty() ? "" : ", ") + JsonString(device);
                shown += (shown.empty() ? "" : ", ") + Printable(device);
            }
            json += std::string(i ? ", " : "") + "{\"file\": " + JsonString(file) +
                    ", \"line\": " + std::to_string(rule.line) +
                    ", \"pattern\": " + JsonString(rule.pattern) + ", \"mode\": \"" +
                    ModeWord(rule) + "\", \"devices\": [" + devices + "]}";
            text += Printable(file) + ":" + std::to_string(rule.line) + ": " +
                    Printable(rule.pattern) + " " + ModeWord(rule) + ": " +
                    (shown.empty() ? "names no drive" : "names " + shown) + "\n";
        }
        out_.out = options_.json ? json + "]\n" : text;
    }
#endif

    const Options& options_;
    Transport& transport_;
    Outcome out_;
    std::optional<std::string> failedDevice_; // the failure a JSON error names
    std::optional<Verdict> failure_;
    bool examined_ = false; // the run got as far as its devices
};

} // namespace

Outcome Run(const std::vector<std::string>& args, Transport& transport) {
    const Parsed parsed = ParseArgs(args);
    if (!parsed.ok) {
        const Verdict usage = Judged(Cause::Usage, parsed.error);
        Outcome outcome;
        outcome.exitCode = usage.Code();
        // The options were not taken: the error is told even with -q.
        outcome.err = Line(Printable(usage.why));
        if (parsed.options.json && !parsed.options.quiet)
            outcome.out = ErrorJson(std::nullopt, usage.Code(), usage.why) + "\n";
        return outcome;
    }
    return Runner(parsed.options, transport).Run();
}

} // namespace velotune::tool
