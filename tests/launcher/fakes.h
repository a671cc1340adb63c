// Recording fakes of the launcher's four platform seams. Each one installs
// itself when made and puts the system's functions back when it goes, so a
// test takes only the seams it exercises. They write what they saw into one
// shared EventLog, in order.
#pragma once

#include "launcher/launcher.h"

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace launcher_fakes {

struct EventLog {
    std::vector<std::string> events;
    int Count(const std::string& event) const;
};

struct RegValue {
    DWORD type;
    std::string bytes;
};

// Four bytes of a REG_DWORD.
std::string Dword(DWORD value);

// HKEY_LOCAL_MACHINE: key path (as the program names it) -> value name -> value.
struct FakeRegistry {
    explicit FakeRegistry(EventLog& log);
    ~FakeRegistry();
    FakeRegistry(const FakeRegistry&) = delete;
    FakeRegistry& operator=(const FakeRegistry&) = delete;

    EventLog& log;
    std::map<std::string, std::map<std::string, RegValue>> keys;
    std::vector<std::string> openKeys; // by handle number - 1
    int opens = 0, closes = 0;
    // Windows refuses HKLM writes to a launcher that runs without elevation.
    bool standardUser = false;
    LSTATUS createFailure = ERROR_SUCCESS; // any other failure of the key creation
};

// Window lookup, messages and the foreground rule.
struct FakeMessages {
    explicit FakeMessages(EventLog& log);
    ~FakeMessages();
    FakeMessages(const FakeMessages&) = delete;
    FakeMessages& operator=(const FakeMessages&) = delete;

    // Only the process that owns the foreground, or one it allowed, may set
    // it or pass it on.
    bool MayTakeForeground() const;
    DWORD ProcessOf(HWND hwnd) const;

    EventLog& log;
    HWND launcherFound = nullptr;
    HWND panelFound = nullptr;
    DWORD panelProcess = 4711;
    // This test program starts as the owner, as a launcher the user started does.
    DWORD foregroundOwner = GetCurrentProcessId();
    DWORD foregroundAllowed = 0;
    std::vector<HWND> foregrounds;
    std::vector<std::pair<HWND, UINT>> sent; // sent and posted
    std::vector<UINT> sendFlags, sendTimeouts;
    LRESULT sendResult = 1;
    BOOL postResult = TRUE;
    std::vector<std::pair<UINT, DWORD>> filtered;
    bool realQuit = false; // PostQuitMessage is passed on, ending a message loop
};

// Process start, the consent prompt, waits, handles and the one-copy names.
// With messages set, a start records whether it may take the foreground and
// sleeps can make the other launcher's window show; with registry set, the
// elevated helper runs with the rights to write.
struct FakeProcess {
    explicit FakeProcess(EventLog& log);
    ~FakeProcess();
    FakeProcess(const FakeProcess&) = delete;
    FakeProcess& operator=(const FakeProcess&) = delete;

    EventLog& log;
    FakeMessages* messages = nullptr;
    FakeRegistry* registry = nullptr;
    std::vector<std::string> commandLines;
    std::vector<bool> appNameNull;
    STARTUPINFOA lastStartInfo = {};
    BOOL createResult = TRUE;
    DWORD createError = 0; // GetLastError after a failed start, when set
    DWORD lastError = 0;
    std::vector<std::string> shellFiles, shellVerbs, shellParameters;
    ULONG shellMask = 0;
    int shellShow = 0;
    HWND shellOwner = nullptr;
    // The consent prompt: the helper runs elevated, the user declines, the
    // helper ends with a failure of its own, or the shell cannot start it.
    enum class Prompt {
        RunsHelper,
        Cancelled,
        HelperFails,
        ShellFails
    } prompt = Prompt::RunsHelper;
    DWORD helperExit = STILL_ACTIVE;
    // The panel's process as a start gives it, and what happens while the
    // consent prompt is up (messages sent to the launcher are handled then).
    bool giveProcess = false;
    bool panelEnded = false;
    std::function<void()> duringPrompt;
    // The panel's session mutex: ERROR_FILE_NOT_FOUND (none), 0 (opened) or
    // ERROR_ACCESS_DENIED (an elevated panel's).
    DWORD panelMutex = ERROR_FILE_NOT_FOUND;
    std::vector<std::string> openedMutexes;
    std::vector<HANDLE> closedHandles;
    DWORD waitedMs = 0;
    // The launcher's one-copy name.
    std::string mutexName;
    HANDLE mutexResult = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x6660));
    DWORD mutexError = 0;
    int mutexCalls = 0;
    DWORD laterMutexError = 0xFFFFFFFF; // from the second call on, when set
    int windowAfterSleeps = -1;         // the other launcher's window shows after this many sleeps
    int sleeps = 0;
    DWORD sleptMs = 0;
    // Waits for the started panel to take input: what each one answers, and
    // what happens during each one and each sleep (a window shows, it reports).
    DWORD idleResult = WAIT_TIMEOUT;
    int idleWaits = 0;
    DWORD idleWaitedMs = 0;
    std::function<void()> whileWaiting;
};

// The shell's icon, its retry timer and the popup menu.
struct FakeIcon {
    explicit FakeIcon(EventLog& log);
    ~FakeIcon();
    FakeIcon(const FakeIcon&) = delete;
    FakeIcon& operator=(const FakeIcon&) = delete;

    EventLog& log;
    std::vector<NOTIFYICONDATAA> icons;
    std::vector<DWORD> iconMessages;
    bool postExitOnAdd = false;
    // A shell not ready yet refuses this many NIM_ADDs; with placedAnyway the
    // refused call still placed the icon (it failed on its own time-out).
    int addRefusals = 0;
    bool placedAnyway = false;
    bool iconThere = false;
    std::vector<UINT> timerMs; // each SetTimer of the icon's retry
    bool timerOn = false;
    POINT cursor = {300, 400};
    HMENU trackedMenu = nullptr;
    int trackX = 0, trackY = 0;
    HWND trackOwner = nullptr;
    UINT trackFlags = 99;
    LANGID lang = 1033;
};

inline const HWND kPanelWindow = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x4242));
inline const HWND kOtherLauncher = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x5150));
inline const HANDLE kHelperProcess = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x7770));
inline const HANDLE kPanelProcess = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x7780));
inline const HANDLE kPanelMutex = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x7790));
inline constexpr DWORD kOtherLauncherProcess = 5150;
// The launcher's own path, as the fake process seam reports it.
inline constexpr char kSelfPath[] = "C:\\Program Files\\Velotune\\Velotray.exe";

} // namespace launcher_fakes
