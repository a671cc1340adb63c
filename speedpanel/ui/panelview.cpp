// The main window as the speed control logic sees it: PanelView drawn with the
// controls of the designed layout, in one place.
#include "drive/drivecommands.h"
#include "speedpanel/ui/main.h"

namespace velotune {

using tk::SysColor;

void TFormMain::AddDrive(const char* entry) {
    DriveComboBox.Add(entry);
}
void TFormMain::RemoveDrive(int index) {
    DriveComboBox.Delete(index);
}
void TFormMain::ClearDrives() {
    DriveComboBox.Clear();
}
int TFormMain::SelectedDrive() {
    return DriveComboBox.ItemIndex();
}
void TFormMain::SelectDrive(int index) {
    DriveComboBox.SetItemIndex(index);
}

void TFormMain::ShowMessageAndQuit(const char* text, const char* caption, unsigned style) {
    messageBox_(Handle(), text, caption, style);
    if (tk::App())
        tk::App()->Terminate();
    else
        PostQuitMessage(0);
}

void TFormMain::ShowStatus(const char* text) {
    StaticText1.SetText(text);
}

void TFormMain::ShowMode(bool high) {
    // Copied, so that the status line never shares the label's storage.
    const std::string caption = (high ? Label1 : Label2).Text();
    StaticText1.SetText(caption);
    (high ? RadioButton1 : RadioButton2).SetChecked(true);
}

bool TFormMain::HighSpeedChecked() {
    return RadioButton1.Checked();
}

void TFormMain::SetPresentation(Presentation presentation) {
    const bool list = presentation == Presentation::List;
    auto color = [](bool inUse) {
        return SysColor(inUse ? COLOR_WINDOWTEXT : COLOR_INACTIVECAPTION);
    };
    RadioButton1.SetEnabled(!list);
    RadioButton2.SetEnabled(!list);
    ComboBox1.SetEnabled(list);
    GroupBox2.SetFontColor(color(!list));
    GroupBox1.SetFontColor(color(list));
}

Presentation TFormMain::CurrentPresentation() {
    return ComboBox1.Enabled() ? Presentation::List : Presentation::Radio;
}

void TFormMain::ShowSpeeds(std::span<const std::uint8_t> speeds) {
    GroupBox1.SetEnabled(true);
    ComboBox1.Clear();
    char text[kSpeedEntrySize];
    for (std::uint8_t speed : speeds) {
        FormatSpeedEntry(speed, text);
        ComboBox1.Add(text);
    }
    if (!speeds.empty()) ComboBox1.SetItemIndex(0);
}

void TFormMain::ClearSpeeds() {
    GroupBox1.SetEnabled(false);
    ComboBox1.Clear();
}

bool TFormMain::SpeedListBuilt() {
    return GroupBox1.Enabled();
}

std::span<const std::string> TFormMain::SpeedEntries() {
    return ComboBox1.Items();
}

int TFormMain::SelectedSpeed() {
    return ComboBox1.ItemIndex();
}

} // namespace velotune
