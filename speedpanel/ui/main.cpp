#include "speedpanel/ui/main.h"
#include "common/dllsearch.h"
#include "common/instance.h"
#include "speedpanel/ui/flatlook.h"
#include "speedpanel_res.h"
#include <memory>

namespace velotune {

namespace {
using tk::ControlDef;
using tk::ControlKind;
using tk::SysColor;

constexpr COLORREF kSkyBlue = RGB(166, 202, 240);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr WPARAM kScMinimize = 0xF020;
constexpr WPARAM kScDragMove = 0xF012; // SC_MOVE + HTCAPTION

// Designed on a 341 x 373 client area; FormCreate cuts the window to 320 x 200,
// so everything below y = 200 is never seen (Button10 and Memo1 still take the
// focus with Tab).
const tk::FormDef kMainForm{
    .className = kPanelClass,
    .caption = "Title",
    .width = 341,
    .height = 373,
    .color = SysColor(COLOR_BTNFACE),
    .font = {"Tahoma", -11, false},
    .keyPreview = true,
    .position = tk::TPosition::poScreenCenter,
    .stayOnTop = true,
};

const ControlDef kMainControls[] = {
    {.name = "Image2",
     .kind = ControlKind::Image,
     .left = 0,
     .top = 0,
     .width = 320,
     .height = 200,
     .picture = IDB_BACKGROUND},
    {.name = "SpeedButton1",
     .kind = ControlKind::SpeedButton,
     .left = 214,
     .top = 92,
     .width = 68,
     .height = 20,
     .text = "Set",
     .picture = IDB_SET,
     .margin = 0,
     .spacing = -35},
    {.name = "SpeedButton2",
     .kind = ControlKind::SpeedButton,
     .left = 214,
     .top = 120,
     .width = 68,
     .height = 20,
     .text = "Close",
     .picture = IDB_CLOSE,
     .margin = 0,
     .spacing = -35},
    {.name = "Image1", .kind = ControlKind::Image, .left = 0, .top = 0, .width = 320, .height = 32},
    {.name = "Label1",
     .kind = ControlKind::Label,
     .left = 4,
     .top = 204,
     .width = 167,
     .height = 13,
     .text = "Current Speed = High Speed Mode"},
    {.name = "Label2",
     .kind = ControlKind::Label,
     .left = 4,
     .top = 224,
     .width = 146,
     .height = 13,
     .text = "Current Speed = Silence Mode"},
    {.name = "GroupBox3",
     .kind = ControlKind::GroupBox,
     .left = 25,
     .top = 36,
     .width = 269,
     .height = 45,
     .text = "Select Drive",
     .tabOrder = 0,
     .color = kWhite},
    {.name = "DriveComboBox",
     .kind = ControlKind::ComboBox,
     .parent = "GroupBox3",
     .left = 12,
     .top = 16,
     .width = 245,
     .height = 20,
     .tabOrder = 0,
     .tabStop = true,
     .color = kSkyBlue,
     .font = {"Lucida Console", -12, false},
     .itemHeight = 12},
    {.name = "GroupBox2",
     .kind = ControlKind::GroupBox,
     .left = 25,
     .top = 82,
     .width = 170,
     .height = 63,
     .text = "Select Speed",
     .tabOrder = 1,
     .color = kWhite},
    {.name = "RadioButton1",
     .kind = ControlKind::RadioButton,
     .parent = "GroupBox2",
     .left = 8,
     .top = 16,
     .width = 125,
     .height = 17,
     .text = "High Speed Mode",
     .tabOrder = 1,
     .tabStop = true,
     .checked = true,
     .fontColor = RGB(0, 0, 0)},
    {.name = "RadioButton2",
     .kind = ControlKind::RadioButton,
     .parent = "GroupBox2",
     .left = 8,
     .top = 40,
     .width = 101,
     .height = 17,
     .text = "Silence Mode",
     .tabOrder = 0},
    {.name = "StaticText1",
     .kind = ControlKind::StaticText,
     .left = 25,
     .top = 154,
     .width = 269,
     .height = 16,
     .tabOrder = 3,
     .color = kSkyBlue},
    {.name = "GroupBox1",
     .kind = ControlKind::GroupBox,
     .left = 99,
     .top = 295,
     .width = 81,
     .height = 69,
     .text = "Speed Set",
     .tabOrder = 2,
     .visible = false,
     .enabled = false,
     .fontColor = SysColor(COLOR_INACTIVECAPTION)},
    {.name = "ComboBox1",
     .kind = ControlKind::ComboBox,
     .parent = "GroupBox1",
     .left = 16,
     .top = 28,
     .width = 49,
     .height = 21,
     .tabOrder = 0,
     .tabStop = true,
     .enabled = false},
    {.name = "Button10",
     .kind = ControlKind::Button,
     .left = 36,
     .top = 344,
     .width = 49,
     .height = 17,
     .text = "Button10",
     .tabOrder = 4,
     .tabStop = true},
    {.name = "Memo1",
     .kind = ControlKind::Memo,
     .left = 188,
     .top = 284,
     .width = 141,
     .height = 81,
     .text = "Memo1",
     .tabOrder = 5,
     .tabStop = true},
};

HBITMAP LoadBitmapResource(int id) {
    return static_cast<HBITMAP>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id),
                                           IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
}

tk::TMenuItem* AddItem(tk::TMenuItem& parent, const char* name, const char* caption,
                       tk::TNotifyEvent onClick, int bitmap = 0) {
    tk::TMenuItem* item = parent.Add(caption, std::move(onClick));
    item->Name = name;
    if (bitmap) item->SetBitmap(LoadBitmapResource(bitmap), kRed);
    return item;
}
} // namespace

tk::TPosition AboutPlacement(AboutOpener opener, bool mainVisible) {
    switch (opener) {
    case AboutOpener::FormKeyUpF1:
    case AboutOpener::Button1Click:
        return tk::TPosition::poMainFormCenter;
    case AboutOpener::WMShowAbout:
    case AboutOpener::About1Click:
    default:
        return mainVisible ? tk::TPosition::poMainFormCenter : tk::TPosition::poScreenCenter;
    }
}

TFormMain::TFormMain(tk::TComponent* owner, const DiscoverySeam& seam, tk::MessageBoxFn messageBox)
    : tk::TForm(owner, kMainForm, kMainControls), SpeedButton1(Control("SpeedButton1")),
      SpeedButton2(Control("SpeedButton2")), Image1(Control("Image1")), Label1(Control("Label1")),
      Label2(Control("Label2")), DriveComboBox(Control("DriveComboBox")),
      GroupBox2(Control("GroupBox2")), RadioButton1(Control("RadioButton1")),
      RadioButton2(Control("RadioButton2")), StaticText1(Control("StaticText1")),
      GroupBox1(Control("GroupBox1")), ComboBox1(Control("ComboBox1")),
      Button10(Control("Button10")), speed_(*this, seam),
      messageBox_(messageBox ? messageBox : &tk::Application::DefaultMessageBox) {
    // The drives are asked while the window is made; the first showing lists them.
    speed_.SearchAhead();
    BeginLoading();

    // Events of the controls.
    SpeedButton1.OnClick = tk::Bind(this, &TFormMain::SpeedSetClick);
    SpeedButton2.OnClick = tk::Bind(this, &TFormMain::CloseClick);
    Image1.OnMouseDown = tk::Bind(this, &TFormMain::Image1MouseDown);
    DriveComboBox.OnChange = tk::Bind(this, &TFormMain::DriveComboBoxChange);
    GroupBox2.OnClick = tk::Bind(this, &TFormMain::GroupBox2Click);
    GroupBox1.OnClick = tk::Bind(this, &TFormMain::GroupBox1Click);
    RadioButton1.OnKeyUp = tk::Bind(this, &TFormMain::RadioButtonKeyUp);
    RadioButton2.OnKeyUp = tk::Bind(this, &TFormMain::RadioButtonKeyUp);
    Button10.OnClick = tk::Bind(this, &TFormMain::Button10Click);
    OnShow = tk::Bind(this, &TFormMain::FormShow);
    OnActivate = tk::Bind(this, &TFormMain::FormActivate);
    OnKeyUp = tk::Bind(this, &TFormMain::FormKeyUp);
    MapMessage(WM_PANEL_SHOW_ABOUT, tk::Bind(this, &TFormMain::WMShowAbout));
    if (UINT bringForward = BringForwardMessage())
        MapMessage(bringForward, tk::Bind(this, &TFormMain::WMBringForward));
    MapMessage(WM_DEVICECHANGE, tk::Bind(this, &TFormMain::WMDeviceChange));
    MapMessage(WM_PANEL_DRIVES_CHANGED, tk::Bind(this, &TFormMain::WMDrivesChanged));

    Timer1 = new tk::TTimer(this, false);
    Timer1->Name = "Timer1";
    Timer1->SetEnabled(false);
    Timer1->SetInterval(1000);
    Timer1->OnTimer = tk::Bind(this, &TFormMain::Timer1Timer);

    EndLoading();
    FormCreate();
}

TFormMain::~TFormMain() {
    DestroyComponents();
}

void TFormMain::CreateDeferred() {
    tk::TForm::CreateDeferred();
    // The menus, the tray icon and its picture: read as part of the form's description.
    BeginLoading();
    // PopupMenu1: the tray icon's menu.
    PopupMenu1 = new tk::TPopupMenu(this);
    PopupMenu1->Name = "PopupMenu1";
    tk::TMenuItem& popup = PopupMenu1->Items();
    SpeedControl1 = AddItem(popup, "SpeedControl1", "&Speed Control",
                            tk::Bind(this, &TFormMain::SpeedControl1Click), IDB_MENU_SPEED);
    Option1 = AddItem(popup, "Option1", "&Option", {}, IDB_MENU_OPTION);
    AutoStart1 =
        AddItem(*Option1, "AutoStart1", "&Auto Start", tk::Bind(this, &TFormMain::AutoStart1Click));
    AutoStart1->SetChecked(true);
    About1 =
        AddItem(popup, "About1", "&About", tk::Bind(this, &TFormMain::About1Click), IDB_MENU_ABOUT);
    About1->ShortCut = VK_F1;
    // Enabled from the first showing on.
    About1->SetEnabled(shown_);
    Exit1 = AddItem(popup, "Exit1", "E&xit", tk::Bind(this, &TFormMain::Exit1Click), IDB_MENU_EXIT);

    // MainMenu1: defined, never assigned to the window.
    MainMenu1 = new tk::TMainMenu(this);
    MainMenu1->Name = "MainMenu1";
    System1 = AddItem(MainMenu1->Items(), "System1", "&System", {});
    Close1 = AddItem(*System1, "Close1", "&Close", tk::Bind(this, &TFormMain::CloseClick));
    eXit2 = AddItem(*System1, "eXit2", "&E&xit", tk::Bind(this, &TFormMain::Exit1Click));
    About2 =
        AddItem(MainMenu1->Items(), "About2", "&About", tk::Bind(this, &TFormMain::About1Click));

    ImageList1 = new tk::TImageList(this, 16, 16);
    ImageList1->Name = "ImageList1";
    if (HBITMAP tray = LoadBitmapResource(IDB_TRAY)) {
        ImageList1->AddMasked(tray, kRed);
        DeleteObject(tray);
    }

    // The tray icon component. Configured, never made visible: the speed panel's
    // place in the notification area is the launcher's icon.
    TrayIcon1 = new TTrayIcon(this);
    TrayIcon1->Name = "TrayIcon1";
    TrayIcon1->SetHint("Speed Control");
    TrayIcon1->PopupMenu = PopupMenu1;
    TrayIcon1->SetHide(true);
    TrayIcon1->RestoreOn = imDoubleClick;
    TrayIcon1->PopupMenuOn = imRightClickUp;
    TrayIcon1->Icons = ImageList1;
    TrayIcon1->OnMinimize = tk::Bind(this, &TFormMain::TrayIcon1Minimize);
    TrayIcon1->OnRestore = tk::Bind(this, &TFormMain::TrayIcon1Restore);

    EndLoading();

    if (!FormAbout) {
        ownAbout_ = std::make_unique<TFormAbout>(nullptr, *this);
        FormAbout = ownAbout_.get();
    }
}

void TFormMain::CreateParams(TCreateParams& params) {
    tk::TForm::CreateParams(params);
    // A borderless popup with its own taskbar button: the extended style is
    // assigned, not combined, and the desktop is the parent, so nothing owns it.
    params.style = WS_POPUP | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
    params.exStyle = WS_EX_APPWINDOW;
    params.parent = GetDesktopWindow();
}

PanelPlatform Platform;

void NotifyLauncher(UINT message) {
    // Bounded: a hung launcher does not hang the panel.
    HWND launcher = Platform.findWindow(nullptr, kLauncherTitle);
    if (!launcher) return;
    DWORD_PTR result = 0;
    if (Platform.sendMessageTimeout(launcher, message, 0, 0, SMTO_ABORTIFHUNG,
                                    protocol::kSendTimeoutMs, &result))
        return;
    // A launcher busy with something else (its Auto Run prompt) takes the
    // notice from its queue later; a lost one would leave About wrong.
    Platform.postMessage(launcher, message, 0, 0);
}

void TFormMain::FormCreate() {
    SetHeight(200);
    SetWidth(320);
    SpeedButton1.SetTransparentColor(kRed);
    SpeedButton2.SetTransparentColor(kRed);
    HandleNeeded();
    KeepFlatLook(DriveComboBox.Handle(), kSkyBlue);
    // Not shown yet: nothing to redraw.
    SetWindowRgn(Handle(), CreateRoundRectRgn(0, 0, 321, 201, 15, 15), FALSE);
    // The launcher's messages are let through before the title makes the
    // window findable, so that none sent in between is dropped.
    AllowLauncherMessages(Handle());
    SetCaption(kPanelTitle);
    if (tk::App()) tk::App()->OnMinimize = tk::Bind(this, &TFormMain::AppMinimize);
    NotifyLauncher(WM_LAUNCHER_PANEL_OPENED);
}

void TFormMain::FormShow(tk::TComponent*) {
    if (tk::App() && tk::App()->Handle()) ShowWindow(tk::App()->Handle(), SW_HIDE);
    // Keep the drive list and DriveComboBox in step when discovery runs again.
    if (speed_.Drives().count > 0 || DriveComboBox.Count() > 0) ReleaseDrives();
    {
        // Cleared on every way out, an error of discovery included.
        struct Showing {
            bool& flag;
            explicit Showing(bool& f) : flag(f) { flag = true; }
            ~Showing() { flag = false; }
        } showing(showing_);
        speed_.DiscoverDrives();
    }
    watch_.Watch(Handle());
    shown_ = true;
    if (About1) About1->SetEnabled(true);
}

void TFormMain::FormActivate(tk::TComponent*) {}

void TFormMain::ShowAbout(AboutOpener opener) {
    CompleteCreation();
    if (!FormAbout) return;
    FormAbout->SetPosition(AboutPlacement(opener, Visible()));
    FormAbout->ShowModal();
}

void TFormMain::FormKeyUp(tk::TComponent*, WORD& key, tk::TShiftState) {
    if (key == VK_F1) ShowAbout(AboutOpener::FormKeyUpF1);
}

void TFormMain::RadioButtonKeyUp(tk::TComponent* sender, WORD& key, tk::TShiftState) {
    if (key == VK_RETURN) Button1Click(sender);
}

void TFormMain::Button1Click(tk::TComponent*) {
    ShowAbout(AboutOpener::Button1Click);
}

void TFormMain::Image1MouseDown(tk::TComponent*, tk::TMouseButton button, tk::TShiftState, int,
                                int) {
    if (button != tk::mbLeft) return;
    ReleaseCapture();
    SendMessageA(Handle(), WM_SYSCOMMAND, kScDragMove, 0);
}

void TFormMain::ReleaseDrives() {
    watch_.Forget();
    speed_.ReleaseDrives();
}

void TFormMain::CloseClick(tk::TComponent*) {
    NotifyLauncher(WM_LAUNCHER_PANEL_CLOSED);
    Close();
}

void TFormMain::Exit1Click(tk::TComponent*) {
    Close();
}

void TFormMain::About1Click(tk::TComponent*) {
    ShowAbout(AboutOpener::About1Click);
}

void TFormMain::SpeedControl1Click(tk::TComponent*) {
    CompleteCreation();
    if (TrayIcon1) TrayIcon1->Restore();
}

void TFormMain::AutoStart1Click(tk::TComponent*) {
    AutoStart1->SetChecked(!AutoStart1->Checked());
}

void TFormMain::TrayIcon1Restore(tk::TComponent*) {
    Show();
}

void TFormMain::TrayIcon1Minimize(tk::TComponent*) {
    ReleaseDrives();
}

void TFormMain::Button10Click(tk::TComponent*) {
    HookApplicationEvents();
}

// From then on a minimise of the application does nothing of its own, a restore
// runs the show handler again, and every message goes past AppMessage.
void TFormMain::HookApplicationEvents() {
    tk::Application* app = tk::App();
    if (!app) return;
    app->OnMinimize = [](tk::TComponent*) {};
    app->OnRestore = tk::Bind(this, &TFormMain::AppRestore);
    app->OnMessage = tk::Bind(this, &TFormMain::AppMessage);
}

void TFormMain::SpeedSetClick(tk::TComponent*) {
    speed_.SetChosenMode();
}
void TFormMain::DriveComboBoxChange(tk::TComponent*) {
    speed_.FollowSelectedDrive();
}
void TFormMain::GroupBox1Click(tk::TComponent*) {
    speed_.UseSpeedList();
}
void TFormMain::GroupBox2Click(tk::TComponent*) {
    speed_.UseModeButtons();
}
void TFormMain::Timer1Timer(tk::TComponent*) {
    speed_.RefreshSpeedStatus();
}

void TFormMain::AppMinimize(tk::TComponent*) {
    if (tk::App()) ShowWindow(tk::App()->Handle(), SW_HIDE);
}

void TFormMain::AppMessage(MSG& msg, bool&) {
    // On purpose for every message, not only WM_SYSCOMMAND: any wParam of 0xF020 hides the window.
    if (msg.wParam == kScMinimize) Hide();
}

void TFormMain::AppRestore(tk::TComponent* sender) {
    FormShow(sender);
}

void TFormMain::WMShowAbout(tk::TMessage& message) {
    ShowAbout(AboutOpener::WMShowAbout);
    DefaultHandler(message);
}

void TFormMain::WMBringForward(tk::TMessage& message) {
    message.Result = 0;
    // Before the first showing has finished (its discovery may be showing its
    // box, whose loop delivers this), or while a showing runs: only forward.
    if (!shown_ || showing_) {
        if (Visible()) SetForegroundWindow(Handle());
        return;
    }
    // A window hidden by minimising comes back as the tray double click
    // brings it back, discovery included; a shown one only comes forward.
    CompleteCreation();
    if (!Visible() && TrayIcon1) TrayIcon1->Restore();
    if (IsIconic(Handle())) ShowWindow(Handle(), SW_RESTORE);
    // The launcher allowed this process the foreground before it asked.
    SetForegroundWindow(Handle());
}

void TFormMain::WMDeviceChange(tk::TMessage& message) {
    watch_.OnDeviceChange(message.WParam, message.LParam);
    message.Result = TRUE; // the panel never refuses a removal
}

void TFormMain::WMDrivesChanged(tk::TMessage&) {
    // A showing's discovery builds the list anew; its box must not see a second search.
    if (!showing_) watch_.OnDrivesChanged();
}

// ---- start-up -----------------------------------------------------------------

UINT BringForwardMessage() {
    static const UINT message = RegisterWindowMessageA(protocol::kMsgPanelBringForward);
    return message;
}

BOOL WINAPI ChangeMessageFilterIfPresent(HWND window, UINT message, DWORD action, void* status) {
    HMODULE user32 = GetModuleHandleA("user32.dll");
    auto fn = user32 ? reinterpret_cast<MessageFilterFn>(reinterpret_cast<void (*)()>(
                           GetProcAddress(user32, "ChangeWindowMessageFilterEx")))
                     : nullptr;
    return fn ? fn(window, message, action, status) : FALSE;
}

void AllowLauncherMessages(HWND window) {
    if (!window) return;
    constexpr DWORD kAllow = 1; // MSGFLT_ALLOW
    Platform.changeMessageFilter(window, WM_PANEL_SHOW_ABOUT, kAllow, nullptr);
    Platform.changeMessageFilter(window, WM_CLOSE, kAllow, nullptr);
    if (UINT bringForward = BringForwardMessage())
        Platform.changeMessageFilter(window, bringForward, kAllow, nullptr);
}

int RunPanel() {
    // Elevated: nothing of the program's folder is loaded by name.
    HardenDllSearch(DllSearch::SystemFolder);
    // Held until the process ends; the system releases it then.
    HANDLE instance = CreateMutexA(nullptr, FALSE, protocol::kPanelMutex);
    const bool second = MutexSaysAnotherCopy(instance != nullptr, GetLastError());
    auto findPanel = [] { return FindWindowA(kPanelClass, kPanelTitle); };
    auto wait = [](unsigned ms) { Sleep(ms); };
    if (HWND running =
            second ? WaitForWindow(findPanel, wait, protocol::kSecondCopyWaitMs) : findPanel()) {
        SetForegroundWindow(running);
        return 0;
    }
    if (second) return 0;
    tk::Application app;
    try {
        // The panel comes first; the hidden application window follows it.
        if (!app.Initialize("TrelvixVelotune", IDI_PANEL, true))
            throw tk::EOutOfResources("Cannot create the application window");
        auto formMain = std::make_unique<TFormMain>(nullptr);
        app.SetMainForm(formMain.get());
        app.Run();
    } catch (const tk::Exception& e) {
        app.ShowException(e.Message());
    } catch (...) {
        app.ShowException("");
    }
    return 0;
}

} // namespace velotune
