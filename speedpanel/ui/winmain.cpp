// Entry point of TrelvixVelotune.exe. The command line is ignored.
#include "speedpanel/ui/main.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return velotune::RunPanel();
}
