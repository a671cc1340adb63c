// The velotune command line.
#include "tool/cli.h"

#include "drive/discovery.h"
#include "drive/drivecommands.h"
#include "resources/version.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace velotune::tool {
namespace {

constexpr char kProgram[] = "velotune";
constexpr std::size_t kMaxDrives = 64;
constexpr unsigned kNoSpeed = 256; // a number no drive lists

// "E: ..." for a drive letter, "/dev/sr0: ..." for a path.
std::string About(const std::string& device) {
    return !device.empty() && device.back() == ':' ? device + " " : device + ": ";
}

std::string Line(const std::string& text) {
    return std::string(kProgram) + ": " + text + "\n";
}

// A decimal number. Digit runs too long or too large for a byte are numbers
// too, just none that a drive lists.
bool ParseNumber(const std::string& text, unsigned& value) {
    if (text.empty() ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    unsigned v = 0;
    for (char c : text) {
        v = v * 10 + static_cast<unsigned>(c - '0');
        if (v > 255) {
            value = kNoSpeed;
            return true;
        }
    }
    value = v;
    return true;
}

// The kind-dependent part of a drive's report, from its status reply.
DriveReport FromStatus(const std::string& device, const std::uint8_t* status, std::size_t size) {
    DriveReport report;
    report.device = device;
    const SpeedStatus parsed = ParseStatusReply(status, size);
    report.twoMode = parsed.twoMode;
    report.high = parsed.highSpeed;
    report.speed = parsed.current;
    report.speeds.assign(parsed.speeds.begin(), parsed.speeds.end());
    return report;
}

std::string Printable(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = '?';
    return out;
}

std::string KindName(const DriveReport& drive) {
    return drive.twoMode ? "two-mode" : "speed-list";
}

std::string SettingText(const DriveReport& drive) {
    if (drive.twoMode) return drive.high ? "high" : "silence";
    return "speed " + std::to_string(drive.speed);
}

std::string SpeedsText(const std::vector<std::uint8_t>& speeds, const char* separator) {
    std::string text;
    for (std::size_t i = 0; i < speeds.size(); ++i) {
        if (i) text += separator;
        text += std::to_string(speeds[i]);
    }
    return text;
}

std::string Pad(const std::string& text, std::size_t width) {
    return text + std::string(width > text.size() ? width - text.size() : 0, ' ');
}

// One line per drive, in aligned columns: device, model, kind, setting.
std::string Table(const std::vector<DriveReport>& drives) {
    std::size_t wDevice = 0, wModel = 0, wKind = 0;
    for (const DriveReport& d : drives) {
        wDevice = std::max(wDevice, d.device.size());
        wModel = std::max(wModel, Printable(d.model).size());
        wKind = std::max(wKind, KindName(d).size());
    }
    std::string text;
    for (const DriveReport& d : drives)
        text += Pad(d.device, wDevice) + "  " + Pad(Printable(d.model), wModel) + "  " +
                Pad(KindName(d), wKind) + "  " + SettingText(d) + "\n";
    return text;
}

std::string StatusText(const DriveReport& d) {
    std::string text = "device:  " + d.device + "\nmodel:   " + Printable(d.model) +
                       "\nkind:    " + KindName(d) + "\n";
    if (d.twoMode) return text + "mode:    " + (d.high ? "high" : "silence") + "\n";
    return text + "speed:   " + std::to_string(d.speed) +
           "\nspeeds:  " + (d.speeds.empty() ? std::string("(none)") : SpeedsText(d.speeds, " ")) +
           "\n";
}

std::string Why(IoStatus status, const std::string& device) {
    switch (status) {
    case IoStatus::NotFound:
        return About(device) + "no such device";
    case IoStatus::NotScsi:
        return About(device) + "not a SCSI device";
    case IoStatus::NotPermitted:
#ifdef _WIN32
        return About(device) + "not permitted: SCSI pass-through needs administrator rights";
#else
        return About(device) + "not permitted: the vendor commands need root or CAP_SYS_RAWIO";
#endif
    case IoStatus::CheckCondition:
    case IoStatus::Failed:
    case IoStatus::Ok:
    default:
        return About(device) + "not this maker's drive (no answer to the status read)";
    }
}

int ExitFor(IoStatus status) {
    return status == IoStatus::NotPermitted ? kExitNotPermitted : kExitNoDevice;
}

std::uint8_t ResultByte(IoStatus status) {
    switch (status) {
    case IoStatus::Ok:
        return kResultOk;
    case IoStatus::CheckCondition:
        return kResultError;
    default:
        return kResultIoFailed;
    }
}

// The tool's devices as discovery's candidates; remembers why each one that
// did not make it failed.
class Candidates : public DevicePort {
public:
    Candidates(Transport& transport, std::vector<std::string> devices)
        : transport_(transport), devices_(std::move(devices)), slots_(devices_.size(), -1),
          status_(devices_.size(), IoStatus::Ok) {}
    ~Candidates() override {
        for (std::size_t i = 0; i < slots_.size(); ++i)
            if (slots_[i] >= 0) transport_.Close(slots_[i]);
    }

    bool Open(int candidate) override {
        const std::string& name = devices_[static_cast<std::size_t>(candidate)];
        if (name.empty()) {
            status_[static_cast<std::size_t>(candidate)] = IoStatus::NotFound;
            return false;
        }
        int slot = -1;
        const IoStatus status = transport_.Open(name, slot);
        status_[static_cast<std::size_t>(candidate)] = status;
        if (status != IoStatus::Ok) return false;
        slots_[static_cast<std::size_t>(candidate)] = slot;
        return true;
    }
    void Close(int candidate) override {
        int& slot = slots_[static_cast<std::size_t>(candidate)];
        if (slot >= 0) transport_.Close(slot);
        slot = -1;
    }
    std::uint8_t Send(int candidate, const std::uint8_t* cdb, std::uint8_t cdbLength,
                      std::uint8_t* data, std::uint32_t dataLength,
                      std::uint32_t& transferred) override {
        return ResultByte(SendStatus(candidate, cdb, cdbLength, data, dataLength, transferred));
    }
    IoStatus SendStatus(int candidate, const std::uint8_t* cdb, std::uint8_t cdbLength,
                        std::uint8_t* data, std::uint32_t dataLength, std::uint32_t& transferred) {
        const IoStatus status = transport_.Send(slots_[static_cast<std::size_t>(candidate)], cdb,
                                                cdbLength, data, dataLength, transferred);
        status_[static_cast<std::size_t>(candidate)] = status;
        return status;
    }

    const std::string& Device(int candidate) const {
        return devices_[static_cast<std::size_t>(candidate)];
    }
    IoStatus Status(int candidate) const { return status_[static_cast<std::size_t>(candidate)]; }
    int Count() const { return static_cast<int>(devices_.size()); }

private:
    Transport& transport_;
    std::vector<std::string> devices_;
    std::vector<int> slots_;
    std::vector<IoStatus> status_;
};

DriveReport Report(const Candidates& candidates, const FoundDrive& found) {
    DriveReport report =
        FromStatus(candidates.Device(found.candidate), found.status, found.statusSize);
    report.model = InquiryModel(found.inquiry, kInquiryLength);
    return report;
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
        return out_;
    }

private:
    void Fail(int code, const std::string& text) {
        out_.exitCode = code;
        out_.err += Line(text);
    }

    // The devices named with --device, or those a search finds.
    std::vector<std::string> Devices(bool& named) {
        named = !options_.devices.empty();
        if (!named) return transport_.Search();
        std::vector<std::string> devices;
        for (const std::string& given : options_.devices) {
            std::string device = transport_.DeviceName(given);
            if (device.empty()) out_.err += Line(About(given) + "no such device");
            devices.push_back(device);
        }
        return devices;
    }

    // The maker's drives among the devices, in order, and the exit code when there
    // are none.
    std::vector<DriveReport> Find(Candidates& candidates, bool named, int& noneCode,
                                  std::vector<int>* where = nullptr) {
        AlignedBuffer<kStatusReadLength> reply;
        const std::vector<FoundDrive> found =
            FindDrives(candidates, candidates.Count(), kMaxDrives, reply.data());
        std::vector<DriveReport> drives;
        std::vector<bool> isFound(static_cast<std::size_t>(candidates.Count()), false);
        for (const FoundDrive& f : found) {
            drives.push_back(Report(candidates, f));
            isFound[static_cast<std::size_t>(f.candidate)] = true;
            if (where) where->push_back(f.candidate);
        }
        noneCode = kExitNoDevice;
        for (int i = 0; i < candidates.Count(); ++i) {
            if (isFound[static_cast<std::size_t>(i)]) continue;
            const IoStatus status = candidates.Status(i);
            if (status == IoStatus::NotPermitted) noneCode = kExitNotPermitted;
            // A search passes over other devices quietly, except where the system
            // refuses; a named device is always told about.
            if (named ? !candidates.Device(i).empty() : status == IoStatus::NotPermitted)
                out_.err += Line(Why(status, candidates.Device(i)));
        }
        return drives;
    }

    void List() {
        bool named = false;
        Candidates candidates(transport_, Devices(named));
        int noneCode = kExitNoDevice;
        const std::vector<DriveReport> drives = Find(candidates, named, noneCode);
        if (options_.json) {
            std::string text = "[";
            for (std::size_t i = 0; i < drives.size(); ++i)
                text += (i ? ", " : "") + DriveJson(drives[i]);
            out_.out = text + "]\n";
        } else {
            out_.out = Table(drives);
        }
        if (drives.empty()) {
            if (!named && noneCode == kExitNoDevice) out_.err += Line("no drive found");
            out_.exitCode = noneCode;
        }
    }

    // For status and set without --device: exactly one drive, or an error. The
    // drive stays open in `candidates` at candidate `which`.
    bool OnlyDrive(Candidates& candidates, DriveReport& drive, int& which) {
        int noneCode = kExitNoDevice;
        std::vector<int> where;
        const std::vector<DriveReport> drives = Find(candidates, false, noneCode, &where);
        if (drives.empty()) {
            // Refused devices have been named already.
            if (noneCode == kExitNotPermitted)
                out_.exitCode = noneCode;
            else
                Fail(noneCode, "no drive found");
            return false;
        }
        if (drives.size() > 1) {
            out_.err += Table(drives);
            Fail(kExitUsage, "several drives found: name one with --device");
            return false;
        }
        drive = drives[0];
        which = where[0];
        return true;
    }

    void Status() {
        if (options_.devices.empty()) {
            Candidates candidates(transport_, transport_.Search());
            DriveReport drive;
            int which = 0;
            if (OnlyDrive(candidates, drive, which)) Print(drive);
            return;
        }
        const std::string device = transport_.DeviceName(options_.devices[0]);
        if (device.empty()) {
            Fail(kExitNoDevice, About(options_.devices[0]) + "no such device");
            return;
        }
        // Exactly the discovery of one device: status read, then INQUIRY.
        Candidates candidates(transport_, {device});
        AlignedBuffer<kStatusReadLength> reply;
        const std::vector<FoundDrive> found = FindDrives(candidates, 1, 1, reply.data());
        if (found.empty()) {
            Fail(ExitFor(candidates.Status(0)), Why(candidates.Status(0), device));
            return;
        }
        Print(Report(candidates, found[0]));
    }

    void Print(const DriveReport& drive) {
        out_.out = options_.json ? DriveJson(drive) + "\n" : StatusText(drive);
    }

    // Whether the drive takes the requested setting; the message names what it takes.
    bool Accepts(const DriveReport& drive, std::string& refusal) const {
        if (drive.twoMode) {
            if (options_.setting != Setting::Speed) return true;
            refusal = drive.device + " is a two-mode drive: it accepts high or silence";
            return false;
        }
        if (options_.setting == Setting::Speed &&
            std::find(drive.speeds.begin(), drive.speeds.end(), options_.speed) !=
                drive.speeds.end())
            return true;
        refusal = drive.device + " is a speed-list drive: it accepts " +
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
        std::unique_ptr<Candidates> candidates;
        int which = 0;
        DriveReport before;
        AlignedBuffer<kStatusReadLength> reply;
        if (options_.devices.empty()) {
            // The search's status read is the probe.
            candidates = std::make_unique<Candidates>(transport_, transport_.Search());
            if (!OnlyDrive(*candidates, before, which)) return;
        } else {
            const std::string device = transport_.DeviceName(options_.devices[0]);
            if (device.empty()) {
                Fail(kExitNoDevice, About(options_.devices[0]) + "no such device");
                return;
            }
            candidates = std::make_unique<Candidates>(transport_, std::vector<std::string>{device});
            if (!candidates->Open(0)) {
                Fail(ExitFor(candidates->Status(0)), Why(candidates->Status(0), device));
                return;
            }
            // 1. The probe: a mode set goes only to a drive that answers it.
            std::uint32_t transferred = 0;
            const IoStatus status = candidates->SendStatus(0, kStatusReadCdb, kCdb12, reply.data(),
                                                           kStatusReadLength, transferred);
            // A reply too short to hold the mode is no answer.
            const std::size_t size = StatusReplyBytes(kStatusReadLength, transferred);
            if (status != IoStatus::Ok || size == 0) {
                Fail(ExitFor(status), Why(status, device));
                return;
            }
            before = FromStatus(device, reply.data(), size);
        }
        const std::string& device = before.device;
        std::string refusal;
        if (!Accepts(before, refusal)) {
            Fail(kExitUsage, refusal);
            return;
        }
        // 2. The mode set.
        std::uint8_t cdb[kCdb12];
        const std::uint8_t value = options_.setting == Setting::High ? kModeHighSpeed
                                   : options_.setting == Setting::Silence
                                       ? kModeSilence
                                       : static_cast<std::uint8_t>(options_.speed);
        BuildModeSetCdb(value, cdb);
        AlignedBuffer<kModeSetLength> buffer;
        std::uint32_t transferred = 0;
        IoStatus status =
            candidates->SendStatus(which, cdb, kCdb12, buffer.data(), kModeSetLength, transferred);
        if (status != IoStatus::Ok) {
            Fail(status == IoStatus::NotPermitted ? kExitNotPermitted : kExitFailed,
                 About(device) + "the mode set failed");
            return;
        }
        // 3. The read-back.
        std::fill(reply.begin(), reply.end(), 0);
        status = candidates->SendStatus(which, kStatusReadCdb, kCdb12, reply.data(),
                                        kStatusReadLength, transferred);
        const std::size_t size = StatusReplyBytes(kStatusReadLength, transferred);
        if (status != IoStatus::Ok || size == 0) {
            Fail(status == IoStatus::NotPermitted ? kExitNotPermitted : kExitFailed,
                 About(device) + "the status read after the mode set failed");
            return;
        }
        const DriveReport after = FromStatus(device, reply.data(), size);
        if (!Shows(after)) {
            Fail(kExitFailed, About(device) + "asked for " + Requested() + ", the drive reports " +
                                  SettingText(after));
            return;
        }
        out_.out = device + "  " + SettingText(after) + "\n";
    }

    const Options& options_;
    Transport& transport_;
    Outcome out_;
};

} // namespace

Parsed ParseArgs(const std::vector<std::string>& args) {
    Parsed parsed;
    Options& o = parsed.options;
    bool haveCommand = false, haveValue = false, help = false, version = false;
    auto error = [&](const std::string& text) {
        parsed.ok = false;
        parsed.error = text;
        return parsed;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            help = true;
        } else if (a == "--version") {
            version = true;
        } else if (a == "--json") {
            o.json = true;
        } else if (a == "--device") {
            if (i + 1 >= args.size()) return error("--device needs a device");
            o.devices.push_back(args[++i]);
        } else if (a.rfind("--device=", 0) == 0) {
            o.devices.push_back(a.substr(9));
        } else if (a.size() > 1 && a[0] == '-' && !(a[1] >= '0' && a[1] <= '9')) {
            return error("unknown option " + a);
        } else if (!haveCommand) {
            haveCommand = true;
            if (a == "list")
                o.command = Command::List;
            else if (a == "status")
                o.command = Command::Status;
            else if (a == "set")
                o.command = Command::Set;
            else
                return error("unknown command " + a);
        } else if (o.command == Command::Set && !haveValue) {
            haveValue = true;
            if (a == "high") {
                o.setting = Setting::High;
            } else if (a == "silence") {
                o.setting = Setting::Silence;
            } else if (ParseNumber(a, o.speed)) {
                o.setting = Setting::Speed;
            } else {
                return error("set takes high, silence or a speed, not " + a);
            }
        } else {
            return error("unexpected argument " + a);
        }
    }
    if (help || version) {
        if (haveCommand || o.json || !o.devices.empty() || (help && version))
            return error("--help and --version stand alone");
        o.command = help ? Command::Help : Command::Version;
        parsed.ok = true;
        return parsed;
    }
    if (!haveCommand) return error("no command given");
    if (o.command == Command::Set && !haveValue) return error("set needs high, silence or a speed");
    if (o.command == Command::Set && o.json) return error("set does not take --json");
    if (o.command != Command::List && o.devices.size() > 1)
        return error("name one device for status and set");
    parsed.ok = true;
    return parsed;
}

Outcome Run(const std::vector<std::string>& args, Transport& transport) {
    const Parsed parsed = ParseArgs(args);
    if (!parsed.ok) {
        Outcome outcome;
        outcome.exitCode = kExitUsage;
        outcome.err = Line(parsed.error) + "Try 'velotune --help'.\n";
        return outcome;
    }
    return Runner(parsed.options, transport).Run();
}

std::string HelpText() {
    return "Usage:\n"
           "  velotune list   [--json] [--device DEV]...   the maker's drives, one line each\n"
           "  velotune status [--json] [--device DEV]      one drive's kind, setting and speeds\n"
           "  velotune set (high | silence | SPEED) [--device DEV]   switch one drive\n"
           "  velotune --help | --version\n"
#ifdef _WIN32
           "DEV is a drive letter (E: or e).\n"
#else
           "DEV is a device path (/dev/sr0).\n"
#endif
           "Exit codes: 0 done, 1 usage or value refused, 2 no such drive,\n"
           "3 command failed, 4 not permitted.\n";
}

std::string VersionText() {
    return std::string("velotune ") + VELOTUNE_FILE_VERSION_STR + "\n";
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c > 0x7E) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

std::string DriveJson(const DriveReport& drive) {
    std::string text = "{\"device\": " + JsonString(drive.device) +
                       ", \"model\": " + JsonString(drive.model) + ", \"kind\": \"" +
                       KindName(drive) + "\"";
    if (drive.twoMode) return text + ", \"mode\": \"" + (drive.high ? "high" : "silence") + "\"}";
    text += ", \"speed\": " + std::to_string(drive.speed);
    return text + ", \"speeds\": [" + SpeedsText(drive.speeds, ", ") + "]}";
}

} // namespace velotune::tool
