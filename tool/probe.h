// Asking one device what it is, before any vendor command reaches it: INQUIRY
// first, the status read only for an optical drive. Plain C++ over a Transport.
#pragma once

#include "tool/output.h"
#include "tool/result.h"
#include "tool/transport.h"

#include <functional>
#include <string>

namespace velotune::tool {

// One device as the probe found it. It stays open until the session ends.
struct Probe {
    std::string device;
    int slot = -1;
    bool answered = false; // it answered INQUIRY: a SCSI device
    bool optical = false;  // INQUIRY: peripheral qualifier 0, device type 5
    bool foreign = false;  // an optical drive that does not answer the status read
    std::string note;      // why the status read could not tell, when it could not
    Verdict failure;       // Ok: one of the maker's drives, or not asked
    DriveReport report;
};

// Opens devices and sends them commands, each as one line on stderr when asked
// (`trace`); closes what it opened when it ends.
class Session {
public:
    using Trace = std::function<void(const std::string& device, const std::string& line)>;
    // With `lock`, each drive is kept from other velotune runs from its status
    // read until the session ends, so that its status, mode set and read-back
    // are this run's alone.
    Session(Transport& transport, Trace trace = nullptr, bool lock = false)
        : transport_(transport), trace_(trace), lock_(lock) {}
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Open and INQUIRY: what the device is, with no vendor command sent.
    Probe Identify(const std::string& device);
    // For an optical drive that Identify found: the status read, which tells the
    // maker's drives (after the lock, when the session takes it).
    void ReadStatus(Probe& probe);
    // The lock, when the session takes it; a drive another run holds past the
    // wait fails.
    void Lock(Probe& probe);
    // Identify, then ReadStatus.
    Probe Examine(const std::string& device);
    // One command, sent again as the drive layer's retry rule says; each try is
    // traced, and the last one counts.
    CommandResult Send(const Probe& probe, const std::uint8_t* cdb, std::uint8_t cdbLength,
                       std::uint8_t* data, std::uint32_t dataLength,
                       DataDirection direction = DataDirection::In);
    // The system's own CD speed request; traced as the commands are.
    CommandResult SelectCdSpeed(const Probe& probe, unsigned cdX);

private:
    void TraceTry(const Probe& probe, const std::uint8_t* cdb, std::uint8_t cdbLength,
                  std::uint32_t dataLength, const CommandResult& result);

    Transport& transport_;
    Trace trace_;
    bool lock_;
    std::vector<int> open_;
};

} // namespace velotune::tool
