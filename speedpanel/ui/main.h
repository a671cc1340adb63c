// The speed panel's main window and the program's start-up.
#pragma once

#include "common/protocol.h"
#include "drive/speedcontrol.h"
#include "speedpanel/toolkit/form.h"
#include "speedpanel/toolkit/nonvisual.h"
#include "speedpanel/trayicon/trayicon.h"
#include "speedpanel/ui/about.h"
#include "speedpanel/ui/drivewatch.h"
#include <memory>

namespace velotune {

using protocol::kLauncherTitle;
using protocol::kPanelClass;
using protocol::kPanelTitle;
inline constexpr UINT WM_PANEL_SHOW_ABOUT = protocol::kMsgPanelShowAbout;
inline constexpr UINT WM_LAUNCHER_PANEL_CLOSED = protocol::kMsgLauncherPanelClosed;
inline constexpr UINT WM_LAUNCHER_PANEL_OPENED = protocol::kMsgLauncherPanelOpened;

using MessageFilterFn = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
// ChangeWindowMessageFilterEx where the system has it; FALSE elsewhere.
BOOL WINAPI ChangeMessageFilterIfPresent(HWND window, UINT message, DWORD action, void* status);

// The platform calls of the panel's exchange with the launcher and the
// system that a test has to control. Production uses the defaults.
struct PanelPlatform {
    decltype(&::FindWindowA) findWindow = &::FindWindowA;
    decltype(&::SendMessageTimeoutA) sendMessageTimeout = &::SendMessageTimeoutA;
    decltype(&::PostMessageA) postMessage = &::PostMessageA;
    MessageFilterFn changeMessageFilter = &ChangeMessageFilterIfPresent;
    DeviceNotifyCalls deviceNotify;
};
extern PanelPlatform Platform;

// Tells the launcher (found by its title) that the panel opened or closed.
// The wait is bounded; a notice the launcher did not take in time is posted
// instead, so that it arrives all the same.
void NotifyLauncher(UINT message);

// The registered message with which the launcher asks a running panel to come
// forward; 0 until the first call registers it.
UINT BringForwardMessage();

// Who opens the About box, and where it goes for each.
enum class AboutOpener { WMShowAbout, About1Click, FormKeyUpF1, Button1Click };
tk::TPosition AboutPlacement(AboutOpener opener, bool mainVisible);

class TFormMain : public tk::TForm, public PanelView {
public:
    explicit TFormMain(tk::TComponent* owner, const DiscoverySeam& seam = RealDiscoverySeam(),
                       tk::MessageBoxFn messageBox = nullptr);
    ~TFormMain() override;

    void CreateParams(TCreateParams& params) override;
    // The About box; without one, the form makes its own with the rest of the window.
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

    // Message map: 1026 from the launcher, and its bring-forward request.
    void WMShowAbout(tk::TMessage& message);
    void WMBringForward(tk::TMessage& message);
    void WMDeviceChange(tk::TMessage& message);
    void WMDrivesChanged(tk::TMessage& message);

    // Components of the window. The menus, the image list and the tray icon
    // are made with the rest of the window after its first paint (CompleteCreation).
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

    // PanelView: the drive layer's view of the controls.
    void AddDrive(const char* entry) override;
    void RemoveDrive(int index) override;
    void ClearDrives() override;
    int SelectedDrive() override;
    void SelectDrive(int index) override;
    void ShowMessageAndQuit(const char* text, const char* caption, unsigned style) override;
    void ShowStatus(const char* text) override;
    void ShowMode(bool high) override;
    bool HighSpeedChecked() override;
    void SetPresentation(Presentation presentation) override;
    Presentation CurrentPresentation() override;
    void ShowSpeeds(std::span<const std::uint8_t> speeds) override;
    void ClearSpeeds() override;
    bool SpeedListBuilt() override;
    std::span<const std::string> SpeedEntries() override;
    int SelectedSpeed() override;

protected:
    void CreateDeferred() override;

private:
    void ShowAbout(AboutOpener opener);
    void HookApplicationEvents();
    void ReleaseDrives();

    // The controls of the designed layout, bound once by name.
    tk::TControl& SpeedButton1;
    tk::TControl& SpeedButton2;
    tk::TControl& Image1;
    tk::TControl& Label1;
    tk::TControl& Label2;
    tk::TControl& DriveComboBox;
    tk::TControl& GroupBox2;
    tk::TControl& RadioButton1;
    tk::TControl& RadioButton2;
    tk::TControl& StaticText1;
    tk::TControl& GroupBox1;
    tk::TControl& ComboBox1;
    tk::TControl& Button10;

    SpeedControl speed_;
    tk::MessageBoxFn messageBox_;
    bool shown_ = false;   // FormShow has run
    bool showing_ = false; // FormShow is running (a box of its own may be open)
    DriveWatch watch_{speed_, Platform.deviceNotify};
    std::unique_ptr<TFormAbout> ownAbout_;
};

// Lets the launcher's messages through to an elevated panel: 1026, WM_CLOSE
// and the bring-forward request from lower-integrity senders. Does nothing
// where the call does not exist.
void AllowLauncherMessages(HWND window);

// The program: single instance, application, windows, message loop. Returns 0.
int RunPanel();

} // namespace velotune
