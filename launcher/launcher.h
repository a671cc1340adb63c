// The launcher: a hidden window that owns the notification-area icon, its
// popup menu, the "autorun" setting and the start of the speed panel.
// Plain procedural Win32; every platform call that a test has to control
// goes through Platform.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include "common/protocol.h"
#include "launcher/launcherlogic.h"
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

using ChangeWindowMessageFilterExFn = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
// ChangeWindowMessageFilterEx where the system has it; FALSE elsewhere.
BOOL WINAPI ChangeWindowMessageFilterExIfPresent(HWND hwnd, UINT message, DWORD action,
                                                 void* status);

// The platform calls a test replaces. Production code uses the defaults.
struct LauncherPlatform {
    decltype(&::Shell_NotifyIconA) shellNotifyIcon = &::Shell_NotifyIconA;
    decltype(&::RegOpenKeyExA) regOpenKeyEx = &::RegOpenKeyExA;
    decltype(&::RegQueryValueExA) regQueryValueEx = &::RegQueryValueExA;
    decltype(&::RegCreateKeyExA) regCreateKeyEx = &::RegCreateKeyExA;
    decltype(&::RegDeleteValueA) regDeleteValue = &::RegDeleteValueA;
    decltype(&::RegSetValueExA) regSetValueEx = &::RegSetValueExA;
    decltype(&::RegCloseKey) regCloseKey = &::RegCloseKey;
    decltype(&::CreateProcessA) createProcess = &::CreateProcessA;
    decltype(&::GetLastError) getLastError = &::GetLastError;
    decltype(&::ShellExecuteExA) shellExecuteEx = &::ShellExecuteExA;
    decltype(&::FindWindowA) findWindow = &::FindWindowA;
    decltype(&::SendMessageTimeoutA) sendMessageTimeout = &::SendMessageTimeoutA;
    decltype(&::PostMessageA) postMessage = &::PostMessageA;
    decltype(&::GetWindowThreadProcessId) getWindowThreadProcessId = &::GetWindowThreadProcessId;
    decltype(&::AllowSetForegroundWindow) allowSetForegroundWindow = &::AllowSetForegroundWindow;
    ChangeWindowMessageFilterExFn changeWindowMessageFilterEx =
        &ChangeWindowMessageFilterExIfPresent;
    decltype(&::GetModuleFileNameA) getModuleFileName = &::GetModuleFileNameA;
    decltype(&::WaitForSingleObject) waitForSingleObject = &::WaitForSingleObject;
    decltype(&::GetExitCodeProcess) getExitCodeProcess = &::GetExitCodeProcess;
    decltype(&::CloseHandle) closeHandle = &::CloseHandle;
    decltype(&::CreateMutexA) createMutex = &::CreateMutexA;
    decltype(&::OpenMutexA) openMutex = &::OpenMutexA;
    decltype(&::Sleep) sleep = &::Sleep;
    decltype(&::SetForegroundWindow) setForegroundWindow = &::SetForegroundWindow;
    decltype(&::GetCursorPos) getCursorPos = &::GetCursorPos;
    decltype(&::TrackPopupMenu) trackPopupMenu = &::TrackPopupMenu;
    decltype(&::PostQuitMessage) postQuitMessage = &::PostQuitMessage;
    decltype(&::GetSystemDefaultLangID) getSystemDefaultLangID = &::GetSystemDefaultLangID;
    decltype(&::SetTimer) setTimer = &::SetTimer;
    decltype(&::KillTimer) killTimer = &::KillTimer;
};

extern LauncherPlatform Platform;

// Process-wide state, kept for the whole run.
extern HWND LauncherWindow;
extern HINSTANCE ProgramInstance;
extern HMENU LauncherMenu;
extern char SpeedPanelPath[kPathSize];
extern char MenuLibraryPath[kPathSize];
extern STARTUPINFOA StartInfo;
extern PROCESS_INFORMATION ProcessInfo;
extern bool AutorunStart;          // the first argument is "/autorun"
extern UINT TaskbarCreatedMessage; // registered "TaskbarCreated", 0 before start-up
extern UINT BringForwardMessage;   // registered, asks a running panel to come forward
extern HANDLE InstanceMutex;       // held for the whole run
extern unsigned TrayRetries;       // failed tries to place the icon since the last success
extern UINT OpenPanelMessage;      // registered, a second launcher's request to open the panel
// The panel this launcher started and has not heard from yet: set from the
// start (while the consent prompt is up, too) until message 1027 arrives or
// the process ends. PanelStartProcess is its handle, when the start gave one.
extern bool PanelStartPending;
extern HANDLE PanelStartProcess;

// Registry under HKEY_LOCAL_MACHINE. RegReadString fills a kPathSize block and
// returns false when the key cannot be opened; a missing, non-string or
// overlong value gives an empty text. RegReadInteger gives -1 for a key that
// cannot be opened and for a value that is missing or not a 4-byte REG_DWORD.
bool RegReadString(const char* key, const char* name, char* text);
// RegWriteInteger returns the first failing status, or ERROR_SUCCESS.
int RegReadInteger(const char* key, const char* name);
LSTATUS RegWriteInteger(const char* key, const char* name, int value);

// SpeedPanelPath and MenuLibraryPath from the Run entry.
void BuildLauncherPaths();

// Brings a running speed panel forward, or starts one when none runs, none
// is starting (its session mutex exists before its window does) and no start
// of this launcher is pending.
void StartSpeedPanel();

// Whether a start of this launcher is still pending; ends the pending state
// when the started process has ended. EndPanelStart ends it (message 1027).
bool PanelStartIsPending();
void EndPanelStart();

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
