// The platform calls of the launcher that a test replaces, in four narrow
// seams: the registry, the notification-area icon and its menu, processes
// (start, elevation, waits, the one-copy names) and window messages (finding
// windows, sending and posting, the message filter, the foreground).
// Production code uses the defaults, which are the system's own functions.
#pragma once

#include <windows.h>
#include <shellapi.h>

namespace launcher {

using ChangeWindowMessageFilterExFn = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
// ChangeWindowMessageFilterEx where the system has it; FALSE elsewhere.
BOOL WINAPI ChangeWindowMessageFilterExIfPresent(HWND hwnd, UINT message, DWORD action,
                                                 void* status);

struct RegistryCalls {
    decltype(&::RegOpenKeyExA) openKey = &::RegOpenKeyExA;
    decltype(&::RegQueryValueExA) queryValue = &::RegQueryValueExA;
    decltype(&::RegCreateKeyExA) createKey = &::RegCreateKeyExA;
    decltype(&::RegDeleteValueA) deleteValue = &::RegDeleteValueA;
    decltype(&::RegSetValueExA) setValue = &::RegSetValueExA;
    decltype(&::RegCloseKey) closeKey = &::RegCloseKey;
};

struct IconCalls {
    decltype(&::Shell_NotifyIconA) notify = &::Shell_NotifyIconA;
    decltype(&::SetTimer) setTimer = &::SetTimer;
    decltype(&::KillTimer) killTimer = &::KillTimer;
    decltype(&::GetCursorPos) getCursorPos = &::GetCursorPos;
    decltype(&::TrackPopupMenu) trackPopupMenu = &::TrackPopupMenu;
    // Chooses the menu's language.
    decltype(&::GetSystemDefaultLangID) systemLanguage = &::GetSystemDefaultLangID;
};

struct ProcessCalls {
    decltype(&::CreateProcessA) create = &::CreateProcessA;
    decltype(&::ShellExecuteExA) shellExecute = &::ShellExecuteExA;
    decltype(&::GetLastError) lastError = &::GetLastError;
    decltype(&::GetModuleFileNameA) moduleFileName = &::GetModuleFileNameA;
    decltype(&::WaitForSingleObject) wait = &::WaitForSingleObject;
    // Handles messages sent to the launcher's window while it waits.
    decltype(&::WaitForInputIdle) waitIdle = &::WaitForInputIdle;
    decltype(&::GetExitCodeProcess) exitCode = &::GetExitCodeProcess;
    decltype(&::CloseHandle) closeHandle = &::CloseHandle;
    decltype(&::CreateMutexA) createMutex = &::CreateMutexA;
    decltype(&::OpenMutexA) openMutex = &::OpenMutexA;
    decltype(&::Sleep) sleep = &::Sleep;
};

struct MessageCalls {
    decltype(&::FindWindowA) findWindow = &::FindWindowA;
    decltype(&::SendMessageTimeoutA) sendTimeout = &::SendMessageTimeoutA;
    decltype(&::PostMessageA) post = &::PostMessageA;
    decltype(&::PostQuitMessage) postQuit = &::PostQuitMessage;
    decltype(&::GetWindowThreadProcessId) windowProcess = &::GetWindowThreadProcessId;
    decltype(&::AllowSetForegroundWindow) allowForeground = &::AllowSetForegroundWindow;
    decltype(&::SetForegroundWindow) setForeground = &::SetForegroundWindow;
    ChangeWindowMessageFilterExFn allowMessage = &ChangeWindowMessageFilterExIfPresent;
};

extern RegistryCalls Registry;
extern IconCalls Icon;
extern ProcessCalls Process;
extern MessageCalls Messages;

} // namespace launcher
