// Asking one device what it is, before any vendor command reaches it: INQUIRY
// first, the status read only for an optical drive. Plain C++ over a Transport.
#pragma once

#include "tool/output.h"
#include "tool/transport.h"

#include <functional>
#include <string>

namespace velotune::tool {

enum ExitCode : int {
    kExitOk = 0,
    kExitUsage = 1,        // usage error, a value the drive refuses, several drives found
    kExitNoDevice = 2,     // no such device, not a SCSI or optical device, not this maker's drive
    kExitFailed = 3,       // the drive did not answer, or a command failed
    kExitNotPermitted = 4, // the system refuses the pass-through
};

// The commands a run sends, by what they are for.
enum class Step { Open, Inquiry, StatusRead, ModeSet, ReadBack };

// What an open or a command that did not complete means: the exit code and the
// cause in plain words. Code 0 for one that did.
struct Verdict {
    int code = kExitOk;
    std::string why;
};
Verdict Judge(Step step, const CommandResult& result);
// "sense 5/24/00"
std::string SenseText(const SenseCode& sense);

// One device as the probe found it. It stays open until the session ends.
struct Probe {
    std::string device;
    int slot = -1;
    bool answered = false; // it answered INQUIRY: a SCSI device
    bool optical = false;  // INQUIRY: peripheral qualifier 0, device type 5
    bool foreign = false;  // an optical drive that does not answer the status read
    std::string note;      // why the status read could not tell, when it could not
    Verdict failure;       // code 0: one of the maker's drives, or not asked
    DriveReport report;
};

// Opens devices and sends them commands, each as one line on stderr when asked
// (`trace`); closes what it opened when it ends.
class Session {
public:
    using Trace = std::function<void(const std::string& device, const std::string& line)>;
    Session(Transport& transport, Trace trace = nullptr) : transport_(transport), trace_(trace) {}
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Open, INQUIRY, and for an optical drive the status read unless the
    // caller needs no kind (`statusRead` false).
    Probe Examine(const std::string& device, bool statusRead = true);
    CommandResult Send(const Probe& probe, const std::uint8_t* cdb, std::uint8_t cdbLength,
                       std::uint8_t* data, std::uint32_t dataLength,
                       DataDirection direction = DataDirection::In);
    // The system's own CD speed request; traced as the commands are.
    CommandResult SelectCdSpeed(const Probe& probe, unsigned cdX);

private:
    Transport& transport_;
    Trace trace_;
    std::vector<int> open_;
};

} // namespace velotune::tool
