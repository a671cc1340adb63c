// The launcher: a hidden window that owns the notification-area icon, its
// popup menu, the "autorun" setting and the start of the speed panel.
// Plain procedural Win32; every platform call that a test has to control
// goes through Platform.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include "launcher/launcherlogic.h"
#include "launcher_res.h"

namespace launcher {

inline constexpr char kLauncherTitle[] = "Trelvix Velotune Launcher";
inline constexpr char kPanelClass[] = "TFormMain";
inline constexpr char kPanelTitle[] = "Trelvix Velotune";
inline constexpr char kIconName[] = "IDC_MYICON";
inline constexpr char kMenuName[] = "MENU_1";
inline constexpr char kRunKey[] = "SOFTWARE\\MICROSOFT\\WINDOWS\\Currentversion\\Run";
inline constexpr char kRunValue[] = "Velotune";
inline constexpr char kProductKey[] = "SOFTWARE\\ZIRUVERORA\\VELOTUNE";
inline constexpr char kAutorunValue[] = "autorun";
inline constexpr WORD kKoreanLangId = 0x0412;
inline constexpr DWORD kErrorElevationRequired = 740;

// Messages between the launcher and the speed panel; wParam and lParam are 0.
inline constexpr UINT WM_LAUNCHER_TRAY = WM_USER + 1;         // icon callback from the shell
inline constexpr UINT WM_LAUNCHER_PANEL_CLOSED = WM_USER + 2; // panel -> launcher: About goes grey
inline constexpr UINT WM_LAUNCHER_PANEL_OPENED = WM_USER + 3; // panel -> launcher: About enabled
inline constexpr UINT WM_PANEL_SHOW_ABOUT = WM_USER + 2;      // launcher -> panel: show About box

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
    decltype(&::SendMessageA) sendMessage = &::SendMessageA;
    decltype(&::SetForegroundWindow) setForegroundWindow = &::SetForegroundWindow;
    decltype(&::GetCursorPos) getCursorPos = &::GetCursorPos;
    decltype(&::TrackPopupMenu) trackPopupMenu = &::TrackPopupMenu;
    decltype(&::PostQuitMessage) postQuitMessage = &::PostQuitMessage;
    decltype(&::GetSystemDefaultLangID) getSystemDefaultLangID = &::GetSystemDefaultLangID;
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

// Registry under HKEY_LOCAL_MACHINE. RegReadString fills a kPathSize block and
// returns false when the key cannot be opened; a missing, non-string or
// overlong value gives an empty text. RegReadInteger gives -1 for a key that
// cannot be opened and for a value that is missing or not a 4-byte REG_DWORD.
bool RegReadString(const char* key, const char* name, char* text);
int RegReadInteger(const char* key, const char* name);
void RegWriteInteger(const char* key, const char* name, int value);

// SpeedPanelPath and MenuLibraryPath from the Run entry.
void BuildLauncherPaths();

// Starts the speed panel (a running one is brought forward by the panel itself).
void StartSpeedPanel();

// Places or removes the launcher's one icon; returns whether the shell took it.
bool NotifyTrayIcon(DWORD message);

// Registers the shell's "TaskbarCreated" message.
void RegisterLauncherMessages();

LRESULT CALLBACK LauncherWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
void OnLauncherCreate(HWND hwnd, const CREATESTRUCTA* create);
void OnLauncherCommand(HWND hwnd, WORD id);
void OnLauncherTray(HWND hwnd, UINT mouseMessage);

// Takes the current directory out of the DLL search for the rest of the run.
void KeepCurrentDirectoryOutOfDllSearch();

// The whole program: start-up, message loop, end. Always returns 0.
int LauncherMain(HINSTANCE instance, const char* commandLine);

} // namespace launcher
