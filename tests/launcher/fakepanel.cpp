// A stand-in for the speed panel in the launcher's system tests. It has the
// panel's window identity and its side of the message contract, and logs what
// happens to "fakepanel.log" beside its own file:
//   start <command line>     the process started
//   second                   another copy ran; this one brought it forward
//   bring forward visible=0|1   the launcher's bring-forward request arrived
//                               (visible: whether the window was shown then)
//   sent 1027 launcher=0|1   window created, 1027 sent to the launcher
//   about open / about closed   a 1026 arrived; its modal box opened / closed
//   close clicked launcher=0|1   the "Close" button: 1026 sent to the launcher, then close
//   wm_close                 a WM_CLOSE arrived
#include <windows.h>

#include "common/protocol.h"

#include <cstdio>
#include <cstring>

namespace {

namespace protocol = velotune::protocol;
constexpr const char* kClass = protocol::kPanelClass;
constexpr const char* kTitle = protocol::kPanelTitle;
constexpr const char* kLauncher = protocol::kLauncherTitle;
UINT bringForward = 0;
constexpr int kCloseId = 2;
char logPath[MAX_PATH];

void Log(const char* text) {
    if (FILE* f = std::fopen(logPath, "ab")) {
        std::fprintf(f, "%s\n", text);
        std::fclose(f);
    }
}

void SendToLauncher(UINT message) {
    // Found afresh each time; a NULL window makes the call do nothing.
    SendMessageA(FindWindowA(nullptr, kLauncher), message, 0, 0);
}

LRESULT CALLBACK PanelProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (bringForward && message == bringForward) {
        char line[64];
        std::snprintf(line, sizeof line, "bring forward visible=%d", IsWindowVisible(hwnd) ? 1 : 0);
        ShowWindow(hwnd, SW_SHOWNORMAL);
        SetForegroundWindow(hwnd);
        Log(line);
        return 0;
    }
    switch (message) {
    case WM_CREATE: {
        CreateWindowExA(0, "BUTTON", "Close", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 214, 120, 68,
                        20, hwnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kCloseId)),
                        reinterpret_cast<CREATESTRUCTA*>(lParam)->hInstance, nullptr);
        const bool launcher = FindWindowA(nullptr, kLauncher) != nullptr;
        SendToLauncher(protocol::kMsgLauncherPanelOpened);
        Log(launcher ? "sent 1027 launcher=1" : "sent 1027 launcher=0");
        return 0;
    }
    case protocol::kMsgPanelShowAbout:
        Log("about open");
        MessageBoxA(hwnd, "Trelvix Velotune", "About", MB_OK);
        Log("about closed");
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == kCloseId) {
            const bool launcher = FindWindowA(nullptr, kLauncher) != nullptr;
            SendToLauncher(protocol::kMsgLauncherPanelClosed);
            Log(launcher ? "close clicked launcher=1" : "close clicked launcher=0");
            DestroyWindow(hwnd);
        }
        return 0;
    case WM_CLOSE:
        Log("wm_close");
        DestroyWindow(hwnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    GetModuleFileNameA(nullptr, logPath, MAX_PATH);
    if (char* slash = std::strrchr(logPath, '\\')) std::strcpy(slash + 1, "fakepanel.log");
    char line[1200];
    std::snprintf(line, sizeof line, "start %s", GetCommandLineA());
    Log(line);

    bringForward = RegisterWindowMessageA(protocol::kMsgPanelBringForward);
    if (HWND running = FindWindowA(kClass, kTitle)) {
        SetForegroundWindow(running);
        Log("second");
        return 0;
    }
    WNDCLASSA wc = {};
    wc.lpfnWndProc = PanelProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClass;
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowExA(WS_EX_TOPMOST, kClass, kTitle, WS_POPUP | WS_BORDER, 100, 100, 320,
                                200, nullptr, nullptr, instance, nullptr);
    ShowWindow(hwnd, show);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
