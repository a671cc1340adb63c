// Test helper for the setup tests: looks at the desktop's top-level windows and
// starts the launcher's logon entry the way the shell does at logon.
//
//   instprobe STEP [STEP ...]
//     logon                       CreateProcess with the command line stored in the
//                                 machine's Run entry "Velotune" (64-bit view)
//     wait CLASS TITLE SECONDS    until such a window exists
//     gone CLASS TITLE SECONDS    until no such window exists
//     absent CLASS TITLE          no such window exists now
//     exit-launcher               sends the launcher window its Exit command
//     close-panel                 sends the speed panel window WM_CLOSE
//     hold SECONDS                keeps a hidden window (and so the desktop with its
//                                 notification area) until "release" or the time is up
//     release                     ends a running "hold"
//     short PATH                  prints the path's 8.3 form ("short: ...")
//     run COMMAND_LINE            runs it, waits (bounded, 120 s) and prints its
//                                 whole exit code ("exit: N"), which a Linux exit
//                                 status would cut to 8 bits
//     lock PATH                   opens the file without sharing and keeps it open
//                                 until the probe ends (with "hold": a file in use)
// CLASS "-" matches any class. Steps run in order; the first failing step ends
// the probe with exit code 1 and a line on stderr.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

constexpr wchar_t kRunKey[] = L"SOFTWARE\\MICROSOFT\\WINDOWS\\Currentversion\\Run";
constexpr wchar_t kLauncherWindow[] = L"Trelvix Velotune Launcher";
constexpr wchar_t kPanelClass[] = L"TFormMain";
constexpr wchar_t kPanelTitle[] = L"Trelvix Velotune";
constexpr WPARAM kIdmExit = 103;
constexpr wchar_t kHolderWindow[] = L"Velotune Setup Test Holder";

HWND FindTopWindow(const wchar_t* cls, const wchar_t* title) {
    return FindWindowW(std::wcscmp(cls, L"-") == 0 ? nullptr : cls, title);
}

bool WaitFor(const wchar_t* cls, const wchar_t* title, double seconds, bool present) {
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000.0);
    for (;;) {
        if ((FindTopWindow(cls, title) != nullptr) == present) return true;
        if (GetTickCount64() >= end) return false;
        Sleep(100);
    }
}

bool StartLogonEntry() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_READ | KEY_WOW64_64KEY, &key) !=
        ERROR_SUCCESS) {
        std::fwprintf(stderr, L"logon: no Run key\n");
        return false;
    }
    wchar_t value[2048] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t);
    DWORD type = 0;
    const LSTATUS read =
        RegQueryValueExW(key, L"Velotune", nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    if (read != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        std::fwprintf(stderr, L"logon: no Run entry \"Velotune\"\n");
        return false;
    }
    // The shell expands variables in Run entries and starts the line as it stands.
    std::wstring command(32768, L'\0');
    const DWORD n =
        ExpandEnvironmentStringsW(value, command.data(), static_cast<DWORD>(command.size()));
    if (n == 0 || n > command.size()) return false;
    std::wprintf(L"logon: %ls\n", command.c_str());
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi)) {
        std::fwprintf(stderr, L"logon: CreateProcess failed, error %lu\n", GetLastError());
        return false;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

// Sends a message to a window, if there is one, and waits until it is gone.
bool SendAndWaitGone(const wchar_t* cls, const wchar_t* title, UINT message, WPARAM wparam) {
    HWND window = FindWindowW(cls, title);
    if (window == nullptr) return true;
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, message, wparam, 0, SMTO_NORMAL, 10000, &result);
    return WaitFor(cls, title, 10, false);
}

LRESULT CALLBACK HolderProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

bool Hold(double seconds) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = HolderProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kHolderWindow;
    if (!RegisterClassW(&wc)) return false;
    HWND window = CreateWindowExW(0, kHolderWindow, kHolderWindow, WS_OVERLAPPED, 0, 0, 10, 10,
                                  nullptr, nullptr, wc.hInstance, nullptr);
    if (window == nullptr) return false;
    SetTimer(window, 1, static_cast<UINT>(seconds * 1000.0), nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER) DestroyWindow(window);
        DispatchMessageW(&msg);
    }
    return true;
}

int Fail(const wchar_t* step, const wchar_t* cls, const wchar_t* title) {
    std::fwprintf(stderr, L"instprobe: %ls %ls \"%ls\" failed\n", step, cls, title);
    return 1;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::wstring step = argv[i];
        if (step == L"logon") {
            if (!StartLogonEntry()) return 1;
        } else if (step == L"exit-launcher") {
            if (!SendAndWaitGone(kLauncherWindow, kLauncherWindow, WM_COMMAND, kIdmExit))
                return Fail(L"exit-launcher", kLauncherWindow, kLauncherWindow);
        } else if (step == L"hold" && i + 1 < argc) {
            if (!Hold(std::wcstod(argv[++i], nullptr))) return Fail(L"hold", L"-", kHolderWindow);
        } else if (step == L"short" && i + 1 < argc) {
            wchar_t shortPath[MAX_PATH] = {};
            const DWORD n = GetShortPathNameW(argv[++i], shortPath, MAX_PATH);
            if (n == 0 || n >= MAX_PATH) return Fail(L"short", L"-", argv[i]);
            std::wprintf(L"short: %ls\n", shortPath);
        } else if (step == L"run" && i + 1 < argc) {
            std::wstring command = argv[++i];
            STARTUPINFOW si = {};
            si.cb = sizeof(si);
            PROCESS_INFORMATION pi = {};
            if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                nullptr, &si, &pi))
                return Fail(L"run", L"-", argv[i]);
            DWORD code = STILL_ACTIVE;
            if (WaitForSingleObject(pi.hProcess, 120000) == WAIT_OBJECT_0)
                GetExitCodeProcess(pi.hProcess, &code);
            CloseHandle(pi.hThread);
            CloseHandle(pi.hProcess);
            std::wprintf(L"exit: %lu\n", code);
            std::fflush(stdout);
        } else if (step == L"lock" && i + 1 < argc) {
            // Kept open until the process ends; nobody else may open it meanwhile.
            const HANDLE file = CreateFileW(argv[++i], GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file == INVALID_HANDLE_VALUE) return Fail(L"lock", L"-", argv[i]);
        } else if (step == L"release") {
            if (!SendAndWaitGone(kHolderWindow, kHolderWindow, WM_CLOSE, 0))
                return Fail(L"release", kHolderWindow, kHolderWindow);
        } else if (step == L"close-panel") {
            if (!SendAndWaitGone(kPanelClass, kPanelTitle, WM_CLOSE, 0))
                return Fail(L"close-panel", kPanelClass, kPanelTitle);
        } else if ((step == L"wait" || step == L"gone") && i + 3 < argc) {
            const wchar_t* cls = argv[i + 1];
            const wchar_t* title = argv[i + 2];
            const double seconds = std::wcstod(argv[i + 3], nullptr);
            i += 3;
            if (!WaitFor(cls, title, seconds, step == L"wait"))
                return Fail(step.c_str(), cls, title);
        } else if (step == L"absent" && i + 2 < argc) {
            const wchar_t* cls = argv[i + 1];
            const wchar_t* title = argv[i + 2];
            i += 2;
            if (FindTopWindow(cls, title) != nullptr) return Fail(L"absent", cls, title);
        } else {
            std::fwprintf(stderr, L"instprobe: bad step \"%ls\"\n", argv[i]);
            return 2;
        }
    }
    return 0;
}
