// The velotune commands: list, status and set over one Transport.
#include "tool/cli.h"

#include "tool/output.h"

#include "drive/discovery.h"
#include "drive/drivecommands.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace velotune::tool {
namespace {

constexpr char kProgram[] = "velotune";
constexpr std::size_t kMaxDrives = 64;

// "E: ..." for a drive letter, "/dev/sr0: ..." for a path.
std::string About(const std::string& device) {
    return !device.empty() && device.back() == ':' ? device + " " : device + ": ";
}

std::string Line(const std::string& text) {
    return std::string(kProgram) + ": " + text + "\n";
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

} // namespace velotune::tool
