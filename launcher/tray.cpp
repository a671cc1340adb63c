// The launcher's notification-area icon, placed again until the shell takes it.
#include "launcher/launcher.h"

#include <cstring>

#if !defined(_WIN64)
// The 32-bit build keeps the icon record at its classic size.
static_assert(NOTIFYICONDATAA_V2_SIZE == 488, "NOTIFYICONDATAA with the 128-byte tip");
#endif

namespace launcher {

// ---- icon -----------------------------------------------------------------

bool NotifyTrayIcon(DWORD message) {
    NOTIFYICONDATAA data;
    std::memset(&data, 0, sizeof data);
    data.cbSize = NOTIFYICONDATAA_V2_SIZE;
    data.hWnd = Program.window;
    data.uID = 0;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = WM_LAUNCHER_TRAY;
    data.hIcon = LoadIconA(Program.instance, kIconName);
    std::memcpy(data.szTip, kLauncherTitle, sizeof kLauncherTitle);
    return Icon.notify(message, &data) != FALSE;
}

void PlaceTrayIcon() {
    Icon.killTimer(Program.window, kTrayRetryTimer);
    Program.trayRetries = 0;
    if (!NotifyTrayIcon(NIM_ADD))
        Icon.setTimer(Program.window, kTrayRetryTimer, TrayRetryDelayMs(0), nullptr);
}

void RetryTrayIcon() {
    ++Program.trayRetries;
    // A NIM_ADD that failed on the shell's time-out may have placed the icon
    // all the same: then changing it succeeds, and it is there.
    if (NotifyTrayIcon(NIM_MODIFY) || NotifyTrayIcon(NIM_ADD)) {
        Icon.killTimer(Program.window, kTrayRetryTimer);
        return;
    }
    Icon.setTimer(Program.window, kTrayRetryTimer, TrayRetryDelayMs(Program.trayRetries), nullptr);
}

void RegisterLauncherMessages() {
    Registered.taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
    Registered.bringForward = RegisterWindowMessageA(velotune::protocol::kMsgPanelBringForward);
    Registered.openPanel = RegisterWindowMessageA(velotune::protocol::kMsgLauncherOpenPanel);
}

} // namespace launcher
