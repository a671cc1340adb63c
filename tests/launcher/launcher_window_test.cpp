// The launcher's process start, icon, Auto Run toggle and window procedure,
// run against the recording fakes of all four platform seams. The menus are
// the real resources, linked into this test program.
#include "fakes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

using namespace launcher;
using namespace launcher_fakes;

namespace {

// Path of a file of the build folder as the Windows side sees it.
std::string WindowsPath(std::string unixPath) {
    for (char& c : unixPath)
        if (c == '/') c = '\\';
    return "Z:" + unixPath;
}

std::wstring ItemText(HMENU menu, UINT id) {
    wchar_t text[64] = {};
    GetMenuStringW(menu, id, text, 64, MF_BYCOMMAND);
    return text;
}

bool Grey(UINT id) {
    return (GetMenuState(Program.menu, id, MF_BYCOMMAND) & MF_GRAYED) != 0;
}

bool Checked(UINT id) {
    return (GetMenuState(Program.menu, id, MF_BYCOMMAND) & MF_CHECKED) != 0;
}

// ---- fixture ----------------------------------------------------------------

class Launcher : public ::testing::Test {
protected:
    EventLog log;
    FakeRegistry registry{log};
    FakeIcon icon{log};
    FakeProcess process{log};
    FakeMessages messages{log};

    void SetUp() override {
        process.messages = &messages;
        process.registry = &registry;
        std::strcpy(Paths.speedPanel, "D:\\Apps\\TrelvixVelotune.exe");
        std::strcpy(Paths.menuLibrary, "D:\\Apps\\Velotray.kor");
        Program.window = nullptr;
        Program.menu = nullptr;
        Program.autorunStart = false;
        PanelStart.pending = false;
        PanelStart.process = nullptr;
        RegisterLauncherMessages();
    }

    void TearDown() override {
        if (Program.window && IsWindow(Program.window)) DestroyWindow(Program.window);
        UnregisterClassA(kLauncherTitle, GetModuleHandleA(nullptr));
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
    }

    void SetAutorun(DWORD value, DWORD type = REG_DWORD) {
        registry.keys[kSettingsKey][kAutorunValue] = {type, Dword(value)};
    }

    void SetRun(const std::string& text, DWORD type = REG_SZ) {
        registry.keys[kRunKey][kRunValue] = {type, text + std::string(1, '\0')};
    }

    // The launcher window as the program creates it; WM_CREATE runs inside.
    HWND CreateLauncher(bool autorunStart) {
        Program.autorunStart = autorunStart;
        WNDCLASSEXA wc = {};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = LauncherWndProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = kLauncherTitle;
        RegisterClassExA(&wc);
        HWND hwnd = CreateWindowExA(0, kLauncherTitle, kLauncherTitle,
                                    WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                                    CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                    GetModuleHandleA(nullptr), nullptr);
        Program.window = hwnd;
        return hwnd;
    }

    int Count(const std::string& event) const { return log.Count(event); }
};

// ---- process start ----------------------------------------------------------

TEST_F(Launcher, StartSpeedPanelQuotesThePath) {
    const HWND own = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x6161));
    messages.launcherFound = own;
    std::strcpy(Paths.speedPanel, "C:\\Program Files\\Velotune\\TrelvixVelotune.exe");
    StartSpeedPanel();
    ASSERT_EQ(process.commandLines.size(), 1u);
    EXPECT_EQ(process.commandLines[0], "\"C:\\Program Files\\Velotune\\TrelvixVelotune.exe\"");
    EXPECT_TRUE(process.appNameNull[0]);
    EXPECT_EQ(process.lastStartInfo.cb, sizeof(STARTUPINFOA));
    EXPECT_EQ(process.lastStartInfo.dwFlags, static_cast<DWORD>(STARTF_USESHOWWINDOW));
    EXPECT_EQ(process.lastStartInfo.wShowWindow, SW_SHOWNORMAL);
    // The launcher's own window comes forward first.
    EXPECT_EQ(log.events, (std::vector<std::string>{"foreground", "find panel", "start"}));
    EXPECT_EQ(messages.foregrounds, std::vector<HWND>{own});
    EXPECT_EQ(Count("shell start open"), 0);

    std::strcpy(Paths.speedPanel, "TrelvixVelotune.exe");
    StartSpeedPanel();
    EXPECT_EQ(process.commandLines[1], "\"TrelvixVelotune.exe\"");
}

TEST_F(Launcher, StartSpeedPanelAsksTheShellWhenElevationIsNeeded) {
    process.createResult = FALSE;
    process.createError = ERROR_FILE_NOT_FOUND;
    StartSpeedPanel();
    EXPECT_EQ(Count("shell start open"), 0); // other failures stay silent

    process.createError = kErrorElevationRequired;
    StartSpeedPanel();
    ASSERT_EQ(Count("shell start open"), 1);
    EXPECT_EQ(process.shellFiles[0], "D:\\Apps\\TrelvixVelotune.exe");
    EXPECT_EQ(process.shellVerbs[0], "open");
    EXPECT_TRUE(process.shellMask & SEE_MASK_FLAG_NO_UI);
    EXPECT_EQ(process.shellShow, SW_SHOWNORMAL);

    // No Run value (a hand install): CreateProcess finds the panel beside the
    // launcher but is refused; the shell gets the full path, the launcher's
    // window as the prompt's owner, and finishes before it returns.
    SetAutorun(1);
    HWND hwnd = CreateLauncher(true);
    BuildLauncherPaths();
    log.events.clear();
    SendMessageA(hwnd, WM_COMMAND, IDM_OPEN_PANEL, 0);
    EXPECT_EQ(log.events,
              (std::vector<std::string>{"foreground", "find panel", "start", "shell start open"}));
    EXPECT_EQ(process.shellFiles.back(), "C:\\Program Files\\Velotune\\TrelvixVelotune.exe");
    EXPECT_EQ(process.shellOwner, hwnd);
    EXPECT_TRUE(process.shellMask & SEE_MASK_NOASYNC);
}

TEST_F(Launcher, TwoDoubleClicksBeforeThePanelsWindowGiveOneStart) {
    // The panel needs elevation: the first double click brings up the prompt;
    // a second one, during the prompt or before the panel's window exists,
    // starts nothing.
    SetAutorun(1);
    HWND hwnd = CreateLauncher(true);
    process.createResult = FALSE;
    process.createError = kErrorElevationRequired;
    process.giveProcess = true;
    auto doubleClick = [hwnd] { SendMessageA(hwnd, 1025, 0, WM_LBUTTONDBLCLK); };
    process.duringPrompt = doubleClick;
    doubleClick();
    doubleClick();
    SendMessageA(hwnd, Registered.openPanel, 0, 0); // a second launcher's request
    EXPECT_EQ(Count("shell start open"), 1);
    EXPECT_TRUE(process.shellMask & SEE_MASK_NOCLOSEPROCESS);
    EXPECT_EQ(process.openedMutexes.size(), 1u); // looked up, never created
    EXPECT_EQ(process.openedMutexes[0], velotune::protocol::kPanelMutex);
    EXPECT_EQ(process.mutexCalls, 0);

    // The panel ended before its window showed (a second copy, a crash): the
    // next double click starts again. Its window reports (1027): that start is
    // over, and a later one goes ahead when no panel is there.
    process.panelEnded = true;
    doubleClick();
    EXPECT_EQ(Count("shell start open"), 2);
    EXPECT_EQ(std::count(process.closedHandles.begin(), process.closedHandles.end(), kPanelProcess),
              1);
    process.panelEnded = false;
    SendMessageA(hwnd, WM_LAUNCHER_PANEL_OPENED, 0, 0);
    doubleClick();
    EXPECT_EQ(Count("shell start open"), 3);

    // A declined prompt leaves nothing pending.
    SendMessageA(hwnd, WM_LAUNCHER_PANEL_OPENED, 0, 0);
    process.prompt = FakeProcess::Prompt::Cancelled;
    doubleClick();
    process.prompt = FakeProcess::Prompt::RunsHelper;
    doubleClick();
    EXPECT_EQ(Count("shell start open"), 5);

    // The mutex of a panel on its way up, an elevated one's included, starts nothing.
    SendMessageA(hwnd, WM_LAUNCHER_PANEL_OPENED, 0, 0);
    for (DWORD mutex : {DWORD{0}, DWORD{ERROR_ACCESS_DENIED}}) {
        process.panelMutex = mutex;
        doubleClick();
    }
    EXPECT_EQ(Count("shell start open"), 5);
    EXPECT_EQ(std::count(process.closedHandles.begin(), process.closedHandles.end(), kPanelMutex),
              1);

    // Without elevation the gap is there too: one process.
    process.panelMutex = ERROR_FILE_NOT_FOUND;
    process.createResult = TRUE;
    process.commandLines.clear();
    SendMessageA(hwnd, WM_LAUNCHER_PANEL_OPENED, 0, 0);
    doubleClick();
    doubleClick();
    EXPECT_EQ(process.commandLines.size(), 1u);
}

TEST_F(Launcher, FirstStartByHandHasTheLauncherWindowAsOwner) {
    // No launcher runs: the start from window creation brings up the prompt,
    // which comes forward only with a window of its own.
    SetAutorun(1);
    process.createResult = FALSE;
    process.createError = kErrorElevationRequired;
    icon.postExitOnAdd = true;
    messages.realQuit = true;
    EXPECT_EQ(LauncherMain(GetModuleHandleA(nullptr), "Velotray.exe"), 0);
    ASSERT_EQ(Count("shell start open"), 1);
    EXPECT_NE(process.shellOwner, nullptr);
    EXPECT_EQ(process.shellOwner, Program.window);
}

// ---- icon -------------------------------------------------------------------

TEST_F(Launcher, IconRecordCarriesWindowCallbackIconAndTip) {
    SetAutorun(1);
    HWND hwnd = CreateLauncher(true);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_TRUE(icon.icons.empty()); // creation places no icon
    EXPECT_TRUE(NotifyTrayIcon(NIM_ADD));
    ASSERT_EQ(icon.icons.size(), 1u);
    const NOTIFYICONDATAA& record = icon.icons[0];
    EXPECT_EQ(record.cbSize, static_cast<DWORD>(NOTIFYICONDATAA_V2_SIZE));
    EXPECT_EQ(record.cbSize, 504u); // x86_64 size of the record with the 128-byte tip
    EXPECT_EQ(record.hWnd, hwnd);
    EXPECT_EQ(record.uID, 0u);
    EXPECT_EQ(record.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
    EXPECT_EQ(record.uCallbackMessage, 1025u);
    EXPECT_NE(record.hIcon, nullptr);
    EXPECT_STREQ(record.szTip, "Trelvix Velotune Launcher");
    for (std::size_t i = std::strlen(record.szTip); i < sizeof record.szTip; ++i)
        EXPECT_EQ(record.szTip[i], 0);
    EXPECT_EQ(record.dwState, 0u);
    EXPECT_EQ(record.szInfo[0], 0);
}

TEST_F(Launcher, IconComesBackWhenTheTaskbarIsCreatedAgain) {
    SetAutorun(1);
    HWND hwnd = CreateLauncher(true);
    ASSERT_NE(Registered.taskbarCreated, 0u);
    EXPECT_EQ(SendMessageA(hwnd, Registered.taskbarCreated, 0, 0), 0);
    ASSERT_EQ(icon.iconMessages, std::vector<DWORD>{NIM_ADD});
    EXPECT_EQ(icon.icons[0].hWnd, hwnd);
    EXPECT_FALSE(icon.timerOn);
}

TEST_F(Launcher, RefusedIconIsTriedAgainUntilItIsThere) {
    SetAutorun(1);
    HWND hwnd = CreateLauncher(true);
    // The shell is not ready at logon: each retry asks whether the icon is
    // there after all, then adds it; every 2 s for two minutes, then every 30 s.
    icon.addRefusals = 100;
    PlaceTrayIcon();
    EXPECT_TRUE(icon.timerOn);
    for (int retry = 0; retry < 61; ++retry)
        SendMessageA(hwnd, WM_TIMER, kTrayRetryTimer, 0);
    ASSERT_EQ(icon.timerMs.size(), 62u);
    EXPECT_EQ(icon.timerMs[0], 2000u);
    EXPECT_EQ(icon.timerMs[59], 2000u);
    EXPECT_EQ(icon.timerMs[60], 30000u);
    EXPECT_EQ(std::vector<std::string>(log.events.end() - 2, log.events.end()),
              (std::vector<std::string>{"icon modify", "icon add"}));
    icon.addRefusals = 0;
    SendMessageA(hwnd, WM_TIMER, kTrayRetryTimer, 0);
    EXPECT_FALSE(icon.timerOn);
    EXPECT_TRUE(icon.iconThere);
    EXPECT_EQ(icon.icons.back().uCallbackMessage, 1025u);

    // Refused, but placed all the same: the change succeeds and nothing is added twice.
    log.events.clear();
    icon.iconThere = false;
    icon.addRefusals = 1;
    icon.placedAnyway = true;
    SendMessageA(hwnd, Registered.taskbarCreated, 0, 0);
    EXPECT_TRUE(icon.timerOn);
    SendMessageA(hwnd, WM_TIMER, kTrayRetryTimer, 0);
    EXPECT_EQ(log.events, (std::vector<std::string>{"icon add", "icon modify"}));
    EXPECT_FALSE(icon.timerOn);
}

// ---- window creation ---------------------------------------------------------

TEST_F(Launcher, CreationByHandSetsUpTheMenuAndStartsThePanel) {
    SetAutorun(1);
    ASSERT_NE(CreateLauncher(false), nullptr);
    ASSERT_NE(Program.menu, nullptr);
    EXPECT_EQ(ItemText(Program.menu, IDM_OPEN_PANEL), L"&Velotune");
    EXPECT_EQ(ItemText(Program.menu, IDM_AUTO_RUN), L"Auto Run");
    EXPECT_EQ(ItemText(Program.menu, IDM_ABOUT), L"&About");
    EXPECT_EQ(ItemText(Program.menu, IDM_EXIT), L"E&xit");
    wchar_t option[32] = {};
    GetMenuStringW(Program.menu, 1, option, 32, MF_BYPOSITION);
    EXPECT_STREQ(option, L"&Option");
    EXPECT_EQ(GetMenuItemCount(Program.menu), 4);
    EXPECT_TRUE(Checked(IDM_AUTO_RUN));
    EXPECT_FALSE(Grey(IDM_AUTO_RUN));
    EXPECT_TRUE(Grey(IDM_ABOUT));
    EXPECT_FALSE(Grey(IDM_OPEN_PANEL));
    EXPECT_FALSE(Grey(IDM_EXIT));
    EXPECT_EQ(Count("start"), 1);
    EXPECT_EQ(process.commandLines[0], "\"D:\\Apps\\TrelvixVelotune.exe\"");
}

TEST_F(Launcher, CreationAtLogonStartsNothing) {
    SetAutorun(5);
    ASSERT_NE(CreateLauncher(true), nullptr);
    EXPECT_EQ(Count("start"), 0);
    EXPECT_TRUE(Checked(IDM_AUTO_RUN));
}

TEST_F(Launcher, KoreanSystemsTakeTheMenuFromTheLibrary) {
    const std::wstring korean = L"\uBCA8\uB85C\uD2A0"; // 벨로튠
    icon.lang = 1042;
    std::strcpy(Paths.menuLibrary, WindowsPath(VT_KOREAN_LIBRARY).c_str());
    SetAutorun(1);
    CreateLauncher(true);
    ASSERT_NE(Program.menu, nullptr);
    EXPECT_EQ(ItemText(Program.menu, IDM_OPEN_PANEL), korean);
    EXPECT_EQ(ItemText(Program.menu, IDM_AUTO_RUN), L"\uC790\uB3D9\uC2E4\uD589"); // 자동실행
    EXPECT_EQ(ItemText(Program.menu, IDM_ABOUT), L"\uB4F1\uB85D\uC815\uBCF4");    // 등록정보
    EXPECT_EQ(ItemText(Program.menu, IDM_EXIT), L"\uC885\uB8CC");                 // 종료
    wchar_t option[32] = {};
    GetMenuStringW(Program.menu, 1, option, 32, MF_BYPOSITION);
    EXPECT_STREQ(option, L"\uC635\uC158"); // 옵션
    EXPECT_TRUE(Checked(IDM_AUTO_RUN));
    EXPECT_TRUE(Grey(IDM_ABOUT));
    DestroyWindow(Program.window);

    // The library is missing: the built-in English menu.
    std::strcpy(Paths.menuLibrary, "Z:\\nonexistent\\Velotray.kor");
    CreateLauncher(true);
    EXPECT_EQ(ItemText(Program.menu, IDM_OPEN_PANEL), L"&Velotune");
    DestroyWindow(Program.window);

    // Another language never uses the library.
    icon.lang = 1033;
    std::strcpy(Paths.menuLibrary, WindowsPath(VT_KOREAN_LIBRARY).c_str());
    CreateLauncher(true);
    EXPECT_EQ(ItemText(Program.menu, IDM_OPEN_PANEL), L"&Velotune");
}

TEST_F(Launcher, KoreanLibraryIsLoadedAsResourcesOnly) {
    // A library whose entry code leaves <its path>.ran: the menu still comes
    // from it, and its code never runs.
    const std::string planted = WindowsPath(VT_PLANTED_KOR);
    const std::string mark = planted + ".ran";
    DeleteFileA(mark.c_str());
    icon.lang = 1042;
    std::strcpy(Paths.menuLibrary, planted.c_str());
    SetAutorun(1);
    CreateLauncher(true);
    ASSERT_NE(Program.menu, nullptr);
    EXPECT_EQ(ItemText(Program.menu, IDM_OPEN_PANEL), L"\uBCA8\uB85C\uD2A0"); // 벨로튠
    EXPECT_EQ(GetFileAttributesA(mark.c_str()), INVALID_FILE_ATTRIBUTES) << mark;
    DestroyWindow(Program.window);

    // A library that loads but holds no "MENU_1": the built-in menu, so that
    // the launcher can still be reached and ended.
    const std::string noMenu = WindowsPath(VT_NOMENU_KOR);
    DeleteFileA((noMenu + ".ran").c_str());
    std::strcpy(Paths.menuLibrary, noMenu.c_str());
    CreateLauncher(true);
    ASSERT_NE(Program.menu, nullptr);
    EXPECT_EQ(ItemText(Program.menu, IDM_EXIT), L"E&xit");
    EXPECT_EQ(GetFileAttributesA((noMenu + ".ran").c_str()), INVALID_FILE_ATTRIBUTES);
    DestroyWindow(Program.window);

    // The planted library does leave its mark when its code is run.
    HMODULE run = LoadLibraryA(planted.c_str());
    ASSERT_NE(run, nullptr);
    EXPECT_NE(GetFileAttributesA(mark.c_str()), INVALID_FILE_ATTRIBUTES) << mark;
    FreeLibrary(run);
    DeleteFileA(mark.c_str());
}

TEST_F(Launcher, KoreanLibraryHoldsTheSameWordingAsMenuK) {
    HMODULE library = LoadLibraryExA(WindowsPath(VT_KOREAN_LIBRARY).c_str(), nullptr, 0);
    ASSERT_NE(library, nullptr);
    HMENU one = GetSubMenu(LoadMenuA(library, "MENU_1"), 0);
    HMENU k = GetSubMenu(LoadMenuA(library, "MENU_K"), 0);
    ASSERT_NE(one, nullptr);
    ASSERT_NE(k, nullptr);
    for (UINT id : {IDM_OPEN_PANEL, IDM_AUTO_RUN, IDM_ABOUT, IDM_EXIT}) {
        EXPECT_FALSE(ItemText(one, id).empty()) << id;
        EXPECT_EQ(ItemText(one, id), ItemText(k, id)) << id;
        EXPECT_EQ(ItemText(one, id).find(L'&'), std::wstring::npos) << id;
    }
}

// ---- messages from the panel and the shell ---------------------------------

TEST_F(Launcher, PanelMessagesGreyAndEnableAbout) {
    SetAutorun(1);
    HWND hwnd = CreateLauncher(true);
    EXPECT_TRUE(Grey(IDM_ABOUT));
    EXPECT_EQ(SendMessageA(hwnd, 1027, 0, 0), 0);
    EXPECT_FALSE(Grey(IDM_ABOUT));
    SendMessageA(hwnd, 1027, 0, 0);
    EXPECT_FALSE(Grey(IDM_ABOUT));
    EXPECT_EQ(SendMessageA(hwnd, 1026, 0, 0), 0);
    EXPECT_TRUE(Grey(IDM_ABOUT));
    SendMessageA(hwnd, 1026, 0, 0);
    EXPECT_TRUE(Grey(IDM_ABOUT));
    EXPECT_FALSE(Grey(IDM_AUTO_RUN)); // nothing else changes
}

TEST_F(Launcher, TrayCallbackDispatch) {
    SetAutorun(1);
    HWND hwnd = CreateLauncher(true);
    for (UINT mouse : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_RBUTTONDOWN, WM_MOUSEMOVE, WM_RBUTTONDBLCLK,
                       WM_MBUTTONUP})
        EXPECT_EQ(SendMessageA(hwnd, 1025, 0, mouse), 0);
    EXPECT_TRUE(log.events.empty());

    SendMessageA(hwnd, 1025, 0, WM_RBUTTONUP);
    EXPECT_EQ(log.events, (std::vector<std::string>{"foreground", "track"}));
    EXPECT_EQ(messages.foregrounds, std::vector<HWND>{hwnd});
    EXPECT_EQ(icon.trackedMenu, Program.menu);
    EXPECT_EQ(icon.trackFlags, 0u);
    EXPECT_EQ(icon.trackX, 300);
    EXPECT_EQ(icon.trackY, 400);
    EXPECT_EQ(icon.trackOwner, hwnd);

    log.events.clear();
    SendMessageA(hwnd, 1025, 0, WM_LBUTTONDBLCLK);
    EXPECT_EQ(Count("start"), 1);
}

// ---- Auto Run -----------------------------------------------------------------

// The item at window creation, for what the registry holds (nullopt: no
// product key).
struct ItemRow {
    const char* name;
    std::optional<RegValue> stored;
    bool checked, grey;
};

void PrintTo(const ItemRow& row, std::ostream* out) {
    *out << row.name;
}

class AutoRunItem : public Launcher, public ::testing::WithParamInterface<ItemRow> {};

TEST_P(AutoRunItem, FollowsTheStoredSetting) {
    const ItemRow& row = GetParam();
    if (row.stored) registry.keys[kSettingsKey][kAutorunValue] = *row.stored;
    ASSERT_NE(CreateLauncher(false), nullptr);
    EXPECT_EQ(Checked(IDM_AUTO_RUN), row.checked);
    EXPECT_EQ(Grey(IDM_AUTO_RUN), row.grey);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AutoRunItem,
    ::testing::Values(ItemRow{"On", RegValue{REG_DWORD, Dword(1)}, true, false},
                      ItemRow{"OtherNumber", RegValue{REG_DWORD, Dword(5)}, true, false},
                      ItemRow{"Off", RegValue{REG_DWORD, Dword(0)}, false, false},
                      ItemRow{"NoProductKey", std::nullopt, false, true},
                      // All bits set reads as "no product key".
                      ItemRow{"AllBits", RegValue{REG_DWORD, Dword(0xFFFFFFFFu)}, false, true},
                      ItemRow{"Text", RegValue{REG_SZ, std::string("1\0", 2)}, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

// The toggle: the value stored before, whether Windows refuses the write and
// how the consent prompt ends -> the calls made, the value stored after and
// the check mark, which always shows what is stored.
struct ToggleRow {
    const char* name;
    DWORD before;
    bool standardUser;
    LSTATUS createFailure;
    FakeProcess::Prompt prompt;
    std::vector<std::string> events;
    bool elevated; // one "runas" prompt for the launcher itself
    DWORD after;
    bool helperClosed; // the helper's handle was closed
};

void PrintTo(const ToggleRow& row, std::ostream* out) {
    *out << row.name;
}

class AutoRunToggle : public Launcher, public ::testing::WithParamInterface<ToggleRow> {};

const std::string kCreate = "create " + std::string(kSettingsKey);
const std::vector<std::string> kWritten{kCreate, "delete autorun", "set autorun"};
const std::vector<std::string> kHelperRan{kCreate, "shell start runas", "helper ran"};
const std::vector<std::string> kPromptOnly{kCreate, "shell start runas"};
constexpr auto kRuns = FakeProcess::Prompt::RunsHelper;

TEST_P(AutoRunToggle, WritesADwordAndShowsWhatIsStored) {
    const ToggleRow& row = GetParam();
    SetAutorun(row.before);
    HWND hwnd = CreateLauncher(true);
    ASSERT_EQ(Checked(IDM_AUTO_RUN), row.before != 0);
    log.events.clear();
    registry.standardUser = row.standardUser;
    registry.createFailure = row.createFailure;
    process.prompt = row.prompt;

    SendMessageA(hwnd, WM_COMMAND, IDM_AUTO_RUN, 0);

    EXPECT_EQ(log.events, row.events);
    EXPECT_EQ(registry.keys[kSettingsKey][kAutorunValue].type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(registry.keys[kSettingsKey][kAutorunValue].bytes, Dword(row.after));
    EXPECT_EQ(Checked(IDM_AUTO_RUN), row.after != 0);
    EXPECT_EQ(registry.opens, registry.closes);
    EXPECT_EQ(process.closedHandles,
              row.helperClosed ? std::vector<HANDLE>{kHelperProcess} : std::vector<HANDLE>{});
    if (!row.elevated) {
        EXPECT_TRUE(process.shellVerbs.empty()); // nobody is asked
        return;
    }
    // One prompt: the launcher itself, with the helper argument only.
    ASSERT_EQ(process.shellVerbs, std::vector<std::string>{"runas"});
    EXPECT_EQ(process.shellFiles.back(), kSelfPath);
    EXPECT_EQ(process.shellParameters[0], row.before ? "/setautorun:0" : "/setautorun:1");
    EXPECT_TRUE(process.shellMask & SEE_MASK_NOCLOSEPROCESS);
    if (row.prompt != kRuns) return;
    // The helper wrote the value and ended with 0, waited for within a bound;
    // it made no window, placed no icon and started nothing.
    EXPECT_EQ(process.helperExit, 0u);
    EXPECT_GT(process.waitedMs, 0u);
    EXPECT_NE(process.waitedMs, INFINITE);
    EXPECT_EQ(Program.window, hwnd);
    EXPECT_EQ(Count("start") + Count("icon add"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AutoRunToggle,
    ::testing::Values(
        ToggleRow{"MayWriteOnToOff", 1, false, ERROR_SUCCESS, kRuns, kWritten, false, 0, false},
        ToggleRow{"MayWriteOffToOn", 0, false, ERROR_SUCCESS, kRuns, kWritten, false, 1, false},
        // Refused: done once more through the elevated helper.
        ToggleRow{"RefusedOffToOn", 0, true, ERROR_SUCCESS, kRuns, kHelperRan, true, 1, true},
        ToggleRow{"RefusedOnToOff", 1, true, ERROR_SUCCESS, kRuns, kHelperRan, true, 0, true},
        // A declined or failed elevation changes nothing.
        ToggleRow{"PromptDeclined", 1, true, ERROR_SUCCESS, FakeProcess::Prompt::Cancelled,
                  kPromptOnly, true, 1, false},
        ToggleRow{"HelperFails", 1, true, ERROR_SUCCESS, FakeProcess::Prompt::HelperFails,
                  kPromptOnly, true, 1, true},
        ToggleRow{"ShellFails", 1, true, ERROR_SUCCESS, FakeProcess::Prompt::ShellFails,
                  kPromptOnly, true, 1, false},
        // A failure other than the refusal asks for no elevation.
        ToggleRow{
            "OtherFailure", 0, false, ERROR_FILE_NOT_FOUND, kRuns, {kCreate}, false, 0, false}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- menu commands ----------------------------------------------------------

TEST_F(Launcher, HelperArgumentWritesTheValueFirstThingAndEnds) {
    // Even with another launcher running and Auto Run off, the helper only writes.
    SetAutorun(0);
    messages.launcherFound = kOtherLauncher;
    messages.panelFound = kPanelWindow;
    EXPECT_EQ(LauncherMain(GetModuleHandleA(nullptr), "Velotray.exe /SetAutorun:1"), 0);
    EXPECT_EQ(registry.keys[kSettingsKey][kAutorunValue].bytes, Dword(1));
    EXPECT_EQ(log.events, (std::vector<std::string>{"create " + std::string(kSettingsKey),
                                                    "delete autorun", "set autorun"}));
    EXPECT_EQ(process.mutexName, ""); // before the single-instance rule
    EXPECT_EQ(Program.window, nullptr);

    // Without the rights it ends with the refusal as its status.
    log.events.clear();
    registry.standardUser = true;
    EXPECT_EQ(LauncherMain(GetModuleHandleA(nullptr), "Velotray.exe /setautorun:0"),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(registry.keys[kSettingsKey][kAutorunValue].bytes, Dword(1));
}

TEST_F(Launcher, ExitRemovesTheIconClosesThePanelAndQuits) {
    SetAutorun(1);
    HWND hwnd = CreateLauncher(true);
    messages.panelFound = kPanelWindow;
    SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDM_EXIT, 0), 0);
    EXPECT_EQ(log.events, (std::vector<std::string>{"icon delete", "find panel",
                                                    "send " + std::to_string(WM_CLOSE), "quit 0"}));
    EXPECT_EQ(messages.sent[0].first, kPanelWindow);
    // Bounded, and not waiting at all for a panel that is already hung.
    EXPECT_TRUE(messages.sendFlags[0] & SMTO_ABORTIFHUNG);
    EXPECT_GT(messages.sendTimeouts[0], 0u);
    EXPECT_LE(messages.sendTimeouts[0], 5000u);
    EXPECT_EQ(icon.icons[0].hWnd, hwnd);
    EXPECT_EQ(icon.icons[0].uID, 0u);
    EXPECT_TRUE(IsWindow(hwnd)); // the window is not destroyed on the way out

    log.events.clear();
    messages.sent.clear();
    messages.sendResult = 0; // the panel did not answer in time: the launcher still ends
    SendMessageA(hwnd, WM_COMMAND, IDM_EXIT, 0);
    // The request is left in the busy panel's queue: it closes when its command returns.
    EXPECT_EQ(log.events, (std::vector<std::string>{"icon delete", "find panel",
                                                    "send " + std::to_string(WM_CLOSE),
                                                    "post " + std::to_string(WM_CLOSE), "quit 0"}));
    EXPECT_EQ(messages.sent.back(), std::make_pair(kPanelWindow, static_cast<UINT>(WM_CLOSE)));

    log.events.clear();
    messages.panelFound = nullptr; // no panel: only the icon goes
    SendMessageA(hwnd, WM_COMMAND, IDM_EXIT, 0);
    EXPECT_EQ(log.events, (std::vector<std::string>{"icon delete", "find panel", "quit 0"}));
}

TEST_F(Launcher, ExitClosesAPanelThatIsStillStartingAndWaitsBounded) {
    // Started by this launcher, its window not there yet: Exit waits for the
    // window and its report (1027, handled during the wait), then closes it.
    SetAutorun(1);
    HWND hwnd = CreateLauncher(true);
    process.giveProcess = true;
    SendMessageA(hwnd, WM_COMMAND, IDM_OPEN_PANEL, 0);
    ASSERT_EQ(PanelStart.process, kPanelProcess);
    int waits = 0;
    process.whileWaiting = [&] {
        if (++waits != 3) return;
        messages.panelFound = kPanelWindow;
        SendMessageA(hwnd, WM_LAUNCHER_PANEL_OPENED, 0, 0);
    };
    log.events.clear();
    SendMessageA(hwnd, WM_COMMAND, IDM_EXIT, 0);
    const std::string close = "send " + std::to_string(WM_CLOSE);
    EXPECT_EQ(log.events, (std::vector<std::string>{"icon delete", "find panel", "wait idle",
                                                    "find panel", "wait idle", "find panel",
                                                    "wait idle", "find panel", close, "quit 0"}));
    EXPECT_EQ(messages.sent.back(), std::make_pair(kPanelWindow, static_cast<UINT>(WM_CLOSE)));

    // Started by a second launcher that handed over and ended: only the
    // panel's mutex tells that it is on its way up.
    messages.panelFound = nullptr;
    process.panelMutex = 0;
    waits = 0;
    process.whileWaiting = [&] {
        if (++waits == 2) messages.panelFound = kPanelWindow;
    };
    log.events.clear();
    SendMessageA(hwnd, WM_COMMAND, IDM_EXIT, 0);
    EXPECT_EQ(log.events, (std::vector<std::string>{"icon delete", "find panel", "find panel",
                                                    "find panel", close, "quit 0"}));
    EXPECT_EQ(process.sleeps, 2);
    EXPECT_EQ(process.idleWaits, 3); // none without a process of its own

    // A panel that never shows keeps the launcher's Exit no longer than the
    // protocol's time-out.
    messages.panelFound = nullptr;
    process.whileWaiting = nullptr;
    process.sleptMs = 0;
    log.events.clear();
    SendMessageA(hwnd, WM_COMMAND, IDM_EXIT, 0);
    EXPECT_EQ(Count(close), 0);
    EXPECT_EQ(log.events.back(), "quit 0");
    EXPECT_GE(process.sleptMs, 1000u);
    EXPECT_LE(process.sleptMs, velotune::protocol::kSendTimeoutMs);
}

TEST_F(Launcher, AboutAsksThePanelAndOtherIdsDoNothing) {
    SetAutorun(1);
    HWND hwnd = CreateLauncher(true);
    SendMessageA(hwnd, WM_COMMAND, IDM_ABOUT, 0);
    EXPECT_TRUE(messages.sent.empty()); // no panel window
    messages.panelFound = kPanelWindow;
    log.events.clear();
    SendMessageA(hwnd, WM_COMMAND, IDM_ABOUT, 0);
    ASSERT_EQ(messages.sent.size(), 1u);
    EXPECT_EQ(messages.sent[0], std::make_pair(kPanelWindow, 1026u));
    // The panel's process may take the foreground before it is asked, so that
    // its box gets the keyboard; the call has no time limit (it returns when
    // the box closes) but does not wait for a panel that is already hung.
    EXPECT_EQ(log.events, (std::vector<std::string>{"find panel", "allow 4711", "send 1026"}));
    EXPECT_TRUE(messages.sendFlags[0] & SMTO_ABORTIFHUNG);
    EXPECT_EQ(messages.sendTimeouts[0], INFINITE);

    log.events.clear();
    SendMessageA(hwnd, WM_COMMAND, 999, 0);
    SendMessageA(hwnd, WM_COMMAND, 101, 0);
    EXPECT_TRUE(log.events.empty());

    messages.panelFound = nullptr;
    SendMessageA(hwnd, WM_COMMAND, IDM_OPEN_PANEL, 0);
    EXPECT_EQ(Count("start"), 1);
}

TEST_F(Launcher, CloseFromOutsideRemovesTheIconAndLeavesThePanel) {
    SetAutorun(1);
    HWND hwnd = CreateLauncher(true);
    messages.panelFound = kPanelWindow;
    SendMessageA(hwnd, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(log.events, (std::vector<std::string>{"icon delete", "quit 0"}));
    EXPECT_TRUE(messages.sent.empty());
}

// ---- the whole start-up ------------------------------------------------------

TEST_F(Launcher, StartByHandRunsUntilExit) {
    SetAutorun(1);
    SetRun("D:\\Apps\\Velotray.exe");
    icon.postExitOnAdd = true;
    messages.realQuit = true;
    EXPECT_EQ(LauncherMain(GetModuleHandleA(nullptr), "Velotray.exe"), 0);
    EXPECT_EQ(process.commandLines, std::vector<std::string>{"\"D:\\Apps\\TrelvixVelotune.exe\""});
    EXPECT_STREQ(Paths.menuLibrary, "D:\\Apps\\Velotray.kor");
    // The panel starts from window creation, before the icon is placed.
    EXPECT_EQ(log.events, (std::vector<std::string>{"foreground", "find panel", "start", "icon add",
                                                    "icon delete", "find panel", "quit 0"}));
    EXPECT_EQ(process.mutexName, "Local\\Trelvix Velotune Launcher");
    EXPECT_TRUE(IsWindow(Program.window));
    EXPECT_FALSE(IsWindowVisible(Program.window));
    EXPECT_EQ(icon.icons[0].hWnd, Program.window);
}

TEST_F(Launcher, LogonStartPlacesTheIconOnly) {
    for (DWORD setting : {1u, 0xFFFFFFFFu}) {
        log.events.clear();
        registry.keys.clear();
        if (setting == 1) SetAutorun(setting); // otherwise: no product key
        icon.postExitOnAdd = true;
        messages.realQuit = true;
        EXPECT_EQ(LauncherMain(GetModuleHandleA(nullptr), "Velotray.exe /AutoRun"), 0);
        EXPECT_EQ(Count("start"), 0);
        EXPECT_EQ(Count("icon add"), 1);
        messages.realQuit = false;
        DestroyWindow(Program.window);
        UnregisterClassA(kLauncherTitle, GetModuleHandleA(nullptr));
    }
}

TEST_F(Launcher, LogonStartWithAutoRunOffEndsAtOnce) {
    SetAutorun(0);
    EXPECT_EQ(LauncherMain(GetModuleHandleA(nullptr), "Velotray.exe /AUTORUN"), 0);
    EXPECT_TRUE(log.events.empty());
    EXPECT_EQ(Program.window, nullptr);
    // The one-copy name goes first: a hand start waiting on it can take it.
    EXPECT_EQ(process.closedHandles, std::vector<HANDLE>{process.mutexResult});
    EXPECT_EQ(Program.instanceMutex, nullptr);
}

TEST_F(Launcher, SecondLauncherBringsTheFirstForwardAndStartsThePanel) {
    SetAutorun(0);
    messages.launcherFound = kOtherLauncher;
    for (const char* line : {"Velotray.exe", "Velotray.exe /autorun"}) {
        log.events.clear();
        messages.foregrounds.clear();
        messages.foregroundOwner = GetCurrentProcessId();
        EXPECT_EQ(LauncherMain(GetModuleHandleA(nullptr), line), 0);
        // The running launcher is asked to open the panel (its start may be
        // pending), then brought forward, so that it may pass the foreground on.
        const std::string open = "post " + std::to_string(Registered.openPanel);
        EXPECT_EQ(log.events, (std::vector<std::string>{"find panel", open, "foreground"}));
        EXPECT_EQ(messages.sent.back().first, kOtherLauncher);
        EXPECT_EQ(messages.foregrounds, (std::vector<HWND>{kOtherLauncher}));
        EXPECT_TRUE(process.commandLines.empty());
        EXPECT_EQ(Program.window, nullptr);
        UnregisterClassA(kLauncherTitle, GetModuleHandleA(nullptr));
    }
    // A launcher that cannot be asked: this copy starts the panel while it
    // still holds the foreground, unless the panel's mutex says one is starting.
    messages.postResult = FALSE;
    log.events.clear();
    messages.foregroundOwner = GetCurrentProcessId();
    EXPECT_EQ(LauncherMain(GetModuleHandleA(nullptr), "Velotray.exe"), 0);
    EXPECT_EQ(log.events, (std::vector<std::string>{"find panel",
                                                    "post " + std::to_string(Registered.openPanel),
                                                    "start", "foreground"}));
    UnregisterClassA(kLauncherTitle, GetModuleHandleA(nullptr));
    process.panelMutex = ERROR_ACCESS_DENIED;
    EXPECT_EQ(LauncherMain(GetModuleHandleA(nullptr), "Velotray.exe"), 0);
    EXPECT_EQ(process.commandLines.size(), 1u);
}

TEST_F(Launcher, FailedClassRegistrationEndsQuietly) {
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kLauncherTitle;
    ASSERT_NE(RegisterClassExA(&wc), 0);
    SetAutorun(1);
    EXPECT_EQ(LauncherMain(GetModuleHandleA(nullptr), "Velotray.exe"), 0);
    EXPECT_TRUE(log.events.empty());
}

// ---- a running panel, the message filter, the single instance ---------------

TEST_F(Launcher, RunningPanelIsBroughtForwardWithoutStartingAProcess) {
    SetAutorun(1);
    messages.panelFound = kPanelWindow;
    HWND hwnd = CreateLauncher(false); // a start by hand
    ASSERT_NE(Registered.bringForward, 0u);
    const std::string post = "post " + std::to_string(Registered.bringForward);
    const std::vector<std::string> expected{"foreground", "find panel", "allow 4711", post};
    EXPECT_EQ(log.events, expected);

    for (int way = 0; way < 2; ++way) { // the menu item and the double click
        log.events.clear();
        if (way == 0) SendMessageA(hwnd, WM_COMMAND, IDM_OPEN_PANEL, 0);
        if (way == 1) SendMessageA(hwnd, 1025, 0, WM_LBUTTONDBLCLK);
        EXPECT_EQ(log.events, expected) << way;
    }
    EXPECT_EQ(Count("start") + Count("shell start open"), 0);
    EXPECT_TRUE(process.commandLines.empty());
    for (const auto& sent : messages.sent)
        EXPECT_EQ(sent.first, kPanelWindow);
}

TEST_F(Launcher, SecondLauncherBringsARunningPanelForwardToo) {
    messages.launcherFound = kOtherLauncher;
    messages.panelFound = kPanelWindow;
    EXPECT_EQ(LauncherMain(GetModuleHandleA(nullptr), "Velotray.exe"), 0);
    // Allowed before anything is given away; then the first launcher comes forward.
    EXPECT_EQ(log.events, (std::vector<std::string>{
                              "find panel", "allow 4711",
                              "post " + std::to_string(Registered.bringForward), "foreground"}));
    EXPECT_TRUE(process.commandLines.empty());
    EXPECT_EQ(messages.foregroundOwner, kOtherLauncherProcess);

    // The other order gives the foreground away first, and the allowance is
    // refused, as Windows refuses it.
    log.events.clear();
    messages.foregroundOwner = GetCurrentProcessId();
    Messages.setForeground(kOtherLauncher);
    AllowPanelForeground(kPanelWindow);
    EXPECT_EQ(log.events, (std::vector<std::string>{"foreground", "allow 4711 refused"}));

    // A panel that needs elevation is started through the shell, still in the foreground.
    UnregisterClassA(kLauncherTitle, GetModuleHandleA(nullptr));
    log.events.clear();
    messages.foregroundOwner = GetCurrentProcessId();
    messages.panelFound = nullptr;
    process.createResult = FALSE;
    process.createError = kErrorElevationRequired;
    messages.postResult = FALSE; // the running launcher cannot be asked
    EXPECT_EQ(LauncherMain(GetModuleHandleA(nullptr), "Velotray.exe"), 0);
    EXPECT_EQ(log.events, (std::vector<std::string>{"find panel",
                                                    "post " + std::to_string(Registered.openPanel),
                                                    "start", "shell start open", "foreground"}));
    EXPECT_TRUE(process.shellMask & SEE_MASK_NOASYNC);
    EXPECT_EQ(process.shellOwner, nullptr); // a second launcher has no window
}

TEST_F(Launcher, ShellRestartMessageIsLetThroughTheFilter) {
    SetAutorun(1);
    CreateLauncher(true);
    ASSERT_NE(Registered.taskbarCreated, 0u);
    ASSERT_NE(Registered.openPanel, 0u);
    EXPECT_EQ(messages.filtered, (std::vector<std::pair<UINT, DWORD>>{
                                     {Registered.taskbarCreated, static_cast<DWORD>(MSGFLT_ALLOW)},
                                     {Registered.openPanel, static_cast<DWORD>(MSGFLT_ALLOW)}}));
}

TEST_F(Launcher, TakenMutexWaitsForTheFirstLaunchersWindow) {
    // Created, but it existed: the first copy's window shows a moment later.
    SetAutorun(1);
    process.mutexError = ERROR_ALREADY_EXISTS;
    process.windowAfterSleeps = 3;
    EXPECT_EQ(LauncherMain(GetModuleHandleA(nullptr), "Velotray.exe /autorun"), 0);
    EXPECT_EQ(process.sleeps, 3);
    EXPECT_EQ(messages.foregrounds.front(), kOtherLauncher);
    EXPECT_EQ(Count("post " + std::to_string(Registered.openPanel)), 1);
    EXPECT_EQ(Program.window, nullptr);
    EXPECT_EQ(Count("icon add"), 0);
}

TEST_F(Launcher, TakenMutexWithoutAWindowIsTriedOnceMore) {
    // The logon start that held the name ended at its gate: no window comes,
    // and the name is free when this hand start tries again.
    SetAutorun(1);
    process.mutexError = ERROR_ALREADY_EXISTS;
    process.laterMutexError = 0;
    icon.postExitOnAdd = true;
    messages.realQuit = true;
    EXPECT_EQ(LauncherMain(GetModuleHandleA(nullptr), "Velotray.exe"), 0);
    EXPECT_GE(process.sleptMs, velotune::protocol::kSecondCopyWaitMs);
    ASSERT_EQ(process.mutexCalls, 2);
    ASSERT_FALSE(process.closedHandles.empty());
    EXPECT_EQ(process.closedHandles.front(), process.mutexResult); // its first handle let go
    EXPECT_EQ(Count("start"), 1);
    EXPECT_EQ(Count("icon add"), 1);
}

TEST_F(Launcher, MutexRefusedForLackOfRightsMeansAnotherCopyRuns) {
    // An elevated launcher's mutex refuses a standard user's copy. No window
    // appears: after a bounded wait this copy ends without doing anything.
    SetAutorun(1);
    process.mutexResult = nullptr;
    process.mutexError = ERROR_ACCESS_DENIED;
    EXPECT_EQ(LauncherMain(GetModuleHandleA(nullptr), "Velotray.exe"), 0);
    EXPECT_GT(process.sleeps, 0);
    EXPECT_GE(process.sleptMs, velotune::protocol::kSecondCopyWaitMs);
    EXPECT_LE(process.sleptMs, velotune::protocol::kSecondCopyWaitMs + 100);
    EXPECT_TRUE(log.events.empty());
    EXPECT_EQ(Program.window, nullptr);

    // Any other failure of the mutex says nothing: the start goes on as the first.
    UnregisterClassA(kLauncherTitle, GetModuleHandleA(nullptr));
    process.mutexError = ERROR_INVALID_HANDLE;
    icon.postExitOnAdd = true;
    messages.realQuit = true;
    process.sleeps = 0;
    EXPECT_EQ(LauncherMain(GetModuleHandleA(nullptr), "Velotray.exe /autorun"), 0);
    EXPECT_EQ(process.sleeps, 0);
    EXPECT_EQ(Count("icon add"), 1);
}

} // namespace
