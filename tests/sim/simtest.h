// Helpers of the drive integration tests: the simulated drive files (reached
// through Wine's Z: drive) and a recording panel.
#pragma once

#include "drive/speedcontrol.h"

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

// A panel that keeps the state of its controls, as the main window's would.
class FakePanel : public velotune::PanelControls {
public:
    std::vector<std::string> drives;
    int driveIndex = -1;
    int driveSelectCalls = 0;
    std::vector<std::string> messages; // "text|caption|style"
    int quitRequests = 0;
    std::string status;
    bool radioEnabled = true;
    bool highChecked = false;
    bool speedListEnabled = false;
    std::vector<std::string> speeds;
    int speedIndex = -1;
    bool speedGroupEnabled = false;
    velotune::CaptionColour speedCaption = velotune::CaptionColour::InactiveCaption;
    velotune::CaptionColour modeCaption = velotune::CaptionColour::WindowText;

    void DriveListAdd(const char* text) override { drives.emplace_back(text); }
    void DriveListClear() override {
        drives.clear();
        driveIndex = -1;
    }
    int DriveListIndex() override { return driveIndex; }
    void DriveListSelect(int index) override {
        ++driveSelectCalls;
        driveIndex = index < static_cast<int>(drives.size()) ? index : -1;
    }
    void ShowMessage(const char* text, const char* caption, unsigned style) override {
        messages.push_back(std::string(text) + "|" + caption + "|" + std::to_string(style));
    }
    void QuitRequest() override { ++quitRequests; }
    void SetStatusText(const char* text) override { status = text; }
    const char* HighSpeedCaption() override { return "Current Speed = High Speed Mode"; }
    const char* SilenceCaption() override { return "Current Speed = Silence Mode"; }
    void SetRadioEnabled(bool enabled) override { radioEnabled = enabled; }
    bool HighSpeedChecked() override { return highChecked; }
    void CheckHighSpeed(bool high) override { highChecked = high; }
    bool SpeedListEnabled() override { return speedListEnabled; }
    void SetSpeedListEnabled(bool enabled) override { speedListEnabled = enabled; }
    void SpeedListClear() override {
        speeds.clear();
        speedIndex = -1;
    }
    void SpeedListAdd(const char* text) override { speeds.emplace_back(text); }
    void SpeedListSelect(int index) override {
        speedIndex = index < static_cast<int>(speeds.size()) ? index : -1;
    }
    int SpeedListIndex() override { return speedIndex; }
    int SpeedListCount() override { return static_cast<int>(speeds.size()); }
    const char* SpeedListText(int index) override {
        return index >= 0 && index < static_cast<int>(speeds.size()) ? speeds[index].c_str() : "";
    }
    bool SpeedGroupEnabled() override { return speedGroupEnabled; }
    void SetSpeedGroupEnabled(bool enabled) override { speedGroupEnabled = enabled; }
    void SetSpeedGroupCaption(velotune::CaptionColour colour) override { speedCaption = colour; }
    void SetModeGroupCaption(velotune::CaptionColour colour) override { modeCaption = colour; }
};

} // namespace simtest
