// The speed panel's main window and About box, with discovery faked (no drive)
// and a stand-in launcher window that records what it receives.
#include "speedpanel/ui/main.h"
#include "speedpanel_res.h"
#include "tests/drive/fakes.h"
#include "tests/fakes/nodrives.h"
#include <cstdint>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

using namespace velotune;
namespace tk = velotune::tk;

namespace {

// ---- fakes ----------------------------------------------------------------------

struct Box {
    std::string text, caption;
    UINT style;
};
std::vector<Box> g_boxes;
HWND g_forwardDuringBox = nullptr; // gets the launcher's bring-forward while the box is open
int FakeBox(HWND, const char* text, const char* caption, UINT style) {
    g_boxes.push_back({text, caption, style});
    // The box's own message loop delivers what was posted meanwhile.
    if (HWND panel = std::exchange(g_forwardDuringBox, nullptr)) {
        PostMessageA(panel, BringForwardMessage(), 0, 0);
        MSG m;
        while (PeekMessageA(&m, panel, 0, 0, PM_REMOVE))
            DispatchMessageA(&m);
    }
    return IDOK;
}

// The message filter as the panel sets it, and whether the panel could
// already be found by class and title at each call.
struct Filtered {
    UINT message;
    bool findable;
};
std::vector<Filtered> g_filtered;
BOOL WINAPI FakeFilter(HWND, UINT message, DWORD action, void*) {
    EXPECT_EQ(action, 1u); // MSGFLT_ALLOW
    g_filtered.push_back({message, FindWindowA(kPanelClass, kPanelTitle) != nullptr});
    return TRUE;
}

LRESULT WINAPI SendTimesOut(HWND, UINT, WPARAM, LPARAM, UINT, UINT, PDWORD_PTR) {
    SetLastError(ERROR_TIMEOUT);
    return 0;
}

using vt_test::kNoDrives;

// The stand-in launcher: logs messages 1026 and 1027, and whether the panel
// could be found by class and title when 1027 arrived.
struct LauncherLog {
    std::vector<UINT> messages;
    bool panelFoundAt1027 = false;
} g_launcher;

LRESULT CALLBACK LauncherProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    if (msg == 1026 || msg == 1027) {
        g_launcher.messages.push_back(msg);
        if (msg == 1027)
            g_launcher.panelFoundAt1027 = FindWindowA(kPanelClass, kPanelTitle) != nullptr;
        return 0;
    }
    return DefWindowProcA(h, msg, w, l);
}

HWND MakeLauncher() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = &LauncherProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "StandInLauncher";
    RegisterClassA(&wc);
    return CreateWindowA("StandInLauncher", kLauncherTitle, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                         wc.hInstance, nullptr);
}

void DrainQuit() {
    MSG m;
    while (PeekMessageA(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
}

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_boxes.clear();
        g_launcher = {};
        g_filtered.clear();
        Platform.changeMessageFilter = &FakeFilter;
        launcher = MakeLauncher();
        ASSERT_TRUE(app.Initialize("TrelvixVelotune", IDI_PANEL));
        app.SetMessageBox(&FakeBox);
        panel = std::make_unique<TFormMain>(nullptr, kNoDrives, &FakeBox);
        app.SetMainForm(panel.get());
        about = std::make_unique<TFormAbout>(nullptr, *panel);
        panel->SetAboutBox(about.get());
        // Every showing of the box records where it went and closes it by Esc.
        about->OnShow = [this](tk::TComponent*) {
            aboutAt.push_back(POINT{about->Left(), about->Top()});
            PostMessageA(about->Handle(), WM_KEYUP, VK_ESCAPE, 0);
        };
    }
    void TearDown() override {
        about.reset();
        panel.reset();
        DestroyWindow(launcher);
        DrainQuit();
        Platform = PanelPlatform{};
    }
    // Shows the panel: FormShow runs discovery, which finds nothing and asks to quit.
    void ShowPanel() {
        panel->Show();
        DrainQuit();
    }
    POINT OverPanel() const {
        RECT r;
        GetWindowRect(panel->Handle(), &r);
        return tk::CentredIn(r, 245, 165);
    }
    static POINT OnScreen() {
        RECT s{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
        return tk::CentredIn(s, 245, 165);
    }
    static bool Same(POINT a, POINT b) { return a.x == b.x && a.y == b.y; }

    HWND launcher = nullptr;
    tk::Application app;
    std::unique_ptr<TFormMain> panel;
    std::unique_ptr<TFormAbout> about;
    std::vector<POINT> aboutAt;
};

// ---- window creation ----------------------------------------------------------------

TEST_F(PanelTest, FormCreateMakesTheWindowAsTheLauncherExpectsIt) {
    HWND h = panel->Handle();
    ASSERT_NE(h, nullptr);
    char cls[64];
    GetClassNameA(h, cls, sizeof cls);
    EXPECT_STREQ(cls, "TFormMain");
    EXPECT_EQ(tk::Window(h).Text(), "Trelvix Velotune");
    RECT r;
    GetWindowRect(h, &r);
    EXPECT_EQ(r.right - r.left, 320);
    EXPECT_EQ(r.bottom - r.top, 200);
    LONG_PTR style = GetWindowLongPtrA(h, GWL_STYLE);
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_FALSE(style & (WS_CAPTION | WS_THICKFRAME | WS_SYSMENU | WS_MINIMIZEBOX));
    // Assigned exactly; topmost shows as its own bit.
    EXPECT_EQ(GetWindowLongPtrA(h, GWL_EXSTYLE), WS_EX_APPWINDOW | WS_EX_TOPMOST);
    EXPECT_EQ(GetWindow(h, GW_OWNER), nullptr);
    EXPECT_EQ(GetMenu(h), nullptr);
    // The window icon: the program's 32 x 32 icon, from the window's class (no
    // second copy set on the window, which the system would convert again).
    ASSERT_FALSE(app.Icon().Empty());
    HICON icon = reinterpret_cast<HICON>(GetClassLongPtrA(h, GCLP_HICON));
    ASSERT_EQ(icon, app.Icon().Handle());
    EXPECT_EQ(reinterpret_cast<HICON>(GetClassLongPtrA(h, GCLP_HICONSM)), icon);
    ICONINFO ii{};
    ASSERT_TRUE(GetIconInfo(icon, &ii));
    BITMAP bm{};
    GetObjectA(ii.hbmColor, sizeof bm, &bm);
    EXPECT_EQ(bm.bmWidth, 32);
    EXPECT_EQ(bm.bmHeight, 32);
    DeleteObject(ii.hbmColor);
    DeleteObject(ii.hbmMask);
    tk::TForm::TCreateParams p;
    panel->CreateParams(p);
    EXPECT_EQ(p.exStyle, static_cast<DWORD>(WS_EX_APPWINDOW));
    EXPECT_EQ(p.parent, GetDesktopWindow());
    EXPECT_EQ(p.className, "TFormMain");

    HRGN rgn = CreateRectRgn(0, 0, 0, 0);
    ASSERT_EQ(GetWindowRgn(h, rgn), COMPLEXREGION);
    EXPECT_FALSE(PtInRegion(rgn, 0, 0));
    EXPECT_FALSE(PtInRegion(rgn, 319, 199));
    EXPECT_TRUE(PtInRegion(rgn, 4, 4));
    EXPECT_TRUE(PtInRegion(rgn, 160, 0));
    EXPECT_TRUE(PtInRegion(rgn, 315, 195));
    DeleteObject(rgn);

    // 1027 went to the launcher after the title was set, once.
    EXPECT_EQ(g_launcher.messages, (std::vector<UINT>{1027}));
    EXPECT_TRUE(g_launcher.panelFoundAt1027);
    // The launcher's messages were let through before the window could be found.
    ASSERT_EQ(g_filtered.size(), 3u);
    EXPECT_EQ(g_filtered[0].message, 1026u);
    EXPECT_EQ(g_filtered[1].message, static_cast<UINT>(WM_CLOSE));
    EXPECT_EQ(g_filtered[2].message, BringForwardMessage());
    for (const Filtered& f : g_filtered)
        EXPECT_FALSE(f.findable) << f.message;
    // The glyphs' transparent colour is pure red.
    EXPECT_EQ(panel->Control("SpeedButton1").TransparentColor(), RGB(255, 0, 0));
    EXPECT_EQ(panel->Control("SpeedButton2").TransparentColor(), RGB(255, 0, 0));
    // From FormCreate on: AppMinimize, and nothing for restore and messages.
    EXPECT_TRUE(static_cast<bool>(app.OnMinimize));
    EXPECT_FALSE(static_cast<bool>(app.OnRestore));
    EXPECT_FALSE(static_cast<bool>(app.OnMessage));
    EXPECT_FALSE(panel->Visible());
}

TEST_F(PanelTest, LayoutKeepsTheHiddenControlsAndTheirTabOrder) {
    tk::TForm& f = *panel;
    // The first paint needs neither the controls below the window nor the tray icon.
    for (const char* name :
         {"GroupBox3", "DriveComboBox", "GroupBox2", "RadioButton1", "RadioButton2", "StaticText1"})
        EXPECT_NE(f.Control(name).Handle(), nullptr) << name;
    for (const char* name : {"GroupBox1", "ComboBox1", "Button10", "Memo1"})
        EXPECT_EQ(f.Control(name).Handle(), nullptr) << name;
    EXPECT_EQ(panel->TrayIcon1, nullptr);
    EXPECT_EQ(panel->ImageList1, nullptr);
    f.CompleteCreation();
    EXPECT_EQ(f.Control("StaticText1").Text(), "");
    EXPECT_EQ(f.Control("Label1").Text(), "Current Speed = High Speed Mode");
    EXPECT_EQ(f.Control("Label2").Text(), "Current Speed = Silence Mode");
    EXPECT_TRUE(f.Control("RadioButton1").Checked());
    EXPECT_FALSE(f.Control("RadioButton2").Checked());
    EXPECT_FALSE(f.Control("GroupBox1").Visible());
    EXPECT_FALSE(f.Control("GroupBox1").Enabled());
    EXPECT_FALSE(f.Control("ComboBox1").Enabled());
    EXPECT_EQ(f.Control("GroupBox1").FontColor(), tk::SysColor(COLOR_INACTIVECAPTION));
    EXPECT_EQ(f.Control("Memo1").Text(), "Memo1");
    // Window order = tab order: the drive group, the speed group, the hidden group,
    // the status line, Button10, Memo1.
    std::vector<std::string> order;
    for (HWND c = GetWindow(panel->Handle(), GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        order.push_back(panel->ControlOf(c)->Name());
    EXPECT_EQ(order, (std::vector<std::string>{"GroupBox3", "GroupBox2", "GroupBox1", "StaticText1",
                                               "Button10", "Memo1"}));
    EXPECT_TRUE(GetWindowLongPtrA(f.Control("Button10").Handle(), GWL_STYLE) & WS_TABSTOP);
    EXPECT_TRUE(GetWindowLongPtrA(f.Control("Memo1").Handle(), GWL_STYLE) & WS_TABSTOP);
    EXPECT_FALSE(GetWindowLongPtrA(f.Control("StaticText1").Handle(), GWL_STYLE) & WS_TABSTOP);
    EXPECT_TRUE(GetWindowLongPtrA(f.Control("StaticText1").Handle(), GWL_STYLE) & SS_SUNKEN);
    EXPECT_FALSE(GetWindowLongPtrA(f.Control("RadioButton2").Handle(), GWL_STYLE) & WS_TABSTOP);
    RECT r = f.Control("DriveComboBox").FormBounds();
    EXPECT_EQ(r.left, 37);
    EXPECT_EQ(r.top, 52);
}

// The background is stored packed; what the window draws is the picture itself.
TEST_F(PanelTest, BackgroundHasExactlyThePixelsOfTheArtwork) {
    std::ifstream file(VT_BACKGROUND_BMP, std::ios::binary);
    ASSERT_TRUE(file) << VT_BACKGROUND_BMP;
    const std::vector<std::uint8_t> bmp{std::istreambuf_iterator<char>(file), {}};
    ASSERT_GT(bmp.size(), 54u);
    const std::uint32_t offset = bmp[10] | bmp[11] << 8 | bmp[12] << 16 | bmp[13] << 24;
    const std::size_t rows = 320 * 3 * 200; // 24 bits, rows of 960 bytes need no padding
    ASSERT_EQ(bmp.size(), offset + rows);

    HBITMAP picture = panel->Control("Image2").Picture();
    ASSERT_NE(picture, nullptr);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = 320;
    bi.bmiHeader.biHeight = 200; // bottom-up, as in the file
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    bi.bmiHeader.biCompression = BI_RGB;
    BITMAP bm{};
    ASSERT_TRUE(GetObjectA(picture, sizeof(bm), &bm));
    EXPECT_EQ(bm.bmWidth, 320);
    EXPECT_EQ(bm.bmHeight, 200);
    EXPECT_EQ(bm.bmBitsPixel, 24);
    std::vector<std::uint8_t> shown(rows);
    HDC screen = GetDC(nullptr);
    int lines = GetDIBits(screen, picture, 0, 200, shown.data(), &bi, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    ASSERT_EQ(lines, 200);
    std::size_t differ = 0;
    for (std::size_t i = 0; i < rows; ++i)
        differ += shown[i] != bmp[offset + i];
    EXPECT_EQ(differ, 0u);
}

TEST_F(PanelTest, MenusCarryTheirItemsStatesAndShortcut) {
    panel->CompleteCreation();
    HMENU popup = panel->PopupMenu1->Handle();
    ASSERT_EQ(GetMenuItemCount(popup), 4);
    char text[64];
    GetMenuStringA(popup, 2, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "&About\tF1");
    EXPECT_EQ(panel->About1->ShortCut, 112);
    EXPECT_FALSE(panel->About1->Enabled());
    EXPECT_TRUE(panel->AutoStart1->Checked());
    EXPECT_NE(panel->SpeedControl1->Bitmap(), nullptr);
    EXPECT_NE(panel->Exit1->Bitmap(), nullptr);
    EXPECT_EQ(panel->eXit2->Caption, "&E&xit");
    EXPECT_EQ(panel->ImageList1->Count(), 1);
    EXPECT_FALSE(panel->Timer1->Enabled());
    EXPECT_EQ(panel->Timer1->Interval(), 1000u);
    // Neither timer ever runs, so neither costs a window at start-up.
    EXPECT_EQ(panel->Timer1->Handle(), nullptr);
    EXPECT_EQ(panel->TrayIcon1->AnimationTimer().Handle(), nullptr);
    panel->AutoStart1Click(nullptr);
    EXPECT_FALSE(panel->AutoStart1->Checked());
    panel->AutoStart1Click(nullptr);
    EXPECT_TRUE(panel->AutoStart1->Checked());
}

// ---- showing -------------------------------------------------------------------------

TEST_F(PanelTest, FormShowHidesTheAppWindowDiscoversAndEnablesAbout) {
    ShowWindow(app.Handle(), SW_SHOWNA);
    panel->Control("DriveComboBox").Add("stale entry");
    panel->Show();
    EXPECT_FALSE(IsWindowVisible(app.Handle()));
    // No drive: the discovery box, then the quit request.
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].text, "DRIVE NOT FOUND!!");
    EXPECT_EQ(g_boxes[0].caption, "MESSAGE");
    EXPECT_TRUE(app.Terminated());
    MSG m;
    EXPECT_TRUE(PeekMessageA(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    // The old entry went with the release that runs first; the menus come with
    // the rest of the window, About1 enabled since the panel has been shown.
    EXPECT_EQ(panel->Control("DriveComboBox").Count(), 0);
    EXPECT_EQ(panel->About1, nullptr);
    panel->CompleteCreation();
    ASSERT_NE(panel->About1, nullptr);
    EXPECT_TRUE(panel->About1->Enabled());
    // Centred on the screen at the first showing.
    RECT r;
    GetWindowRect(panel->Handle(), &r);
    EXPECT_EQ(r.left, (GetSystemMetrics(SM_CXSCREEN) - 320) / 2);
    EXPECT_EQ(r.top, (GetSystemMetrics(SM_CYSCREEN) - 200) / 2);
    // Not sent anything more to the launcher.
    EXPECT_EQ(g_launcher.messages, (std::vector<UINT>{1027}));
}

TEST_F(PanelTest, Button10SwapsTheApplicationHandlers) {
    ShowPanel();
    size_t boxes = g_boxes.size();
    panel->Button10Click(nullptr);
    ASSERT_TRUE(static_cast<bool>(app.OnMessage));
    ASSERT_TRUE(static_cast<bool>(app.OnRestore));
    // The minimise handler no longer hides the application window.
    ShowWindow(app.Handle(), SW_SHOWNA);
    app.OnMinimize(nullptr);
    EXPECT_TRUE(IsWindowVisible(app.Handle()));
    ShowWindow(app.Handle(), SW_HIDE);
    // AppMessage: any queued message whose wParam is SC_MINIMIZE hides the window,
    // and is still dispatched.
    MSG msg{launcher, WM_USER + 40, 0xF020, 0, 0, {}};
    bool handled = false;
    app.OnMessage(msg, handled);
    EXPECT_FALSE(handled);
    EXPECT_FALSE(panel->Visible());
    panel->Show();
    DrainQuit();
    msg.wParam = 0xF010;
    app.OnMessage(msg, handled);
    EXPECT_TRUE(panel->Visible());
    // AppRestore runs FormShow directly: discovery again.
    boxes = g_boxes.size();
    app.OnRestore(nullptr);
    DrainQuit();
    EXPECT_EQ(g_boxes.size(), boxes + 1);
}

TEST_F(PanelTest, AppMinimizeHidesTheApplicationWindowOnly) {
    ShowPanel();
    ShowWindow(app.Handle(), SW_SHOWNA);
    app.Minimize();
    EXPECT_FALSE(IsWindowVisible(app.Handle()));
    app.Restore();
}

TEST_F(PanelTest, BringForwardDuringTheFirstShowingsBoxShowsNoSecondBox) {
    g_forwardDuringBox = panel->Handle();
    ShowPanel();
    EXPECT_EQ(g_forwardDuringBox, nullptr); // it was delivered
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].text, "DRIVE NOT FOUND!!");
}

TEST_F(PanelTest, NoticeTheLauncherDidNotTakeInTimeIsPosted) {
    Platform.sendMessageTimeout = &SendTimesOut;
    NotifyLauncher(WM_LAUNCHER_PANEL_CLOSED);
    EXPECT_EQ(g_launcher.messages, (std::vector<UINT>{1027})); // not yet: in its queue
    MSG m;
    while (PeekMessageA(&m, launcher, 0, 0, PM_REMOVE))
        DispatchMessageA(&m);
    EXPECT_EQ(g_launcher.messages, (std::vector<UINT>{1027, 1026}));
}

TEST_F(PanelTest, TrayIconHandlersReleaseAndShowAgain) {
    ShowPanel();
    panel->Control("DriveComboBox").Add("x");
    panel->TrayIcon1Minimize(nullptr);
    EXPECT_EQ(panel->Control("DriveComboBox").Count(), 0);
    panel->Hide();
    size_t boxes = g_boxes.size();
    panel->TrayIcon1Restore(nullptr);
    DrainQuit();
    EXPECT_TRUE(panel->Visible());
    EXPECT_EQ(g_boxes.size(), boxes + 1); // FormShow ran again
}

TEST_F(PanelTest, TrayIconIsConfiguredButNeverPlaced) {
    panel->CompleteCreation();
    TTrayIcon* t = panel->TrayIcon1;
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->Owner(), panel.get());
    EXPECT_EQ(t->Hint(), "Speed Control");
    EXPECT_EQ(t->PopupMenu, panel->PopupMenu1);
    EXPECT_TRUE(t->Hide());
    EXPECT_EQ(t->RestoreOn, imDoubleClick);
    EXPECT_EQ(t->PopupMenuOn, imRightClickUp);
    EXPECT_EQ(t->Icons, panel->ImageList1);
    EXPECT_FALSE(t->Visible());
    EXPECT_FALSE(t->HookRegistered());
    EXPECT_TRUE(static_cast<bool>(t->OnMinimize));
    EXPECT_TRUE(static_cast<bool>(t->OnRestore));
}

TEST_F(PanelTest, SpeedControlMenuItemRestoresThroughTheTrayIcon) {
    ShowPanel();
    panel->Hide();
    size_t boxes = g_boxes.size();
    panel->SpeedControl1Click(nullptr);
    DrainQuit();
    EXPECT_TRUE(panel->Visible());               // TrayIcon1Restore made it visible
    EXPECT_EQ(g_boxes.size(), boxes + 1);        // ... which ran FormShow
    EXPECT_FALSE(IsWindowVisible(app.Handle())); // and FormShow hid the app window
}

// ---- the About box and its openers -----------------------------------------------------

TEST_F(PanelTest, F1AndEnterOnAnOptionButtonOpenTheBoxOverThePanel) {
    ShowPanel();
    panel->CompleteCreation(); // Button10 below the window
    SetWindowPos(panel->Handle(), nullptr, 40, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    HWND radio2 = panel->Control("RadioButton2").Handle();
    HWND button10 = panel->Control("Button10").Handle();
    auto keyUp = [&](HWND target, WPARAM key, UINT msg = WM_KEYUP) {
        MSG m{target, msg, key, 0, 0, {}};
        app.ProcessMessage(m);
    };
    keyUp(panel->Handle(), VK_F1);
    keyUp(button10, VK_F1, WM_SYSKEYUP); // Alt+F1: modifiers are not looked at
    keyUp(radio2, VK_RETURN);
    keyUp(button10, VK_RETURN); // Enter elsewhere: nothing
    keyUp(radio2, VK_F2);       // other keys: nothing
    ASSERT_EQ(aboutAt.size(), 3u);
    for (POINT p : aboutAt)
        EXPECT_TRUE(Same(p, OverPanel())) << p.x << "," << p.y;
    EXPECT_EQ(OverPanel().x, 40 + 37);
}

TEST_F(PanelTest, Message1026OpensTheBoxByVisibilityAndReturnsZero) {
    ShowPanel();
    EXPECT_EQ(SendMessageA(panel->Handle(), 1026, 0, 0), 0);
    panel->Hide();
    EXPECT_EQ(SendMessageA(panel->Handle(), 1026, 0, 0), 0);
    panel->About1Click(nullptr); // the menu item, also by visibility
    ASSERT_EQ(aboutAt.size(), 3u);
    panel->Show();
    DrainQuit();
    EXPECT_TRUE(Same(aboutAt[0], OverPanel()));
    EXPECT_TRUE(Same(aboutAt[1], OnScreen()));
    EXPECT_TRUE(Same(aboutAt[2], OnScreen()));
}

TEST(AboutPlacementTable, EachOpenerPlacesTheBox) {
    using enum AboutOpener;
    EXPECT_EQ(AboutPlacement(WMShowAbout, true), tk::TPosition::poMainFormCenter);
    EXPECT_EQ(AboutPlacement(WMShowAbout, false), tk::TPosition::poScreenCenter);
    EXPECT_EQ(AboutPlacement(About1Click, true), tk::TPosition::poMainFormCenter);
    EXPECT_EQ(AboutPlacement(About1Click, false), tk::TPosition::poScreenCenter);
    EXPECT_EQ(AboutPlacement(FormKeyUpF1, false), tk::TPosition::poMainFormCenter);
    EXPECT_EQ(AboutPlacement(Button1Click, false), tk::TPosition::poMainFormCenter);
}

TEST_F(PanelTest, AboutBoxClosesOnEscEnterOkAndDeactivationAndIsOnlyHidden) {
    ShowPanel();
    HWND first = nullptr;
    std::vector<std::string> how;
    int step = 0;
    about->OnShow = [&](tk::TComponent*) {
        HWND h = about->Handle();
        if (!first) first = h;
        EXPECT_EQ(h, first); // the same window every time
        EXPECT_EQ(GetWindow(h, GW_OWNER), panel->Handle());
        EXPECT_TRUE(GetWindowLongPtrA(h, GWL_EXSTYLE) & WS_EX_TOPMOST);
        RECT r;
        GetWindowRect(h, &r);
        EXPECT_EQ(r.right - r.left, 245);
        EXPECT_EQ(r.bottom - r.top, 165);
        switch (step++) {
        case 0: // a key other than Esc or Enter leaves it open; then Esc
            PostMessageA(h, WM_KEYUP, 'A', 0);
            PostMessageA(h, WM_KEYUP, VK_ESCAPE, 0);
            break;
        case 1:
            PostMessageA(h, WM_KEYUP, VK_RETURN, 0);
            break;
        case 2: // "&OK": press and release on the button
            PostMessageA(h, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 140));
            PostMessageA(h, WM_LBUTTONUP, 0, MAKELPARAM(100, 140));
            break;
        default: // deactivation
            PostMessageA(h, WM_ACTIVATE, WA_INACTIVE, 0);
            break;
        }
    };
    int keysSeen = 0;
    about->MapMessage(WM_KEYUP, [&](tk::TMessage& m) {
        ++keysSeen;
        about->DefaultHandler(m);
    });
    for (int i = 0; i < 4; ++i) {
        panel->Button1Click(nullptr);
        EXPECT_FALSE(about->Visible());
        EXPECT_TRUE(IsWindowEnabled(panel->Handle()));
    }
    EXPECT_EQ(step, 4);
    EXPECT_EQ(keysSeen, 3); // 'A' reached the box and left it open
    EXPECT_TRUE(IsWindow(first));
}

TEST_F(PanelTest, AboutBoxContents) {
    EXPECT_EQ(about->Control("Label1").Text(), "VELOTUNE Ver 1.01.3");
    EXPECT_EQ(about->Control("Label2").Text(), "Trelvix Velotune  For Windows");
    EXPECT_EQ(about->Control("Label3").Text(), "Coded by S.H. Baek");
    EXPECT_EQ(about->Control("Label4").Text(), "2004.1.");
    EXPECT_EQ(about->Control("SpeedButton1").Text(), "&OK");
    EXPECT_EQ(about->Control("SpeedButton1").TransparentColor(), RGB(255, 0, 0));
    EXPECT_NE(about->Control("SpeedButton1").Picture(), nullptr);
    EXPECT_EQ(about->Handle(), nullptr); // made at its first showing
}

// ---- closing ---------------------------------------------------------------------------

TEST_F(PanelTest, CloseTellsTheLauncherExitAndWmCloseDoNot) {
    ShowPanel();
    g_launcher.messages.clear();
    auto quitQueued = [] {
        MSG m;
        return PeekMessageA(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
    };
    panel->Exit1Click(nullptr);
    EXPECT_TRUE(quitQueued());
    SendMessageA(panel->Handle(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(quitQueued());
    EXPECT_TRUE(g_launcher.messages.empty());
    // "Close", by the picture button: 1026 to the launcher, then the end.
    HWND h = panel->Handle();
    SendMessageA(h, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(240, 130));
    SendMessageA(h, WM_LBUTTONUP, 0, MAKELPARAM(240, 130));
    EXPECT_EQ(g_launcher.messages, (std::vector<UINT>{1026}));
    EXPECT_TRUE(quitQueued());
    // With no launcher running, Close still closes.
    DestroyWindow(launcher);
    launcher = nullptr;
    panel->CloseClick(nullptr);
    EXPECT_TRUE(quitQueued());
}

} // namespace

TEST_F(PanelTest, WithoutAnAboutBoxThePanelMakesItsOwnWithTheRestOfTheWindow) {
    TFormMain own(nullptr, kNoDrives, &FakeBox);
    EXPECT_EQ(own.FormAbout, nullptr) << "not needed by the first paint";
    own.CompleteCreation();
    ASSERT_NE(own.FormAbout, nullptr);
    EXPECT_EQ(own.FormAbout->Caption(), about->Caption());
    own.CompleteCreation();
    EXPECT_NE(own.FormAbout, about.get());
}

// ---- a removable drive while the panel runs ---------------------------------------------

namespace {

struct Registration {
    HWND window;
    HANDLE handle;
    DWORD flags;
};
std::vector<Registration> g_registered;
std::vector<HDEVNOTIFY> g_unregistered;

HDEVNOTIFY WINAPI FakeRegister(HANDLE window, LPVOID filter, DWORD flags) {
    const auto* f = static_cast<const DEV_BROADCAST_HANDLE*>(filter);
    EXPECT_EQ(f->dbch_devicetype, static_cast<DWORD>(DBT_DEVTYP_HANDLE));
    g_registered.push_back({static_cast<HWND>(window), f->dbch_handle, flags});
    return reinterpret_cast<HDEVNOTIFY>(static_cast<INT_PTR>(0x9000 + g_registered.size()));
}

BOOL WINAPI FakeUnregister(HDEVNOTIFY note) {
    g_unregistered.push_back(note);
    return TRUE;
}

class PanelDrive : public vt_test::DriveTest {
protected:
    void SetUp() override {
        vt_test::DriveTest::SetUp();
        g_boxes.clear();
        g_registered.clear();
        g_unregistered.clear();
        Platform.deviceNotify = {&FakeRegister, &FakeUnregister};
        machine().driveTypes['d'] = DRIVE_CDROM;
        vt_test::FakeDrive drive;
        drive.statusReply = vt_test::TwoModeReply(true);
        drive.inquiry = vt_test::InquiryData(5, "ZIRVEROA", "DVD-RW", "1.00");
        machine().letterDrives['d'] = drive;
        ASSERT_TRUE(app.Initialize("TrelvixVelotune", IDI_PANEL));
        app.SetMessageBox(&FakeBox);
        panel = std::make_unique<TFormMain>(nullptr, FakeDiscoverySeam(), &FakeBox);
        app.SetMainForm(panel.get());
        panel->Show();
    }
    void TearDown() override {
        panel.reset();
        DrainQuit();
        Platform = PanelPlatform{};
        vt_test::DriveTest::TearDown();
    }
    LRESULT Notify(WPARAM event, std::size_t registration) {
        DEV_BROADCAST_HANDLE b{};
        b.dbch_size = sizeof b;
        b.dbch_devicetype = DBT_DEVTYP_HANDLE;
        b.dbch_handle = g_registered.at(registration).handle;
        b.dbch_hdevnotify =
            reinterpret_cast<HDEVNOTIFY>(static_cast<INT_PTR>(0x9001 + registration));
        return SendMessageA(panel->Handle(), WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&b));
    }
    std::size_t StatusReads() const {
        std::size_t n = 0;
        for (const auto& c : machine().log)
            n += c.cdb == vt_test::StatusReadBytes();
        return n;
    }
    vt_test::FakeMachine& machine() const { return vt_test::Machine(); }

    // A CD-ROM drive of the maker that shows up at a letter, Silence Mode set.
    void PlugIn(char letter, const std::string& product) {
        machine().driveTypes[letter] = DRIVE_CDROM;
        vt_test::FakeDrive drive;
        drive.statusReply = vt_test::TwoModeReply(false);
        drive.inquiry = vt_test::InquiryData(5, "ZIRVEROA", product, "1.00");
        machine().letterDrives[letter] = drive;
    }
    // The volume notice of a drive letter; the list follows once the messages are handled.
    void VolumeNotice(WPARAM event, char letter, WORD flags = 0) {
        DEV_BROADCAST_VOLUME v{};
        v.dbcv_size = sizeof v;
        v.dbcv_devicetype = DBT_DEVTYP_VOLUME;
        v.dbcv_unitmask = 1u << (letter - 'a');
        v.dbcv_flags = flags;
        SendMessageA(panel->Handle(), WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&v));
    }
    // Handles what is queued; true when the program was asked to quit.
    bool Pump() {
        bool quit = false;
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
            if (m.message == WM_QUIT)
                quit = true;
            else
                DispatchMessageA(&m);
        }
        return quit;
    }
    std::size_t Sent(const vt_test::Bytes& cdb, char letter) const {
        std::size_t n = 0;
        for (const auto& c : machine().log)
            n += c.cdb == cdb && machine().openHandles.count(c.handle) &&
                 machine().openHandles.at(c.handle) == letter;
        return n;
    }
    const std::vector<std::string>& Entries() { return panel->Control("DriveComboBox").Items(); }
    std::string Status() { return panel->Control("StaticText1").Text(); }

    tk::Application app;
    std::unique_ptr<TFormMain> panel;
};

} // namespace

TEST_F(PanelDrive, DeviceNotificationsLetTheDriveGoAndTakeItBack) {
    ASSERT_TRUE(g_boxes.empty());
    ASSERT_EQ(g_registered.size(), 1u);
    const HANDLE first = g_registered[0].handle;
    EXPECT_EQ(g_registered[0].window, panel->Handle());
    EXPECT_EQ(g_registered[0].flags, static_cast<DWORD>(DEVICE_NOTIFY_WINDOW_HANDLE));
    EXPECT_EQ(machine().openHandles.count(first), 1u);

    // Removal asked: the handle goes, so that the system may stop the drive.
    EXPECT_EQ(Notify(DBT_DEVICEQUERYREMOVE, 0), TRUE);
    EXPECT_EQ(machine().openHandles.count(first), 0u);
    // The removal failed: the letter is opened again and watched by its new handle.
    Notify(DBT_DEVICEQUERYREMOVEFAILED, 0);
    ASSERT_EQ(g_registered.size(), 2u);
    EXPECT_NE(g_registered[1].handle, first);
    EXPECT_EQ(machine().openHandles.count(g_registered[1].handle), 1u);
    EXPECT_EQ(g_unregistered.size(), 1u);
    const std::size_t reads = StatusReads();
    panel->SpeedSetClick(nullptr);
    EXPECT_EQ(StatusReads(), reads + 1); // the drive answers again

    // Removed: gone as a vanished drive is; nothing is sent to it and its
    // handle is not closed twice.
    Notify(DBT_DEVICEQUERYREMOVE, 1);
    Notify(DBT_DEVICEREMOVECOMPLETE, 1);
    EXPECT_TRUE(machine().openHandles.empty());
    EXPECT_EQ(g_unregistered.size(), 2u);
    const std::size_t commands = machine().log.size();
    panel->SpeedSetClick(nullptr);
    EXPECT_EQ(machine().log.size(), commands);
    const std::size_t closed = machine().closedHandles.size();
    panel->TrayIcon1Minimize(nullptr);
    EXPECT_EQ(machine().closedHandles.size(), closed);
    EXPECT_EQ(Notify(DBT_DEVICEQUERYREMOVE, 1), TRUE); // no longer watched: nothing happens
}

TEST_F(PanelDrive, ArrivedDriveIsAskedOnceAndListedAfterTheOthers) {
    ASSERT_EQ(Entries().size(), 1u);
    machine().log.clear();
    PlugIn('e', "DVD-RAM");
    VolumeNotice(DBT_DEVICEARRIVAL, 'e');
    EXPECT_TRUE(machine().log.empty()) << "asked only after the notice has returned";
    EXPECT_FALSE(Pump());
    // Asked as discovery asks: one status read, one INQUIRY, and nothing else.
    EXPECT_EQ(machine().log.size(), 2u);
    EXPECT_EQ(Sent(vt_test::StatusReadBytes(), 'e'), 1u);
    EXPECT_EQ(Sent(vt_test::InquiryBytes(), 'e'), 1u);
    ASSERT_EQ(Entries().size(), 2u);
    EXPECT_NE(Entries()[1].find("DVD-RAM"), std::string::npos);
    // The order and the selected drive stay, and so does its status line.
    EXPECT_NE(Entries()[0].find("DVD-RW"), std::string::npos);
    EXPECT_EQ(panel->Control("DriveComboBox").ItemIndex(), 0);
    EXPECT_EQ(Status(), "Current Speed = High Speed Mode");
    // Watched for its removal as the first drive is.
    ASSERT_EQ(g_registered.size(), 2u);
    EXPECT_EQ(machine().openHandles.at(g_registered[1].handle), 'e');

    // Listed letters are not asked again, nor is a disc put into a drive.
    machine().log.clear();
    VolumeNotice(DBT_DEVICEARRIVAL, 'e');
    VolumeNotice(DBT_DEVICEARRIVAL, 'd', DBTF_MEDIA);
    Pump();
    EXPECT_TRUE(machine().log.empty());
    EXPECT_EQ(Entries().size(), 2u);
}

TEST_F(PanelDrive, DevicesChangedAsksOnlyNewLetters) {
    machine().log.clear();
    const std::size_t typeQueries = machine().driveTypeRoots.size();
    SendMessageA(panel->Handle(), WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    Pump();
    EXPECT_TRUE(machine().log.empty()) << "an idle panel sends nothing";
    EXPECT_GT(machine().driveTypeRoots.size(), typeQueries); // the letters were looked at
    EXPECT_EQ(Entries().size(), 1u);

    PlugIn('g', "DVD-RAM");
    SendMessageA(panel->Handle(), WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    Pump();
    EXPECT_EQ(Sent(vt_test::StatusReadBytes(), 'g'), 1u);
    EXPECT_EQ(Sent(vt_test::InquiryBytes(), 'g'), 1u);
    EXPECT_EQ(machine().log.size(), 2u);
    EXPECT_EQ(Entries().size(), 2u);
}

TEST_F(PanelDrive, RemovedDriveLeavesTheListAndTheNextDriveShows) {
    PlugIn('e', "DVD-RAM");
    VolumeNotice(DBT_DEVICEARRIVAL, 'e');
    Pump();
    ASSERT_EQ(Entries().size(), 2u);
    ASSERT_EQ(Status(), "Current Speed = High Speed Mode");

    // The selected drive goes: the next one is selected and its state shown.
    Notify(DBT_DEVICEREMOVECOMPLETE, 0);
    EXPECT_FALSE(Pump());
    ASSERT_EQ(Entries().size(), 1u);
    EXPECT_NE(Entries()[0].find("DVD-RAM"), std::string::npos);
    EXPECT_EQ(panel->Control("DriveComboBox").ItemIndex(), 0);
    EXPECT_EQ(Status(), "Current Speed = Silence Mode");
    EXPECT_TRUE(g_boxes.empty());
    // Set reaches the drive that is left.
    machine().log.clear();
    panel->SpeedSetClick(nullptr);
    EXPECT_EQ(Sent(vt_test::StatusReadBytes(), 'e'), 1u);

    // The last one goes: as a search that finds no drive, one box and the end.
    Notify(DBT_DEVICEREMOVECOMPLETE, 1);
    EXPECT_TRUE(Pump());
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].text, "DRIVE NOT FOUND!!");
    EXPECT_EQ(g_boxes[0].caption, "MESSAGE");
    EXPECT_TRUE(Entries().empty());
    SendMessageA(panel->Handle(), WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    Pump();
    EXPECT_EQ(g_boxes.size(), 1u);
}
