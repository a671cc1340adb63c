// garbage: the drive layer against a drive that answers the status read with
// garbage, for every reply length (0 to 255 bytes transferred) and every value
// of byte 1, through the real pass-through path (DeviceIoControl on drive
// letter L, played by the simulated drive whose file is FILE).
//
//   garbage L FILE
//
// Every reply must leave the panel in a state the panel can show: a status line
// that is one of the two mode texts or "Current Speed = " and a number 0 to 255,
// a speed list of at most 253 decimal entries 0 to 255, and a selection inside
// the list. Prints "cases: N, bad: M" and exits with 1 when any case is bad.
#include "drive/speedcontrol.h"
#include "tests/fakes/fakepanel.h"

#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool IsNumber0To255(const char* text) {
    if (!*text) return false;
    int v = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') return false;
        v = v * 10 + (*p - '0');
        if (v > 255) return false;
    }
    return true;
}

// What the panel shows must be one of its own texts.
std::string Problem(const vt_test::FakePanel& panel) {
    const std::string& s = panel.status;
    if (s != "Current Speed = High Speed Mode" && s != "Current Speed = Silence Mode") {
        const std::string prefix = "Current Speed = ";
        if (s.rfind(prefix, 0) != 0) return "status line \"" + s + "\"";
        std::string number = s.substr(prefix.size());
        if (!number.empty() && number[0] == ' ') number.erase(0, 1);
        if (!IsNumber0To255(number.c_str())) return "status line \"" + s + "\"";
    }
    if (panel.speeds.size() > 253) return "speed list of " + std::to_string(panel.speeds.size());
    for (const std::string& e : panel.speeds)
        if (!IsNumber0To255(e.c_str())) return "speed entry \"" + e + "\"";
    if (panel.speedIndex >= static_cast<int>(panel.speeds.size()) || panel.speedIndex < -1)
        return "speed selection " + std::to_string(panel.speedIndex);
    return "";
}

bool WriteDrive(const char* file, const std::string& text) {
    HANDLE h = CreateFileA(file, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(h);
    return ok && written == text.size();
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::printf("usage: garbage LETTER FILE\n");
        return 2;
    }
    const char* file = argv[2];
    if (!WriteDrive(file, "kind=twomode\nmode=high\nvendor=TRELVIX\nproduct=GARBAGE\n")) {
        std::printf("error: cannot write %s\n", file);
        return 2;
    }
    vt_test::FakePanel panel;
    velotune::SpeedControl control(panel);
    control.DiscoverDrives();
    if (panel.drives.size() != 1) {
        std::printf("error: %d drives found\n", static_cast<int>(panel.drives.size()));
        return 2;
    }
    unsigned seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return static_cast<unsigned>((seed >> 16) & 0xFF);
    };
    int cases = 0, bad = 0;
    char hex[4];
    for (int length = 0; length <= 255; ++length) {
        for (int byte1 = 0; byte1 <= 255; ++byte1) {
            std::string reply;
            for (int i = 0; i < length; ++i) {
                unsigned v = next();
                if (i == 0) v = (byte1 & 1) ? 0 : v; // half of them with byte 0 = 0
                if (i == 1) v = static_cast<unsigned>(byte1);
                std::snprintf(hex, sizeof hex, "%02x ", v);
                reply += hex;
            }
            std::string text = "kind=twomode\nstatus_len=" + std::to_string(length) + "\n";
            if (length > 0) text += "status_hex=" + reply + "\n";
            if (!WriteDrive(file, text)) {
                std::printf("error: cannot write %s\n", file);
                return 2;
            }
            // a fresh presentation for every case, so every reply builds its list
            panel.groupEnabled = false;
            control.RefreshSpeedStatus();
            ++cases;
            const std::string problem = Problem(panel);
            if (!problem.empty()) {
                if (++bad <= 20)
                    std::printf("bad: length %d byte1 %d: %s\n", length, byte1, problem.c_str());
            }
        }
    }
    // Still a working drive layer afterwards.
    WriteDrive(file, "kind=twomode\nmode=silence\n");
    control.RefreshSpeedStatus();
    if (panel.status != "Current Speed = Silence Mode") {
        std::printf("bad: after the garbage, a good reply shows \"%s\"\n", panel.status.c_str());
        ++bad;
    }
    std::printf("cases: %d, bad: %d\n", cases, bad);
    return bad ? 1 : 0;
}
