// The read speed of any optical drive through the standard multimedia
// commands: what status and list show of it, and how set changes it and reads
// it back. No vendor command is sent here.
#pragma once

#include "tool/args.h"
#include "tool/output.h"
#include "tool/probe.h"

#include <string>

namespace velotune::tool {

// Medium, current and maximum read speed, and the speeds offered, into
// `report`; only commands that change nothing. A drive that does not answer
// one of them is simply not said to have it; Ok unless a command failed on the
// way to the drive.
Verdict ReadMmcStatus(Session& session, const Probe& drive, DriveReport& report);

// set Nx, NkB or max.
struct SpeedResult {
    Verdict verdict;             // the outcome and, when it is not Ok, the cause
    std::string said;            // the outcome for stdout ("8x asked, the drive reads at 6x")
    std::string warning;         // a line for stderr that leaves the code as it is
    bool noDisc = false;         // the drive takes a speed only with a disc in it
    bool noSpeedCommand = false; // the drive took neither speed command
    DriveReport report;          // the drive as read back
};
SpeedResult SetReadSpeed(Session& session, const Probe& drive, Setting setting, unsigned value);

// "8x", "1411kB" or "max", as the user wrote it.
std::string ReadSpeedAsked(Setting setting, unsigned value);

} // namespace velotune::tool
