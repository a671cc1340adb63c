// The speed panel's main window and the program's start-up.
#pragma once

#include "drive/speedcontrol.h"
#include "speedpanel/toolkit/form.h"
#include "speedpanel/toolkit/nonvisual.h"
#include "speedpanel/trayicon/trayicon.h"
#include "speedpanel/ui/about.h"

namespace velotune {

inline constexpr char kPanelClass[] = "TFormMain";
inline constexpr char kPanelTitle[] = "Trelvix Velotune";
inline constexpr char kLauncherTitle[] = "Trelvix Velotune Launcher";

// Who opens the About box, and where it goes for each.
enum class AboutOpener { WMShowAbout, About1Click, FormKeyUpF1, Button1Click };
tk::TPosition AboutPlacement(AboutOpener opener, bool mainVisible);

class TFormMain : public tk::TForm, public PanelControls {
public:
    using MessageBoxFn = int (*)(HWND, const char*, const char*, UINT);

    explicit TFormMain(tk::TComponent* owner, const DiscoverySeam& seam = RealDiscoverySeam(),
                       MessageBoxFn messageBox = nullptr);
    ~TFormMain() override;

    void CreateParams(TCreateParams& params) override;
    void SetAboutBox(TFormAbout* about) { FormAbout = about; }

    // Event handlers.
    void FormCreate();
    void FormShow(tk::TComponent* sender);
    void FormActivate(tk::TComponent* sender);
    void FormKeyUp(tk::TComponent* sender, WORD& key, tk::TShiftState shift);
    void RadioButtonKeyUp(tk::TComponent* sender, WORD& key, tk::TShiftState shift);
    void Button1Click(tk::TComponent* sender);
    void Image1MouseDown(tk::TComponent* sender, tk::TMouseButton button, tk::TShiftState shift,
                         int x, int y);
    void CloseClick(tk::TComponent* sender);
    void Exit1Click(tk::TComponent* sender);
    void About1Click(tk::TComponent* sender);
    void SpeedControl1Click(tk::TComponent* sender);
    void AutoStart1Click(tk::TComponent* sender);
    void TrayIcon1Restore(tk::TComponent* sender);
    void TrayIcon1Minimize(tk::TComponent* sender);
    void Button10Click(tk::TComponent* sender);
    void SpeedSetClick(tk::TComponent* sender);
    void DriveComboBoxChange(tk::TComponent* sender);
    void GroupBox1Click(tk::TComponent* sender);
    void GroupBox2Click(tk::TComponent* sender);
    void Timer1Timer(tk::TComponent* sender);

    // Application-level handlers.
    void AppMinimize(tk::TComponent* sender);
    void AppMessage(MSG& msg, bool& handled);
    void AppRestore(tk::TComponent* sender);

    // Message map: 1026 from the launcher.
    void WMShowAbout(tk::TMessage& message);

    // Components of the window.
    tk::TPopupMenu* PopupMenu1 = nullptr;
    tk::TMenuItem* SpeedControl1 = nullptr;
    tk::TMenuItem* Option1 = nullptr;
    tk::TMenuItem* AutoStart1 = nullptr;
    tk::TMenuItem* About1 = nullptr;
    tk::TMenuItem* Exit1 = nullptr;
    tk::TMainMenu* MainMenu1 = nullptr;
    tk::TMenuItem* System1 = nullptr;
    tk::TMenuItem* Close1 = nullptr;
    tk::TMenuItem* eXit2 = nullptr;
    tk::TMenuItem* About2 = nullptr;
    tk::TTimer* Timer1 = nullptr;
    tk::TImageList* ImageList1 = nullptr;
    TTrayIcon* TrayIcon1 = nullptr;
    TFormAbout* FormAbout = nullptr;

    SpeedControl& Speed() { return speed_; }

    // PanelControls: the drive layer's view of the controls.
    void DriveListAdd(const char* text) override;
    void DriveListClear() override;
    int DriveListIndex() override;
    void DriveListSelect(int index) override;
    void ShowMessage(const char* text, const char* caption, unsigned style) override;
    void QuitRequest() override;
    void SetStatusText(const char* text) override;
    const char* HighSpeedCaption() override;
    const char* SilenceCaption() override;
    void SetRadioEnabled(bool enabled) override;
    bool HighSpeedChecked() override;
    void CheckHighSpeed(bool high) override;
    bool SpeedListEnabled() override;
    void SetSpeedListEnabled(bool enabled) override;
    void SpeedListClear() override;
    void SpeedListAdd(const char* text) override;
    void SpeedListSelect(int index) override;
    int SpeedListIndex() override;
    const char* SpeedListText(int index) override;
    bool SpeedGroupEnabled() override;
    void SetSpeedGroupEnabled(bool enabled) override;
    void SetSpeedGroupCaption(CaptionColour colour) override;
    void SetModeGroupCaption(CaptionColour colour) override;

private:
    void ShowAbout(AboutOpener opener);
    static void SendToLauncher(UINT message);

    SpeedControl speed_;
    MessageBoxFn messageBox_;
    std::string highCaption_, silenceCaption_;
};

// Lets the launcher's messages through to an elevated panel: 1026 and WM_CLOSE
// from lower-integrity senders. Does nothing where the call does not exist.
void AllowLauncherMessages(HWND window);
// Takes the current directory out of the DLL search path.
void HardenDllSearch();

// The program: single instance, application, windows, message loop. Returns 0.
int RunPanel();

} // namespace velotune
