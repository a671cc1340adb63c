// The speed panel's paths and its start: a running panel brought forward,
// a start pending until the panel reports, the elevated start, and the
// hand-over of a second launcher.
#include "launcher/launcher.h"

#include <cstring>

namespace launcher {

// ---- paths and process start ----------------------------------------------

void BuildLauncherPaths() {
    char text[kPathSize];
    const bool found = RegReadString(kRunKey, kRunValue, text);
    if (BuildInstallPaths(found ? text : nullptr, Paths.speedPanel, Paths.menuLibrary) &&
        std::strchr(Paths.speedPanel, '\\') != nullptr)
        return;
    // No usable Run value (a hand install, the zip) or one without a folder:
    // the files beside this launcher, by their full paths. A bare name would be looked for in the
    // current directory by the shell's elevated start.
    char self[kPathSize];
    const DWORD length = Process.moduleFileName(nullptr, self, sizeof self);
    if (length > 0 && length < sizeof self)
        BuildInstallPaths(self, Paths.speedPanel, Paths.menuLibrary);
}

void AllowPanelForeground(HWND panel) {
    DWORD process = 0;
    Messages.windowProcess(panel, &process);
    if (process) Messages.allowForeground(process);
}

namespace {

// A running panel is asked to come forward: starting a second copy would cost
// a consent prompt only for it to hand over and end. Returns false when no
// panel runs.
bool BringRunningPanelForward() {
    HWND panel = Messages.findWindow(kPanelClass, kPanelTitle);
    if (!panel) return false;
    AllowPanelForeground(panel);
    // Posted: the panel's restore runs discovery, which may take a while.
    if (Registered.bringForward) Messages.post(panel, Registered.bringForward, 0, 0);
    return true;
}

// Keeps what a start gave: the started process while the start is still
// pending (no 1027 came while the call ran), or nothing.
void KeepPanelStart(bool started, HANDLE process) {
    if (started && process && PanelStart.pending) {
        PanelStart.process = process;
        return;
    }
    if (process) Process.closeHandle(process);
    if (!started || !process) PanelStart.pending = false;
}

// Starts the panel's process. Nothing waits for it, but until the panel's
// window reports (1027) or the process ends, the start is pending: a second
// request in that gap, while the consent prompt is up too, starts nothing.
void StartPanelProcess() {
    std::memset(&PanelStart.startInfo, 0, sizeof PanelStart.startInfo);
    std::memset(&PanelStart.processInfo, 0, sizeof PanelStart.processInfo);
    PanelStart.startInfo.cb = sizeof PanelStart.startInfo;
    PanelStart.startInfo.dwFlags = STARTF_USESHOWWINDOW;
    PanelStart.startInfo.wShowWindow = SW_SHOWNORMAL;
    EndPanelStart();
    PanelStart.pending = true;

    // Quoted, so that a folder with a blank ("C:\Program Files\...") is taken whole.
    char commandLine[kPathSize + 2];
    const char* end = static_cast<const char*>(std::memchr(Paths.speedPanel, '\0', kPathSize - 1));
    const std::size_t pathLength = end ? end - Paths.speedPanel : kPathSize - 1;
    commandLine[0] = '"';
    std::memcpy(commandLine + 1, Paths.speedPanel, pathLength);
    commandLine[pathLength + 1] = '"';
    commandLine[pathLength + 2] = '\0';
    if (Process.create(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &PanelStart.startInfo, &PanelStart.processInfo)) {
        if (PanelStart.processInfo.hThread) Process.closeHandle(PanelStart.processInfo.hThread);
        KeepPanelStart(true, PanelStart.processInfo.hProcess);
        return;
    }
    if (Process.lastError() != kErrorElevationRequired) {
        PanelStart.pending = false;
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
    exec.hwnd = Program.window;
    exec.lpVerb = "open";
    exec.lpFile = Paths.speedPanel;
    exec.nShow = SW_SHOWNORMAL;
    const bool started = Process.shellExecute(&exec) != FALSE;
    KeepPanelStart(started, started ? exec.hProcess : nullptr);
}

} // namespace

bool PanelStartIsPending() {
    if (!PanelStart.pending) return false;
    if (PanelStart.process && Process.wait(PanelStart.process, 0) != WAIT_TIMEOUT) {
        EndPanelStart(); // ended before its window reported, a second copy included
        return false;
    }
    return true;
}

void EndPanelStart() {
    if (PanelStart.process) Process.closeHandle(PanelStart.process);
    PanelStart.process = nullptr;
    PanelStart.pending = false;
}

HWND WaitForStartingPanel() {
    constexpr DWORD kStepMs = 50;
    for (DWORD waited = 0;; waited += kStepMs) {
        HWND panel = Messages.findWindow(kPanelClass, kPanelTitle);
        // This launcher's start is over once the window has reported; closing
        // it before then would reach a panel still in its window's creation.
        const bool reporting = PanelStartIsPending() && PanelStart.process;
        if (panel && !reporting) return panel;
        if (!panel && !reporting && !PanelMutexExists()) return nullptr; // none is starting
        if (waited >= velotune::protocol::kSendTimeoutMs) return panel;
        // The wait for the started process handles its report (1027) as it
        // comes. An idle process without a window yet, an ended one, or a
        // start this launcher has no handle of, is looked at again shortly.
        if (!reporting || Process.waitIdle(PanelStart.process, kStepMs) != WAIT_TIMEOUT)
            Process.sleep(kStepMs);
    }
}

bool PanelMutexExists() {
    HANDLE mutex = Process.openMutex(SYNCHRONIZE, FALSE, velotune::protocol::kPanelMutex);
    if (mutex) {
        Process.closeHandle(mutex);
        return true;
    }
    // An elevated panel's mutex refuses a standard user's launcher: it exists.
    return Process.lastError() == ERROR_ACCESS_DENIED;
}

void StartSpeedPanel() {
    Messages.setForeground(Messages.findWindow(nullptr, kLauncherTitle));
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
        !(Registered.openPanel && Messages.post(running, Registered.openPanel, 0, 0)) &&
        !PanelMutexExists())
        StartPanelProcess();
    Messages.setForeground(running);
}

} // namespace launcher
