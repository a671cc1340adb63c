// Helpers of the drive integration tests: the simulated drive files (reached
// through Wine's Z: drive); the panel fake is shared.
#pragma once

#include "drive/speedcontrol.h"
#include "tests/fakes/fakepanel.h"

#include <string>
#include <vector>

namespace simtest {

// The folder of the drive files, from VT_SIM_DIR, as a Windows path ending in '\'.
std::string SimDir();
std::string DrivePath(const std::string& name);

// Writes a drive file (key=value lines) and empties its log.
void WriteDrive(const std::string& name, const std::string& text);
std::string ReadDriveKey(const std::string& name, const std::string& key);

std::vector<std::string> ReadLines(const std::string& path);
std::vector<std::string> DriveLog(const std::string& name);
void ClearDriveLog(const std::string& name);
void WriteText(const std::string& path, const std::string& text);

// The value of "key=" in a log line ("" when missing).
std::string Field(const std::string& line, const std::string& key);
// The log line without its answer, e.g. "cdb=... dir=in len=255 timeout=60000 sense_max=24".
std::string Request(const std::string& line);

using FakePanel = vt_test::FakePanel;

} // namespace simtest
