// The launcher: a hidden window that owns the notification-area icon, its
// popup menu, the "autorun" setting and the start of the speed panel.
// Plain procedural Win32; every platform call that a test has to control
// goes through one of the seams of launcher/seams.h.
#pragma once

#include <windows.h>

#include "common/protocol.h"
#include "launcher/launcherlogic.h"
#include "launcher/seams.h"
#include "launcher_res.h"

namespace launcher {

using velotune::protocol::kAutorunValue;
using velotune::protocol::kLauncherTitle;
using velotune::protocol::kPanelClass;
using velotune::protocol::kPanelTitle;
using velotune::protocol::kRunKey;
using velotune::protocol::kRunValue;
using velotune::protocol::kSettingsKey;
inline constexpr char kIconName[] = "IDC_MYICON";
inline constexpr char kMenuName[] = "MENU_1";
inline constexpr WORD kKoreanLangId = 0x0412;
inline constexpr DWORD kErrorElevationRequired = 740;
// How long the launcher waits for its elevated helper after the prompt.
inline constexpr DWORD kElevatedWriteWaitMs = 10000;

// Messages between the launcher and the speed panel; wParam and lParam are 0.
inline constexpr UINT WM_LAUNCHER_TRAY = velotune::protocol::kMsgLauncherTray;
inline constexpr UINT WM_LAUNCHER_PANEL_CLOSED = velotune::protocol::kMsgLauncherPanelClosed;
inline constexpr UINT WM_LAUNCHER_PANEL_OPENED = velotune::protocol::kMsgLauncherPanelOpened;
inline constexpr UINT WM_PANEL_SHOW_ABOUT = velotune::protocol::kMsgPanelShowAbout;

// Process-wide state, kept for the whole run.
struct ProgramState {
    HWND window = nullptr;
    HINSTANCE instance = nullptr;
    HMENU menu = nullptr;
    bool autorunStart = false;      // the first argument is "/autorun"
    HANDLE instanceMutex = nullptr; // held for the whole run
    unsigned trayRetries = 0;       // failed tries to place the icon since the last success
};
extern ProgramState Program;

// The speed panel and the menu library, by the paths the Run entry gives.
struct InstallPaths {
    char speedPanel[kPathSize];
    char menuLibrary[kPathSize];
};
extern InstallPaths Paths;

// Registered messages; 0 before start-up.
struct RegisteredMessages {
    UINT taskbarCreated = 0; // "TaskbarCreated"
    UINT bringForward = 0;   // asks a running panel to come forward
    UINT openPanel = 0;      // a second launcher's request to open the panel
};
extern RegisteredMessages Registered;

// The panel this launcher started and has not heard from yet: pending from
// the start (while the consent prompt is up, too) until message 1027 arrives
// or the process ends. process is its handle, when the start gave one.
struct PanelStartState {
    bool pending = false;
    HANDLE process = nullptr;
    STARTUPINFOA startInfo = {};
    PROCESS_INFORMATION processInfo = {};
};
extern PanelStartState PanelStart;

// Registry under HKEY_LOCAL_MACHINE. RegReadString fills a kPathSize block and
// returns false when the key cannot be opened; a missing, non-string or
// overlong value gives an empty text. RegReadInteger gives -1 for a key that
// cannot be opened and for a value that is missing or not a 4-byte REG_DWORD.
bool RegReadString(const char* key, const char* name, char* text);
// RegWriteInteger returns the first failing status, or ERROR_SUCCESS.
int RegReadInteger(const char* key, const char* name);
LSTATUS RegWriteInteger(const char* key, const char* name, int value);

// Paths from the Run entry.
void BuildLauncherPaths();

// Brings a running speed panel forward, or starts one when none runs, none
// is starting (its session mutex exists before its window does) and no start
// of this launcher is pending.
void StartSpeedPanel();

// Whether a start of this launcher is still pending; ends the pending state
// when the started process has ended. EndPanelStart ends it (message 1027).
bool PanelStartIsPending();
void EndPanelStart();

// The panel's window for Exit's close request. A panel on its way up (this
// launcher's pending start, or a session mutex without a window: a start of a
// second launcher that handed over and ended) is waited for, at most
// kSendTimeoutMs, until its window is there and, for this launcher's own
// start, has reported (1027). nullptr when no panel runs or none showed in time.
HWND WaitForStartingPanel();

// Whether the panel's session mutex exists. Only looked up, never created: a
// created one would make the starting panel end as a second copy.
bool PanelMutexExists();

// A second launcher's hand-over to the running one: a panel that shows is
// brought forward while this copy still holds the foreground; otherwise the
// running launcher is asked to open it, so that its pending start counts.
// Then the running launcher's window is brought forward. Only when the
// request cannot be handed over does this copy start the panel itself.
void HandOverToRunningLauncher(HWND running);

// Lets the panel's process take the foreground the launcher holds.
void AllowPanelForeground(HWND panel);

// The Auto Run toggle: writes the new value, once more elevated when Windows
// refuses the write, and then shows what is stored.
void ToggleAutoRun();

// Writes "autorun" through an elevated copy of the launcher (one consent
// prompt). Returns ERROR_SUCCESS, the helper's status, or the reason it did
// not run (ERROR_CANCELLED when the user declined).
DWORD WriteAutoRunElevated(int value);

// Places or removes the launcher's one icon; returns whether the shell took it.
bool NotifyTrayIcon(DWORD message);

// Places the icon. When the shell refuses (its notification area is not ready
// at logon), it is tried again on the window's timer until it is there.
inline constexpr UINT_PTR kTrayRetryTimer = 1;
void PlaceTrayIcon();
void RetryTrayIcon();

// Registers the shell's "TaskbarCreated" message and the panel's bring-forward message.
void RegisterLauncherMessages();

LRESULT CALLBACK LauncherWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
void OnLauncherCreate(HWND hwnd, const CREATESTRUCTA* create);
void OnLauncherCommand(HWND hwnd, WORD id);
void OnLauncherTray(HWND hwnd, UINT mouseMessage);

// The whole program: start-up, message loop, end. Returns 0, except for the
// elevated helper run ("/setautorun:N"), which returns the write's status.
int LauncherMain(HINSTANCE instance, const char* commandLine);

} // namespace launcher
