// Decisions of the launcher that need no window and no handle: the two
// installation paths built from the Run entry, the first command-line
// argument, and the meaning of the stored "autorun" setting. Nothing here
// includes the platform headers, so these functions build and run anywhere.
#pragma once

#include <cstddef>

namespace launcher {

// Size of the path buffers and of the block the Run value is read into.
inline constexpr std::size_t kPathSize = 1024;

inline constexpr char kPanelFileName[] = "TrelvixVelotune.exe";
inline constexpr char kMenuLibraryFileName[] = "Velotray.kor";
inline constexpr char kAutorunArgument[] = "/autorun";
// First argument of the launcher's elevated helper run, followed by 0 or 1.
inline constexpr char kSetAutorunArgument[] = "/setautorun:";

// Cuts a zero-terminated path after its last backslash, in place; the
// directory keeps its trailing backslash. Without a backslash the path
// becomes empty.
void KeepDirectory(char* path);

// Builds the speed panel's path and the menu library's path from the text of
// the Run entry (nullptr when there is none). Both outputs are kPathSize
// bytes. A value that begins with a double quote contributes only its quoted
// stretch. A value that does not fit, or whose composed paths do not fit, is
// treated like a missing one: both paths become the bare file names.
// Returns false when the bare names were used.
bool BuildInstallPaths(const char* runValue, char* panelPath, char* libraryPath);

// Lower-cases 'A' to 'Z' in place; every other byte stays.
void AsciiLower(char* text);

// Copies the first argument after the program name out of a whole command
// line (as the process received it) into out (outSize bytes, zero-terminated,
// cut to fit). Arguments are separated by blanks and control characters, a
// double-quoted stretch may hold blanks and the quotes are dropped.
void FirstArgument(const char* commandLine, char* out, std::size_t outSize);

// True when the first argument, lower-cased in ASCII, is exactly "/autorun".
bool IsAutorunStart(const char* commandLine);

// True when the first argument is the helper's "/setautorun:0" or
// "/setautorun:1" (ASCII case ignored); value receives 0 or 1.
bool ParseSetAutorun(const char* commandLine, int* value);

// The three states of the stored "autorun" setting.
enum class AutoRunState {
    Unavailable, // no product key (read as -1): the item is grey
    Off,         // 0
    On,          // any other value
};

AutoRunState ClassifyAutoRun(int storedValue);

// The logon gate: a start with "/autorun" ends at once when the setting is off.
bool LogonGateEndsStart(bool autorunStart, int storedValue);

// The value the Auto Run toggle writes, given whether the item was checked.
int ToggledAutoRunValue(bool wasChecked);

// The wait before the next try to place the tray icon, after retriesDone
// failed tries: every 2 s for the first 2 minutes, then every 30 s.
inline constexpr unsigned kTrayRetryFastMs = 2000;
inline constexpr unsigned kTrayRetrySlowMs = 30000;
inline constexpr unsigned kTrayRetryFastForMs = 120000;
unsigned TrayRetryDelayMs(unsigned retriesDone);

} // namespace launcher
