// Velotray.exe: the notification-area launcher of the speed panel.
#include "launcher/launcher.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // The show command is ignored: the launcher window is never shown.
    return launcher::LauncherMain(instance, GetCommandLineA());
}
