// The velotune commands: list, status and set over one Transport.
#include "tool/cli.h"

#include "tool/output.h"
#include "tool/probe.h"

#include "drive/drivecommands.h"

#ifndef _WIN32
#include "tool/config.h"
#include "tool/drivenames_linux.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#endif

#include <algorithm>

namespace velotune::tool {
namespace {

constexpr char kProgram[] = "velotune";
#ifndef _WIN32
constexpr std::size_t kMaxConfigBytes = 64 * 1024;
#endif

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
        case Command::Apply:
            Apply();
            break;
        }
        return out_;
    }

private:
    void Fail(int code, const std::string& text) {
        out_.exitCode = std::max(out_.exitCode, code);
        out_.err += Line(text);
    }
    void Fail(const std::string& device, const Verdict& verdict) {
        Fail(verdict.code, About(device) + verdict.why);
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

    // The maker's drives among the devices, in order. A named device that is
    // not one is told about on stderr and its code counts; a search passes over
    // devices that are not the maker's drives quietly, and tells only of those
    // that failed. `worst` receives the largest code of those told.
    std::vector<Probe> Find(Session& session, int& worst) {
        const bool named = !options_.devices.empty();
        const std::vector<std::string> devices = Devices();
        std::vector<Probe> drives;
        worst = kExitOk;
        for (std::size_t i = 0; i < devices.size(); ++i) {
            Probe probe = Examine(session, named ? options_.devices[i] : devices[i], devices[i]);
            if (probe.failure.code == kExitOk) {
                drives.push_back(std::move(probe));
            } else if (named || probe.failure.code != kExitNoDevice) {
                out_.err += Line(About(probe.device) + probe.failure.why);
                worst = std::max(worst, probe.failure.code);
            }
        }
        return drives;
    }

    void List() {
        Session session(transport_);
        int worst = kExitOk;
        const std::vector<Probe> drives = Find(session, worst);
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
        out_.exitCode = worst;
        if (reports.empty() && options_.devices.empty() && worst == kExitOk)
            Fail(kExitNoDevice, "no drive found");
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
        int worst = kExitOk;
        std::vector<Probe> drives = Find(session, worst);
        if (drives.empty()) {
            // Devices that failed have been told about already.
            if (worst != kExitOk)
                out_.exitCode = worst;
            else
                Fail(kExitNoDevice, "no drive found");
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
        Session session(transport_);
        Probe drive;
        if (OneDrive(session, drive)) Print(drive.report);
    }

    void Print(const DriveReport& drive) {
        out_.out = options_.json ? DriveJson(drive) + "\n" : StatusText(drive);
    }

    // Whether the drive takes `setting`; the message names what it takes.
    static bool Accepts(const DriveReport& drive, Setting setting, unsigned speed,
                        std::string& refusal) {
        const std::string device = Printable(drive.device);
        if (drive.twoMode) {
            if (setting != Setting::Speed) return true;
            refusal = device + " is a two-mode drive: it accepts high or silence";
            return false;
        }
        if (setting == Setting::Speed &&
            std::find(drive.speeds.begin(), drive.speeds.end(), speed) != drive.speeds.end())
            return true;
        refusal = device + " is a speed-list drive: it accepts " +
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
        Session session(transport_);
        Probe drive;
        // The probe's status read comes first: a mode set goes only to a drive
        // that answers it.
        if (!OneDrive(session, drive)) return;
        std::string refusal;
        if (!Accepts(drive.report, options_.setting, options_.speed, refusal)) {
            Fail(kExitUsage, refusal);
            return;
        }
        DriveReport after;
        if (Switch(session, drive, options_.setting, options_.speed, after))
            out_.out = Printable(drive.device) + "  " + SettingText(after) + "\n";
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
            const Verdict verdict = Judge(Step::ModeSet, result);
            Fail(verdict.code, About(drive.device) + "the mode set failed: " + verdict.why);
            return false;
        }
        // The read-back.
        AlignedBuffer<kStatusReadLength> reply;
        result = session.Send(drive, kStatusReadCdb, kCdb12, reply.data(), kStatusReadLength);
        const std::size_t size = StatusReplyBytes(kStatusReadLength, result.transferred);
        if (result.status != IoStatus::Ok || size == 0) {
            const Verdict verdict = result.status != IoStatus::Ok
                                        ? Judge(Step::ReadBack, result)
                                        : Verdict{kExitFailed, "no reply"};
            Fail(verdict.code,
                 About(drive.device) + "the status read after the mode set failed: " + verdict.why);
            return false;
        }
        after = FromStatus(drive.device, reply.data(), size);
        after.model = drive.report.model;
        if (!Shows(after, setting, speed)) {
            Fail(kExitFailed, About(drive.device) + "asked for " + Requested(setting, speed) +
                                  ", the drive reports " + SettingText(after));
            return false;
        }
        return true;
    }

#ifdef _WIN32
    void Apply() {
        Fail(kExitUsage, "apply is a command of the Linux tool");
    }
#else
    // A drive apply leaves as it is, and why; the exit code stays.
    void LeftAlone(const std::string& device, const std::string& why) {
        out_.err += Line(About(device) + "left alone: " + why);
    }

    // apply: each drive found or named gets the mode of the configuration's
    // first line that matches it, by the same steps as set. Nothing is sent
    // while the configuration has no active line.
    void Apply() {
        const std::string file = options_.config.empty() ? kDefaultConfig : options_.config;
        errno = 0;
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            // Without its file the default configuration has nothing to apply.
            if (options_.config.empty() && errno == ENOENT) return;
            Fail(kExitUsage, About(file) + "cannot read the configuration" +
                                 (errno ? std::string(": ") + std::strerror(errno) : ""));
            return;
        }
        // A configuration is a few lines; a file without end (/dev/zero) is none.
        std::string text(kMaxConfigBytes + 1, '\0');
        in.read(text.data(), static_cast<std::streamsize>(text.size()));
        if (in.bad()) {
            Fail(kExitUsage, About(file) + "cannot read the configuration");
            return;
        }
        text.resize(static_cast<std::size_t>(in.gcount()));
        if (text.size() > kMaxConfigBytes) {
            Fail(kExitUsage, About(file) + "not a configuration: larger than 64 KiB");
            return;
        }
        const Config config = ParseConfig(text, file);
        if (!config.ok) {
            Fail(kExitUsage, Printable(config.error));
            return;
        }
        if (config.rules.empty()) return;

        Session session(transport_);
        const bool named = !options_.devices.empty();
        const std::vector<std::string> devices = Devices();
        std::vector<DriveReport> applied;
        bool any = false;
        for (std::size_t i = 0; i < devices.size(); ++i) {
            const std::string& given = named ? options_.devices[i] : devices[i];
            const Probe drive = Examine(session, given, devices[i]);
            if (drive.failure.code == kExitNoDevice && drive.answered) {
                // A disk, or another maker's optical drive.
                LeftAlone(drive.device, drive.failure.why);
                continue;
            }
            if (drive.failure.code != kExitOk) {
                // A search passes over what is not there.
                if (named || drive.failure.code != kExitNoDevice) Fail(drive.device, drive.failure);
                continue;
            }
            any = true;
            std::vector<std::string> names = DriveNames(given);
            if (drive.report.model) names.push_back(*drive.report.model);
            const ConfigRule* rule = MatchConfig(config.rules, names);
            if (!rule) {
                LeftAlone(drive.device, "no line of " + Printable(file) + " matches it");
                continue;
            }
            std::string refusal;
            if (!Accepts(drive.report, rule->setting, rule->speed, refusal)) {
                LeftAlone(drive.device, Printable(file) + " line " + std::to_string(rule->line) +
                                            " asks for " + Requested(rule->setting, rule->speed) +
                                            ", but " + refusal);
                continue;
            }
            DriveReport after;
            if (!Switch(session, drive, rule->setting, rule->speed, after)) continue;
            applied.push_back(after);
        }
        if (options_.json) {
            std::string text = "[";
            for (std::size_t i = 0; i < applied.size(); ++i)
                text += (i ? ", " : "") + DriveJson(applied[i]);
            out_.out = text + "]\n";
        } else {
            for (const DriveReport& drive : applied)
                out_.out += Printable(drive.device) + "  " + SettingText(drive) + "\n";
        }
        if (!named && !any && out_.exitCode == kExitOk) out_.err += Line("no drive found");
    }
#endif

    const Options& options_;
    Transport& transport_;
    Outcome out_;
};

} // namespace

Outcome Run(const std::vector<std::string>& args, Transport& transport) {
    const Parsed parsed = ParseArgs(args);
    if (!parsed.ok) {
        Outcome outcome;
        outcome.exitCode = kExitUsage;
        outcome.err = Line(Printable(parsed.error)) + "Try 'velotune --help'.\n";
        return outcome;
    }
    return Runner(parsed.options, transport).Run();
}

} // namespace velotune::tool
