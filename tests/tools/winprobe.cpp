// winprobe: reads and pokes the windows of other programs for the system tests.
//
//   winprobe COMMAND ARGS...   runs one command
//   winprobe serve             reads commands from stdin, one per line (words split
//                              at blanks, "double quotes" group words); each answer
//                              ends with a line "END rc=N" (see probe.sh)
//
// W below is a window: two words CLASS TITLE, "-" standing for any (as in
// FindWindowA), or a handle "0x1234" in place of CLASS (TITLE is then ignored).
// C is a child of W, named by one selector:
//   id=N             the control id
//   class=NAME[:K]   the K-th (0-based) descendant of that class
//   text=TEXT        the descendant whose text is TEXT ('&' markers ignored)
//   pos=X,Y          the descendant whose top-left corner lies at X,Y of the
//                    top-level window's client area (the layout's coordinates)
//
// Commands:
//   find W                       hwnd, exit 1 when there is none
//   info W                       class, title, styles, rects, parent/owner, topmost,
//                                visible, enabled, menu, region type/box/points
//   children W                   one line per descendant: class, id, text, pos, styles,
//                                visible, enabled, tabstop, checked, combo items/sel
//   child W C | text W C         one child (text: its text, items, checked state)
//   owned W                      top-level windows owned by W (About box, ...)
//   focus W                      active, focus and capture window of W's thread
//   send W MSG [WP LP [MS]]      SendMessage (waits for the handler), prints result
//   post W MSG [WP LP]           PostMessage
//   child-send / child-post W C MSG [WP LP]
//   click-button W C             posts BM_CLICK to a button
//   screen-pos W C               the child's centre in screen coordinates
//   setfg W                      SetForegroundWindow
//   region-pt W X Y              whether the window region holds X,Y
//   wait-window / wait-visible W [MS]   until the window exists / is visible
//   wait-gone / wait-hidden W [MS]      until it is gone / hidden (or gone)
//   wait-text W C TEXT [MS]      until the child shows TEXT
//   messagebox-wait TEXT CAPTION [MS]   a visible #32770 box with that caption and
//                                static text ("-": any); prints its texts and buttons
//   foreground                   the foreground window
//   taskbar                      the shell's taskbar buttons ("button" lines, as the
//                                Wine desktop shows them) and the windows that the
//                                Windows rule gives a button ("rule" lines)
//   toplevel                     every top-level window
//   screen-rect | cursor         screen size and work area | the cursor position
//   listen CLASS TITLE [MS]      a hidden stand-in window that prints each message
//                                >= WM_USER (and WM_CLOSE, WM_SYSCOMMAND) it gets,
//                                until WM_CLOSE or MS milliseconds
//   exe-icons PATH               the icon groups of a program file and their images
//   logon                        starts the command line of the machine's Run entry
//                                "Velotune" as the shell does at logon
//   exit-launcher                the launcher's Exit command; waits until it is gone
//   close-panel                  WM_CLOSE to the speed panel; waits until it is gone
//   hold SECONDS | release       keeps a hidden window (and so the desktop with its
//                                notification area) until "release" or the time is up
//   absent W                     no such window exists now
//   lock PATH                    opens the file without sharing and keeps it open until
//                                the probe ends (chain "; hold SECONDS": a file in use)
//   short PATH                   the path's 8.3 form ("short=...")
//   sddl PATH                    the owner and DACL of a file or folder as SDDL
//                                ("sddl=O:..D:.."), as GetNamedSecurityInfo reads them
//   set-sddl PATH SDDL           sets the owner and DACL that SDDL gives (protected when
//                                its DACL says P): a folder made by someone else
//   runline MS COMMAND_LINE      starts the command line as it stands (no quoting added),
//                                waits up to MS and prints its whole exit code
//                                ("exit=N"), which a Linux exit status cuts to 8 bits
//   control FORM NAME            the screen rectangle and centre of a control that the
//                                form draws itself, from the form's control table
//   sleep MS
//   anything else                a step command (steps.c: registry, tray, processes,
//                                "script FILE", ...)
//
// Commands may be chained in one start with a lone ";" between them; the first
// failing one ends the chain.
//
// Output is one key=value per line; lists print one line per entry with
// tab-separated key=value fields. Exit code 0 means found/done, 1 not found or
// timed out, 2 a usage error.

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include "common/protocol.h"

#include <fcntl.h>
#include <io.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" int vt_steps(int argc, char** argv);

namespace {

using Args = std::vector<std::string>;

void Out(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    std::vfprintf(stdout, format, ap);
    va_end(ap);
}

unsigned long Num(const std::string& s) {
    return std::strtoul(s.c_str(), nullptr, 0);
}

std::string Hex(ULONG_PTR v) {
    char b[32];
    std::snprintf(b, sizeof b, "0x%llX", static_cast<unsigned long long>(v));
    return b;
}

std::string Hex8(DWORD v) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%08lX", static_cast<unsigned long>(v));
    return b;
}

std::string ClassOf(HWND w) {
    char b[256] = {};
    GetClassNameA(w, b, sizeof b);
    return b;
}

// The window's text, asked of its owner thread (works across processes).
std::string TextOf(HWND w) {
    char b[1024] = {};
    DWORD_PTR r = 0;
    if (!SendMessageTimeoutA(w, WM_GETTEXT, sizeof b, reinterpret_cast<LPARAM>(b), SMTO_ABORTIFHUNG,
                             2000, &r))
        GetWindowTextA(w, b, sizeof b);
    // one line per value: replace line breaks
    for (char* p = b; *p; ++p)
        if (*p == '\r' || *p == '\n' || *p == '\t') *p = ' ';
    return b;
}

std::string StripAmp(const std::string& s) {
    std::string r;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '&' && i + 1 < s.size()) ++i;
        r += s[i];
    }
    return r;
}

bool SameText(const std::string& have, const std::string& want) {
    return have == want || StripAmp(have) == StripAmp(want);
}

std::string RectStr(const RECT& r) {
    char b[96];
    std::snprintf(b, sizeof b, "%ld,%ld,%ld,%ld", r.left, r.top, r.right, r.bottom);
    return b;
}

// Left, top, width and height of a child relative to the top-level window's client area.
std::string PosIn(HWND child, HWND top) {
    RECT r;
    GetWindowRect(child, &r);
    POINT o = {0, 0};
    ClientToScreen(top, &o);
    char b[96];
    std::snprintf(b, sizeof b, "%ld,%ld,%ld,%ld", r.left - o.x, r.top - o.y, r.right - r.left,
                  r.bottom - r.top);
    return b;
}

HWND WindowOf(const std::string& cls, const std::string& title) {
    if (cls.size() > 2 && cls[0] == '0' && (cls[1] == 'x' || cls[1] == 'X')) {
        HWND w = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(std::strtoull(cls.c_str(), 0, 0)));
        return IsWindow(w) ? w : nullptr;
    }
    return FindWindowA(cls == "-" ? nullptr : cls.c_str(), title == "-" ? nullptr : title.c_str());
}

std::vector<HWND> Descendants(HWND w) {
    std::vector<HWND> v;
    EnumChildWindows(
        w,
        [](HWND c, LPARAM p) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(p)->push_back(c);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&v));
    return v;
}

std::vector<HWND> TopLevel() {
    std::vector<HWND> v;
    EnumWindows(
        [](HWND c, LPARAM p) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(p)->push_back(c);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&v));
    return v;
}

HWND ChildOf(HWND w, const std::string& sel) {
    if (!w) return nullptr;
    std::vector<HWND> all = Descendants(w);
    if (sel.rfind("id=", 0) == 0) {
        int id = static_cast<int>(Num(sel.substr(3)));
        for (HWND c : all)
            if (GetDlgCtrlID(c) == id) return c;
    } else if (sel.rfind("class=", 0) == 0) {
        std::string name = sel.substr(6);
        int k = 0;
        size_t colon = name.rfind(':');
        if (colon != std::string::npos) {
            k = std::atoi(name.c_str() + colon + 1);
            name.resize(colon);
        }
        for (HWND c : all)
            if (lstrcmpiA(ClassOf(c).c_str(), name.c_str()) == 0 && k-- == 0) return c;
    } else if (sel.rfind("text=", 0) == 0) {
        for (HWND c : all)
            if (SameText(TextOf(c), sel.substr(5))) return c;
    } else if (sel.rfind("pos=", 0) == 0) {
        std::string want = sel.substr(4);
        for (HWND c : all) {
            std::string pos = PosIn(c, w);
            if (pos.rfind(want + ",", 0) == 0) return c;
        }
    }
    return nullptr;
}

LRESULT Send(HWND w, UINT msg, WPARAM wp, LPARAM lp, bool* ok = nullptr) {
    DWORD_PTR r = 0;
    SetLastError(0);
    BOOL done = SendMessageTimeoutA(w, msg, wp, lp, SMTO_NORMAL, 10000, &r);
    if (ok) *ok = done != 0 || GetLastError() == 0; // see "send" below
    return static_cast<LRESULT>(r);
}

bool IsButtonWithCheck(HWND c) {
    if (lstrcmpiA(ClassOf(c).c_str(), "Button") != 0) return false;
    LONG t = GetWindowLongA(c, GWL_STYLE) & BS_TYPEMASK;
    return t == BS_CHECKBOX || t == BS_AUTOCHECKBOX || t == BS_RADIOBUTTON ||
           t == BS_AUTORADIOBUTTON || t == BS_3STATE || t == BS_AUTO3STATE;
}

bool IsCombo(HWND c) {
    return lstrcmpiA(ClassOf(c).c_str(), "ComboBox") == 0;
}

std::vector<std::string> ComboItems(HWND c) {
    std::vector<std::string> items;
    LRESULT n = Send(c, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i >= 0 && i < n && i < 64; ++i) {
        // asked in UTF-16: Wine converts the ANSI form wrongly across processes
        wchar_t wb[512] = {};
        char b[1024] = {};
        LRESULT len = Send(c, CB_GETLBTEXTLEN, i, 0);
        DWORD_PTR r = 0;
        if (len >= 0 && len < 512)
            SendMessageTimeoutW(c, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(wb), SMTO_NORMAL,
                                10000, &r);
        WideCharToMultiByte(CP_ACP, 0, wb, -1, b, sizeof b, nullptr, nullptr);
        items.push_back(b);
    }
    return items;
}

const char* RegionType(int t) {
    switch (t) {
    case NULLREGION:
        return "null";
    case SIMPLEREGION:
        return "simple";
    case COMPLEXREGION:
        return "complex";
    default:
        return "none";
    }
}

void PrintInfo(HWND w) {
    RECT wr, cr;
    GetWindowRect(w, &wr);
    GetClientRect(w, &cr);
    LONG style = GetWindowLongA(w, GWL_STYLE);
    LONG ex = GetWindowLongA(w, GWL_EXSTYLE);
    DWORD pid = 0;
    DWORD tid = GetWindowThreadProcessId(w, &pid);
    Out("hwnd=%s\n", Hex(reinterpret_cast<ULONG_PTR>(w)).c_str());
    Out("class=%s\n", ClassOf(w).c_str());
    Out("title=%s\n", TextOf(w).c_str());
    Out("style=%s\n", Hex8(style).c_str());
    Out("exstyle=%s\n", Hex8(ex).c_str());
    Out("popup=%d\n", (style & WS_POPUP) ? 1 : 0);
    Out("caption=%d\n", (style & WS_CAPTION) == WS_CAPTION ? 1 : 0);
    Out("rect=%s\n", RectStr(wr).c_str());
    Out("x=%ld\ny=%ld\n", wr.left, wr.top);
    Out("width=%ld\nheight=%ld\n", wr.right - wr.left, wr.bottom - wr.top);
    Out("client=%ldx%ld\n", cr.right, cr.bottom);
    Out("parent=%s\n", Hex(reinterpret_cast<ULONG_PTR>(GetAncestor(w, GA_PARENT))).c_str());
    Out("parent_is_desktop=%d\n", GetAncestor(w, GA_PARENT) == GetDesktopWindow() ? 1 : 0);
    Out("owner=%s\n", Hex(reinterpret_cast<ULONG_PTR>(GetWindow(w, GW_OWNER))).c_str());
    Out("topmost=%d\n", (ex & WS_EX_TOPMOST) ? 1 : 0);
    Out("visible=%d\n", IsWindowVisible(w) ? 1 : 0);
    Out("enabled=%d\n", IsWindowEnabled(w) ? 1 : 0);
    Out("iconic=%d\n", IsIconic(w) ? 1 : 0);
    Out("menu=%s\n", Hex(reinterpret_cast<ULONG_PTR>(GetMenu(w))).c_str());
    Out("thread=%lu\n", static_cast<unsigned long>(tid));
    Out("foreground=%d\n", GetForegroundWindow() == w ? 1 : 0);
    HRGN rgn = CreateRectRgn(0, 0, 0, 0);
    int type = GetWindowRgn(w, rgn);
    Out("region=%s\n", RegionType(type));
    if (type == SIMPLEREGION || type == COMPLEXREGION) {
        RECT box;
        GetRgnBox(rgn, &box);
        Out("region_box=%s\n", RectStr(box).c_str());
        // the corners and a point just inside each rounded corner
        LONG W = wr.right - wr.left, H = wr.bottom - wr.top;
        POINT pts[] = {{0, 0}, {W - 1, 0}, {0, H - 1}, {W - 1, H - 1}, {1, 1},     {W - 2, H - 2},
                       {4, 4}, {W - 5, 4}, {4, H - 5}, {W - 5, H - 5}, {W / 2, 0}, {0, H / 2}};
        std::string in;
        for (const POINT& p : pts) {
            char b[48];
            std::snprintf(b, sizeof b, "%s%ld,%ld:%d", in.empty() ? "" : " ", p.x, p.y,
                          PtInRegion(rgn, p.x, p.y) ? 1 : 0);
            in += b;
        }
        Out("region_points=%s\n", in.c_str());
    }
    DeleteObject(rgn);
    // Under Wine 8 neither WM_GETICON nor GetClassLongPtr answers for another
    // process's window; "exe-icons" reads the program's icon resources instead.
    HICON big = reinterpret_cast<HICON>(Send(w, WM_GETICON, ICON_BIG, 0));
    Out("icon_big=%d\n", big ? 1 : 0);
    if (!big) big = reinterpret_cast<HICON>(GetClassLongPtrA(w, GCLP_HICON));
    Out("icon=%d\n", big ? 1 : 0);
    ICONINFO ii;
    if (big && GetIconInfo(big, &ii)) {
        BITMAP bm = {};
        GetObjectA(ii.hbmColor ? ii.hbmColor : ii.hbmMask, sizeof bm, &bm);
        Out("icon_size=%ldx%ld\n", bm.bmWidth, ii.hbmColor ? bm.bmHeight : bm.bmHeight / 2);
        if (ii.hbmColor) DeleteObject(ii.hbmColor);
        if (ii.hbmMask) DeleteObject(ii.hbmMask);
    }
}

void PrintChild(HWND c, HWND top, int index) {
    LONG style = GetWindowLongA(c, GWL_STYLE);
    Out("child\tindex=%d\thwnd=%s\tclass=%s\tid=%d\ttext=%s\tpos=%s\tstyle=%s\texstyle=%s"
        "\tvisible=%d\tenabled=%d\ttabstop=%d\tparent=%s",
        index, Hex(reinterpret_cast<ULONG_PTR>(c)).c_str(), ClassOf(c).c_str(), GetDlgCtrlID(c),
        TextOf(c).c_str(), PosIn(c, top).c_str(), Hex8(style).c_str(),
        Hex8(GetWindowLongA(c, GWL_EXSTYLE)).c_str(), IsWindowVisible(c) ? 1 : 0,
        IsWindowEnabled(c) ? 1 : 0, (style & WS_TABSTOP) ? 1 : 0, ClassOf(GetParent(c)).c_str());
    if (IsButtonWithCheck(c)) Out("\tchecked=%d", static_cast<int>(Send(c, BM_GETCHECK, 0, 0)));
    if (IsCombo(c)) {
        std::string items;
        for (const std::string& s : ComboItems(c))
            items += (items.empty() ? "" : "|") + s;
        Out("\tcount=%d\tsel=%d\titems=%s", static_cast<int>(Send(c, CB_GETCOUNT, 0, 0)),
            static_cast<int>(Send(c, CB_GETCURSEL, 0, 0)), items.c_str());
    }
    Out("\n");
}

void PrintBrief(const char* prefix, HWND w) {
    Out("%shwnd=%s\n", prefix, Hex(reinterpret_cast<ULONG_PTR>(w)).c_str());
    if (!w) return;
    Out("%sclass=%s\n", prefix, ClassOf(w).c_str());
    Out("%stitle=%s\n", prefix, TextOf(w).c_str());
}

// Waits until test() holds; polls every 50 ms. Returns false on timeout.
template <class F> bool WaitFor(unsigned long timeoutMs, F test) {
    DWORD start = GetTickCount();
    for (;;) {
        if (test()) return true;
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(50);
    }
}

// A message box (#32770) with that caption whose static text is TEXT ("-": any).
HWND FindMessageBox(const std::string& text, const std::string& caption) {
    for (HWND w : TopLevel()) {
        if (ClassOf(w) != "#32770" || !IsWindowVisible(w)) continue;
        if (caption != "-" && TextOf(w) != caption) continue;
        if (text == "-") return w;
        for (HWND c : Descendants(w))
            if (lstrcmpiA(ClassOf(c).c_str(), "Static") == 0 && TextOf(c) == text) return w;
    }
    return nullptr;
}

struct TaskbarEntry {
    HWND window;
    HWND button;
};

// The buttons of the shell's taskbar: the Wine desktop keeps one button window
// per top-level window, with the window handle as its control id, and shows the
// button while the window is visible and has no owner.
std::vector<TaskbarEntry> WineTaskbar() {
    std::vector<TaskbarEntry> v;
    HWND tray = FindWindowA("Shell_TrayWnd", nullptr);
    if (!tray) return v;
    for (HWND b : Descendants(tray)) {
        if (lstrcmpiA(ClassOf(b).c_str(), "Button") != 0 || !IsWindowVisible(b)) continue;
        HWND w = reinterpret_cast<HWND>(static_cast<LONG_PTR>(GetWindowLongPtrA(b, GWLP_ID)));
        if (w && IsWindow(w)) v.push_back({w, b});
    }
    return v;
}

// The Windows rule: a visible top-level window gets a button when it is unowned
// and not a tool window, or when it has WS_EX_APPWINDOW.
bool HasTaskbarButtonByRule(HWND w) {
    if (!IsWindowVisible(w)) return false;
    LONG ex = GetWindowLongA(w, GWL_EXSTYLE);
    if (ex & WS_EX_APPWINDOW) return true;
    return !GetWindow(w, GW_OWNER) && !(ex & WS_EX_TOOLWINDOW);
}

// "listen": a stand-in window that logs what other programs send it.
LRESULT CALLBACK ListenProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg >= WM_USER || msg == WM_CLOSE || msg == WM_SYSCOMMAND) {
        Out("msg=%u wp=%llu lp=%lld\n", msg, static_cast<unsigned long long>(wp),
            static_cast<long long>(lp));
        std::fflush(stdout);
    }
    if (msg == WM_CLOSE) {
        DestroyWindow(w);
        return 0;
    }
    if (msg == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcA(w, msg, wp, lp);
}

int Listen(const std::string& cls, const std::string& title, unsigned long timeoutMs) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = ListenProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = cls.c_str();
    if (!RegisterClassA(&wc)) return 1;
    HWND w = CreateWindowExA(0, cls.c_str(), title.c_str(), WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                             wc.hInstance, nullptr);
    if (!w) return 1;
    Out("listening=%s\n", Hex(reinterpret_cast<ULONG_PTR>(w)).c_str());
    std::fflush(stdout);
    SetTimer(nullptr, 0, timeoutMs, nullptr);
    MSG m;
    while (GetMessageA(&m, nullptr, 0, 0) > 0) {
        if (m.message == WM_TIMER && !m.hwnd) break;
        DispatchMessageA(&m);
    }
    Out("ended=1\n");
    return 0;
}

// "exe-icons": the icon groups of a program file and the images each holds.
#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
struct GroupIconDir {
    WORD reserved, type, count;
    GroupIconEntry entries[1];
};
#pragma pack(pop)

int ExeIcons(const std::string& path) {
    HMODULE m = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!m) {
        Out("error=%lu\n", static_cast<unsigned long>(GetLastError()));
        return 1;
    }
    EnumResourceNamesA(
        m, RT_GROUP_ICON,
        [](HMODULE mod, LPCSTR, LPSTR name, LONG_PTR) -> BOOL {
            HRSRC r = FindResourceA(mod, name, RT_GROUP_ICON);
            auto* dir =
                r ? static_cast<const GroupIconDir*>(LockResource(LoadResource(mod, r))) : nullptr;
            if (!dir) return TRUE;
            std::string id = IS_INTRESOURCE(name)
                                 ? std::to_string(reinterpret_cast<ULONG_PTR>(name))
                                 : std::string(name);
            Out("group\tname=%s\timages=%u", id.c_str(), dir->count);
            for (WORD i = 0; i < dir->count; ++i) {
                const GroupIconEntry& e = dir->entries[i];
                Out("\timage=%ux%u,%ubpp,%ucolours", e.width ? e.width : 256,
                    e.height ? e.height : 256, e.bitCount, e.colours);
            }
            Out("\n");
            return TRUE;
        },
        0);
    FreeLibrary(m);
    return 0;
}

int Usage() {
    Out("error=usage\n");
    return 2;
}

// ---- the setup tests' steps ----------------------------------------------------------

using velotune::protocol::kPanelClass;
using velotune::protocol::kPanelTitle;
using velotune::protocol::kRunKey;
using velotune::protocol::kRunValue;
constexpr const char* kLauncherWindow = velotune::protocol::kLauncherTitle;
constexpr WPARAM kIdmExit = 103;
constexpr char kHolderWindow[] = "Velotune Test Desktop Holder";

bool WaitPresence(const char* cls, const char* title, DWORD ms, bool present) {
    const ULONGLONG end = GetTickCount64() + ms;
    for (;;) {
        if ((FindWindowA(cls, title) != nullptr) == present) return true;
        if (GetTickCount64() >= end) return false;
        Sleep(50);
    }
}

// The shell expands variables in Run entries and starts the line as it stands.
int StartLogonEntry() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_READ | KEY_WOW64_64KEY, &key) !=
        ERROR_SUCCESS) {
        Out("error=no Run key\n");
        return 1;
    }
    char value[2048] = {};
    DWORD size = sizeof value - 1, type = 0;
    const LSTATUS read =
        RegQueryValueExA(key, kRunValue, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    if (read != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        Out("error=no Run entry\n");
        return 1;
    }
    std::string command(32768, '\0');
    const DWORD n =
        ExpandEnvironmentStringsA(value, command.data(), static_cast<DWORD>(command.size()));
    if (n == 0 || n > command.size()) return 1;
    Out("logon=%s\n", command.c_str());
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi)) {
        Out("error=CreateProcess %lu\n", static_cast<unsigned long>(GetLastError()));
        return 1;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return 0;
}

// Sends a message to a window, if there is one, and waits until it is gone.
int SendAndWaitGone(const char* cls, const char* title, UINT message, WPARAM wparam) {
    HWND window = FindWindowA(cls, title);
    if (window == nullptr) return 0;
    DWORD_PTR result = 0;
    SendMessageTimeoutA(window, message, wparam, 0, SMTO_NORMAL, 10000, &result);
    return WaitPresence(cls, title, 10000, false) ? 0 : 1;
}

LRESULT CALLBACK HolderProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

int Hold(double seconds) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = HolderProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kHolderWindow;
    if (!RegisterClassA(&wc)) return 1;
    HWND window = CreateWindowExA(0, kHolderWindow, kHolderWindow, WS_OVERLAPPED, 0, 0, 10, 10,
                                  nullptr, nullptr, wc.hInstance, nullptr);
    if (window == nullptr) return 1;
    SetTimer(window, 1, static_cast<UINT>(seconds * 1000.0), nullptr);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER) DestroyWindow(window);
        DispatchMessageA(&msg);
    }
    return 0;
}

int Run(const Args& a);

int Serve() {
    char line[4096];
    while (std::fgets(line, sizeof line, stdin)) {
        Args a;
        std::string cur;
        bool quoted = false, any = false;
        for (char* p = line; *p; ++p) {
            char ch = *p;
            if (ch == '"') {
                quoted = !quoted;
                any = true;
            } else if (!quoted && (ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n')) {
                if (any) a.push_back(cur);
                cur.clear();
                any = false;
            } else {
                cur += ch;
                any = true;
            }
        }
        if (any) a.push_back(cur);
        if (a.empty()) continue;
        if (a[0] == "quit") break;
        int rc = Run(a);
        Out("END rc=%d\n", rc);
        std::fflush(stdout);
    }
    return 0;
}

// "control": a self-drawn control's place on the screen, from the forms' control
// tables (controls.txt beside the probe, generated from the forms' sources).
int ControlPlace(const std::string& form, const std::string& name) {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (char* slash = std::strrchr(path, '\\')) slash[1] = '\0';
    std::strncat(path, "controls.txt", MAX_PATH - std::strlen(path) - 1);
    FILE* f = std::fopen(path, "r");
    if (!f) {
        Out("error=no %s\n", path);
        return 2;
    }
    char line[512];
    bool found = false;
    int x = 0, y = 0, w = 0, h = 0;
    while (!found && std::fgets(line, sizeof line, f)) {
        char fm[128], nm[128];
        if (std::sscanf(line, "%127s %127s %d %d %d %d", fm, nm, &x, &y, &w, &h) == 6 &&
            form == fm && name == nm)
            found = true;
    }
    std::fclose(f);
    if (!found) {
        Out("error=no control %s of %s\n", name.c_str(), form.c_str());
        return 2;
    }
    HWND win = FindWindowA(form.c_str(), nullptr);
    POINT origin{0, 0};
    if (!win || !ClientToScreen(win, &origin)) {
        Out("found=0\n");
        return 1;
    }
    Out("x=%ld\ny=%ld\nwidth=%d\nheight=%d\ncx=%ld\ncy=%ld\n", origin.x + x, origin.y + y, w, h,
        origin.x + x + w / 2, origin.y + y + h / 2);
    return 0;
}

// Commands of this file; every other one is a step command.
bool OwnCommand(const std::string& cmd) {
    static const char* const own[] = {
        "serve",       "sleep",       "screen-rect",  "cursor",
        "foreground",  "taskbar",     "toplevel",     "messagebox-wait",
        "exe-icons",   "listen",      "wait-window",  "wait-visible",
        "wait-gone",   "wait-hidden", "find",         "info",
        "children",    "owned",       "focus",        "setfg",
        "send",        "post",        "region-pt",    "child",
        "text",        "wait-text",   "click-button", "screen-pos",
        "child-send",  "child-post",  "logon",        "exit-launcher",
        "close-panel", "hold",        "release",      "absent",
        "control",     "lock",        "short",        "runline",
        "sddl",        "set-sddl"};
    for (const char* c : own)
        if (cmd == c) return true;
    return false;
}

constexpr SECURITY_INFORMATION kOwnerAndDacl = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

int ShowSddl(const std::string& path) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    const DWORD rc = GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, kOwnerAndDacl, nullptr,
                                           nullptr, nullptr, nullptr, &sd);
    if (rc != ERROR_SUCCESS) {
        Out("error=GetNamedSecurityInfo %lu\n", rc);
        return 1;
    }
    LPSTR text = nullptr;
    const BOOL ok = ConvertSecurityDescriptorToStringSecurityDescriptorA(sd, SDDL_REVISION_1,
                                                                         kOwnerAndDacl, &text, nullptr);
    if (ok) Out("sddl=%s\n", text);
    else Out("error=ConvertSecurityDescriptorToStringSecurityDescriptor %lu\n", GetLastError());
    LocalFree(text);
    LocalFree(sd);
    return ok ? 0 : 1;
}

int SetSddl(const std::string& path, const std::string& sddl) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &sd,
                                                              nullptr)) {
        Out("error=ConvertStringSecurityDescriptorToSecurityDescriptor %lu\n", GetLastError());
        return 1;
    }
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorOwner(sd, &owner, &defaulted);
    GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
    GetSecurityDescriptorControl(sd, &control, &revision);
    const SECURITY_INFORMATION info =
        kOwnerAndDacl | ((control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION
                                                       : UNPROTECTED_DACL_SECURITY_INFORMATION);
    const DWORD rc = SetNamedSecurityInfoA(const_cast<char*>(path.c_str()), SE_FILE_OBJECT, info,
                                           owner, nullptr, dacl, nullptr);
    LocalFree(sd);
    if (rc != ERROR_SUCCESS) {
        Out("error=SetNamedSecurityInfo %lu\n", rc);
        return 1;
    }
    return 0;
}

// A step command of steps.c, with the arguments as it takes them.
int Steps(const Args& a) {
    std::vector<char*> argv;
    for (const std::string& s : a)
        argv.push_back(const_cast<char*>(s.c_str()));
    argv.push_back(nullptr);
    std::fflush(stdout);
    const int rc = vt_steps(static_cast<int>(a.size()), argv.data());
    std::fflush(stdout);
    return rc;
}

int Run(const Args& a) {
    const std::string& cmd = a[0];
    size_t n = a.size();
    if (!OwnCommand(cmd)) return Steps(a);
    if (cmd == "serve") return Serve();
    if (cmd == "control" && n == 3) return ControlPlace(a[1], a[2]);
    if (cmd == "logon") return StartLogonEntry();
    if (cmd == "exit-launcher")
        return SendAndWaitGone(nullptr, kLauncherWindow, WM_COMMAND, kIdmExit);
    if (cmd == "close-panel") return SendAndWaitGone(kPanelClass, kPanelTitle, WM_CLOSE, 0);
    if (cmd == "hold" && n == 2) return Hold(std::strtod(a[1].c_str(), nullptr));
    if (cmd == "release") return SendAndWaitGone(kHolderWindow, kHolderWindow, WM_CLOSE, 0);
    if (cmd == "lock" && n == 2) {
        // Never closed: the file stays in use until the probe ends.
        const HANDLE file = CreateFileA(a[1].c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            Out("error=cannot open %s (%lu)\n", a[1].c_str(), GetLastError());
            return 1;
        }
        return 0;
    }
    if (cmd == "short" && n == 2) {
        char path[MAX_PATH] = {};
        const DWORD got = GetShortPathNameA(a[1].c_str(), path, MAX_PATH);
        if (got == 0 || got >= MAX_PATH) return 1;
        Out("short=%s\n", path);
        return 0;
    }
    if (cmd == "sddl" && n == 2) return ShowSddl(a[1]);
    if (cmd == "set-sddl" && n == 3) return SetSddl(a[1], a[2]);
    if (cmd == "runline" && n == 3) {
        std::string line = a[2];
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                            &pi)) {
            Out("error=cannot start (%lu)\n", GetLastError());
            return 1;
        }
        DWORD code = STILL_ACTIVE;
        if (WaitForSingleObject(pi.hProcess, Num(a[1])) == WAIT_OBJECT_0)
            GetExitCodeProcess(pi.hProcess, &code);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        Out("exit=%lu\n", code);
        return 0;
    }
    if (cmd == "absent" && n == 3) {
        const char* cls = a[1] == "-" ? nullptr : a[1].c_str();
        const char* title = a[2] == "-" ? nullptr : a[2].c_str();
        return FindWindowA(cls, title) ? 1 : 0;
    }
    if (cmd == "sleep" && n == 2) {
        Sleep(Num(a[1]));
        return 0;
    }
    if (cmd == "screen-rect") {
        RECT work;
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
        Out("width=%d\nheight=%d\n", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
        Out("workarea=%s\n", RectStr(work).c_str());
        return 0;
    }
    if (cmd == "cursor") {
        POINT p;
        GetCursorPos(&p);
        Out("x=%ld\ny=%ld\n", p.x, p.y);
        return 0;
    }
    if (cmd == "foreground") {
        HWND f = GetForegroundWindow();
        PrintBrief("", f);
        return f ? 0 : 1;
    }
    if (cmd == "taskbar") {
        HWND tray = FindWindowA("Shell_TrayWnd", nullptr);
        Out("tray=%s\n", Hex(reinterpret_cast<ULONG_PTR>(tray)).c_str());
        for (const TaskbarEntry& e : WineTaskbar())
            Out("button\thwnd=%s\tclass=%s\ttitle=%s\n",
                Hex(reinterpret_cast<ULONG_PTR>(e.window)).c_str(), ClassOf(e.window).c_str(),
                TextOf(e.window).c_str());
        for (HWND w : TopLevel())
            if (HasTaskbarButtonByRule(w) && ClassOf(w) != "Shell_TrayWnd" &&
                ClassOf(w) != "Progman")
                Out("rule\thwnd=%s\tclass=%s\ttitle=%s\n",
                    Hex(reinterpret_cast<ULONG_PTR>(w)).c_str(), ClassOf(w).c_str(),
                    TextOf(w).c_str());
        return tray ? 0 : 1;
    }
    if (cmd == "toplevel") {
        for (HWND w : TopLevel()) {
            RECT r;
            GetWindowRect(w, &r);
            Out("window\thwnd=%s\tclass=%s\ttitle=%s\tvisible=%d\trect=%s\towner=%s\n",
                Hex(reinterpret_cast<ULONG_PTR>(w)).c_str(), ClassOf(w).c_str(), TextOf(w).c_str(),
                IsWindowVisible(w) ? 1 : 0, RectStr(r).c_str(),
                Hex(reinterpret_cast<ULONG_PTR>(GetWindow(w, GW_OWNER))).c_str());
        }
        return 0;
    }
    if (cmd == "messagebox-wait" && n >= 3) {
        unsigned long timeout = n >= 4 ? Num(a[3]) : 10000;
        HWND box = nullptr;
        if (!WaitFor(timeout, [&] { return (box = FindMessageBox(a[1], a[2])) != nullptr; })) {
            Out("found=0\n");
            return 1;
        }
        Out("found=1\nhwnd=%s\ncaption=%s\n", Hex(reinterpret_cast<ULONG_PTR>(box)).c_str(),
            TextOf(box).c_str());
        for (HWND c : Descendants(box))
            if (lstrcmpiA(ClassOf(c).c_str(), "Static") == 0 && !TextOf(c).empty())
                Out("text=%s\n", TextOf(c).c_str());
            else if (lstrcmpiA(ClassOf(c).c_str(), "Button") == 0)
                Out("button=%s\n", TextOf(c).c_str());
        return 0;
    }
    if (cmd == "exe-icons" && n == 2) return ExeIcons(a[1]);
    if (n < 3) return Usage();
    if (cmd == "listen") return Listen(a[1], a[2], n >= 4 ? Num(a[3]) : 60000);
    // Commands on a window named by CLASS TITLE.
    const std::string &cls = a[1], &title = a[2];
    if (cmd == "wait-window" || cmd == "wait-visible") {
        unsigned long timeout = n >= 4 ? Num(a[3]) : 10000;
        bool vis = cmd == "wait-visible";
        HWND w = nullptr;
        bool ok = WaitFor(timeout, [&] {
            w = WindowOf(cls, title);
            return w && (!vis || IsWindowVisible(w));
        });
        Out("found=%d\nhwnd=%s\n", ok ? 1 : 0, Hex(reinterpret_cast<ULONG_PTR>(w)).c_str());
        return ok ? 0 : 1;
    }
    if (cmd == "wait-gone" || cmd == "wait-hidden") {
        unsigned long timeout = n >= 4 ? Num(a[3]) : 10000;
        bool hid = cmd == "wait-hidden";
        bool ok = WaitFor(timeout, [&] {
            HWND w = WindowOf(cls, title);
            return !w || (hid && !IsWindowVisible(w));
        });
        Out("gone=%d\n", ok ? 1 : 0);
        return ok ? 0 : 1;
    }
    HWND w = WindowOf(cls, title);
    if (cmd == "find") {
        Out("found=%d\nhwnd=%s\n", w ? 1 : 0, Hex(reinterpret_cast<ULONG_PTR>(w)).c_str());
        return w ? 0 : 1;
    }
    if (!w) {
        Out("found=0\n");
        return 1;
    }
    if (cmd == "info") {
        PrintInfo(w);
        return 0;
    }
    if (cmd == "children") {
        int i = 0;
        for (HWND c : Descendants(w))
            PrintChild(c, w, i++);
        return 0;
    }
    if (cmd == "owned") {
        // top-level windows owned by this one (the About box, message boxes)
        for (HWND t : TopLevel())
            if (GetWindow(t, GW_OWNER) == w) {
                RECT r;
                GetWindowRect(t, &r);
                Out("window\thwnd=%s\tclass=%s\ttitle=%s\tvisible=%d\trect=%s\n",
                    Hex(reinterpret_cast<ULONG_PTR>(t)).c_str(), ClassOf(t).c_str(),
                    TextOf(t).c_str(), IsWindowVisible(t) ? 1 : 0, RectStr(r).c_str());
            }
        return 0;
    }
    if (cmd == "focus") {
        GUITHREADINFO gi = {};
        gi.cbSize = sizeof gi;
        if (!GetGUIThreadInfo(GetWindowThreadProcessId(w, nullptr), &gi)) return 1;
        PrintBrief("active_", gi.hwndActive);
        PrintBrief("focus_", gi.hwndFocus);
        if (gi.hwndFocus) {
            Out("focus_id=%d\n", GetDlgCtrlID(gi.hwndFocus));
            Out("focus_pos=%s\n", PosIn(gi.hwndFocus, w).c_str());
        }
        PrintBrief("capture_", gi.hwndCapture);
        return 0;
    }
    if (cmd == "setfg") {
        BOOL ok = SetForegroundWindow(w);
        Out("ok=%d\n", ok ? 1 : 0);
        return ok ? 0 : 1;
    }
    if ((cmd == "send" || cmd == "post") && n >= 4) {
        UINT msg = static_cast<UINT>(Num(a[3]));
        WPARAM wp = n >= 5 ? Num(a[4]) : 0;
        LPARAM lp = n >= 6 ? static_cast<LPARAM>(Num(a[5])) : 0;
        if (cmd == "post") {
            BOOL ok = PostMessageA(w, msg, wp, lp);
            Out("ok=%d\n", ok ? 1 : 0);
            return ok ? 0 : 1;
        }
        // synchronous, like SendMessageA; may take as long as the handler (a modal box)
        DWORD_PTR r = 0;
        DWORD timeout = n >= 7 ? Num(a[6]) : 120000;
        SetLastError(0);
        BOOL ok = SendMessageTimeoutA(w, msg, wp, lp, SMTO_NORMAL, timeout, &r);
        // Wine's SendMessageTimeout returns the result rather than TRUE for some
        // messages: only a set error code marks a failure
        DWORD err = GetLastError();
        ok = ok || err == 0;
        Out("ok=%d\nresult=%lld\n", ok ? 1 : 0, static_cast<long long>(r));
        if (!ok) Out("error=%lu\n", static_cast<unsigned long>(err));
        return ok ? 0 : 1;
    }
    if (cmd == "region-pt" && n >= 5) {
        HRGN rgn = CreateRectRgn(0, 0, 0, 0);
        int type = GetWindowRgn(w, rgn);
        int in = (type == SIMPLEREGION || type == COMPLEXREGION) &&
                 PtInRegion(rgn, std::atoi(a[3].c_str()), std::atoi(a[4].c_str()));
        DeleteObject(rgn);
        Out("in=%d\n", in);
        return 0;
    }
    if (n < 4) return Usage();
    // Commands on a child, named by a selector.
    HWND c = ChildOf(w, a[3]);
    if (!c) {
        Out("found=0\n");
        return 1;
    }
    if (cmd == "child") {
        PrintChild(c, w, 0);
        return 0;
    }
    if (cmd == "text") {
        Out("text=%s\n", TextOf(c).c_str());
        if (IsCombo(c)) {
            Out("sel=%d\n", static_cast<int>(Send(c, CB_GETCURSEL, 0, 0)));
            for (const std::string& s : ComboItems(c))
                Out("item=%s\n", s.c_str());
        }
        if (IsButtonWithCheck(c)) Out("checked=%d\n", static_cast<int>(Send(c, BM_GETCHECK, 0, 0)));
        return 0;
    }
    if (cmd == "wait-text" && n >= 5) {
        unsigned long timeout = n >= 6 ? Num(a[5]) : 10000;
        bool ok = WaitFor(timeout, [&] { return SameText(TextOf(c), a[4]); });
        Out("text=%s\n", TextOf(c).c_str());
        return ok ? 0 : 1;
    }
    if (cmd == "click-button") {
        // posted, so that a click that opens a modal window does not block the probe
        BOOL ok = PostMessageA(c, BM_CLICK, 0, 0);
        Out("ok=%d\n", ok ? 1 : 0);
        return ok ? 0 : 1;
    }
    if (cmd == "screen-pos") {
        // the child's centre in screen coordinates, for xdotool
        RECT r;
        GetWindowRect(c, &r);
        Out("x=%ld\ny=%ld\n", (r.left + r.right) / 2, (r.top + r.bottom) / 2);
        return 0;
    }
    if ((cmd == "child-send" || cmd == "child-post") && n >= 5) {
        UINT msg = static_cast<UINT>(Num(a[4]));
        WPARAM wp = n >= 6 ? Num(a[5]) : 0;
        LPARAM lp = n >= 7 ? static_cast<LPARAM>(Num(a[6])) : 0;
        if (cmd == "child-post") {
            BOOL ok = PostMessageA(c, msg, wp, lp);
            Out("ok=%d\n", ok ? 1 : 0);
            return ok ? 0 : 1;
        }
        bool ok = false;
        LRESULT r = Send(c, msg, wp, lp, &ok);
        Out("ok=%d\nresult=%lld\n", ok ? 1 : 0, static_cast<long long>(r));
        return ok ? 0 : 1;
    }
    return Usage();
}

} // namespace

int main(int argc, char** argv) {
    _setmode(_fileno(stdout), _O_BINARY); // plain \n line ends for bash
    if (argc < 2) return Usage();
    // Commands chained with ";" run in order until one fails.
    int rc = 0;
    Args a;
    for (int i = 1; i <= argc && rc == 0; ++i) {
        if (i == argc || std::strcmp(argv[i], ";") == 0) {
            if (!a.empty()) rc = Run(a);
            a.clear();
        } else {
            a.push_back(argv[i]);
        }
    }
    std::fflush(stdout);
    return rc;
}
