#include "launcher/launcher.h"

#include "common/dllsearch.h"
#include "common/instance.h"

#include <objbase.h>

#include <cstring>

#if !defined(_WIN64)
// The 32-bit build keeps the icon record at its classic size.
static_assert(NOTIFYICONDATAA_V2_SIZE == 488, "NOTIFYICONDATAA with the 128-byte tip");
#endif

namespace launcher {

LauncherPlatform Platform;

HWND LauncherWindow = nullptr;
HINSTANCE ProgramInstance = nullptr;
HMENU LauncherMenu = nullptr;
char SpeedPanelPath[kPathSize];
char MenuLibraryPath[kPathSize];
STARTUPINFOA StartInfo;
PROCESS_INFORMATION ProcessInfo;
bool AutorunStart = false;
UINT TaskbarCreatedMessage = 0;
UINT BringForwardMessage = 0;
HANDLE InstanceMutex = nullptr;
unsigned TrayRetries = 0;
UINT OpenPanelMessage = 0;
bool PanelStartPending = false;
HANDLE PanelStartProcess = nullptr;

BOOL WINAPI ChangeWindowMessageFilterExIfPresent(HWND hwnd, UINT message, DWORD action,
                                                 void* status) {
    HMODULE user32 = GetModuleHandleA("user32.dll");
    auto entry =
        user32 ? reinterpret_cast<void (*)()>(GetProcAddress(user32, "ChangeWindowMessageFilterEx"))
               : nullptr;
    if (!entry) return FALSE;
    return reinterpret_cast<ChangeWindowMessageFilterExFn>(entry)(hwnd, message, action, status);
}

// ---- registry -------------------------------------------------------------

bool RegReadString(const char* key, const char* name, char* text) {
    HKEY handle = nullptr;
    if (Platform.regOpenKeyEx(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    text[0] = '\0';
    DWORD type = 0;
    DWORD size = 0;
    if (Platform.regQueryValueEx(handle, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ) && size > 0 && size <= kPathSize) {
        // One byte more than the block, so data without a zero still ends inside.
        char data[kPathSize + 1] = {};
        DWORD got = kPathSize;
        if (Platform.regQueryValueEx(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(data),
                                     &got) == ERROR_SUCCESS &&
            (type == REG_SZ || type == REG_EXPAND_SZ) && got <= kPathSize) {
            data[got] = '\0';
            const std::size_t length = std::strlen(data);
            // A text of kPathSize characters would leave no room for the zero.
            if (length < kPathSize) std::memcpy(text, data, length + 1);
        }
    }
    Platform.regCloseKey(handle);
    return true;
}

int RegReadInteger(const char* key, const char* name) {
    HKEY handle = nullptr;
    if (Platform.regOpenKeyEx(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return -1;
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    const LSTATUS status = Platform.regQueryValueEx(handle, name, nullptr, &type,
                                                    reinterpret_cast<BYTE*>(&value), &size);
    Platform.regCloseKey(handle);
    if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) return -1;
    return static_cast<int>(value);
}

LSTATUS RegWriteInteger(const char* key, const char* name, int value) {
    HKEY handle = nullptr;
    DWORD disposition = 0;
    // A standard user's launcher is refused here (ERROR_ACCESS_DENIED): HKLM
    // takes writes from elevated programs only.
    const LSTATUS opened =
        Platform.regCreateKeyEx(HKEY_LOCAL_MACHINE, key, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &handle, &disposition);
    if (opened != ERROR_SUCCESS) return opened;
    // Deleting first replaces a value of any other type by a REG_DWORD.
    Platform.regDeleteValue(handle, name);
    const DWORD data = static_cast<DWORD>(value);
    const LSTATUS written = Platform.regSetValueEx(
        handle, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
    Platform.regCloseKey(handle);
    return written;
}

// ---- paths and process start ----------------------------------------------

void BuildLauncherPaths() {
    char text[kPathSize];
    const bool found = RegReadString(kRunKey, kRunValue, text);
    if (BuildInstallPaths(found ? text : nullptr, SpeedPanelPath, MenuLibraryPath) &&
        std::strchr(SpeedPanelPath, '\\') != nullptr)
        return;
    // No usable Run value (a hand install, the zip) or one without a folder:
    // the files beside this launcher, by their full paths. A bare name would be looked for in the
    // current directory by the shell's elevated start.
    char self[kPathSize];
    const DWORD length = Platform.getModuleFileName(nullptr, self, sizeof self);
    if (length > 0 && length < sizeof self)
        BuildInstallPaths(self, SpeedPanelPath, MenuLibraryPath);
}

void AllowPanelForeground(HWND panel) {
    DWORD process = 0;
    Platform.getWindowThreadProcessId(panel, &process);
    if (process) Platform.allowSetForegroundWindow(process);
}

namespace {

// A running panel is asked to come forward: starting a second copy would cost
// a consent prompt only for it to hand over and end. Returns false when no
// panel runs.
bool BringRunningPanelForward() {
    HWND panel = Platform.findWindow(kPanelClass, kPanelTitle);
    if (!panel) return false;
    AllowPanelForeground(panel);
    // Posted: the panel's restore runs discovery, which may take a while.
    if (BringForwardMessage) Platform.postMessage(panel, BringForwardMessage, 0, 0);
    return true;
}

// Keeps what a start gave: the started process while the start is still
// pending (no 1027 came while the call ran), or nothing.
void KeepPanelStart(bool started, HANDLE process) {
    if (started && process && PanelStartPending) {
        PanelStartProcess = process;
        return;
    }
    if (process) Platform.closeHandle(process);
    if (!started || !process) PanelStartPending = false;
}

// Starts the panel's process. Nothing waits for it, but until the panel's
// window reports (1027) or the process ends, the start is pending: a second
// request in that gap, while the consent prompt is up too, starts nothing.
void StartPanelProcess() {
    std::memset(&StartInfo, 0, sizeof StartInfo);
    std::memset(&ProcessInfo, 0, sizeof ProcessInfo);
    StartInfo.cb = sizeof StartInfo;
    StartInfo.dwFlags = STARTF_USESHOWWINDOW;
    StartInfo.wShowWindow = SW_SHOWNORMAL;
    EndPanelStart();
    PanelStartPending = true;

    // Quoted, so that a folder with a blank ("C:\Program Files\...") is taken whole.
    char commandLine[kPathSize + 2];
    const char* end = static_cast<const char*>(std::memchr(SpeedPanelPath, '\0', kPathSize - 1));
    const std::size_t pathLength = end ? end - SpeedPanelPath : kPathSize - 1;
    commandLine[0] = '"';
    std::memcpy(commandLine + 1, SpeedPanelPath, pathLength);
    commandLine[pathLength + 1] = '"';
    commandLine[pathLength + 2] = '\0';
    if (Platform.createProcess(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &StartInfo, &ProcessInfo)) {
        if (ProcessInfo.hThread) Platform.closeHandle(ProcessInfo.hThread);
        KeepPanelStart(true, ProcessInfo.hProcess);
        return;
    }
    if (Platform.getLastError() != kErrorElevationRequired) {
        PanelStartPending = false;
        return;
    }
    // The panel asks for administrator rights: let the shell start it, which
    // brings up the system's elevation prompt over the launcher's window (a
    // second launcher has none). Error boxes stay off. A second launcher ends
    // right after this call, so the shell finishes its work before it returns.
    // The call runs while the prompt is up, and messages sent meanwhile are
    // handled inside it: the start is pending already.
    SHELLEXECUTEINFOA exec = {};
    exec.cbSize = sizeof exec;
    exec.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC | SEE_MASK_NOCLOSEPROCESS;
    exec.hwnd = LauncherWindow;
    exec.lpVerb = "open";
    exec.lpFile = SpeedPanelPath;
    exec.nShow = SW_SHOWNORMAL;
    const bool started = Platform.shellExecuteEx(&exec) != FALSE;
    KeepPanelStart(started, started ? exec.hProcess : nullptr);
}

} // namespace

bool PanelStartIsPending() {
    if (!PanelStartPending) return false;
    if (PanelStartProcess && Platform.waitForSingleObject(PanelStartProcess, 0) != WAIT_TIMEOUT) {
        EndPanelStart(); // ended before its window reported, a second copy included
        return false;
    }
    return true;
}

void EndPanelStart() {
    if (PanelStartProcess) Platform.closeHandle(PanelStartProcess);
    PanelStartProcess = nullptr;
    PanelStartPending = false;
}

bool PanelMutexExists() {
    HANDLE mutex = Platform.openMutex(SYNCHRONIZE, FALSE, velotune::protocol::kPanelMutex);
    if (mutex) {
        Platform.closeHandle(mutex);
        return true;
    }
    // An elevated panel's mutex refuses a standard user's launcher: it exists.
    return Platform.getLastError() == ERROR_ACCESS_DENIED;
}

void StartSpeedPanel() {
    Platform.setForegroundWindow(Platform.findWindow(nullptr, kLauncherTitle));
    if (BringRunningPanelForward()) return;
    // A panel on its way up shows its window by itself.
    if (PanelStartIsPending() || PanelMutexExists()) return;
    StartPanelProcess();
}

void HandOverToRunningLauncher(HWND running) {
    // Started by the user, this copy may take the foreground and pass it on,
    // but only until it gives it away: allowing the panel comes first. A panel
    // that is not there yet may be starting from the running launcher, behind
    // its consent prompt: only that launcher knows, so it is asked to open it.
    if (!BringRunningPanelForward() &&
        !(OpenPanelMessage && Platform.postMessage(running, OpenPanelMessage, 0, 0)) &&
        !PanelMutexExists())
        StartPanelProcess();
    Platform.setForegroundWindow(running);
}

// ---- Auto Run ---------------------------------------------------------------

DWORD WriteAutoRunElevated(int value) {
    char self[kPathSize];
    const DWORD length = Platform.getModuleFileName(nullptr, self, sizeof self);
    if (length == 0 || length >= sizeof self) return ERROR_FILENAME_EXCED_RANGE;
    char parameters[sizeof kSetAutorunArgument + 1];
    std::memcpy(parameters, kSetAutorunArgument, sizeof kSetAutorunArgument - 1);
    parameters[sizeof kSetAutorunArgument - 1] = value ? '1' : '0';
    parameters[sizeof kSetAutorunArgument] = '\0';

    SHELLEXECUTEINFOA exec = {};
    exec.cbSize = sizeof exec;
    exec.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    exec.hwnd = LauncherWindow;
    exec.lpVerb = "runas";
    exec.lpFile = self;
    exec.lpParameters = parameters;
    exec.nShow = SW_HIDE;
    if (!Platform.shellExecuteEx(&exec)) return Platform.getLastError(); // ERROR_CANCELLED too
    if (!exec.hProcess) return ERROR_INVALID_HANDLE;

    DWORD status = WAIT_TIMEOUT;
    if (Platform.waitForSingleObject(exec.hProcess, kElevatedWriteWaitMs) == WAIT_OBJECT_0 &&
        !Platform.getExitCodeProcess(exec.hProcess, &status))
        status = Platform.getLastError();
    Platform.closeHandle(exec.hProcess);
    return status;
}

namespace {

void ShowStoredAutoRun() {
    const bool on =
        ClassifyAutoRun(RegReadInteger(kSettingsKey, kAutorunValue)) == AutoRunState::On;
    CheckMenuItem(LauncherMenu, IDM_AUTO_RUN, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
}

} // namespace

void ToggleAutoRun() {
    const UINT state = GetMenuState(LauncherMenu, IDM_AUTO_RUN, MF_BYCOMMAND);
    const bool wasChecked = state != static_cast<UINT>(-1) && (state & MF_CHECKED) != 0;
    const int wanted = ToggledAutoRunValue(wasChecked);
    if (RegWriteInteger(kSettingsKey, kAutorunValue, wanted) == ERROR_ACCESS_DENIED)
        WriteAutoRunElevated(wanted); // a declined prompt leaves everything as it was
    // The check mark shows what the registry holds now, whatever happened.
    ShowStoredAutoRun();
}

// ---- icon -----------------------------------------------------------------

bool NotifyTrayIcon(DWORD message) {
    NOTIFYICONDATAA data;
    std::memset(&data, 0, sizeof data);
    data.cbSize = NOTIFYICONDATAA_V2_SIZE;
    data.hWnd = LauncherWindow;
    data.uID = 0;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = WM_LAUNCHER_TRAY;
    data.hIcon = LoadIconA(ProgramInstance, kIconName);
    std::memcpy(data.szTip, kLauncherTitle, sizeof kLauncherTitle);
    return Platform.shellNotifyIcon(message, &data) != FALSE;
}

void PlaceTrayIcon() {
    Platform.killTimer(LauncherWindow, kTrayRetryTimer);
    TrayRetries = 0;
    if (!NotifyTrayIcon(NIM_ADD))
        Platform.setTimer(LauncherWindow, kTrayRetryTimer, TrayRetryDelayMs(0), nullptr);
}

void RetryTrayIcon() {
    ++TrayRetries;
    // A NIM_ADD that failed on the shell's time-out may have placed the icon
    // all the same: then changing it succeeds, and it is there.
    if (NotifyTrayIcon(NIM_MODIFY) || NotifyTrayIcon(NIM_ADD)) {
        Platform.killTimer(LauncherWindow, kTrayRetryTimer);
        return;
    }
    Platform.setTimer(LauncherWindow, kTrayRetryTimer, TrayRetryDelayMs(TrayRetries), nullptr);
}

void RegisterLauncherMessages() {
    TaskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
    BringForwardMessage = RegisterWindowMessageA(velotune::protocol::kMsgPanelBringForward);
    OpenPanelMessage = RegisterWindowMessageA(velotune::protocol::kMsgLauncherOpenPanel);
}

// ---- window ---------------------------------------------------------------

namespace {

void GreyItem(UINT id) {
    EnableMenuItem(LauncherMenu, id, MF_BYCOMMAND | MF_GRAYED | MF_DISABLED);
}

HMENU LoadLauncherMenu() {
    if (Platform.getSystemDefaultLangID() == kKoreanLangId) {
        // Resources only: no code of the library ever runs. Systems that know
        // no image-resource loads refuse the flag and take a plain data file.
        // The library is kept for the whole run.
        const char* file = MenuLibraryPath;
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
    return LoadMenuA(ProgramInstance, kMenuName);
}

// The About request returns when the panel's box closes, so it has no time
// limit; a panel that is already hung is not waited for.
void AskPanelForAbout() {
    HWND panel = Platform.findWindow(kPanelClass, kPanelTitle);
    if (!panel) return;
    // The box takes the keyboard only if the panel may take the foreground.
    AllowPanelForeground(panel);
    DWORD_PTR result = 0;
    Platform.sendMessageTimeout(panel, WM_PANEL_SHOW_ABOUT, 0, 0, SMTO_ABORTIFHUNG, INFINITE,
                                &result);
}

// Exit's close request is bounded: a hung or stopped panel does not keep the
// launcher from ending.
void ClosePanel() {
    HWND panel = Platform.findWindow(kPanelClass, kPanelTitle);
    if (!panel) return;
    DWORD_PTR result = 0;
    if (Platform.sendMessageTimeout(panel, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG,
                                    velotune::protocol::kSendTimeoutMs, &result))
        return;
    // Busy in a drive command, or hung: the request waits in its queue, and
    // the panel closes once its command returns.
    Platform.postMessage(panel, WM_CLOSE, 0, 0);
}

} // namespace

void OnLauncherCreate(HWND hwnd, const CREATESTRUCTA* create) {
    // Already here, so that the consent prompt of the start below has its owner.
    LauncherWindow = hwnd;
    ProgramInstance = create->hInstance;
    LauncherMenu = GetSubMenu(LoadLauncherMenu(), 0);

    switch (ClassifyAutoRun(RegReadInteger(kSettingsKey, kAutorunValue))) {
    case AutoRunState::Unavailable:
        GreyItem(IDM_AUTO_RUN);
        break;
    case AutoRunState::Off:
        CheckMenuItem(LauncherMenu, IDM_AUTO_RUN, MF_BYCOMMAND | MF_UNCHECKED);
        break;
    case AutoRunState::On:
        CheckMenuItem(LauncherMenu, IDM_AUTO_RUN, MF_BYCOMMAND | MF_CHECKED);
        break;
    }
    // About stays grey until the speed panel reports its window.
    GreyItem(IDM_ABOUT);

    // An elevated launcher still hears a restarted shell, which runs unelevated.
    if (TaskbarCreatedMessage)
        Platform.changeWindowMessageFilterEx(hwnd, TaskbarCreatedMessage, MSGFLT_ALLOW, nullptr);
    // So does a second launcher's request to open the panel.
    if (OpenPanelMessage)
        Platform.changeWindowMessageFilterEx(hwnd, OpenPanelMessage, MSGFLT_ALLOW, nullptr);

    if (!AutorunStart) StartSpeedPanel();
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
        Platform.killTimer(LauncherWindow, kTrayRetryTimer);
        NotifyTrayIcon(NIM_DELETE);
        ClosePanel();
        Platform.postQuitMessage(0);
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
        Platform.getCursorPos(&at);
        Platform.setForegroundWindow(hwnd);
        Platform.trackPopupMenu(LauncherMenu, 0, at.x, at.y, 0, hwnd, nullptr);
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
        Platform.killTimer(hwnd, kTrayRetryTimer);
        NotifyTrayIcon(NIM_DELETE);
        Platform.postQuitMessage(0);
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
        EnableMenuItem(LauncherMenu, IDM_ABOUT, MF_BYCOMMAND | MF_ENABLED);
        EndPanelStart(); // its window is there
        return 0;
    case WM_TIMER:
        if (wParam == kTrayRetryTimer) RetryTrayIcon();
        return 0;
    default:
        break;
    }
    // A restarted shell asks every program to place its icons again.
    if (TaskbarCreatedMessage != 0 && message == TaskbarCreatedMessage) {
        PlaceTrayIcon();
        return 0;
    }
    if (OpenPanelMessage != 0 && message == OpenPanelMessage) {
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
    if (InstanceMutex) Platform.closeHandle(InstanceMutex);
    InstanceMutex = nullptr;
}

// Takes the one-copy name; false when another copy holds it.
bool TakeInstanceName() {
    InstanceMutex = Platform.createMutex(nullptr, FALSE, velotune::protocol::kLauncherMutex);
    return !velotune::MutexSaysAnotherCopy(InstanceMutex != nullptr, Platform.getLastError());
}

// The single-instance rule. Returns the running launcher's window, or nullptr
// when this copy is the first. A copy that finds the name taken but no window
// within the wait ends quietly (*end).
HWND FindRunningLauncher(bool* end) {
    *end = false;
    if (TakeInstanceName()) return Platform.findWindow(nullptr, kLauncherTitle);
    if (HWND running = velotune::WaitForWindow(
            [] { return Platform.findWindow(nullptr, kLauncherTitle); },
            [](unsigned ms) { Platform.sleep(ms); }, velotune::protocol::kSecondCopyWaitMs))
        return running;
    // The copy that held the name may have ended since, at the logon gate:
    // let go of this copy's handle and try once more to be the one copy.
    ReleaseInstanceName();
    if (TakeInstanceName()) return Platform.findWindow(nullptr, kLauncherTitle);
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

    std::memset(&StartInfo, 0, sizeof StartInfo);
    std::memset(&ProcessInfo, 0, sizeof ProcessInfo);
    StartInfo.cb = sizeof StartInfo;
    StartInfo.dwFlags = STARTF_USESHOWWINDOW;
    StartInfo.wShowWindow = SW_SHOWNORMAL;
    AutorunStart = IsAutorunStart(commandLine);
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
    if (AutorunStart && LogonGateEndsStart(true, RegReadInteger(kSettingsKey, kAutorunValue))) {
        ReleaseInstanceName();
        return 0;
    }

    HWND hwnd = CreateWindowExA(
        0, kLauncherTitle, kLauncherTitle, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
    if (!hwnd) return 0;
    UpdateWindow(hwnd);
    LauncherWindow = hwnd;
    PlaceTrayIcon();

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}

} // namespace launcher
