// The launcher's registry reads and writes, and the Auto Run setting with
// its elevated fallback.
#include "launcher/launcher.h"

#include <cstring>

namespace launcher {

// ---- registry -------------------------------------------------------------

bool RegReadString(const char* key, const char* name, char* text) {
    HKEY handle = nullptr;
    if (Registry.openKey(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    text[0] = '\0';
    DWORD type = 0;
    DWORD size = 0;
    if (Registry.queryValue(handle, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ) && size > 0 && size <= kPathSize) {
        // One byte more than the block, so data without a zero still ends inside.
        char data[kPathSize + 1] = {};
        DWORD got = kPathSize;
        if (Registry.queryValue(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(data),
                                &got) == ERROR_SUCCESS &&
            (type == REG_SZ || type == REG_EXPAND_SZ) && got <= kPathSize) {
            data[got] = '\0';
            const std::size_t length = std::strlen(data);
            // A text of kPathSize characters would leave no room for the zero.
            if (length < kPathSize) std::memcpy(text, data, length + 1);
        }
    }
    Registry.closeKey(handle);
    return true;
}

int RegReadInteger(const char* key, const char* name) {
    HKEY handle = nullptr;
    if (Registry.openKey(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return -1;
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    const LSTATUS status =
        Registry.queryValue(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    Registry.closeKey(handle);
    if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) return -1;
    return static_cast<int>(value);
}

LSTATUS RegWriteInteger(const char* key, const char* name, int value) {
    HKEY handle = nullptr;
    DWORD disposition = 0;
    // A standard user's launcher is refused here (ERROR_ACCESS_DENIED): HKLM
    // takes writes from elevated programs only.
    const LSTATUS opened =
        Registry.createKey(HKEY_LOCAL_MACHINE, key, 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &handle, &disposition);
    if (opened != ERROR_SUCCESS) return opened;
    // Deleting first replaces a value of any other type by a REG_DWORD.
    Registry.deleteValue(handle, name);
    const DWORD data = static_cast<DWORD>(value);
    const LSTATUS written = Registry.setValue(handle, name, 0, REG_DWORD,
                                              reinterpret_cast<const BYTE*>(&data), sizeof data);
    Registry.closeKey(handle);
    return written;
}

// ---- Auto Run ---------------------------------------------------------------

DWORD WriteAutoRunElevated(int value) {
    char self[kPathSize];
    const DWORD length = Process.moduleFileName(nullptr, self, sizeof self);
    if (length == 0 || length >= sizeof self) return ERROR_FILENAME_EXCED_RANGE;
    char parameters[sizeof kSetAutorunArgument + 1];
    std::memcpy(parameters, kSetAutorunArgument, sizeof kSetAutorunArgument - 1);
    parameters[sizeof kSetAutorunArgument - 1] = value ? '1' : '0';
    parameters[sizeof kSetAutorunArgument] = '\0';

    SHELLEXECUTEINFOA exec = {};
    exec.cbSize = sizeof exec;
    exec.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    exec.hwnd = Program.window;
    exec.lpVerb = "runas";
    exec.lpFile = self;
    exec.lpParameters = parameters;
    exec.nShow = SW_HIDE;
    if (!Process.shellExecute(&exec)) return Process.lastError(); // ERROR_CANCELLED too
    if (!exec.hProcess) return ERROR_INVALID_HANDLE;

    DWORD status = WAIT_TIMEOUT;
    if (Process.wait(exec.hProcess, kElevatedWriteWaitMs) == WAIT_OBJECT_0 &&
        !Process.exitCode(exec.hProcess, &status))
        status = Process.lastError();
    Process.closeHandle(exec.hProcess);
    return status;
}

namespace {

void ShowStoredAutoRun() {
    const bool on =
        ClassifyAutoRun(RegReadInteger(kSettingsKey, kAutorunValue)) == AutoRunState::On;
    CheckMenuItem(Program.menu, IDM_AUTO_RUN, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
}

} // namespace

void ToggleAutoRun() {
    const UINT state = GetMenuState(Program.menu, IDM_AUTO_RUN, MF_BYCOMMAND);
    const bool wasChecked = state != static_cast<UINT>(-1) && (state & MF_CHECKED) != 0;
    const int wanted = ToggledAutoRunValue(wasChecked);
    if (RegWriteInteger(kSettingsKey, kAutorunValue, wanted) == ERROR_ACCESS_DENIED)
        WriteAutoRunElevated(wanted); // a declined prompt leaves everything as it was
    // The check mark shows what the registry holds now, whatever happened.
    ShowStoredAutoRun();
}

} // namespace launcher
