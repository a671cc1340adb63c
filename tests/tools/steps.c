/* winprobe's step commands, for the benchmark and the system tests: they look
 * at windows, the notification area, processes and the registry from the
 * outside, the way a user's tools would, and run many steps in one process
 * start. winprobe hands every command it does not know itself to vt_steps.
 *
 *   winprobe CMD ARGS...          one command
 *   winprobe script FILE          one command per line; "#" starts a comment
 *
 * A script line may hold any of winprobe's commands (one vocabulary: waiting
 * for windows and texts is winprobe's "wait-..." family).
 *
 * A window is named by CLASS and TITLE; "-" stands for any. Commands:
 *   alive CLASS TITLE            the window answers WM_NULL within 5 s
 *   visible CLASS TITLE          the window exists and is visible
 *   rect CLASS TITLE             "rect: L T R B"
 *   menurect                     "menu: L T R B" of an open popup menu
 *   tray                         "trayicon: X Y" (centre) per icon, then "trayicons: N"
 *   taskbarcreated               broadcasts the registered "TaskbarCreated"
 *   proc CLASS TITLE             "proc: pid ws_kb peak_kb cpu_ms" of the owner
 *   kill CLASS TITLE             ends the owner process (TerminateProcess)
 *   run MS EXE [ARGS]            starts EXE, waits up to MS for its end, "exit: N"
 *   start EXE [ARGS]             starts EXE and does not wait
 *   starttime EXE CLASS TITLE PREFIX [ARGS]   ms from CreateProcess until the
 *                                window is visible (and, unless PREFIX is "-", a
 *                                child's text starts with PREFIX; the text the
 *                                system keeps, read without a message, so the
 *                                program's own message loop is not waited for);
 *                                then closes it
 *   starttime-loop EXE CLASS TITLE PREFIX [ARGS]   as starttime, but the window
 *                                need only exist, and the children's texts are
 *                                asked for with WM_GETTEXT, which the program
 *                                answers only from its message loop
 *   traytime EXE [ARGS]          ms from CreateProcess until one more tray icon
 *   regset KEY NAME TYPE DATA    HKLM value; DATA: hex bytes, "s:TEXT",
 *                                "fill:LEN:BYTE" or "dword:N"
 *   regdel KEY [NAME]            deletes the value (or the key)
 *   regget KEY NAME              "reg: TYPE LEN HEX..."
 *   regexpect KEY NAME TYPE DATA the value is exactly TYPE and DATA (as regset)
 *   regdeny KEY                  writes to the key are refused (a deny entry for
 *                                Everyone on setting values and creating subkeys)
 *   regallow KEY                 full access for Everyone again
 *   launch MS TITLE EXE [ARGS]   starts EXE; it must either end with exit code 0
 *                                within MS, or be waiting for input with its
 *                                window TITLE answering, then end on WM_CLOSE
 *                                with exit code 0
 *   launch-ends MS TITLE EXE [ARGS]   as launch, but it must end within MS
 *   launch-runs MS TITLE EXE [ARGS]   as launch, but it must keep running
 *   traydel CLASS TITLE UID      removes that window's tray icon (as a shell
 *                                restart loses every icon)
 *   menurects                    "menu: L T R B" for every open popup menu
 */
#define PSAPI_VERSION 2
#include <windows.h>
#include <psapi.h>
#include <shellapi.h>
#include <aclapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char* any(const char* s) {
    return strcmp(s, "-") == 0 ? NULL : s;
}

static HWND find(const char* cls, const char* title) {
    return FindWindowA(any(cls), any(title));
}

static double now_ms(void) {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return (double)c.QuadPart * 1000.0 / (double)f.QuadPart;
}

struct textsearch {
    const char* prefix;
    int found;
};

/* The text the window's program gives when asked (WM_GETTEXT). */
static BOOL CALLBACK child_text(HWND w, LPARAM lp) {
    struct textsearch* s = (struct textsearch*)lp;
    char text[512] = "";
    DWORD_PTR r = 0;
    SendMessageTimeoutA(w, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_ABORTIFHUNG, 2000, &r);
    if (strncmp(text, s->prefix, strlen(s->prefix)) == 0) {
        s->found = 1;
        return FALSE;
    }
    return TRUE;
}

/* The text the system keeps for the window: no message to its program. */
static BOOL CALLBACK child_stored_text(HWND w, LPARAM lp) {
    struct textsearch* s = (struct textsearch*)lp;
    WCHAR wide[512];
    char text[512] = "";
    int n = InternalGetWindowText(w, wide, 512);
    if (n > 0) WideCharToMultiByte(CP_ACP, 0, wide, n + 1, text, sizeof text, NULL, NULL);
    if (strncmp(text, s->prefix, strlen(s->prefix)) == 0) {
        s->found = 1;
        return FALSE;
    }
    return TRUE;
}

static int has_stored_child_text(HWND w, const char* prefix) {
    struct textsearch s = {prefix, 0};
    EnumChildWindows(w, child_stored_text, (LPARAM)&s);
    return s.found;
}

static int has_child_text(HWND w, const char* prefix) {
    struct textsearch s = {prefix, 0};
    EnumChildWindows(w, child_text, (LPARAM)&s);
    return s.found;
}

/* The notification area. Wine's explorer draws the icons into its tray window
 * and gives every icon a tooltip window of its own; the icons are counted by
 * the explorer's tooltip windows. They are placed from the right end of the
 * taskbar, one cell of the small icon size plus 2 pixels each. */
struct trayenum {
    DWORD pid;
    int count;
};

static BOOL CALLBACK tray_tip(HWND w, LPARAM lp) {
    struct trayenum* t = (struct trayenum*)lp;
    char cls[128] = "";
    DWORD pid = 0;
    GetClassNameA(w, cls, sizeof cls);
    GetWindowThreadProcessId(w, &pid);
    if (pid == t->pid && strcmp(cls, "tooltips_class32") == 0) t->count++;
    return TRUE;
}

static int tray_icons(int print) {
    struct trayenum t = {0, 0};
    HWND tray = FindWindowA("Shell_TrayWnd", NULL);
    RECT r;
    if (!tray) {
        if (print) printf("trayicons: 0\n");
        return 0;
    }
    GetWindowThreadProcessId(tray, &t.pid);
    EnumWindows(tray_tip, (LPARAM)&t);
    if (print) {
        int cell = GetSystemMetrics(SM_CXSMICON) + 2;
        GetWindowRect(tray, &r);
        for (int i = 0; i < t.count; i++)
            printf("trayicon: %ld %ld\n", r.right - cell * i - cell / 2 - 1,
                   (r.top + r.bottom) / 2);
        printf("trayicons: %d\n", t.count);
    }
    return t.count;
}

static char cmdline_buf[4096];

static const char* join_args(const char* exe, int argc, char** argv) {
    int i;
    snprintf(cmdline_buf, sizeof cmdline_buf, "\"%s\"", exe);
    for (i = 0; i < argc; i++) {
        strncat(cmdline_buf, " ", sizeof cmdline_buf - strlen(cmdline_buf) - 1);
        strncat(cmdline_buf, argv[i], sizeof cmdline_buf - strlen(cmdline_buf) - 1);
    }
    return cmdline_buf;
}

static int start_process(const char* exe, int argc, char** argv, PROCESS_INFORMATION* pi) {
    STARTUPINFOA si;
    char dir[MAX_PATH];
    char* slash;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_SHOWNORMAL;
    snprintf(dir, sizeof dir, "%s", exe);
    slash = strrchr(dir, '\\');
    if (slash) *slash = 0;
    join_args(exe, argc, argv);
    if (!CreateProcessA(NULL, cmdline_buf, NULL, NULL, FALSE, 0, NULL, slash ? dir : NULL, &si,
                        pi)) {
        printf("error: cannot start %s (%lu)\n", exe, GetLastError());
        return 0;
    }
    return 1;
}

static int close_and_wait(HWND w, PROCESS_INFORMATION* pi) {
    DWORD_PTR r;
    if (w) SendMessageTimeoutA(w, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 5000, &r);
    if (WaitForSingleObject(pi->hProcess, 10000) != WAIT_OBJECT_0) {
        TerminateProcess(pi->hProcess, 1);
        WaitForSingleObject(pi->hProcess, 5000);
    }
    CloseHandle(pi->hProcess);
    CloseHandle(pi->hThread);
    return 0;
}

static HKEY open_hklm(const char* key, REGSAM sam, int create) {
    HKEY k = NULL;
    LONG rc = create ? RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, NULL, 0, sam, NULL, &k, NULL)
                     : RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, sam, &k);
    return rc == ERROR_SUCCESS ? k : NULL;
}

static int parse_data(const char* spec, BYTE** out, DWORD* len) {
    if (strncmp(spec, "s:", 2) == 0) {
        *len = (DWORD)strlen(spec + 2) + 1;
        *out = (BYTE*)_strdup(spec + 2);
        return 1;
    }
    if (strncmp(spec, "dword:", 6) == 0) {
        DWORD v = (DWORD)strtoul(spec + 6, NULL, 0);
        *len = 4;
        *out = (BYTE*)malloc(4);
        memcpy(*out, &v, 4);
        return 1;
    }
    if (strncmp(spec, "fill:", 5) == 0) {
        char* end;
        DWORD n = (DWORD)strtoul(spec + 5, &end, 0);
        int b = *end == ':' ? (int)strtol(end + 1, NULL, 0) : 'A';
        *len = n;
        *out = (BYTE*)malloc(n ? n : 1);
        memset(*out, b, n);
        return 1;
    }
    {
        size_t n = strlen(spec) / 2, i;
        if (strcmp(spec, "-") == 0) n = 0;
        *out = (BYTE*)malloc(n ? n : 1);
        for (i = 0; i < n; i++) {
            unsigned v;
            if (sscanf(spec + 2 * i, "%2x", &v) != 1) return 0;
            (*out)[i] = (BYTE)v;
        }
        *len = (DWORD)n;
        return 1;
    }
}

/* winprobe.cpp: any command of the probe, for the lines of a script */
int vt_probe_run(int argc, char** argv);

static int run_script(const char* file) {
    FILE* f = fopen(file, "r");
    char line[8192];
    int failures = 0;
    if (!f) {
        printf("error: cannot open %s\n", file);
        return 2;
    }
    while (fgets(line, sizeof line, f)) {
        char* args[64];
        int n = 0;
        char* p = line;
        while (*p && n < 64) {
            while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n')
                p++;
            if (!*p || *p == '#') break;
            if (*p == '"') {
                args[n++] = ++p;
                while (*p && *p != '"')
                    p++;
            } else {
                args[n++] = p;
                while (*p && *p != ' ' && *p != '\t' && *p != '\r' && *p != '\n')
                    p++;
            }
            if (*p) *p++ = 0;
        }
        if (n == 0) continue;
        printf("> %s\n", args[0]);
        fflush(stdout);
        if (vt_probe_run(n, args) != 0) {
            printf("FAIL: %s", args[0]);
            for (int i = 1; i < n; i++)
                printf(" %s", args[i]);
            printf("\n");
            failures++;
        }
        fflush(stdout);
    }
    fclose(f);
    return failures;
}

static int run_cmd(int argc, char** argv) {
    const char* c = argv[0];
#define NEED(n)                                                                                    \
    if (argc < (n)) {                                                                              \
        printf("error: %s needs %d arguments\n", c, (n)-1);                                        \
        return 2;                                                                                  \
    }
    if (strcmp(c, "script") == 0) {
        NEED(2);
        return run_script(argv[1]);
    }
    if (strcmp(c, "alive") == 0) {
        NEED(3);
        HWND w = find(argv[1], argv[2]);
        DWORD_PTR r;
        if (!w) {
            printf("no window: %s %s\n", argv[1], argv[2]);
            return 1;
        }
        if (!SendMessageTimeoutA(w, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &r)) {
            printf("not answering: %s %s\n", argv[1], argv[2]);
            return 1;
        }
        return 0;
    }
    if (strcmp(c, "visible") == 0) {
        NEED(3);
        HWND w = find(argv[1], argv[2]);
        return w && IsWindowVisible(w) ? 0 : 1;
    }
    if (strcmp(c, "rect") == 0) {
        NEED(3);
        HWND w = find(argv[1], argv[2]);
        RECT r;
        if (!w || !GetWindowRect(w, &r)) return 1;
        printf("rect: %ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
        return 0;
    }
    if (strcmp(c, "menurects") == 0) {
        HWND w = NULL;
        int n = 0;
        while ((w = FindWindowExA(NULL, w, "#32768", NULL)) != NULL) {
            RECT r;
            if (!IsWindowVisible(w) || !GetWindowRect(w, &r)) continue;
            printf("menu: %ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
            n++;
        }
        return n ? 0 : 1;
    }
    if (strcmp(c, "traydel") == 0) {
        NEED(4);
        NOTIFYICONDATAA nid;
        HWND w = find(argv[1], argv[2]);
        if (!w) return 1;
        memset(&nid, 0, sizeof nid);
        nid.cbSize = NOTIFYICONDATAA_V2_SIZE;
        nid.hWnd = w;
        nid.uID = (UINT)atoi(argv[3]);
        return Shell_NotifyIconA(NIM_DELETE, &nid) ? 0 : 1;
    }
    if (strcmp(c, "launch") == 0 || strcmp(c, "launch-ends") == 0 ||
        strcmp(c, "launch-runs") == 0) {
        NEED(4);
        PROCESS_INFORMATION pi;
        DWORD code = 259, idle = 0;
        int rc = 0;
        int must_end = strcmp(c, "launch-ends") == 0, must_run = strcmp(c, "launch-runs") == 0;
        if (!start_process(argv[3], argc - 4, argv + 4, &pi)) return 1;
        if (must_end)
            WaitForSingleObject(pi.hProcess, (DWORD)atoi(argv[1]));
        else
            idle = WaitForInputIdle(pi.hProcess, (DWORD)atoi(argv[1]));
        if (WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0) {
            GetExitCodeProcess(pi.hProcess, &code);
            printf("exit: %lu\n", code);
            rc = code == 0 && !must_run ? 0 : 1;
            if (must_run) printf("ended, but should have kept running\n");
        } else if (must_end) {
            printf("still running, but should have ended\n");
            TerminateProcess(pi.hProcess, 1);
            WaitForSingleObject(pi.hProcess, 5000);
            rc = 1;
        } else {
            HWND w = NULL;
            double end = now_ms() + 5000;
            DWORD_PTR r;
            /* its window, found by title and owned by this process */
            while (!w && now_ms() < end) {
                HWND c2 = NULL;
                while ((c2 = FindWindowExA(NULL, c2, NULL, argv[2])) != NULL) {
                    DWORD pid = 0;
                    GetWindowThreadProcessId(c2, &pid);
                    if (pid == pi.dwProcessId) w = c2;
                }
                if (!w) Sleep(10);
            }
            if (!w || !SendMessageTimeoutA(w, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &r)) {
                printf("running: no answering window (idle %lu)\n", idle);
                rc = 1;
            } else {
                printf("running: answers\n");
                PostMessageA(w, WM_CLOSE, 0, 0);
            }
            if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) {
                printf("exit: still running\n");
                TerminateProcess(pi.hProcess, 1);
                rc = 1;
            } else {
                GetExitCodeProcess(pi.hProcess, &code);
                printf("exit: %lu\n", code);
                if (code != 0) rc = 1;
            }
        }
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
        return rc;
    }
    if (strcmp(c, "regexpect") == 0) {
        NEED(5);
        HKEY k = open_hklm(argv[1], KEY_READ, 0);
        BYTE* want = NULL;
        DWORD wlen = 0, type = 0, len = 0;
        BYTE* data;
        int rc = 1;
        if (!k || !parse_data(argv[4], &want, &wlen)) {
            if (k) RegCloseKey(k);
            printf("regexpect: no key %s\n", argv[1]);
            return 1;
        }
        if (RegQueryValueExA(k, argv[2], NULL, &type, NULL, &len) == ERROR_SUCCESS) {
            /* room for the terminator the ANSI call may add to a string */
            data = (BYTE*)calloc(1, len + 16);
            if (RegQueryValueExA(k, argv[2], NULL, &type, data, &len) == ERROR_SUCCESS &&
                type == (DWORD)strtoul(argv[3], NULL, 0)) {
                /* Strings: the registry keeps the terminator it adds when the
                 * data had none, so trailing zeros do not count. */
                if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
                    while (len > 0 && data[len - 1] == 0)
                        len--;
                    while (wlen > 0 && want[wlen - 1] == 0)
                        wlen--;
                }
                if (len == wlen && memcmp(data, want, len) == 0) rc = 0;
            }
            free(data);
        }
        if (rc) printf("regexpect: %s %s is type %lu, %lu bytes\n", argv[1], argv[2], type, len);
        free(want);
        RegCloseKey(k);
        return rc;
    }
    if (strcmp(c, "regdeny") == 0 || strcmp(c, "regallow") == 0) {
        NEED(2);
        SID_IDENTIFIER_AUTHORITY world = {SECURITY_WORLD_SID_AUTHORITY};
        PSID everyone = NULL;
        EXPLICIT_ACCESSA ea[2];
        PACL acl = NULL;
        HKEY k = open_hklm(argv[1], READ_CONTROL | WRITE_DAC, 1);
        int n = 0;
        LONG rc;
        if (!k) return 1;
        AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
        memset(ea, 0, sizeof ea);
        if (argv[0][3] == 'd') {
            ea[n].grfAccessPermissions = KEY_SET_VALUE | KEY_CREATE_SUB_KEY;
            ea[n].grfAccessMode = DENY_ACCESS;
            ea[n].Trustee.TrusteeForm = TRUSTEE_IS_SID;
            ea[n].Trustee.ptstrName = (LPSTR)everyone;
            n++;
        }
        ea[n].grfAccessPermissions = KEY_ALL_ACCESS;
        ea[n].grfAccessMode = GRANT_ACCESS;
        ea[n].Trustee.TrusteeForm = TRUSTEE_IS_SID;
        ea[n].Trustee.ptstrName = (LPSTR)everyone;
        n++;
        SetEntriesInAclA((ULONG)n, ea, NULL, &acl);
        rc = SetSecurityInfo(k, SE_REGISTRY_KEY,
                             DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, NULL,
                             NULL, acl, NULL);
        LocalFree(acl);
        FreeSid(everyone);
        RegCloseKey(k);
        if (rc != ERROR_SUCCESS) printf("error: SetSecurityInfo %ld\n", rc);
        return rc == ERROR_SUCCESS ? 0 : 1;
    }
    if (strcmp(c, "menurect") == 0) {
        HWND w = FindWindowA("#32768", NULL);
        RECT r;
        if (!w || !IsWindowVisible(w) || !GetWindowRect(w, &r)) return 1;
        printf("menu: %ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
        return 0;
    }
    if (strcmp(c, "tray") == 0) {
        tray_icons(1);
        return 0;
    }
    if (strcmp(c, "taskbarcreated") == 0) {
        UINT m = RegisterWindowMessageA("TaskbarCreated");
        return PostMessageA(HWND_BROADCAST, m, 0, 0) ? 0 : 1;
    }
    if (strcmp(c, "proc") == 0 || strcmp(c, "kill") == 0) {
        NEED(3);
        HWND w = find(argv[1], argv[2]);
        DWORD pid = 0;
        HANDLE h;
        if (!w) {
            printf("no window: %s %s\n", argv[1], argv[2]);
            return 1;
        }
        GetWindowThreadProcessId(w, &pid);
        h = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_TERMINATE |
                            SYNCHRONIZE,
                        FALSE, pid);
        if (!h) return 1;
        if (c[0] == 'k') {
            TerminateProcess(h, 9);
            WaitForSingleObject(h, 5000);
        } else {
            PROCESS_MEMORY_COUNTERS pmc;
            FILETIME cr, ex, k, u;
            ULONGLONG cpu = 0;
            memset(&pmc, 0, sizeof pmc);
            pmc.cb = sizeof pmc;
            GetProcessMemoryInfo(h, &pmc, sizeof pmc);
            if (GetProcessTimes(h, &cr, &ex, &k, &u))
                cpu = (((ULONGLONG)k.dwHighDateTime << 32 | k.dwLowDateTime) +
                       ((ULONGLONG)u.dwHighDateTime << 32 | u.dwLowDateTime)) /
                      10000;
            printf("proc: %lu %llu %llu %llu\n", pid, (unsigned long long)pmc.WorkingSetSize / 1024,
                   (unsigned long long)pmc.PeakWorkingSetSize / 1024, cpu);
        }
        CloseHandle(h);
        return 0;
    }
    if (strcmp(c, "run") == 0) {
        NEED(3);
        PROCESS_INFORMATION pi;
        DWORD code = 259;
        if (!start_process(argv[2], argc - 3, argv + 3, &pi)) return 1;
        if (WaitForSingleObject(pi.hProcess, (DWORD)atoi(argv[1])) != WAIT_OBJECT_0) {
            printf("exit: running\n");
        } else {
            GetExitCodeProcess(pi.hProcess, &code);
            printf("exit: %lu\n", code);
        }
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
        return 0;
    }
    if (strcmp(c, "start") == 0) {
        NEED(2);
        PROCESS_INFORMATION pi;
        if (!start_process(argv[1], argc - 2, argv + 2, &pi)) return 1;
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
        return 0;
    }
    if (strcmp(c, "starttime") == 0 || strcmp(c, "starttime-loop") == 0) {
        NEED(5);
        PROCESS_INFORMATION pi;
        HWND w = NULL;
        double t0, end;
        const char* prefix = any(argv[4]);
        const int loop = strcmp(c, "starttime-loop") == 0;
        t0 = now_ms();
        if (!start_process(argv[1], argc - 5, argv + 5, &pi)) return 1;
        end = t0 + 30000;
        for (;;) {
            w = find(argv[2], argv[3]);
            if (w && loop && (!prefix || has_child_text(w, prefix))) break;
            if (w && !loop && IsWindowVisible(w) && (!prefix || has_stored_child_text(w, prefix)))
                break;
            if (now_ms() > end) {
                printf("timeout\n");
                close_and_wait(w, &pi);
                return 1;
            }
            Sleep(1);
        }
        printf("ms: %.1f\n", now_ms() - t0);
        fflush(stdout);
        return close_and_wait(w, &pi);
    }
    if (strcmp(c, "traytime") == 0) {
        NEED(2);
        PROCESS_INFORMATION pi;
        int before = tray_icons(0);
        double t0 = now_ms(), end = t0 + 30000;
        if (!start_process(argv[1], argc - 2, argv + 2, &pi)) return 1;
        while (tray_icons(0) <= before) {
            if (now_ms() > end) {
                printf("timeout\n");
                return 1;
            }
            Sleep(1);
        }
        printf("ms: %.1f\n", now_ms() - t0);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
        return 0;
    }
    if (strcmp(c, "regset") == 0) {
        NEED(5);
        BYTE* data = NULL;
        DWORD len = 0;
        HKEY k = open_hklm(argv[1], KEY_ALL_ACCESS, 1);
        LONG rc;
        if (!k || !parse_data(argv[4], &data, &len)) {
            printf("error: regset %s\n", argv[1]);
            if (k) RegCloseKey(k);
            return 1;
        }
        RegDeleteValueA(k, argv[2]);
        rc = RegSetValueExA(k, argv[2], 0, (DWORD)strtoul(argv[3], NULL, 0), data, len);
        free(data);
        RegCloseKey(k);
        return rc == ERROR_SUCCESS ? 0 : 1;
    }
    if (strcmp(c, "regdel") == 0) {
        NEED(2);
        if (argc > 2) {
            HKEY k = open_hklm(argv[1], KEY_ALL_ACCESS, 0);
            if (!k) return 0;
            RegDeleteValueA(k, argv[2]);
            RegCloseKey(k);
            return 0;
        }
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, argv[1]);
        return 0;
    }
    if (strcmp(c, "regget") == 0) {
        NEED(3);
        HKEY k = open_hklm(argv[1], KEY_READ, 0);
        BYTE data[8192];
        DWORD type = 0, len = sizeof data, i;
        if (!k) {
            printf("reg: nokey\n");
            return 0;
        }
        if (RegQueryValueExA(k, argv[2], NULL, &type, data, &len) != ERROR_SUCCESS) {
            printf("reg: novalue\n");
        } else {
            printf("reg: %lu %lu ", type, len);
            for (i = 0; i < len && i < 64; i++)
                printf("%02x", data[i]);
            printf("\n");
        }
        RegCloseKey(k);
        return 0;
    }
    printf("error: unknown command %s\n", c);
    return 2;
}

int vt_steps(int argc, char** argv) {
    int rc = run_cmd(argc, argv);
    fflush(stdout);
    return rc > 125 ? 125 : rc;
}
