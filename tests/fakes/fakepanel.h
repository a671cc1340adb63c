// The one fake of the panel for every test of the drive layer: it keeps the
// state of the main window's controls and behaves as those controls do (a
// selection outside a list selects nothing; checking one mode button clears the
// other). Its starting state is the designed layout's.
#pragma once

#include "drive/drivecommands.h"
#include "drive/speedcontrol.h"

#include <sstream>
#include <string>
#include <vector>

namespace vt_test {

class FakePanel : public velotune::PanelView {
public:
    std::vector<std::string> drives;
    int driveIndex = -1;
    int driveSelectCalls = 0;
    struct Message {
        std::string text, caption;
        unsigned style;
    };
    std::vector<Message> messages;
    int quitRequests = 0;

    std::string status;
    bool radioEnabled = true;
    bool highChecked = true; // RadioButton1 starts checked
    bool lowChecked = false;
    bool listEnabled = false;
    std::vector<std::string> speeds;
    int speedIndex = -1;
    bool groupEnabled = false;
    velotune::CaptionColor speedGroupCaption = velotune::CaptionColor::InactiveCaption;
    velotune::CaptionColor modeGroupCaption = velotune::CaptionColor::WindowText;

    // PanelView
    void AddDrive(const char* entry) override { drives.emplace_back(entry); }
    void RemoveDrive(int index) override {
        if (!InRange(index, drives.size())) return;
        drives.erase(drives.begin() + index);
        driveIndex = driveIndex == index ? -1 : driveIndex > index ? driveIndex - 1 : driveIndex;
    }
    void ClearDrives() override {
        drives.clear();
        driveIndex = -1;
    }
    int SelectedDrive() override { return driveIndex; }
    void SelectDrive(int index) override {
        ++driveSelectCalls;
        driveIndex = InRange(index, drives.size()) ? index : -1;
    }
    void ShowMessageAndQuit(const char* text, const char* caption, unsigned style) override {
        messages.push_back({text, caption, style});
        ++quitRequests;
    }
    void ShowStatus(const char* text) override { status = text; }
    void ShowMode(bool high) override {
        status = high ? "Current Speed = High Speed Mode" : "Current Speed = Silence Mode";
        CheckHighSpeed(high);
    }
    bool HighSpeedChecked() override { return highChecked; }
    void SetPresentation(velotune::Presentation presentation) override {
        const bool list = presentation == velotune::Presentation::List;
        radioEnabled = !list;
        listEnabled = list;
        speedGroupCaption =
            list ? velotune::CaptionColor::WindowText : velotune::CaptionColor::InactiveCaption;
        modeGroupCaption =
            list ? velotune::CaptionColor::InactiveCaption : velotune::CaptionColor::WindowText;
    }
    velotune::Presentation CurrentPresentation() override {
        return listEnabled ? velotune::Presentation::List : velotune::Presentation::Radio;
    }
    void ShowSpeeds(std::span<const std::uint8_t> list) override {
        groupEnabled = true;
        speeds.clear();
        char text[velotune::kSpeedEntrySize];
        for (std::uint8_t speed : list) {
            velotune::FormatSpeedEntry(speed, text);
            speeds.emplace_back(text);
        }
        speedIndex = speeds.empty() ? -1 : 0;
    }
    void ClearSpeeds() override {
        groupEnabled = false;
        speeds.clear();
        speedIndex = -1;
    }
    bool SpeedListBuilt() override { return groupEnabled; }
    std::span<const std::string> SpeedEntries() override { return speeds; }
    int SelectedSpeed() override { return speedIndex; }

    // What a user does.
    void CheckHighSpeed(bool high) {
        highChecked = high;
        lowChecked = !high;
    }
    void SpeedListSelect(int index) { speedIndex = InRange(index, speeds.size()) ? index : -1; }

    // The message boxes as "text|caption|style".
    std::vector<std::string> MessageLines() const {
        std::vector<std::string> lines;
        for (const Message& m : messages)
            lines.push_back(m.text + "|" + m.caption + "|" + std::to_string(m.style));
        return lines;
    }

    // Everything a user can see, for "nothing changed" comparisons.
    std::string Snapshot() const {
        std::ostringstream out;
        out << "status=" << status << " radio=" << radioEnabled << " high=" << highChecked
            << " low=" << lowChecked << " list=" << listEnabled << " group=" << groupEnabled
            << " speedIndex=" << speedIndex << " captions=" << static_cast<int>(speedGroupCaption)
            << static_cast<int>(modeGroupCaption) << " speeds=";
        for (const auto& s : speeds)
            out << s << ",";
        out << " drives=" << drives.size() << " driveIndex=" << driveIndex;
        return out.str();
    }

private:
    static bool InRange(int index, std::size_t size) {
        return index >= 0 && static_cast<std::size_t>(index) < size;
    }
};

} // namespace vt_test
