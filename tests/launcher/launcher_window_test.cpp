// The launcher's registry operations, process start, icon and window
// procedure, run against recording fakes of the platform calls. The menus
// are the real resources, linked into this test program.
#include "launcher/launcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

using namespace launcher;

namespace {

// ---- recording fakes --------------------------------------------------------

struct RegValue {
    DWORD type;
    std::string bytes;
};

struct FakeState {
    std::vector<std::string> events;
    // Registry: key path (as the program names it) -> value name -> value.
    std::map<std::string, std::map<std::string, RegValue>> keys;
    std::vector<std::string> openKeys; // by handle number - 1
    int opens = 0, closes = 0;
    // Windows refuses HKLM writes to a launcher that runs without elevation.
    bool standardUser = false;
    LSTATUS createFailure = ERROR_SUCCESS; // any other failure of the key creation
    // Shell icon.
    std::vector<NOTIFYICONDATAA> icons;
    std::vector<DWORD> iconMessages;
    bool postExitOnAdd = false;
    // A shell not ready yet refuses this many NIM_ADDs; with placedAnyway the
    // refused call still placed the icon (it failed on its own time-out).
    int addRefusals = 0;
    bool placedAnyway = false;
    bool iconThere = false;
    std::vector<UINT> timerMs; // each SetTimer of the icon's retry
    bool timerOn = false;
    // Processes.
    std::vector<std::string> commandLines;
    std::vector<bool> appNameNull;
    STARTUPINFOA lastStartInfo = {};
    BOOL createResult = TRUE;
    DWORD createError = 0; // GetLastError after a failed start, when set
    DWORD lastError = 0;
    std::vector<std::string> shellFiles, shellVerbs, shellParameters;
    ULONG shellMask = 0;
    int shellShow = 0;
    HWND shellOwner = nullptr;
    // The consent prompt: the helper runs elevated, the user declines, the
    // helper ends with a failure of its own, or the shell cannot start it.
    enum class Prompt {
        RunsHelper,
        Cancelled,
        HelperFails,
        ShellFails
    } prompt = Prompt::RunsHelper;
    DWORD helperExit = STILL_ACTIVE;
    // The panel's process as a start gives it, and what happens while the
    // consent prompt is up (messages sent to the launcher are handled then).
    bool giveProcess = false;
    bool panelEnded = false;
    std::function<void()> duringPrompt;
    // The panel's session mutex: ERROR_FILE_NOT_FOUND (none), 0 (opened) or
    // ERROR_ACCESS_DENIED (an elevated panel's).
    DWORD panelMutex = ERROR_FILE_NOT_FOUND;
    std::vector<std::string> openedMutexes;
    BOOL postResult = TRUE;
    std::vector<HANDLE> closedHandles;
    DWORD waitedMs = 0;
    // Single instance.
    std::string mutexName;
    HANDLE mutexResult = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x6660));
    DWORD mutexError = 0;
    int mutexCalls = 0;
    DWORD laterMutexError = 0xFFFFFFFF; // from the second call on, when set
    int windowAfterSleeps = -1;         // the other launcher's window shows after this many sleeps
    int sleeps = 0;
    DWORD sleptMs = 0;
    // Message filter and foreground.
    std::vector<std::pair<UINT, DWORD>> filtered;
    DWORD panelProcess = 4711;
    // The foreground rule: only the process that owns the foreground, or one
    // it allowed, may set it or pass it on. This test program starts as the
    // owner, as a launcher the user started does.
    DWORD foregroundOwner = GetCurrentProcessId();
    DWORD foregroundAllowed = 0;
    std::vector<UINT> sendFlags, sendTimeouts;
    LRESULT sendResult = 1;
    // Windows.
    HWND launcherFound = nullptr;
    HWND panelFound = nullptr;
    std::vector<HWND> foregrounds;
    std::vector<std::pair<HWND, UINT>> sent;
    POINT cursor = {300, 400};
    HMENU trackedMenu = nullptr;
    int trackX = 0, trackY = 0;
    HWND trackOwner = nullptr;
    UINT trackFlags = 99;
    LANGID lang = 1033;
    bool realQuit = false;
};

FakeState* fake = nullptr;

const HWND kPanelWindow = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x4242));
const HWND kOtherLauncher = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x5150));
const HANDLE kHelperProcess = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x7770));
const HANDLE kPanelProcess = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x7780));
const HANDLE kPanelMutex = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x7790));
constexpr DWORD kOtherLauncherProcess = 5150;

DWORD ProcessOf(HWND hwnd) {
    if (hwnd == kPanelWindow) return fake->panelProcess;
    if (hwnd == kOtherLauncher) return kOtherLauncherProcess;
    return GetCurrentProcessId();
}

bool MayTakeForeground() {
    const DWORD self = GetCurrentProcessId();
    return fake->foregroundOwner == self || fake->foregroundAllowed == self;
}

HKEY HandleFor(const std::string& key) {
    fake->openKeys.push_back(key);
    ++fake->opens;
    return reinterpret_cast<HKEY>(static_cast<INT_PTR>(0x1000 + fake->openKeys.size()));
}

const std::string& KeyOf(HKEY handle) {
    return fake->openKeys.at(reinterpret_cast<INT_PTR>(handle) - 0x1001);
}

LSTATUS WINAPI FakeRegOpenKeyEx(HKEY root, LPCSTR key, DWORD, REGSAM access, PHKEY out) {
    if (root != HKEY_LOCAL_MACHINE || access != KEY_READ || !fake->keys.count(key))
        return ERROR_FILE_NOT_FOUND;
    *out = HandleFor(key);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI FakeRegQueryValueEx(HKEY handle, LPCSTR name, LPDWORD reserved, LPDWORD type,
                                   LPBYTE data, LPDWORD size) {
    if (reserved) return ERROR_INVALID_PARAMETER;
    auto& values = fake->keys[KeyOf(handle)];
    auto it = values.find(name);
    if (it == values.end()) return ERROR_FILE_NOT_FOUND;
    if (type) *type = it->second.type;
    const DWORD need = static_cast<DWORD>(it->second.bytes.size());
    if (!data) {
        *size = need;
        return ERROR_SUCCESS;
    }
    if (*size < need) {
        *size = need;
        return ERROR_MORE_DATA;
    }
    std::memcpy(data, it->second.bytes.data(), need);
    *size = need;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI FakeRegCreateKeyEx(HKEY root, LPCSTR key, DWORD, LPSTR, DWORD options, REGSAM access,
                                  const LPSECURITY_ATTRIBUTES, PHKEY out, LPDWORD) {
    fake->events.push_back("create " + std::string(key));
    if (root != HKEY_LOCAL_MACHINE || options != REG_OPTION_NON_VOLATILE ||
        !(access & KEY_SET_VALUE))
        return ERROR_INVALID_PARAMETER;
    if (fake->standardUser) return ERROR_ACCESS_DENIED; // whatever the access asked for
    if (fake->createFailure != ERROR_SUCCESS) return fake->createFailure;
    fake->keys[key];
    *out = HandleFor(key);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI FakeRegDeleteValue(HKEY handle, LPCSTR name) {
    fake->events.push_back("delete " + std::string(name));
    return fake->keys[KeyOf(handle)].erase(name) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LSTATUS WINAPI FakeRegSetValueEx(HKEY handle, LPCSTR name, DWORD, DWORD type, const BYTE* data,
                                 DWORD size) {
    fake->events.push_back("set " + std::string(name));
    fake->keys[KeyOf(handle)][name] = {type,
                                       std::string(reinterpret_cast<const char*>(data), size)};
    return ERROR_SUCCESS;
}

LSTATUS WINAPI FakeRegCloseKey(HKEY) {
    ++fake->closes;
    return ERROR_SUCCESS;
}

BOOL WINAPI FakeShellNotifyIcon(DWORD message, PNOTIFYICONDATAA data) {
    fake->events.push_back(message == NIM_ADD      ? "icon add"
                           : message == NIM_DELETE ? "icon delete"
                           : message == NIM_MODIFY ? "icon modify"
                                                   : "icon other");
    fake->iconMessages.push_back(message);
    fake->icons.push_back(*data);
    if (message == NIM_ADD && fake->postExitOnAdd)
        PostMessageA(data->hWnd, WM_COMMAND, IDM_EXIT, 0);
    if (message == NIM_ADD && fake->addRefusals > 0) {
        --fake->addRefusals;
        if (fake->placedAnyway) fake->iconThere = true;
        return FALSE;
    }
    if (message == NIM_MODIFY) return fake->iconThere;
    fake->iconThere = message == NIM_ADD;
    return TRUE;
}

UINT_PTR WINAPI FakeSetTimer(HWND hwnd, UINT_PTR id, UINT ms, TIMERPROC proc) {
    EXPECT_EQ(hwnd, LauncherWindow);
    EXPECT_EQ(id, kTrayRetryTimer);
    EXPECT_EQ(proc, nullptr);
    fake->timerMs.push_back(ms);
    fake->timerOn = true;
    return id;
}

BOOL WINAPI FakeKillTimer(HWND, UINT_PTR id) {
    EXPECT_EQ(id, kTrayRetryTimer);
    fake->timerOn = false;
    return TRUE;
}

BOOL WINAPI FakeCreateProcess(LPCSTR app, LPSTR commandLine, LPSECURITY_ATTRIBUTES process,
                              LPSECURITY_ATTRIBUTES thread, BOOL inherit, DWORD flags,
                              LPVOID environment, LPCSTR directory, LPSTARTUPINFOA startup,
                              LPPROCESS_INFORMATION info) {
    // A process started by the foreground process may take the foreground.
    fake->events.push_back(MayTakeForeground() ? "start" : "start in the background");
    fake->commandLines.push_back(commandLine);
    fake->appNameNull.push_back(app == nullptr);
    EXPECT_EQ(process, nullptr);
    EXPECT_EQ(thread, nullptr);
    EXPECT_FALSE(inherit);
    EXPECT_EQ(flags, 0u);
    EXPECT_EQ(environment, nullptr);
    EXPECT_EQ(directory, nullptr);
    EXPECT_EQ(info->hProcess, nullptr); // zeroed before each start
    fake->lastStartInfo = *startup;
    if (!fake->createResult && fake->createError) fake->lastError = fake->createError;
    if (fake->createResult && fake->giveProcess) info->hProcess = kPanelProcess;
    return fake->createResult;
}

DWORD WINAPI FakeGetLastError() {
    return fake->lastError;
}

BOOL WINAPI FakeShellExecuteEx(SHELLEXECUTEINFOA* info) {
    const std::string verb = info->lpVerb ? info->lpVerb : "";
    fake->events.push_back("shell start " + verb +
                           (MayTakeForeground() ? "" : " in the background"));
    fake->shellOwner = info->hwnd;
    fake->shellFiles.push_back(info->lpFile ? info->lpFile : "");
    fake->shellVerbs.push_back(verb);
    fake->shellParameters.push_back(info->lpParameters ? info->lpParameters : "");
    fake->shellMask = info->fMask;
    fake->shellShow = info->nShow;
    if (verb != "runas") {
        if (fake->duringPrompt) std::exchange(fake->duringPrompt, nullptr)();
        if (fake->prompt == FakeState::Prompt::Cancelled) {
            fake->lastError = ERROR_CANCELLED;
            return FALSE;
        }
        if ((info->fMask & SEE_MASK_NOCLOSEPROCESS) && fake->giveProcess)
            info->hProcess = kPanelProcess;
        return TRUE;
    }
    switch (fake->prompt) {
    case FakeState::Prompt::Cancelled:
        fake->lastError = ERROR_CANCELLED;
        return FALSE;
    case FakeState::Prompt::ShellFails:
        fake->lastError = ERROR_FILE_NOT_FOUND;
        return FALSE;
    case FakeState::Prompt::HelperFails:
        fake->helperExit = ERROR_INVALID_FUNCTION;
        break;
    case FakeState::Prompt::RunsHelper: {
        // The launcher itself, elevated, with the arguments it was given.
        const bool wasStandard = fake->standardUser;
        const std::vector<std::string> before = fake->events;
        fake->standardUser = false;
        const std::string line = std::string("\"") + info->lpFile + "\" " + info->lpParameters;
        fake->helperExit =
            static_cast<DWORD>(LauncherMain(GetModuleHandleA(nullptr), line.c_str()));
        fake->standardUser = wasStandard;
        fake->events = before;
        fake->events.push_back("helper ran");
        break;
    }
    }
    if (info->fMask & SEE_MASK_NOCLOSEPROCESS) info->hProcess = kHelperProcess;
    return TRUE;
}

DWORD WINAPI FakeWaitForSingleObject(HANDLE handle, DWORD ms) {
    if (handle == kPanelProcess) {
        EXPECT_EQ(ms, 0u); // only looked at, never waited for
        return fake->panelEnded ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    }
    EXPECT_EQ(handle, kHelperProcess);
    fake->waitedMs = ms;
    return WAIT_OBJECT_0;
}

BOOL WINAPI FakeGetExitCodeProcess(HANDLE handle, LPDWORD code) {
    EXPECT_EQ(handle, kHelperProcess);
    *code = fake->helperExit;
    return TRUE;
}

BOOL WINAPI FakeCloseHandle(HANDLE handle) {
    fake->closedHandles.push_back(handle);
    return TRUE;
}

DWORD WINAPI FakeGetModuleFileName(HMODULE, LPSTR name, DWORD size) {
    const char self[] = "C:\\Program Files\\Velotune\\Velotray.exe";
    if (size < sizeof self) return 0;
    std::memcpy(name, self, sizeof self);
    return sizeof self - 1;
}

HANDLE WINAPI FakeCreateMutex(LPSECURITY_ATTRIBUTES attributes, BOOL owner, LPCSTR name) {
    EXPECT_EQ(attributes, nullptr);
    EXPECT_FALSE(owner);
    fake->mutexName = name ? name : "";
    const bool later = fake->mutexCalls++ > 0 && fake->laterMutexError != 0xFFFFFFFF;
    fake->lastError = later ? fake->laterMutexError : fake->mutexError;
    if (later) return fake->laterMutexError == ERROR_ACCESS_DENIED ? nullptr : fake->mutexResult;
    return fake->mutexResult;
}

HANDLE WINAPI FakeOpenMutex(DWORD access, BOOL inherit, LPCSTR name) {
    EXPECT_EQ(access, static_cast<DWORD>(SYNCHRONIZE));
    EXPECT_FALSE(inherit);
    fake->openedMutexes.push_back(name ? name : "");
    fake->lastError = fake->panelMutex;
    return fake->panelMutex == 0 ? kPanelMutex : nullptr;
}

VOID WINAPI FakeSleep(DWORD ms) {
    ++fake->sleeps;
    fake->sleptMs += ms;
    if (fake->sleeps == fake->windowAfterSleeps) fake->launcherFound = kOtherLauncher;
}

DWORD WINAPI FakeGetWindowThreadProcessId(HWND hwnd, LPDWORD process) {
    if (process) *process = ProcessOf(hwnd);
    return 1;
}

BOOL WINAPI FakeAllowSetForegroundWindow(DWORD process) {
    if (!MayTakeForeground()) {
        fake->events.push_back("allow " + std::to_string(process) + " refused");
        return FALSE;
    }
    fake->events.push_back("allow " + std::to_string(process));
    fake->foregroundAllowed = process;
    return TRUE;
}

BOOL WINAPI FakeChangeWindowMessageFilterEx(HWND, UINT message, DWORD action, void*) {
    fake->filtered.push_back({message, action});
    return TRUE;
}

BOOL WINAPI FakePostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    fake->events.push_back("post " + std::to_string(message));
    EXPECT_EQ(wParam, 0u);
    EXPECT_EQ(lParam, 0);
    fake->sent.push_back({hwnd, message});
    return fake->postResult;
}

HWND WINAPI FakeFindWindow(LPCSTR className, LPCSTR title) {
    const std::string want = title ? title : "";
    if (!className && want == kLauncherTitle) return fake->launcherFound;
    if (className && std::string(className) == kPanelClass && want == kPanelTitle) {
        fake->events.push_back("find panel");
        return fake->panelFound;
    }
    return nullptr;
}

LRESULT WINAPI FakeSendMessageTimeout(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                      UINT flags, UINT timeout, PDWORD_PTR result) {
    fake->events.push_back("send " + std::to_string(message));
    EXPECT_EQ(wParam, 0u);
    EXPECT_EQ(lParam, 0);
    fake->sent.push_back({hwnd, message});
    fake->sendFlags.push_back(flags);
    fake->sendTimeouts.push_back(timeout);
    if (result) *result = 0;
    if (!fake->sendResult) fake->lastError = ERROR_TIMEOUT;
    return fake->sendResult;
}

BOOL WINAPI FakeSetForegroundWindow(HWND hwnd) {
    fake->foregrounds.push_back(hwnd);
    if (!MayTakeForeground()) {
        fake->events.push_back("foreground refused");
        return FALSE;
    }
    fake->events.push_back("foreground");
    // The window's process owns the foreground now; an allowance is used up.
    fake->foregroundOwner = ProcessOf(hwnd);
    fake->foregroundAllowed = 0;
    return TRUE;
}

BOOL WINAPI FakeGetCursorPos(LPPOINT at) {
    *at = fake->cursor;
    return TRUE;
}

BOOL WINAPI FakeTrackPopupMenu(HMENU menu, UINT flags, int x, int y, int, HWND owner, const RECT*) {
    fake->events.push_back("track");
    fake->trackedMenu = menu;
    fake->trackFlags = flags;
    fake->trackX = x;
    fake->trackY = y;
    fake->trackOwner = owner;
    return TRUE;
}

VOID WINAPI FakePostQuitMessage(int code) {
    fake->events.push_back("quit " + std::to_string(code));
    if (fake->realQuit) PostQuitMessage(code);
}

LANGID WINAPI FakeLang() {
    return fake->lang;
}

std::string Dword(DWORD v) {
    return std::string(reinterpret_cast<const char*>(&v), sizeof v);
}

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
    return (GetMenuState(LauncherMenu, id, MF_BYCOMMAND) & MF_GRAYED) != 0;
}

bool Checked(UINT id) {
    return (GetMenuState(LauncherMenu, id, MF_BYCOMMAND) & MF_CHECKED) != 0;
}

// ---- fixture ----------------------------------------------------------------

class Launcher : public ::testing::Test {
protected:
    FakeState state;

    void SetUp() override {
        fake = &state;
        Platform.shellNotifyIcon = FakeShellNotifyIcon;
        Platform.regOpenKeyEx = FakeRegOpenKeyEx;
        Platform.regQueryValueEx = FakeRegQueryValueEx;
        Platform.regCreateKeyEx = FakeRegCreateKeyEx;
        Platform.regDeleteValue = FakeRegDeleteValue;
        Platform.regSetValueEx = FakeRegSetValueEx;
        Platform.regCloseKey = FakeRegCloseKey;
        Platform.createProcess = FakeCreateProcess;
        Platform.getLastError = FakeGetLastError;
        Platform.shellExecuteEx = FakeShellExecuteEx;
        Platform.findWindow = FakeFindWindow;
        Platform.sendMessageTimeout = FakeSendMessageTimeout;
        Platform.postMessage = FakePostMessage;
        Platform.getWindowThreadProcessId = FakeGetWindowThreadProcessId;
        Platform.allowSetForegroundWindow = FakeAllowSetForegroundWindow;
        Platform.changeWindowMessageFilterEx = FakeChangeWindowMessageFilterEx;
        Platform.getModuleFileName = FakeGetModuleFileName;
        Platform.waitForSingleObject = FakeWaitForSingleObject;
        Platform.getExitCodeProcess = FakeGetExitCodeProcess;
        Platform.closeHandle = FakeCloseHandle;
        Platform.createMutex = FakeCreateMutex;
        Platform.openMutex = FakeOpenMutex;
        Platform.sleep = FakeSleep;
        Platform.setForegroundWindow = FakeSetForegroundWindow;
        Platform.getCursorPos = FakeGetCursorPos;
        Platform.trackPopupMenu = FakeTrackPopupMenu;
        Platform.postQuitMessage = FakePostQuitMessage;
        Platform.getSystemDefaultLangID = FakeLang;
        Platform.setTimer = FakeSetTimer;
        Platform.killTimer = FakeKillTimer;
        std::strcpy(SpeedPanelPath, "D:\\Apps\\TrelvixVelotune.exe");
        std::strcpy(MenuLibraryPath, "D:\\Apps\\Velotray.kor");
        LauncherWindow = nullptr;
        LauncherMenu = nullptr;
        AutorunStart = false;
        PanelStartPending = false;
        PanelStartProcess = nullptr;
        RegisterLauncherMessages();
    }

    void TearDown() override {
        if (LauncherWindow && IsWindow(LauncherWindow)) DestroyWindow(LauncherWindow);
        UnregisterClassA(kLauncherTitle, GetModuleHandleA(nullptr));
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
        Platform = LauncherPlatform{};
        fake = nullptr;
    }

    void SetAutorun(DWORD value, DWORD type = REG_DWORD) {
        state.keys[kSettingsKey][kAutorunValue] = {type, Dword(value)};
    }

    void SetRun(const std::string& text, DWORD type = REG_SZ) {
        state.keys[kRunKey][kRunValue] = {type, text + std::string(1, '\0')};
    }

    // The launcher window as the program creates it; WM_CREATE runs inside.
    HWND CreateLauncher(bool autorunStart) {
        AutorunStart = autorunStart;
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
        LauncherWindow = hwnd;
        return hwnd;
    }

    int Count(const std::string& event) const {
        int n = 0;
        for (const auto& e : state.events)
            n += e == event;
        return n;
    }
};

// ---- registry ---------------------------------------------------------------

TEST_F(Launcher, RegReadStringGivesTheTextOrNothing) {
    char text[kPathSize];
    EXPECT_FALSE(RegReadString(kRunKey, kRunValue, text)); // no key

    state.keys[kRunKey];
    std::strcpy(text, "old");
    EXPECT_TRUE(RegReadString(kRunKey, kRunValue, text)); // no value
    EXPECT_STREQ(text, "");

    SetRun("D:\\Apps\\Velotray.exe /autorun");
    EXPECT_TRUE(RegReadString(kRunKey, kRunValue, text));
    EXPECT_STREQ(text, "D:\\Apps\\Velotray.exe /autorun");

    SetRun("%ProgramFiles%\\Velotune\\Velotray.exe", REG_EXPAND_SZ); // not expanded
    EXPECT_TRUE(RegReadString(kRunKey, kRunValue, text));
    EXPECT_STREQ(text, "%ProgramFiles%\\Velotune\\Velotray.exe");

    state.keys[kRunKey][kRunValue] = {REG_SZ, std::string("ab\0cd", 5)};
    EXPECT_TRUE(RegReadString(kRunKey, kRunValue, text));
    EXPECT_STREQ(text, "ab");

    state.keys[kRunKey][kRunValue] = {REG_SZ, ""};
    EXPECT_TRUE(RegReadString(kRunKey, kRunValue, text));
    EXPECT_STREQ(text, "");
    EXPECT_EQ(state.opens, state.closes);
}

TEST_F(Launcher, RegReadStringRefusesWrongTypesAndOverlongValues) {
    char text[kPathSize];
    state.keys[kRunKey][kRunValue] = {REG_DWORD, Dword(0x41414141)};
    EXPECT_TRUE(RegReadString(kRunKey, kRunValue, text));
    EXPECT_STREQ(text, "");
    state.keys[kRunKey][kRunValue] = {REG_BINARY, "C:\\x\\y"};
    EXPECT_TRUE(RegReadString(kRunKey, kRunValue, text));
    EXPECT_STREQ(text, "");

    struct {
        char text[kPathSize];
        char guard[64];
    } block;
    std::memset(block.guard, 0x5A, sizeof block.guard);
    SetRun("C:\\" + std::string(2000, 'a') + "\\Velotray.exe");
    EXPECT_TRUE(RegReadString(kRunKey, kRunValue, block.text));
    EXPECT_STREQ(block.text, "");
    // 1024 characters with no zero: one too many for the block.
    state.keys[kRunKey][kRunValue] = {REG_SZ, std::string(kPathSize, 'c')};
    EXPECT_TRUE(RegReadString(kRunKey, kRunValue, block.text));
    EXPECT_STREQ(block.text, "");
    for (char c : block.guard)
        EXPECT_EQ(c, 0x5A);

    // 1023 characters and the zero fit exactly.
    SetRun(std::string(kPathSize - 1, 'd'));
    EXPECT_TRUE(RegReadString(kRunKey, kRunValue, block.text));
    EXPECT_EQ(std::strlen(block.text), kPathSize - 1);
    EXPECT_EQ(state.opens, state.closes);
}

TEST_F(Launcher, RegReadIntegerGivesMinusOneForAnythingButAStoredDword) {
    EXPECT_EQ(RegReadInteger(kSettingsKey, kAutorunValue), -1); // no key
    state.keys[kSettingsKey];
    EXPECT_EQ(RegReadInteger(kSettingsKey, kAutorunValue), -1); // no value
    SetAutorun(0);
    EXPECT_EQ(RegReadInteger(kSettingsKey, kAutorunValue), 0);
    SetAutorun(1);
    EXPECT_EQ(RegReadInteger(kSettingsKey, kAutorunValue), 1);
    SetAutorun(5);
    EXPECT_EQ(RegReadInteger(kSettingsKey, kAutorunValue), 5);
    SetAutorun(0xFFFFFFFFu);
    EXPECT_EQ(RegReadInteger(kSettingsKey, kAutorunValue), -1);
    state.keys[kSettingsKey][kAutorunValue] = {REG_SZ, std::string("1\0", 2)};
    EXPECT_EQ(RegReadInteger(kSettingsKey, kAutorunValue), -1);
    state.keys[kSettingsKey][kAutorunValue] = {REG_SZ, "a long text value"};
    EXPECT_EQ(RegReadInteger(kSettingsKey, kAutorunValue), -1);
    state.keys[kSettingsKey][kAutorunValue] = {REG_BINARY, Dword(1)};
    EXPECT_EQ(RegReadInteger(kSettingsKey, kAutorunValue), -1);
    state.keys[kSettingsKey][kAutorunValue] = {REG_DWORD, std::string("\1\0", 2)};
    EXPECT_EQ(RegReadInteger(kSettingsKey, kAutorunValue), -1);
    state.keys[kSettingsKey][kAutorunValue] = {REG_QWORD, Dword(1) + Dword(0)};
    EXPECT_EQ(RegReadInteger(kSettingsKey, kAutorunValue), -1);
    EXPECT_EQ(state.opens, state.closes);
}

TEST_F(Launcher, RegWriteIntegerDeletesThenWritesADword) {
    state.keys[kSettingsKey][kAutorunValue] = {REG_SZ, std::string("on\0", 3)};
    EXPECT_EQ(RegWriteInteger(kSettingsKey, kAutorunValue, 1), ERROR_SUCCESS);
    EXPECT_EQ(state.events, (std::vector<std::string>{"create " + std::string(kSettingsKey),
                                                      "delete autorun", "set autorun"}));
    EXPECT_EQ(state.keys[kSettingsKey][kAutorunValue].type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(state.keys[kSettingsKey][kAutorunValue].bytes, Dword(1));
    EXPECT_EQ(RegReadInteger(kSettingsKey, kAutorunValue), 1);
    EXPECT_EQ(state.opens, state.closes);

    state.keys.clear(); // the key is created when missing
    RegWriteInteger(kSettingsKey, kAutorunValue, 0);
    EXPECT_EQ(RegReadInteger(kSettingsKey, kAutorunValue), 0);
}

TEST_F(Launcher, RegWriteIntegerSkipsAKeyItCannotCreateAndSaysWhy) {
    state.standardUser = true;
    SetAutorun(1);
    EXPECT_EQ(RegWriteInteger(kSettingsKey, kAutorunValue, 0), ERROR_ACCESS_DENIED);
    state.standardUser = false;
    state.createFailure = ERROR_FILE_NOT_FOUND;
    EXPECT_EQ(RegWriteInteger(kSettingsKey, kAutorunValue, 0), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Count("delete autorun") + Count("set autorun"), 0);
    EXPECT_EQ(state.keys[kSettingsKey][kAutorunValue].bytes, Dword(1));
}

TEST_F(Launcher, PathsComeFromTheRunEntry) {
    SetRun("D:\\Apps\\Velotray.exe /autorun");
    BuildLauncherPaths();
    EXPECT_STREQ(SpeedPanelPath, "D:\\Apps\\TrelvixVelotune.exe");
    EXPECT_STREQ(MenuLibraryPath, "D:\\Apps\\Velotray.kor");

    SetRun("\"C:\\Program Files\\Velotune\\Velotray.exe\" /autorun");
    BuildLauncherPaths();
    EXPECT_STREQ(SpeedPanelPath, "C:\\Program Files\\Velotune\\TrelvixVelotune.exe");
    EXPECT_STREQ(MenuLibraryPath, "C:\\Program Files\\Velotune\\Velotray.kor");

    // Without a usable Run value: the files beside the launcher, by full path.
    for (int variant = 0; variant < 4; ++variant) {
        state.keys.clear();
        if (variant == 1) state.keys[kRunKey][kRunValue] = {REG_DWORD, Dword(7)};
        if (variant == 2) SetRun("C:\\" + std::string(1500, 'a') + "\\Velotray.exe");
        if (variant == 3) SetRun("Velotray.exe");
        BuildLauncherPaths();
        EXPECT_STREQ(SpeedPanelPath, "C:\\Program Files\\Velotune\\TrelvixVelotune.exe") << variant;
        EXPECT_STREQ(MenuLibraryPath, "C:\\Program Files\\Velotune\\Velotray.kor") << variant;
    }
}

// ---- process start ----------------------------------------------------------

TEST_F(Launcher, StartSpeedPanelQuotesThePath) {
    const HWND own = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x6161));
    state.launcherFound = own;
    std::strcpy(SpeedPanelPath, "C:\\Program Files\\Velotune\\TrelvixVelotune.exe");
    StartSpeedPanel();
    ASSERT_EQ(state.commandLines.size(), 1u);
    EXPECT_EQ(state.commandLines[0], "\"C:\\Program Files\\Velotune\\TrelvixVelotune.exe\"");
    EXPECT_TRUE(state.appNameNull[0]);
    EXPECT_EQ(state.lastStartInfo.cb, sizeof(STARTUPINFOA));
    EXPECT_EQ(state.lastStartInfo.dwFlags, static_cast<DWORD>(STARTF_USESHOWWINDOW));
    EXPECT_EQ(state.lastStartInfo.wShowWindow, SW_SHOWNORMAL);
    // The launcher's own window comes forward first.
    EXPECT_EQ(state.events, (std::vector<std::string>{"foreground", "find panel", "start"}));
    EXPECT_EQ(state.foregrounds, std::vector<HWND>{own});
    EXPECT_EQ(Count("shell start open"), 0);

    std::strcpy(SpeedPanelPath, "TrelvixVelotune.exe");
    StartSpeedPanel();
    EXPECT_EQ(state.commandLines[1], "\"TrelvixVelotune.exe\"");
}

TEST_F(Launcher, StartSpeedPanelAsksTheShellWhenElevationIsNeeded) {
    state.createResult = FALSE;
    state.createError = ERROR_FILE_NOT_FOUND;
    StartSpeedPanel();
    EXPECT_EQ(Count("shell start open"), 0); // other failures stay silent

    state.createError = kErrorElevationRequired;
    StartSpeedPanel();
    ASSERT_EQ(Count("shell start open"), 1);
    EXPECT_EQ(state.shellFiles[0], "D:\\Apps\\TrelvixVelotune.exe");
    EXPECT_EQ(state.shellVerbs[0], "open");
    EXPECT_TRUE(state.shellMask & SEE_MASK_FLAG_NO_UI);
    EXPECT_EQ(state.shellShow, SW_SHOWNORMAL);

    // No Run value (a hand install): CreateProcess finds the panel beside the
    // launcher but is refused; the shell gets the full path, the launcher's
    // window as the prompt's owner, and finishes before it returns.
    SetAutorun(1);
    HWND hwnd = CreateLauncher(true);
    BuildLauncherPaths();
    state.events.clear();
    SendMessageA(hwnd, WM_COMMAND, IDM_OPEN_PANEL, 0);
    EXPECT_EQ(state.events,
              (std::vector<std::string>{"foreground", "find panel", "start", "shell start open"}));
    EXPECT_EQ(state.shellFiles.back(), "C:\\Program Files\\Velotune\\TrelvixVelotune.exe");
    EXPECT_EQ(state.shellOwner, hwnd);
    EXPECT_TRUE(state.shellMask & SEE_MASK_NOASYNC);
}

TEST_F(Launcher, TwoDoubleClicksBeforeThePanelsWindowGiveOneStart) {
    // The panel needs elevation: the first double click brings up the prompt;
    // a second one, during the prompt or before the panel's window exists,
    // starts nothing.
    SetAutorun(1);
    HWND hwnd = CreateLauncher(true);
    state.createResult = FALSE;
    state.createError = kErrorElevationRequired;
    state.giveProcess = true;
    auto doubleClick = [hwnd] { SendMessageA(hwnd, 1025, 0, WM_LBUTTONDBLCLK); };
    state.duringPrompt = doubleClick;
    doubleClick();
    doubleClick();
    SendMessageA(hwnd, OpenPanelMessage, 0, 0); // a second launcher's request
    EXPECT_EQ(Count("shell start open"), 1);
    EXPECT_TRUE(state.shellMask & SEE_MASK_NOCLOSEPROCESS);
    EXPECT_EQ(state.openedMutexes.size(), 1u); // looked up, never created
    EXPECT_EQ(state.openedMutexes[0], velotune::protocol::kPanelMutex);
    EXPECT_EQ(state.mutexCalls, 0);

    // The panel ended before its window showed (a second copy, a crash): the
    // next double click starts again. Its window reports (1027): that start is
    // over, and a later one goes ahead when no panel is there.
    state.panelEnded = true;
    doubleClick();
    EXPECT_EQ(Count("shell start open"), 2);
    EXPECT_EQ(std::count(state.closedHandles.begin(), state.closedHandles.end(), kPanelProcess), 1);
    state.panelEnded = false;
    SendMessageA(hwnd, WM_LAUNCHER_PANEL_OPENED, 0, 0);
    doubleClick();
    EXPECT_EQ(Count("shell start open"), 3);

    // A declined prompt leaves nothing pending.
    SendMessageA(hwnd, WM_LAUNCHER_PANEL_OPENED, 0, 0);
    state.prompt = FakeState::Prompt::Cancelled;
    doubleClick();
    state.prompt = FakeState::Prompt::RunsHelper;
    doubleClick();
    EXPECT_EQ(Count("shell start open"), 5);

    // The mutex of a panel on its way up, an elevated one's included, starts nothing.
    SendMessageA(hwnd, WM_LAUNCHER_PANEL_OPENED, 0, 0);
    for (DWORD mutex : {DWORD{0}, DWORD{ERROR_ACCESS_DENIED}}) {
        state.panelMutex = mutex;
        doubleClick();
    }
    EXPECT_EQ(Count("shell start open"), 5);
    EXPECT_EQ(std::count(state.closedHandles.begin(), state.closedHandles.end(), kPanelMutex), 1);

    // Without elevation the gap is there too: one process.
    state.panelMutex = ERROR_FILE_NOT_FOUND;
    state.createResult = TRUE;
    state.commandLines.clear();
    SendMessageA(hwnd, WM_LAUNCHER_PANEL_OPENED, 0, 0);
    doubleClick();
    doubleClick();
    EXPECT_EQ(state.commandLines.size(), 1u);
}

TEST_F(Launcher, FirstStartByHandHasTheLauncherWindowAsOwner) {
    // No launcher runs: the start from window creation brings up the prompt,
    // which comes forward only with a window of its own.
    SetAutorun(1);
    state.createResult = FALSE;
    state.createError = kErrorElevationRequired;
    state.postExitOnAdd = true;
    state.realQuit = true;
    EXPECT_EQ(LauncherMain(GetModuleHandleA(nullptr), "Velotray.exe"), 0);
    ASSERT_EQ(Count("shell start open"), 1);
    EXPECT_NE(state.shellOwner, nullptr);
    EXPECT_EQ(state.shellOwner, LauncherWindow);
}

// ---- icon -------------------------------------------------------------------

TEST_F(Launcher, IconRecordCarriesWindowCallbackIconAndTip) {
    SetAutorun(1);
    HWND hwnd = CreateLauncher(true);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_TRUE(state.icons.empty()); // creation places no icon
    EXPECT_TRUE(NotifyTrayIcon(NIM_ADD));
    ASSERT_EQ(state.icons.size(), 1u);
    const NOTIFYICONDATAA& icon = state.icons[0];
    EXPECT_EQ(icon.cbSize, static_cast<DWORD>(NOTIFYICONDATAA_V2_SIZE));
    EXPECT_EQ(icon.cbSize, 504u); // x86_64 size of the record with the 128-byte tip
    EXPECT_EQ(icon.hWnd, hwnd);
    EXPECT_EQ(icon.uID, 0u);
    EXPECT_EQ(icon.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
    EXPECT_EQ(icon.uCallbackMessage, 1025u);
    EXPECT_NE(icon.hIcon, nullptr);
    EXPECT_STREQ(icon.szTip, "Trelvix Velotune Launcher");
    for (std::size_t i = std::strlen(icon.szTip); i < sizeof icon.szTip; ++i)
        EXPECT_EQ(icon.szTip[i], 0);
    EXPECT_EQ(icon.dwState, 0u);
    EXPECT_EQ(icon.szInfo[0], 0);
}

TEST_F(Launcher, IconComesBackWhenTheTaskbarIsCreatedAgain) {
    SetAutorun(1);
    HWND hwnd = CreateLauncher(true);
    ASSERT_NE(TaskbarCreatedMessage, 0u);
    EXPECT_EQ(SendMessageA(hwnd, TaskbarCreatedMessage, 0, 0), 0);
    ASSERT_EQ(state.iconMessages, std::vector<DWORD>{NIM_ADD});
    EXPECT_EQ(state.icons[0].hWnd, hwnd);
    EXPECT_FALSE(state.timerOn);
}

TEST_F(Launcher, RefusedIconIsTriedAgainUntilItIsThere) {
    SetAutorun(1);
    HWND hwnd = CreateLauncher(true);
    // The shell is not ready at logon: each retry asks whether the icon is
    // there after all, then adds it; every 2 s for two minutes, then every 30 s.
    state.addRefusals = 100;
    PlaceTrayIcon();
    EXPECT_TRUE(state.timerOn);
    for (int retry = 0; retry < 61; ++retry)
        SendMessageA(hwnd, WM_TIMER, kTrayRetryTimer, 0);
    ASSERT_EQ(state.timerMs.size(), 62u);
    EXPECT_EQ(state.timerMs[0], 2000u);
    EXPECT_EQ(state.timerMs[59], 2000u);
    EXPECT_EQ(state.timerMs[60], 30000u);
    EXPECT_EQ(std::vector<std::string>(state.events.end() - 2, state.events.end()),
              (std::vector<std::string>{"icon modify", "icon add"}));
    state.addRefusals = 0;
    SendMessageA(hwnd, WM_TIMER, kTrayRetryTimer, 0);
    EXPECT_FALSE(state.timerOn);
    EXPECT_TRUE(state.iconThere);
    EXPECT_EQ(state.icons.back().uCallbackMessage, 1025u);

    // Refused, but placed all the same: the change succeeds and nothing is added twice.
    state.events.clear();
    state.iconThere = false;
    state.addRefusals = 1;
    state.placedAnyway = true;
    SendMessageA(hwnd, TaskbarCreatedMessage, 0, 0);
    EXPECT_TRUE(state.timerOn);
    SendMessageA(hwnd, WM_TIMER, kTrayRetryTimer, 0);
    EXPECT_EQ(state.events, (std::vector<std::string>{"icon add", "icon modify"}));
    EXPECT_FALSE(state.timerOn);
}

// ---- window creation ---------------------------------------------------------

TEST_F(Launcher, CreationByHandSetsUpTheMenuAndStartsThePanel) {
    SetAutorun(1);
    ASSERT_NE(CreateLauncher(false), nullptr);
    ASSERT_NE(LauncherMenu, nullptr);
    EXPECT_EQ(ItemText(LauncherMenu, IDM_OPEN_PANEL), L"&Velotune");
    EXPECT_EQ(ItemText(LauncherMenu, IDM_AUTO_RUN), L"Auto Run");
    EXPECT_EQ(ItemText(LauncherMenu, IDM_ABOUT), L"&About");
    EXPECT_EQ(ItemText(LauncherMenu, IDM_EXIT), L"E&xit");
    wchar_t option[32] = {};
    GetMenuStringW(LauncherMenu, 1, option, 32, MF_BYPOSITION);
    EXPECT_STREQ(option, L"&Option");
    EXPECT_EQ(GetMenuItemCount(LauncherMenu), 4);
    EXPECT_TRUE(Checked(IDM_AUTO_RUN));
    EXPECT_FALSE(Grey(IDM_AUTO_RUN));
    EXPECT_TRUE(Grey(IDM_ABOUT));
    EXPECT_FALSE(Grey(IDM_OPEN_PANEL));
    EXPECT_FALSE(Grey(IDM_EXIT));
    EXPECT_EQ(Count("start"), 1);
    EXPECT_EQ(state.commandLines[0], "\"D:\\Apps\\TrelvixVelotune.exe\"");
}

TEST_F(Launcher, CreationAtLogonStartsNothing) {
    SetAutorun(5);
    ASSERT_NE(CreateLauncher(true), nullptr);
    EXPECT_EQ(Count("start"), 0);
    EXPECT_TRUE(Checked(IDM_AUTO_RUN));
}

TEST_F(Launcher, AutoRunItemFollowsTheStoredSetting) {
    SetAutorun(0);
    CreateLauncher(false);
    EXPECT_FALSE(Checked(IDM_AUTO_RUN));
    EXPECT_FALSE(Grey(IDM_AUTO_RUN));
    DestroyWindow(LauncherWindow);

    state.keys.clear(); // no product key
    CreateLauncher(false);
    EXPECT_FALSE(Checked(IDM_AUTO_RUN));
    EXPECT_TRUE(Grey(IDM_AUTO_RUN));
    DestroyWindow(LauncherWindow);

    SetAutorun(0xFFFFFFFFu); // all bits set reads as "no product key"
    CreateLauncher(false);
    EXPECT_TRUE(Grey(IDM_AUTO_RUN));
    DestroyWindow(LauncherWindow);

    state.keys[kSettingsKey][kAutorunValue] = {REG_SZ, std::string("1\0", 2)};
    CreateLauncher(false);
    EXPECT_TRUE(Grey(IDM_AUTO_RUN));
}

TEST_F(Launcher, KoreanSystemsTakeTheMenuFromTheLibrary) {
    const std::wstring korean = L"\uBCA8\uB85C\uD2A0"; // 벨로튠
    state.lang = 1042;
    std::strcpy(MenuLibraryPath, WindowsPath(VT_KOREAN_LIBRARY).c_str());
    SetAutorun(1);
    CreateLauncher(true);
    ASSERT_NE(LauncherMenu, nullptr);
    EXPECT_EQ(ItemText(LauncherMenu, IDM_OPEN_PANEL), korean);
    EXPECT_EQ(ItemText(LauncherMenu, IDM_AUTO_RUN), L"\uC790\uB3D9\uC2E4\uD589"); // 자동실행
    EXPECT_EQ(ItemText(LauncherMenu, IDM_ABOUT), L"\uB4F1\uB85D\uC815\uBCF4");    // 등록정보
    EXPECT_EQ(ItemText(LauncherMenu, IDM_EXIT), L"\uC885\uB8CC");                 // 종료
    wchar_t option[32] = {};
    GetMenuStringW(LauncherMenu, 1, option, 32, MF_BYPOSITION);
    EXPECT_STREQ(option, L"\uC635\uC158"); // 옵션
    EXPECT_TRUE(Checked(IDM_AUTO_RUN));
    EXPECT_TRUE(Grey(IDM_ABOUT));
    DestroyWindow(LauncherWindow);

    // The library is missing: the built-in English menu.
    std::strcpy(MenuLibraryPath, "Z:\\nonexistent\\Velotray.kor");
    CreateLauncher(true);
    EXPECT_EQ(ItemText(LauncherMenu, IDM_OPEN_PANEL), L"&Velotune");
    DestroyWindow(LauncherWindow);

    // Another language never uses the library.
    state.lang = 1033;
    std::strcpy(MenuLibraryPath, WindowsPath(VT_KOREAN_LIBRARY).c_str());
    CreateLauncher(true);
    EXPECT_EQ(ItemText(LauncherMenu, IDM_OPEN_PANEL), L"&Velotune");
}

TEST_F(Launcher, KoreanLibraryIsLoadedAsResourcesOnly) {
    // A library whose entry code leaves <its path>.ran: the menu still comes
    // from it, and its code never runs.
    const std::string planted = WindowsPath(VT_PLANTED_KOR);
    const std::string mark = planted + ".ran";
    DeleteFileA(mark.c_str());
    state.lang = 1042;
    std::strcpy(MenuLibraryPath, planted.c_str());
    SetAutorun(1);
    CreateLauncher(true);
    ASSERT_NE(LauncherMenu, nullptr);
    EXPECT_EQ(ItemText(LauncherMenu, IDM_OPEN_PANEL), L"\uBCA8\uB85C\uD2A0"); // 벨로튠
    EXPECT_EQ(GetFileAttributesA(mark.c_str()), INVALID_FILE_ATTRIBUTES) << mark;
    DestroyWindow(LauncherWindow);

    // A library that loads but holds no "MENU_1": the built-in menu, so that
    // the launcher can still be reached and ended.
    const std::string noMenu = WindowsPath(VT_NOMENU_KOR);
    DeleteFileA((noMenu + ".ran").c_str());
    std::strcpy(MenuLibraryPath, noMenu.c_str());
    CreateLauncher(true);
    ASSERT_NE(LauncherMenu, nullptr);
    EXPECT_EQ(ItemText(LauncherMenu, IDM_EXIT), L"E&xit");
    EXPECT_EQ(GetFileAttributesA((noMenu + ".ran").c_str()), INVALID_FILE_ATTRIBUTES);
    DestroyWindow(LauncherWindow);

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
    EXPECT_TRUE(state.events.empty());

    SendMessageA(hwnd, 1025, 0, WM_RBUTTONUP);
    EXPECT_EQ(state.events, (std::vector<std::string>{"foreground", "track"}));
    EXPECT_EQ(state.foregrounds, std::vector<HWND>{hwnd});
    EXPECT_EQ(state.trackedMenu, LauncherMenu);
    EXPECT_EQ(state.trackFlags, 0u);
    EXPECT_EQ(state.trackX, 300);
    EXPECT_EQ(state.trackY, 400);
    EXPECT_EQ(state.trackOwner, hwnd);

    state.events.clear();
    SendMessageA(hwnd, 1025, 0, WM_LBUTTONDBLCLK);
    EXPECT_EQ(Count("start"), 1);
}

// ---- menu commands ----------------------------------------------------------

TEST_F(Launcher, AutoRunToggleWritesADwordAndShowsWhatIsStored) {
    SetAutorun(1);
    HWND hwnd = CreateLauncher(true);
    ASSERT_TRUE(Checked(IDM_AUTO_RUN));

    SendMessageA(hwnd, WM_COMMAND, IDM_AUTO_RUN, 0);
    EXPECT_FALSE(Checked(IDM_AUTO_RUN));
    EXPECT_EQ(state.keys[kSettingsKey][kAutorunValue].type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(state.keys[kSettingsKey][kAutorunValue].bytes, Dword(0));

    SendMessageA(hwnd, WM_COMMAND, IDM_AUTO_RUN, 0);
    EXPECT_TRUE(Checked(IDM_AUTO_RUN));
    EXPECT_EQ(state.keys[kSettingsKey][kAutorunValue].bytes, Dword(1));
    EXPECT_EQ(state.events,
              (std::vector<std::string>{"create " + std::string(kSettingsKey), "delete autorun",
                                        "set autorun", "create " + std::string(kSettingsKey),
                                        "delete autorun", "set autorun"}));
    // A launcher that may write asks nobody.
    EXPECT_TRUE(state.shellVerbs.empty());
    EXPECT_EQ(state.opens, state.closes);
}

TEST_F(Launcher, AutoRunRefusedWriteIsDoneOnceMoreElevated) {
    for (DWORD before : {0u, 1u}) {
        state.events.clear();
        state.shellVerbs.clear();
        state.shellParameters.clear();
        state.closedHandles.clear();
        state.standardUser = true;
        SetAutorun(before);
        HWND hwnd = CreateLauncher(true);
        SendMessageA(hwnd, WM_COMMAND, IDM_AUTO_RUN, 0);

        // One prompt: the launcher itself, with the helper argument only.
        ASSERT_EQ(state.shellVerbs, std::vector<std::string>{"runas"}) << before;
        EXPECT_EQ(state.shellFiles.back(), "C:\\Program Files\\Velotune\\Velotray.exe");
        EXPECT_EQ(state.shellParameters[0], before ? "/setautorun:0" : "/setautorun:1");
        EXPECT_TRUE(state.shellMask & SEE_MASK_NOCLOSEPROCESS);
        EXPECT_EQ(state.events, (std::vector<std::string>{"create " + std::string(kSettingsKey),
                                                          "shell start runas", "helper ran"}));
        // The helper wrote the value, ended with 0 and its handle was closed.
        EXPECT_EQ(state.helperExit, 0u);
        EXPECT_EQ(state.keys[kSettingsKey][kAutorunValue].bytes, Dword(before ? 0 : 1));
        EXPECT_EQ(Checked(IDM_AUTO_RUN), before == 0);
        EXPECT_EQ(state.closedHandles, std::vector<HANDLE>{kHelperProcess});
        EXPECT_GT(state.waitedMs, 0u);
        EXPECT_NE(state.waitedMs, INFINITE);
        // The helper made no window, placed no icon and started nothing.
        EXPECT_EQ(LauncherWindow, hwnd);
        EXPECT_EQ(Count("start") + Count("icon add"), 0);
        DestroyWindow(hwnd);
    }
}

TEST_F(Launcher, AutoRunCancelledOrFailedElevationChangesNothing) {
    for (auto prompt : {FakeState::Prompt::Cancelled, FakeState::Prompt::HelperFails,
                        FakeState::Prompt::ShellFails}) {
        state.shellVerbs.clear();
        state.closedHandles.clear();
        state.standardUser = true;
        state.prompt = prompt;
        SetAutorun(1);
        HWND hwnd = CreateLauncher(true);
        SendMessageA(hwnd, WM_COMMAND, IDM_AUTO_RUN, 0);
        EXPECT_EQ(state.shellVerbs, std::vector<std::string>{"runas"});
        // The check mark shows what is stored, and nothing was stored.
        EXPECT_TRUE(Checked(IDM_AUTO_RUN)) << static_cast<int>(prompt);
        EXPECT_EQ(state.keys[kSettingsKey][kAutorunValue].bytes, Dword(1));
        EXPECT_EQ(state.closedHandles.size(), prompt == FakeState::Prompt::HelperFails ? 1u : 0u);
        DestroyWindow(hwnd);
    }
}

TEST_F(Launcher, AutoRunFailureOtherThanRefusalAsksForNoElevation) {
    SetAutorun(0);
    HWND hwnd = CreateLauncher(true);
    state.createFailure = ERROR_FILE_NOT_FOUND;
    SendMessageA(hwnd, WM_COMMAND, IDM_AUTO_RUN, 0);
    EXPECT_TRUE(state.shellVerbs.empty());
    EXPECT_FALSE(Checked(IDM_AUTO_RUN));
    EXPECT_EQ(state.keys[kSettingsKey][kAutorunValue].bytes, Dword(0));
}

TEST_F(Launcher, HelperArgumentWritesTheValueFirstThingAndEnds) {
    // Even with another launcher running and Auto Run off, the helper only writes.
    SetAutorun(0);
    state.launcherFound = kOtherLauncher;
    state.panelFound = kPanelWindow;
    EXPECT_EQ(LauncherMain(GetModuleHandleA(nullptr), "Velotray.exe /SetAutorun:1"), 0);
    EXPECT_EQ(state.keys[kSettingsKey][kAutorunValue].bytes, Dword(1));
    EXPECT_EQ(state.events, (std::vector<std::string>{"create " + std::string(kSettingsKey),
                                                      "delete autorun", "set autorun"}));
    EXPECT_EQ(state.mutexName, ""); // before the single-instance rule
    EXPECT_EQ(LauncherWindow, nullptr);

    // Without the rights it ends with the refusal as its status.
    state.events.clear();
    state.standardUser = true;
    EXPECT_EQ(LauncherMain(GetModuleHandleA(nullptr), "Velotray.exe /setautorun:0"),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(state.keys[kSettingsKey][kAutorunValue].bytes, Dword(1));
}

TEST_F(Launcher, ExitRemovesTheIconClosesThePanelAndQuits) {
    SetAutorun(1);
    HWND hwnd = CreateLauncher(true);
    state.panelFound = kPanelWindow;
    SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDM_EXIT, 0), 0);
    EXPECT_EQ(state.events,
              (std::vector<std::string>{"icon delete", "find panel",
                                        "send " + std::to_string(WM_CLOSE), "quit 0"}));
    EXPECT_EQ(state.sent[0].first, kPanelWindow);
    // Bounded, and not waiting at all for a panel that is already hung.
    EXPECT_TRUE(state.sendFlags[0] & SMTO_ABORTIFHUNG);
    EXPECT_GT(state.sendTimeouts[0], 0u);
    EXPECT_LE(state.sendTimeouts[0], 5000u);
    EXPECT_EQ(state.icons[0].hWnd, hwnd);
    EXPECT_EQ(state.icons[0].uID, 0u);
    EXPECT_TRUE(IsWindow(hwnd)); // the window is not destroyed on the way out

    state.events.clear();
    state.sent.clear();
    state.sendResult = 0; // the panel did not answer in time: the launcher still ends
    SendMessageA(hwnd, WM_COMMAND, IDM_EXIT, 0);
    // The request is left in the busy panel's queue: it closes when its command returns.
    EXPECT_EQ(state.events, (std::vector<std::string>{
                                "icon delete", "find panel", "send " + std::to_string(WM_CLOSE),
                                "post " + std::to_string(WM_CLOSE), "quit 0"}));
    EXPECT_EQ(state.sent.back(), std::make_pair(kPanelWindow, static_cast<UINT>(WM_CLOSE)));

    state.events.clear();
    state.panelFound = nullptr; // no panel: only the icon goes
    SendMessageA(hwnd, WM_COMMAND, IDM_EXIT, 0);
    EXPECT_EQ(state.events, (std::vector<std::string>{"icon delete", "find panel", "quit 0"}));
}

TEST_F(Launcher, AboutAsksThePanelAndOtherIdsDoNothing) {
    SetAutorun(1);
    HWND hwnd = CreateLauncher(true);
    SendMessageA(hwnd, WM_COMMAND, IDM_ABOUT, 0);
    EXPECT_TRUE(state.sent.empty()); // no panel window
    state.panelFound = kPanelWindow;
    state.events.clear();
    SendMessageA(hwnd, WM_COMMAND, IDM_ABOUT, 0);
    ASSERT_EQ(state.sent.size(), 1u);
    EXPECT_EQ(state.sent[0], std::make_pair(kPanelWindow, 1026u));
    // The panel's process may take the foreground before it is asked, so that
    // its box gets the keyboard; the call has no time limit (it returns when
    // the box closes) but does not wait for a panel that is already hung.
    EXPECT_EQ(state.events, (std::vector<std::string>{"find panel", "allow 4711", "send 1026"}));
    EXPECT_TRUE(state.sendFlags[0] & SMTO_ABORTIFHUNG);
    EXPECT_EQ(state.sendTimeouts[0], INFINITE);

    state.events.clear();
    SendMessageA(hwnd, WM_COMMAND, 999, 0);
    SendMessageA(hwnd, WM_COMMAND, 101, 0);
    EXPECT_TRUE(state.events.empty());

    state.panelFound = nullptr;
    SendMessageA(hwnd, WM_COMMAND, IDM_OPEN_PANEL, 0);
    EXPECT_EQ(Count("start"), 1);
}

TEST_F(Launcher, CloseFromOutsideRemovesTheIconAndLeavesThePanel) {
    SetAutorun(1);
    HWND hwnd = CreateLauncher(true);
    state.panelFound = kPanelWindow;
    SendMessageA(hwnd, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(state.events, (std::vector<std::string>{"icon delete", "quit 0"}));
    EXPECT_TRUE(state.sent.empty());
}

// ---- the whole start-up ------------------------------------------------------

TEST_F(Launcher, StartByHandRunsUntilExit) {
    SetAutorun(1);
    SetRun("D:\\Apps\\Velotray.exe");
    state.postExitOnAdd = true;
    state.realQuit = true;
    EXPECT_EQ(LauncherMain(GetModuleHandleA(nullptr), "Velotray.exe"), 0);
    EXPECT_EQ(state.commandLines, std::vector<std::string>{"\"D:\\Apps\\TrelvixVelotune.exe\""});
    EXPECT_STREQ(MenuLibraryPath, "D:\\Apps\\Velotray.kor");
    // The panel starts from window creation, before the icon is placed.
    EXPECT_EQ(state.events,
              (std::vector<std::string>{"foreground", "find panel", "start", "icon add",
                                        "icon delete", "find panel", "quit 0"}));
    EXPECT_EQ(state.mutexName, "Local\\Trelvix Velotune Launcher");
    EXPECT_TRUE(IsWindow(LauncherWindow));
    EXPECT_FALSE(IsWindowVisible(LauncherWindow));
    EXPECT_EQ(state.icons[0].hWnd, LauncherWindow);
}

TEST_F(Launcher, LogonStartPlacesTheIconOnly) {
    for (DWORD setting : {1u, 0xFFFFFFFFu}) {
        state.events.clear();
        state.keys.clear();
        if (setting == 1) SetAutorun(setting); // otherwise: no product key
        state.postExitOnAdd = true;
        state.realQuit = true;
        EXPECT_EQ(LauncherMain(GetModuleHandleA(nullptr), "Velotray.exe /AutoRun"), 0);
        EXPECT_EQ(Count("start"), 0);
        EXPECT_EQ(Count("icon add"), 1);
        state.realQuit = false;
        DestroyWindow(LauncherWindow);
        UnregisterClassA(kLauncherTitle, GetModuleHandleA(nullptr));
    }
}

TEST_F(Launcher, LogonStartWithAutoRunOffEndsAtOnce) {
    SetAutorun(0);
    EXPECT_EQ(LauncherMain(GetModuleHandleA(nullptr), "Velotray.exe /AUTORUN"), 0);
    EXPECT_TRUE(state.events.empty());
    EXPECT_EQ(LauncherWindow, nullptr);
    // The one-copy name goes first: a hand start waiting on it can take it.
    EXPECT_EQ(state.closedHandles, std::vector<HANDLE>{state.mutexResult});
    EXPECT_EQ(InstanceMutex, nullptr);
}

TEST_F(Launcher, SecondLauncherBringsTheFirstForwardAndStartsThePanel) {
    SetAutorun(0);
    state.launcherFound = kOtherLauncher;
    for (const char* line : {"Velotray.exe", "Velotray.exe /autorun"}) {
        state.events.clear();
        state.foregrounds.clear();
        state.foregroundOwner = GetCurrentProcessId();
        EXPECT_EQ(LauncherMain(GetModuleHandleA(nullptr), line), 0);
        // The running launcher is asked to open the panel (its start may be
        // pending), then brought forward, so that it may pass the foreground on.
        const std::string open = "post " + std::to_string(OpenPanelMessage);
        EXPECT_EQ(state.events, (std::vector<std::string>{"find panel", open, "foreground"}));
        EXPECT_EQ(state.sent.back().first, kOtherLauncher);
        EXPECT_EQ(state.foregrounds, (std::vector<HWND>{kOtherLauncher}));
        EXPECT_TRUE(state.commandLines.empty());
        EXPECT_EQ(LauncherWindow, nullptr);
        UnregisterClassA(kLauncherTitle, GetModuleHandleA(nullptr));
    }
    // A launcher that cannot be asked: this copy starts the panel while it
    // still holds the foreground, unless the panel's mutex says one is starting.
    state.postResult = FALSE;
    state.events.clear();
    state.foregroundOwner = GetCurrentProcessId();
    EXPECT_EQ(LauncherMain(GetModuleHandleA(nullptr), "Velotray.exe"), 0);
    EXPECT_EQ(state.events,
              (std::vector<std::string>{"find panel", "post " + std::to_string(OpenPanelMessage),
                                        "start", "foreground"}));
    UnregisterClassA(kLauncherTitle, GetModuleHandleA(nullptr));
    state.panelMutex = ERROR_ACCESS_DENIED;
    EXPECT_EQ(LauncherMain(GetModuleHandleA(nullptr), "Velotray.exe"), 0);
    EXPECT_EQ(state.commandLines.size(), 1u);
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
    EXPECT_TRUE(state.events.empty());
}

// ---- a running panel, the message filter, the single instance ---------------

TEST_F(Launcher, RunningPanelIsBroughtForwardWithoutStartingAProcess) {
    SetAutorun(1);
    state.panelFound = kPanelWindow;
    HWND hwnd = CreateLauncher(false); // a start by hand
    ASSERT_NE(BringForwardMessage, 0u);
    const std::string post = "post " + std::to_string(BringForwardMessage);
    const std::vector<std::string> expected{"foreground", "find panel", "allow 4711", post};
    EXPECT_EQ(state.events, expected);

    for (int way = 0; way < 2; ++way) { // the menu item and the double click
        state.events.clear();
        if (way == 0) SendMessageA(hwnd, WM_COMMAND, IDM_OPEN_PANEL, 0);
        if (way == 1) SendMessageA(hwnd, 1025, 0, WM_LBUTTONDBLCLK);
        EXPECT_EQ(state.events, expected) << way;
    }
    EXPECT_EQ(Count("start") + Count("shell start open"), 0);
    EXPECT_TRUE(state.commandLines.empty());
    for (const auto& sent : state.sent)
        EXPECT_EQ(sent.first, kPanelWindow);
}

TEST_F(Launcher, SecondLauncherBringsARunningPanelForwardToo) {
    state.launcherFound = kOtherLauncher;
    state.panelFound = kPanelWindow;
    EXPECT_EQ(LauncherMain(GetModuleHandleA(nullptr), "Velotray.exe"), 0);
    // Allowed before anything is given away; then the first launcher comes forward.
    EXPECT_EQ(state.events, (std::vector<std::string>{"find panel", "allow 4711",
                                                      "post " + std::to_string(BringForwardMessage),
                                                      "foreground"}));
    EXPECT_TRUE(state.commandLines.empty());
    EXPECT_EQ(state.foregroundOwner, kOtherLauncherProcess);

    // The other order gives the foreground away first, and the allowance is
    // refused, as Windows refuses it.
    state.events.clear();
    state.foregroundOwner = GetCurrentProcessId();
    Platform.setForegroundWindow(kOtherLauncher);
    AllowPanelForeground(kPanelWindow);
    EXPECT_EQ(state.events, (std::vector<std::string>{"foreground", "allow 4711 refused"}));

    // A panel that needs elevation is started through the shell, still in the foreground.
    UnregisterClassA(kLauncherTitle, GetModuleHandleA(nullptr));
    state.events.clear();
    state.foregroundOwner = GetCurrentProcessId();
    state.panelFound = nullptr;
    state.createResult = FALSE;
    state.createError = kErrorElevationRequired;
    state.postResult = FALSE; // the running launcher cannot be asked
    EXPECT_EQ(LauncherMain(GetModuleHandleA(nullptr), "Velotray.exe"), 0);
    EXPECT_EQ(state.events,
              (std::vector<std::string>{"find panel", "post " + std::to_string(OpenPanelMessage),
                                        "start", "shell start open", "foreground"}));
    EXPECT_TRUE(state.shellMask & SEE_MASK_NOASYNC);
    EXPECT_EQ(state.shellOwner, nullptr); // a second launcher has no window
}

TEST_F(Launcher, ShellRestartMessageIsLetThroughTheFilter) {
    SetAutorun(1);
    CreateLauncher(true);
    ASSERT_NE(TaskbarCreatedMessage, 0u);
    ASSERT_NE(OpenPanelMessage, 0u);
    EXPECT_EQ(state.filtered, (std::vector<std::pair<UINT, DWORD>>{
                                  {TaskbarCreatedMessage, static_cast<DWORD>(MSGFLT_ALLOW)},
                                  {OpenPanelMessage, static_cast<DWORD>(MSGFLT_ALLOW)}}));
}

TEST_F(Launcher, TakenMutexWaitsForTheFirstLaunchersWindow) {
    // Created, but it existed: the first copy's window shows a moment later.
    SetAutorun(1);
    state.mutexError = ERROR_ALREADY_EXISTS;
    state.windowAfterSleeps = 3;
    EXPECT_EQ(LauncherMain(GetModuleHandleA(nullptr), "Velotray.exe /autorun"), 0);
    EXPECT_EQ(state.sleeps, 3);
    EXPECT_EQ(state.foregrounds.front(), kOtherLauncher);
    EXPECT_EQ(Count("post " + std::to_string(OpenPanelMessage)), 1);
    EXPECT_EQ(LauncherWindow, nullptr);
    EXPECT_EQ(Count("icon add"), 0);
}

TEST_F(Launcher, TakenMutexWithoutAWindowIsTriedOnceMore) {
    // The logon start that held the name ended at its gate: no window comes,
    // and the name is free when this hand start tries again.
    SetAutorun(1);
    state.mutexError = ERROR_ALREADY_EXISTS;
    state.laterMutexError = 0;
    state.postExitOnAdd = true;
    state.realQuit = true;
    EXPECT_EQ(LauncherMain(GetModuleHandleA(nullptr), "Velotray.exe"), 0);
    EXPECT_GE(state.sleptMs, velotune::protocol::kSecondCopyWaitMs);
    ASSERT_EQ(state.mutexCalls, 2);
    ASSERT_FALSE(state.closedHandles.empty());
    EXPECT_EQ(state.closedHandles.front(), state.mutexResult); // its first handle let go
    EXPECT_EQ(Count("start"), 1);
    EXPECT_EQ(Count("icon add"), 1);
}

TEST_F(Launcher, MutexRefusedForLackOfRightsMeansAnotherCopyRuns) {
    // An elevated launcher's mutex refuses a standard user's copy. No window
    // appears: after a bounded wait this copy ends without doing anything.
    SetAutorun(1);
    state.mutexResult = nullptr;
    state.mutexError = ERROR_ACCESS_DENIED;
    EXPECT_EQ(LauncherMain(GetModuleHandleA(nullptr), "Velotray.exe"), 0);
    EXPECT_GT(state.sleeps, 0);
    EXPECT_GE(state.sleptMs, velotune::protocol::kSecondCopyWaitMs);
    EXPECT_LE(state.sleptMs, velotune::protocol::kSecondCopyWaitMs + 100);
    EXPECT_TRUE(state.events.empty());
    EXPECT_EQ(LauncherWindow, nullptr);

    // Any other failure of the mutex says nothing: the start goes on as the first.
    UnregisterClassA(kLauncherTitle, GetModuleHandleA(nullptr));
    state.mutexError = ERROR_INVALID_HANDLE;
    state.postExitOnAdd = true;
    state.realQuit = true;
    state.sleeps = 0;
    EXPECT_EQ(LauncherMain(GetModuleHandleA(nullptr), "Velotray.exe /autorun"), 0);
    EXPECT_EQ(state.sleeps, 0);
    EXPECT_EQ(Count("icon add"), 1);
}

} // namespace
