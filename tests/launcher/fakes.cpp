#include "fakes.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace launcher;

namespace launcher_fakes {

int EventLog::Count(const std::string& event) const {
    int n = 0;
    for (const auto& e : events)
        n += e == event;
    return n;
}

std::string Dword(DWORD value) {
    return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

namespace {

FakeRegistry* reg = nullptr;
FakeMessages* msg = nullptr;
FakeProcess* proc = nullptr;
FakeIcon* icon = nullptr;

// ---- registry -------------------------------------------------------------

HKEY HandleFor(const std::string& key) {
    reg->openKeys.push_back(key);
    ++reg->opens;
    return reinterpret_cast<HKEY>(static_cast<INT_PTR>(0x1000 + reg->openKeys.size()));
}

const std::string& KeyOf(HKEY handle) {
    return reg->openKeys.at(reinterpret_cast<INT_PTR>(handle) - 0x1001);
}

LSTATUS WINAPI OpenKey(HKEY root, LPCSTR key, DWORD, REGSAM access, PHKEY out) {
    if (root != HKEY_LOCAL_MACHINE || access != KEY_READ || !reg->keys.count(key))
        return ERROR_FILE_NOT_FOUND;
    *out = HandleFor(key);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI QueryValue(HKEY handle, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                          LPDWORD size) {
    if (reserved) return ERROR_INVALID_PARAMETER;
    auto& values = reg->keys[KeyOf(handle)];
    auto it = values.find(name);
    if (it == values.end()) return ERROR_FILE_NOT_FOUND;
    if (type) *type = it->second.type;
    const DWORD need = static_cast<DWORD>(it->second.bytes.size());
    if (!data) {
        *size = need;
        return ERROR_SUCCESS;
    }
    if (*size < need) {
        *size = need;
        return ERROR_MORE_DATA;
    }
    std::memcpy(data, it->second.bytes.data(), need);
    *size = need;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI CreateKey(HKEY root, LPCSTR key, DWORD, LPSTR, DWORD options, REGSAM access,
                         const LPSECURITY_ATTRIBUTES, PHKEY out, LPDWORD) {
    reg->log.events.push_back("create " + std::string(key));
    if (root != HKEY_LOCAL_MACHINE || options != REG_OPTION_NON_VOLATILE ||
        !(access & KEY_SET_VALUE))
        return ERROR_INVALID_PARAMETER;
    if (reg->standardUser) return ERROR_ACCESS_DENIED; // whatever the access asked for
    if (reg->createFailure != ERROR_SUCCESS) return reg->createFailure;
    reg->keys[key];
    *out = HandleFor(key);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI DeleteValue(HKEY handle, LPCSTR name) {
    reg->log.events.push_back("delete " + std::string(name));
    return reg->keys[KeyOf(handle)].erase(name) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LSTATUS WINAPI SetValue(HKEY handle, LPCSTR name, DWORD, DWORD type, const BYTE* data, DWORD size) {
    reg->log.events.push_back("set " + std::string(name));
    reg->keys[KeyOf(handle)][name] = {type, std::string(reinterpret_cast<const char*>(data), size)};
    return ERROR_SUCCESS;
}

LSTATUS WINAPI CloseKey(HKEY) {
    ++reg->closes;
    return ERROR_SUCCESS;
}

// ---- messages -------------------------------------------------------------

HWND WINAPI FindWindowFake(LPCSTR className, LPCSTR title) {
    const std::string want = title ? title : "";
    if (!className && want == kLauncherTitle) return msg->launcherFound;
    if (className && std::string(className) == kPanelClass && want == kPanelTitle) {
        msg->log.events.push_back("find panel");
        return msg->panelFound;
    }
    return nullptr;
}

LRESULT WINAPI SendTimeout(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT flags,
                           UINT timeout, PDWORD_PTR result) {
    msg->log.events.push_back("send " + std::to_string(message));
    EXPECT_EQ(wParam, 0u);
    EXPECT_EQ(lParam, 0);
    msg->sent.push_back({hwnd, message});
    msg->sendFlags.push_back(flags);
    msg->sendTimeouts.push_back(timeout);
    if (result) *result = 0;
    if (!msg->sendResult && proc) proc->lastError = ERROR_TIMEOUT;
    return msg->sendResult;
}

BOOL WINAPI Post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    msg->log.events.push_back("post " + std::to_string(message));
    EXPECT_EQ(wParam, 0u);
    EXPECT_EQ(lParam, 0);
    msg->sent.push_back({hwnd, message});
    return msg->postResult;
}

VOID WINAPI PostQuit(int code) {
    msg->log.events.push_back("quit " + std::to_string(code));
    if (msg->realQuit) PostQuitMessage(code);
}

DWORD WINAPI WindowProcess(HWND hwnd, LPDWORD process) {
    if (process) *process = msg->ProcessOf(hwnd);
    return 1;
}

BOOL WINAPI AllowForeground(DWORD process) {
    if (!msg->MayTakeForeground()) {
        msg->log.events.push_back("allow " + std::to_string(process) + " refused");
        return FALSE;
    }
    msg->log.events.push_back("allow " + std::to_string(process));
    msg->foregroundAllowed = process;
    return TRUE;
}

BOOL WINAPI SetForeground(HWND hwnd) {
    msg->foregrounds.push_back(hwnd);
    if (!msg->MayTakeForeground()) {
        msg->log.events.push_back("foreground refused");
        return FALSE;
    }
    msg->log.events.push_back("foreground");
    // The window's process owns the foreground now; an allowance is used up.
    msg->foregroundOwner = msg->ProcessOf(hwnd);
    msg->foregroundAllowed = 0;
    return TRUE;
}

BOOL WINAPI AllowMessage(HWND, UINT message, DWORD action, void*) {
    msg->filtered.push_back({message, action});
    return TRUE;
}

// ---- processes ------------------------------------------------------------

bool StartsInForeground() {
    return !proc->messages || proc->messages->MayTakeForeground();
}

BOOL WINAPI Create(LPCSTR app, LPSTR commandLine, LPSECURITY_ATTRIBUTES process,
                   LPSECURITY_ATTRIBUTES thread, BOOL inherit, DWORD flags, LPVOID environment,
                   LPCSTR directory, LPSTARTUPINFOA startup, LPPROCESS_INFORMATION info) {
    // A process started by the foreground process may take the foreground.
    proc->log.events.push_back(StartsInForeground() ? "start" : "start in the background");
    proc->commandLines.push_back(commandLine);
    proc->appNameNull.push_back(app == nullptr);
    EXPECT_EQ(process, nullptr);
    EXPECT_EQ(thread, nullptr);
    EXPECT_FALSE(inherit);
    EXPECT_EQ(flags, 0u);
    EXPECT_EQ(environment, nullptr);
    EXPECT_EQ(directory, nullptr);
    EXPECT_EQ(info->hProcess, nullptr); // zeroed before each start
    proc->lastStartInfo = *startup;
    if (!proc->createResult && proc->createError) proc->lastError = proc->createError;
    if (proc->createResult && proc->giveProcess) info->hProcess = kPanelProcess;
    return proc->createResult;
}

DWORD WINAPI LastError() {
    return proc->lastError;
}

BOOL WINAPI ShellExec(SHELLEXECUTEINFOA* info) {
    const std::string verb = info->lpVerb ? info->lpVerb : "";
    proc->log.events.push_back("shell start " + verb +
                               (StartsInForeground() ? "" : " in the background"));
    proc->shellOwner = info->hwnd;
    proc->shellFiles.push_back(info->lpFile ? info->lpFile : "");
    proc->shellVerbs.push_back(verb);
    proc->shellParameters.push_back(info->lpParameters ? info->lpParameters : "");
    proc->shellMask = info->fMask;
    proc->shellShow = info->nShow;
    if (verb != "runas") {
        if (proc->duringPrompt) std::exchange(proc->duringPrompt, nullptr)();
        if (proc->prompt == FakeProcess::Prompt::Cancelled) {
            proc->lastError = ERROR_CANCELLED;
            return FALSE;
        }
        if ((info->fMask & SEE_MASK_NOCLOSEPROCESS) && proc->giveProcess)
            info->hProcess = kPanelProcess;
        return TRUE;
    }
    switch (proc->prompt) {
    case FakeProcess::Prompt::Cancelled:
        proc->lastError = ERROR_CANCELLED;
        return FALSE;
    case FakeProcess::Prompt::ShellFails:
        proc->lastError = ERROR_FILE_NOT_FOUND;
        return FALSE;
    case FakeProcess::Prompt::HelperFails:
        proc->helperExit = ERROR_INVALID_FUNCTION;
        break;
    case FakeProcess::Prompt::RunsHelper: {
        // The launcher itself, elevated, with the arguments it was given.
        EXPECT_NE(proc->registry, nullptr);
        const bool wasStandard = proc->registry && proc->registry->standardUser;
        const std::vector<std::string> before = proc->log.events;
        if (proc->registry) proc->registry->standardUser = false;
        const std::string line = std::string("\"") + info->lpFile + "\" " + info->lpParameters;
        proc->helperExit =
            static_cast<DWORD>(LauncherMain(GetModuleHandleA(nullptr), line.c_str()));
        if (proc->registry) proc->registry->standardUser = wasStandard;
        proc->log.events = before;
        proc->log.events.push_back("helper ran");
        break;
    }
    }
    if (info->fMask & SEE_MASK_NOCLOSEPROCESS) info->hProcess = kHelperProcess;
    return TRUE;
}

DWORD WINAPI ModuleFileName(HMODULE, LPSTR name, DWORD size) {
    if (size < sizeof kSelfPath) return 0;
    std::memcpy(name, kSelfPath, sizeof kSelfPath);
    return sizeof kSelfPath - 1;
}

DWORD WINAPI Wait(HANDLE handle, DWORD ms) {
    if (handle == kPanelProcess) {
        EXPECT_EQ(ms, 0u); // only looked at, never waited for
        return proc->panelEnded ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    }
    EXPECT_EQ(handle, kHelperProcess);
    proc->waitedMs = ms;
    return WAIT_OBJECT_0;
}

DWORD WINAPI WaitIdle(HANDLE handle, DWORD ms) {
    EXPECT_EQ(handle, kPanelProcess);
    EXPECT_NE(ms, INFINITE);
    proc->log.events.push_back("wait idle");
    ++proc->idleWaits;
    proc->idleWaitedMs += ms;
    if (proc->whileWaiting) proc->whileWaiting();
    return proc->idleResult;
}

BOOL WINAPI ExitCode(HANDLE handle, LPDWORD code) {
    EXPECT_EQ(handle, kHelperProcess);
    *code = proc->helperExit;
    return TRUE;
}

BOOL WINAPI CloseHandleFake(HANDLE handle) {
    proc->closedHandles.push_back(handle);
    return TRUE;
}

HANDLE WINAPI CreateMutexFake(LPSECURITY_ATTRIBUTES attributes, BOOL owner, LPCSTR name) {
    EXPECT_EQ(attributes, nullptr);
    EXPECT_FALSE(owner);
    proc->mutexName = name ? name : "";
    const bool later = proc->mutexCalls++ > 0 && proc->laterMutexError != 0xFFFFFFFF;
    proc->lastError = later ? proc->laterMutexError : proc->mutexError;
    if (later) return proc->laterMutexError == ERROR_ACCESS_DENIED ? nullptr : proc->mutexResult;
    return proc->mutexResult;
}

HANDLE WINAPI OpenMutexFake(DWORD access, BOOL inherit, LPCSTR name) {
    EXPECT_EQ(access, static_cast<DWORD>(SYNCHRONIZE));
    EXPECT_FALSE(inherit);
    proc->openedMutexes.push_back(name ? name : "");
    proc->lastError = proc->panelMutex;
    return proc->panelMutex == 0 ? kPanelMutex : nullptr;
}

VOID WINAPI SleepFake(DWORD ms) {
    ++proc->sleeps;
    proc->sleptMs += ms;
    if (proc->sleeps == proc->windowAfterSleeps && proc->messages)
        proc->messages->launcherFound = kOtherLauncher;
    if (proc->whileWaiting) proc->whileWaiting();
}

// ---- icon -----------------------------------------------------------------

BOOL WINAPI Notify(DWORD message, PNOTIFYICONDATAA data) {
    icon->log.events.push_back(message == NIM_ADD      ? "icon add"
                               : message == NIM_DELETE ? "icon delete"
                               : message == NIM_MODIFY ? "icon modify"
                                                       : "icon other");
    icon->iconMessages.push_back(message);
    icon->icons.push_back(*data);
    if (message == NIM_ADD && icon->postExitOnAdd)
        PostMessageA(data->hWnd, WM_COMMAND, IDM_EXIT, 0);
    if (message == NIM_ADD && icon->addRefusals > 0) {
        --icon->addRefusals;
        if (icon->placedAnyway) icon->iconThere = true;
        return FALSE;
    }
    if (message == NIM_MODIFY) return icon->iconThere;
    icon->iconThere = message == NIM_ADD;
    return TRUE;
}

UINT_PTR WINAPI SetTimerFake(HWND hwnd, UINT_PTR id, UINT ms, TIMERPROC timerProc) {
    EXPECT_EQ(hwnd, Program.window);
    EXPECT_EQ(id, kTrayRetryTimer);
    EXPECT_EQ(timerProc, nullptr);
    icon->timerMs.push_back(ms);
    icon->timerOn = true;
    return id;
}

BOOL WINAPI KillTimerFake(HWND, UINT_PTR id) {
    EXPECT_EQ(id, kTrayRetryTimer);
    icon->timerOn = false;
    return TRUE;
}

BOOL WINAPI CursorPos(LPPOINT at) {
    *at = icon->cursor;
    return TRUE;
}

BOOL WINAPI Track(HMENU menu, UINT flags, int x, int y, int, HWND owner, const RECT*) {
    icon->log.events.push_back("track");
    icon->trackedMenu = menu;
    icon->trackFlags = flags;
    icon->trackX = x;
    icon->trackY = y;
    icon->trackOwner = owner;
    return TRUE;
}

LANGID WINAPI Language() {
    return icon->lang;
}

} // namespace

FakeRegistry::FakeRegistry(EventLog& events) : log(events) {
    reg = this;
    Registry = {.openKey = OpenKey,
                .queryValue = QueryValue,
                .createKey = CreateKey,
                .deleteValue = DeleteValue,
                .setValue = SetValue,
                .closeKey = CloseKey};
}

FakeRegistry::~FakeRegistry() {
    Registry = RegistryCalls{};
    reg = nullptr;
}

FakeMessages::FakeMessages(EventLog& events) : log(events) {
    msg = this;
    Messages = {.findWindow = FindWindowFake,
                .sendTimeout = SendTimeout,
                .post = Post,
                .postQuit = PostQuit,
                .windowProcess = WindowProcess,
                .allowForeground = AllowForeground,
                .setForeground = SetForeground,
                .allowMessage = AllowMessage};
}

FakeMessages::~FakeMessages() {
    Messages = MessageCalls{};
    msg = nullptr;
}

bool FakeMessages::MayTakeForeground() const {
    const DWORD self = GetCurrentProcessId();
    return foregroundOwner == self || foregroundAllowed == self;
}

DWORD FakeMessages::ProcessOf(HWND hwnd) const {
    if (hwnd == kPanelWindow) return panelProcess;
    if (hwnd == kOtherLauncher) return kOtherLauncherProcess;
    return GetCurrentProcessId();
}

FakeProcess::FakeProcess(EventLog& events) : log(events) {
    proc = this;
    Process = {.create = Create,
               .shellExecute = ShellExec,
               .lastError = LastError,
               .moduleFileName = ModuleFileName,
               .wait = Wait,
               .waitIdle = WaitIdle,
               .exitCode = ExitCode,
               .closeHandle = CloseHandleFake,
               .createMutex = CreateMutexFake,
               .openMutex = OpenMutexFake,
               .sleep = SleepFake};
}

FakeProcess::~FakeProcess() {
    Process = ProcessCalls{};
    proc = nullptr;
}

FakeIcon::FakeIcon(EventLog& events) : log(events) {
    icon = this;
    Icon = {.notify = Notify,
            .setTimer = SetTimerFake,
            .killTimer = KillTimerFake,
            .getCursorPos = CursorPos,
            .trackPopupMenu = Track,
            .systemLanguage = Language};
}

FakeIcon::~FakeIcon() {
    Icon = IconCalls{};
    icon = nullptr;
}

} // namespace launcher_fakes
