#include "launcher/launcherlogic.h"

#include <cstring>

namespace launcher {

void KeepDirectory(char* path) {
    char* cut = std::strrchr(path, '\\');
    if (cut)
        cut[1] = '\0';
    else
        path[0] = '\0';
}

namespace {

// Copies src into dst (kPathSize bytes) when it fits, terminating zero included.
bool CopyFits(char* dst, const char* src, std::size_t srcLen) {
    if (srcLen >= kPathSize) return false;
    std::memcpy(dst, src, srcLen);
    dst[srcLen] = '\0';
    return true;
}

bool AppendFits(char* dst, const char* tail) {
    const std::size_t have = std::strlen(dst);
    const std::size_t add = std::strlen(tail);
    if (have + add >= kPathSize) return false;
    std::memcpy(dst + have, tail, add + 1);
    return true;
}

void UseBareNames(char* panelPath, char* libraryPath) {
    std::memcpy(panelPath, kPanelFileName, sizeof kPanelFileName);
    std::memcpy(libraryPath, kMenuLibraryFileName, sizeof kMenuLibraryFileName);
}

} // namespace

bool BuildInstallPaths(const char* runValue, char* panelPath, char* libraryPath) {
    if (!runValue) {
        UseBareNames(panelPath, libraryPath);
        return false;
    }
    // The value must fit the block it is read into: at most kPathSize - 1 characters.
    const char* end = static_cast<const char*>(std::memchr(runValue, '\0', kPathSize));
    if (!end) {
        UseBareNames(panelPath, libraryPath);
        return false;
    }
    const char* start = runValue;
    if (*start == '"') {
        // "C:\Program Files\Velotune\Velotray.exe" /autorun: the folder lies inside the quotes.
        ++start;
        const char* close = std::strchr(start, '"');
        if (close) end = close;
    }
    char directory[kPathSize];
    if (!CopyFits(directory, start, static_cast<std::size_t>(end - start))) {
        UseBareNames(panelPath, libraryPath);
        return false;
    }
    KeepDirectory(directory);
    std::memcpy(panelPath, directory, std::strlen(directory) + 1);
    std::memcpy(libraryPath, directory, std::strlen(directory) + 1);
    if (!AppendFits(panelPath, kPanelFileName) || !AppendFits(libraryPath, kMenuLibraryFileName)) {
        UseBareNames(panelPath, libraryPath);
        return false;
    }
    return true;
}

void AsciiLower(char* text) {
    for (; *text; ++text)
        if (*text >= 'A' && *text <= 'Z') *text = static_cast<char>(*text - 'A' + 'a');
}

namespace {

bool IsSeparator(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

// Reads one argument starting at p; writes it to out when out is not null.
// Returns the position after the argument.
const char* ReadArgument(const char* p, char* out, std::size_t outSize) {
    std::size_t n = 0;
    bool quoted = false;
    for (; *p && (quoted || !IsSeparator(*p)); ++p) {
        if (*p == '"') {
            quoted = !quoted;
            continue;
        }
        if (out && n + 1 < outSize) out[n++] = *p;
    }
    if (out && outSize > 0) out[n] = '\0';
    return p;
}

const char* SkipSeparators(const char* p) {
    while (*p && IsSeparator(*p))
        ++p;
    return p;
}

} // namespace

void FirstArgument(const char* commandLine, char* out, std::size_t outSize) {
    if (outSize > 0) out[0] = '\0';
    if (!commandLine) return;
    const char* p = SkipSeparators(commandLine);
    p = ReadArgument(p, nullptr, 0); // the program name
    p = SkipSeparators(p);
    if (*p) ReadArgument(p, out, outSize);
}

bool IsAutorunStart(const char* commandLine) {
    // One byte more than "/autorun" holds, so a longer argument never compares equal.
    char arg[sizeof kAutorunArgument + 1];
    FirstArgument(commandLine, arg, sizeof arg);
    AsciiLower(arg);
    return std::strcmp(arg, kAutorunArgument) == 0;
}

bool ParseSetAutorun(const char* commandLine, int* value) {
    constexpr std::size_t prefix = sizeof kSetAutorunArgument - 1;
    // Room for one character more than the argument has, so a longer one never matches.
    char arg[prefix + 3];
    FirstArgument(commandLine, arg, sizeof arg);
    AsciiLower(arg);
    if (std::strncmp(arg, kSetAutorunArgument, prefix) != 0) return false;
    const char* digit = arg + prefix;
    if ((digit[0] != '0' && digit[0] != '1') || digit[1] != '\0') return false;
    if (value) *value = digit[0] - '0';
    return true;
}

AutoRunState ClassifyAutoRun(int storedValue) {
    if (storedValue == -1) return AutoRunState::Unavailable;
    return storedValue == 0 ? AutoRunState::Off : AutoRunState::On;
}

bool LogonGateEndsStart(bool autorunStart, int storedValue) {
    return autorunStart && ClassifyAutoRun(storedValue) == AutoRunState::Off;
}

int ToggledAutoRunValue(bool wasChecked) {
    return wasChecked ? 0 : 1;
}

unsigned TrayRetryDelayMs(unsigned retriesDone) {
    // At logon the shell's notification area is usually ready within the first
    // minutes; after that a slow retry costs nothing.
    const unsigned long long waited =
        static_cast<unsigned long long>(retriesDone) * kTrayRetryFastMs;
    return waited < kTrayRetryFastForMs ? kTrayRetryFastMs : kTrayRetrySlowMs;
}

} // namespace launcher
