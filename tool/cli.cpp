// The velotune commands: list, status and set over one Transport.
#include "tool/cli.h"

#include "tool/output.h"
#include "tool/probe.h"

#include "drive/drivecommands.h"

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
        }
        // status and set answer a script in JSON whatever happened.
        const bool oneDrive =
            options_.command == Command::Status || options_.command == Command::Set;
        if (options_.json && oneDrive && out_.exitCode != kExitOk)
            out_.out = ErrorJson(failedDevice_, out_.exitCode, failure_) + "\n";
        if (options_.quiet) {
            out_.out.clear();
            out_.err.clear();
        }
        return out_;
    }

private:
    // One failure, on stderr; the run ends with the largest code. The first
    // with that code is the one a JSON error names.
    void Fail(const std::optional<std::string>& device, int code, const std::string& why) {
        out_.err += Line((device ? About(*device) : std::string()) + why);
        if (code > out_.exitCode || failure_.empty()) {
            failedDevice_ = device;
            failure_ = why;
        }
        out_.exitCode = std::max(out_.exitCode, code);
    }
    void Fail(int code, const std::string& why) { Fail(std::nullopt, code, why); }
    void Fail(const std::string& device, const Verdict& verdict) {
        Fail(device, verdict.code, verdict.why);
    }

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

    // Examines one device; a name that names none is no such device.
    Probe Examine(Session& session, const std::string& given, const std::string& device) {
        if (device.empty()) {
            Probe probe;
            probe.device = given;
            probe.failure = {kExitNoDevice, "no such device"};
            return probe;
        }
        return session.Examine(device);
    }

    // The maker's drives among the devices, in order, and with --all the other
    // makers' optical drives. A named device that is not listed is told about on
    // stderr and its code counts; a search passes over devices that are not the
    // maker's drives quietly, and tells only of those that failed. `foreign`
    // receives the number of other makers' optical drives left out.
    std::vector<Probe> Find(Session& session, int& foreign) {
        const bool named = !options_.devices.empty();
        const std::vector<std::string> devices = Devices();
        std::vector<Probe> drives;
        foreign = 0;
        for (std::size_t i = 0; i < devices.size(); ++i) {
            Probe probe = Examine(session, named ? options_.devices[i] : devices[i], devices[i]);
            if (probe.failure.code == kExitOk || (options_.all && probe.foreign)) {
                drives.push_back(std::move(probe));
            } else {
                foreign += probe.foreign ? 1 : 0;
                if (named || probe.failure.code != kExitNoDevice) Fail(probe.device, probe.failure);
            }
        }
        return drives;
    }

    // A search that lists nothing: say whether optical drives were there.
    void NoneFound(int foreign) {
        if (foreign == 0)
            Fail(kExitNoDevice, "no drive found");
        else
            Fail(kExitNoDevice, "no drive of this maker found, but " + std::to_string(foreign) +
                                    " optical drive" + (foreign > 1 ? "s" : "") +
                                    " of other makers: 'velotune list --all' shows " +
                                    (foreign > 1 ? "them" : "it"));
    }

    void List() {
        Session session(transport_, Trace());
        int foreign = 0;
        const std::vector<Probe> drives = Find(session, foreign);
        std::vector<DriveReport> reports;
        for (const Probe& probe : drives)
            reports.push_back(probe.report);
        if (options_.json) {
            std::string text = "[";
            for (std::size_t i = 0; i < reports.size(); ++i)
                text += (i ? ", " : "") + DriveJson(reports[i]);
            out_.out = text + "]\n";
        } else {
            out_.out = Table(reports);
        }
        if (reports.empty() && options_.devices.empty() && out_.exitCode == kExitOk)
            NoneFound(foreign);
    }

    // The one drive status and set act on: the named one, or the only one a
    // search finds. It stays open in `session`.
    bool OneDrive(Session& session, Probe& drive) {
        if (!options_.devices.empty()) {
            const std::string& given = options_.devices[0];
            drive = Examine(session, given, transport_.DeviceName(given));
            if (drive.failure.code == kExitOk) return true;
            Fail(drive.device, drive.failure);
            return false;
        }
        int foreign = 0;
        std::vector<Probe> drives = Find(session, foreign);
        if (drives.empty()) {
            // Devices that failed have been told about already.
            if (out_.exitCode == kExitOk) NoneFound(foreign);
            return false;
        }
        if (drives.size() > 1) {
            std::vector<DriveReport> reports;
            for (const Probe& probe : drives)
                reports.push_back(probe.report);
            out_.err += Table(reports);
            Fail(kExitUsage, "several drives found: name one with --device");
            return false;
        }
        drive = std::move(drives[0]);
        return true;
    }

    void Status() {
        Session session(transport_, Trace());
        Probe drive;
        if (OneDrive(session, drive)) Print(drive.report);
    }

    void Print(const DriveReport& drive) {
        out_.out = options_.json ? DriveJson(drive) + "\n" : StatusText(drive);
    }

    // Whether the drive takes the requested setting; the message names what it takes.
    bool Accepts(const DriveReport& drive, std::string& refusal) const {
        if (drive.twoMode) {
            if (options_.setting != Setting::Speed) return true;
            refusal = "it is a two-mode drive, which accepts high or silence";
            return false;
        }
        if (options_.setting == Setting::Speed &&
            std::find(drive.speeds.begin(), drive.speeds.end(), options_.speed) !=
                drive.speeds.end())
            return true;
        refusal = "it is a speed-list drive, which accepts " +
                  (drive.speeds.empty() ? std::string("no speed (its list is empty)")
                                        : "one of its speeds: " + SpeedsText(drive.speeds, ", "));
        return false;
    }

    bool Shows(const DriveReport& drive) const {
        switch (options_.setting) {
        case Setting::High:
            return drive.twoMode && drive.high;
        case Setting::Silence:
            return drive.twoMode && !drive.high;
        case Setting::Speed:
        default:
            return !drive.twoMode && drive.speed == options_.speed;
        }
    }

    std::string Requested() const {
        switch (options_.setting) {
        case Setting::High:
            return "high";
        case Setting::Silence:
            return "silence";
        case Setting::Speed:
        default:
            return "speed " + std::to_string(options_.speed);
        }
    }

    void Set() {
        Session session(transport_, Trace());
        Probe drive;
        // The probe's status read comes first: a mode set goes only to a drive
        // that answers it.
        if (!OneDrive(session, drive)) return;
        const DriveReport& before = drive.report;
        std::string refusal;
        if (!Accepts(before, refusal)) {
            Fail(drive.device, kExitUsage, refusal);
            return;
        }
        // The mode set.
        std::uint8_t cdb[kCdb12];
        const std::uint8_t value = options_.setting == Setting::High ? kModeHighSpeed
                                   : options_.setting == Setting::Silence
                                       ? kModeSilence
                                       : static_cast<std::uint8_t>(options_.speed);
        BuildModeSetCdb(value, cdb);
        AlignedBuffer<kModeSetLength> buffer;
        CommandResult result = session.Send(drive, cdb, kCdb12, buffer.data(), kModeSetLength);
        if (result.status != IoStatus::Ok) {
            const Verdict verdict = Judge(Step::ModeSet, result);
            Fail(drive.device, verdict.code, "the mode set failed: " + verdict.why);
            return;
        }
        // The read-back.
        AlignedBuffer<kStatusReadLength> reply;
        result = session.Send(drive, kStatusReadCdb, kCdb12, reply.data(), kStatusReadLength);
        const std::size_t size = StatusReplyBytes(kStatusReadLength, result.transferred);
        if (result.status != IoStatus::Ok || size == 0) {
            const Verdict verdict = result.status != IoStatus::Ok
                                        ? Judge(Step::ReadBack, result)
                                        : Verdict{kExitFailed, "no reply"};
            Fail(drive.device, verdict.code,
                 "the status read after the mode set failed: " + verdict.why);
            return;
        }
        DriveReport after = before;
        FromStatus(after, reply.data(), size);
        if (!Shows(after)) {
            Fail(drive.device, kExitFailed,
                 "asked for " + Requested() + ", the drive reports " + SettingText(after));
            return;
        }
        out_.out = options_.json ? DriveJson(after) + "\n"
                                 : Printable(drive.device) + "  " + SettingText(after) + "\n";
    }

    const Options& options_;
    Transport& transport_;
    Outcome out_;
    std::optional<std::string> failedDevice_; // the failure a JSON error names
    std::string failure_;
};

} // namespace

Outcome Run(const std::vector<std::string>& args, Transport& transport) {
    const Parsed parsed = ParseArgs(args);
    if (!parsed.ok) {
        Outcome outcome;
        outcome.exitCode = kExitUsage;
        outcome.err = Line(Printable(parsed.error));
        return outcome;
    }
    return Runner(parsed.options, transport).Run();
}

} // namespace velotune::tool
