#include "launcher/launcher.h"

#include "common/dllsearch.h"
#include "common/instance.h"

#include <objbase.h>

#include <cstring>

namespace launcher {

RegistryCalls Registry;
IconCalls Icon;
ProcessCalls Process;
MessageCalls Messages;

ProgramState Program;
InstallPaths Paths;
RegisteredMessages Registered;
PanelStartState PanelStart;

BOOL WINAPI ChangeWindowMessageFilterExIfPresent(HWND hwnd, UINT message, DWORD action,
                                                 void* status) {
    HMODULE user32 = GetModuleHandleA("user32.dll");
    auto entry =
        user32 ? reinterpret_cast<void (*)()>(GetProcAddress(user32, "ChangeWindowMessageFilterEx"))
               : nullptr;
    if (!entry) return FALSE;
    return reinterpret_cast<ChangeWindowMessageFilterExFn>(entry)(hwnd, message, action, status);
}

// ---- window ---------------------------------------------------------------

namespace {

void GreyItem(UINT id) {
    EnableMenuItem(Program.menu, id, MF_BYCOMMAND | MF_GRAYED | MF_DISABLED);
}

HMENU LoadLauncherMenu() {
    if (Icon.systemLanguage() == kKoreanLangId) {
        // Resources only: no code of the library ever runs. Systems that know
        // no image-resource loads refuse the flag and take a plain data file.
        // The library is kept for the whole run.
        const char* file = Paths.menuLibrary;
        HMODULE library = LoadLibraryExA(file, nullptr,
                                         LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE);
        if (library == nullptr && GetLastError() == ERROR_INVALID_PARAMETER)
            library = LoadLibraryExA(file, nullptr, LOAD_LIBRARY_AS_DATAFILE);
        if (library != nullptr) {
            // A library without a usable "MENU_1" would leave the icon without
            // a menu, and the launcher could not even be ended: the built-in
            // menu stands in.
            HMENU menu = LoadMenuA(library, kMenuName);
            if (menu != nullptr && GetSubMenu(menu, 0) != nullptr) return menu;
            if (menu != nullptr) DestroyMenu(menu);
            FreeLibrary(library);
        }
    }
    return LoadMenuA(Program.instance, kMenuName);
}

// The About request returns when the panel's box closes, so it has no time
// limit; a panel that is already hung is not waited for.
void AskPanelForAbout() {
    HWND panel = Messages.findWindow(kPanelClass, kPanelTitle);
    if (!panel) return;
    // The box takes the keyboard only if the panel may take the foreground.
    AllowPanelForeground(panel);
    DWORD_PTR result = 0;
    Messages.sendTimeout(panel, WM_PANEL_SHOW_ABOUT, 0, 0, SMTO_ABORTIFHUNG, INFINITE, &result);
}

// Exit's close request is bounded: a hung or stopped panel does not keep the
// launcher from ending, and neither does one that is still starting.
void ClosePanel() {
    HWND panel = WaitForStartingPanel();
    if (!panel) return;
    DWORD_PTR result = 0;
    if (Messages.sendTimeout(panel, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG,
                             velotune::protocol::kSendTimeoutMs, &result))
        return;
    // Busy in a drive command, or hung: the request waits in its queue, and
    // the panel closes once its command returns.
    Messages.post(panel, WM_CLOSE, 0, 0);
}

} // namespace

void OnLauncherCreate(HWND hwnd, const CREATESTRUCTA* create) {
    // Already here, so that the consent prompt of the start below has its owner.
    Program.window = hwnd;
    Program.instance = create->hInstance;
    Program.menu = GetSubMenu(LoadLauncherMenu(), 0);

    switch (ClassifyAutoRun(RegReadInteger(kSettingsKey, kAutorunValue))) {
    case AutoRunState::Unavailable:
        GreyItem(IDM_AUTO_RUN);
        break;
    case AutoRunState::Off:
        CheckMenuItem(Program.menu, IDM_AUTO_RUN, MF_BYCOMMAND | MF_UNCHECKED);
        break;
    case AutoRunState::On:
        CheckMenuItem(Program.menu, IDM_AUTO_RUN, MF_BYCOMMAND | MF_CHECKED);
        break;
    }
    // About stays grey until the speed panel reports its window.
    GreyItem(IDM_ABOUT);

    // An elevated launcher still hears a restarted shell, which runs unelevated.
    if (Registered.taskbarCreated)
        Messages.allowMessage(hwnd, Registered.taskbarCreated, MSGFLT_ALLOW, nullptr);
    // So does a second launcher's request to open the panel.
    if (Registered.openPanel)
        Messages.allowMessage(hwnd, Registered.openPanel, MSGFLT_ALLOW, nullptr);

    if (!Program.autorunStart) StartSpeedPanel();
}

void OnLauncherCommand(HWND, WORD id) {
    switch (id) {
    case IDM_OPEN_PANEL:
        StartSpeedPanel();
        break;
    case IDM_ABOUT:
        AskPanelForAbout();
        break;
    case IDM_EXIT:
        Icon.killTimer(Program.window, kTrayRetryTimer);
        NotifyTrayIcon(NIM_DELETE);
        ClosePanel();
        Messages.postQuit(0);
        break;
    case IDM_AUTO_RUN:
        ToggleAutoRun();
        break;
    default:
        break;
    }
}

void OnLauncherTray(HWND hwnd, UINT mouseMessage) {
    switch (mouseMessage) {
    case WM_RBUTTONUP: {
        POINT at = {};
        Icon.getCursorPos(&at);
        Messages.setForeground(hwnd);
        Icon.trackPopupMenu(Program.menu, 0, at.x, at.y, 0, hwnd, nullptr);
        // Lets the menu close properly when the user clicks elsewhere next time.
        PostMessageA(hwnd, WM_NULL, 0, 0);
        break;
    }
    case WM_LBUTTONDBLCLK:
        StartSpeedPanel();
        break;
    default:
        break;
    }
}

LRESULT CALLBACK LauncherWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        OnLauncherCreate(hwnd, reinterpret_cast<const CREATESTRUCTA*>(lParam));
        return 0;
    case WM_DESTROY:
        Icon.killTimer(hwnd, kTrayRetryTimer);
        NotifyTrayIcon(NIM_DELETE);
        Messages.postQuit(0);
        return 0;
    case WM_COMMAND:
        OnLauncherCommand(hwnd, LOWORD(wParam));
        return 0;
    case WM_LAUNCHER_TRAY:
        OnLauncherTray(hwnd, static_cast<UINT>(lParam));
        return 0;
    case WM_LAUNCHER_PANEL_CLOSED:
        GreyItem(IDM_ABOUT);
        return 0;
    case WM_LAUNCHER_PANEL_OPENED:
        EnableMenuItem(Program.menu, IDM_ABOUT, MF_BYCOMMAND | MF_ENABLED);
        EndPanelStart(); // its window is there
        return 0;
    case WM_TIMER:
        if (wParam == kTrayRetryTimer) RetryTrayIcon();
        return 0;
    default:
        break;
    }
    // A restarted shell asks every program to place its icons again.
    if (Registered.taskbarCreated != 0 && message == Registered.taskbarCreated) {
        PlaceTrayIcon();
        return 0;
    }
    if (Registered.openPanel != 0 && message == Registered.openPanel) {
        StartSpeedPanel();
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// ---- program --------------------------------------------------------------

namespace {

// COM for the run of LauncherMain, as the shell's process start wants it.
class ComApartment {
public:
    ComApartment()
        : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
    ~ComApartment() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    HRESULT result_;
};

void ReleaseInstanceName() {
    if (Program.instanceMutex) Process.closeHandle(Program.instanceMutex);
    Program.instanceMutex = nullptr;
}

// Takes the one-copy name; false when another copy holds it.
bool TakeInstanceName() {
    Program.instanceMutex = Process.createMutex(nullptr, FALSE, velotune::protocol::kLauncherMutex);
    return !velotune::MutexSaysAnotherCopy(Program.instanceMutex != nullptr, Process.lastError());
}

// The single-instance rule. Returns the running launcher's window, or nullptr
// when this copy is the first. A copy that finds the name taken but no window
// within the wait ends quietly (*end).
HWND FindRunningLauncher(bool* end) {
    *end = false;
    if (TakeInstanceName()) return Messages.findWindow(nullptr, kLauncherTitle);
    if (HWND running = velotune::WaitForWindow(
            [] { return Messages.findWindow(nullptr, kLauncherTitle); },
            [](unsigned ms) { Process.sleep(ms); }, velotune::protocol::kSecondCopyWaitMs))
        return running;
    // The copy that held the name may have ended since, at the logon gate:
    // let go of this copy's handle and try once more to be the one copy.
    ReleaseInstanceName();
    if (TakeInstanceName()) return Messages.findWindow(nullptr, kLauncherTitle);
    *end = true;
    return nullptr;
}

} // namespace

int LauncherMain(HINSTANCE instance, const char* commandLine) {
    // No DLL, "Velotray.kor" included, is ever taken from the current directory.
    // Its menu library may be named bare, and is then taken from its own folder.
    velotune::HardenDllSearch(velotune::DllSearch::ProgramAndSystemFolder);

    // The elevated helper of the Auto Run toggle: it writes the value and ends,
    // before any instance check or window, so it never hands over to the
    // launcher that started it.
    int wanted = 0;
    if (ParseSetAutorun(commandLine, &wanted))
        return static_cast<int>(RegWriteInteger(kSettingsKey, kAutorunValue, wanted));

    // The shell's ShellExecuteExA (elevated starts) expects COM on this thread.
    const ComApartment com;

    std::memset(&PanelStart.startInfo, 0, sizeof PanelStart.startInfo);
    std::memset(&PanelStart.processInfo, 0, sizeof PanelStart.processInfo);
    PanelStart.startInfo.cb = sizeof PanelStart.startInfo;
    PanelStart.startInfo.dwFlags = STARTF_USESHOWWINDOW;
    PanelStart.startInfo.wShowWindow = SW_SHOWNORMAL;
    Program.autorunStart = IsAutorunStart(commandLine);
    RegisterLauncherMessages();

    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = LauncherWndProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, kIconName);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kLauncherTitle;
    windowClass.hIconSm = LoadIconA(instance, kIconName);
    if (!RegisterClassExA(&windowClass)) return 0;

    BuildLauncherPaths();

    // One launcher at a time: a second start brings the first forward and
    // opens the panel, whatever its arguments.
    bool end = false;
    HWND running = FindRunningLauncher(&end);
    if (running) HandOverToRunningLauncher(running);
    if (running || end) return 0;

    // The logon gate: with Auto Run off a logon start leaves nothing behind,
    // not even the name, which a hand start racing this one is waiting on.
    if (Program.autorunStart &&
        LogonGateEndsStart(true, RegReadInteger(kSettingsKey, kAutorunValue))) {
        ReleaseInstanceName();
        return 0;
    }

    HWND hwnd = CreateWindowExA(
        0, kLauncherTitle, kLauncherTitle, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
    if (!hwnd) return 0;
    UpdateWindow(hwnd);
    Program.window = hwnd;
    PlaceTrayIcon();

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}

} // namespace launcher
