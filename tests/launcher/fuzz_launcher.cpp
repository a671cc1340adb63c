// Fuzz target over the launcher's plain functions: the paths built from any
// Run value and the first argument cut from any command line.
#include "launcher/launcherlogic.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

bool EndsWith(const std::string& s, const char* tail) {
    const std::size_t n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace launcher;
    // The input as a zero-terminated text, in a block of its own size so that
    // any read past it is caught.
    std::string text(reinterpret_cast<const char*>(data), size);
    const std::string value = text.c_str();

    char panel[kPathSize];
    char library[kPathSize];
    const bool fromRun = BuildInstallPaths(text.c_str(), panel, library);
    Check(std::memchr(panel, '\0', kPathSize) != nullptr);
    Check(std::memchr(library, '\0', kPathSize) != nullptr);
    const std::string p = panel, l = library;
    Check(EndsWith(p, kPanelFileName));
    Check(EndsWith(l, kMenuLibraryFileName));
    // Both paths share one folder, which is empty or ends in a backslash.
    const std::string folder = p.substr(0, p.size() - std::strlen(kPanelFileName));
    Check(l == folder + kMenuLibraryFileName);
    Check(folder.empty() || folder.back() == '\\');
    if (!fromRun) Check(folder.empty());
    // The folder is taken from the value, less a leading quote.
    const std::string source = !value.empty() && value[0] == '"' ? value.substr(1) : value;
    Check(source.compare(0, folder.size(), folder) == 0);
    Check(folder.find('"') == std::string::npos || value[0] != '"');

    char arg[64];
    FirstArgument(text.c_str(), arg, sizeof arg);
    Check(std::strlen(arg) < sizeof arg);
    std::string lowered = arg;
    AsciiLower(lowered.data());
    Check(IsAutorunStart(text.c_str()) == (lowered == kAutorunArgument));
    return 0;
}
