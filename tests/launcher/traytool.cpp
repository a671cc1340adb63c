// traytool: what a restarted shell does to the launcher's icon, for the
// system tests.
//   traytool remove      removes the icon of the launcher window (uID 0), as a
//                        shell that lost its notification area would
//   traytool recreated   sends the registered "TaskbarCreated" message to the
//                        launcher window, as a new taskbar does
// Exit code 0 when done, 1 when the launcher window or the call failed.
#include <windows.h>
#include <shellapi.h>

#include <cstring>

int main(int argc, char** argv) {
    HWND launcher = FindWindowA(nullptr, "Trelvix Velotune Launcher");
    if (argc < 2 || !launcher) return 1;
    if (std::strcmp(argv[1], "remove") == 0) {
        NOTIFYICONDATAA data = {};
        data.cbSize = NOTIFYICONDATAA_V2_SIZE;
        data.hWnd = launcher;
        data.uID = 0;
        return Shell_NotifyIconA(NIM_DELETE, &data) ? 0 : 1;
    }
    if (std::strcmp(argv[1], "recreated") == 0) {
        SendMessageA(launcher, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
        return 0;
    }
    return 1;
}
