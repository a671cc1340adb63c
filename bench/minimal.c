/* The benchmark's reference: the least program that does what the speed panel
 * must do before its status line can show. It loads the common controls with
 * the panel's manifest (minimal.rc), creates one 320 x 200 popup window with one
 * static text and shows it. Started and measured exactly like the speed panel. */
#include <windows.h>
#include <commctrl.h>

static LRESULT CALLBACK MinimalWndProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_CREATE) {
        CreateWindowExA(0, "STATIC", "Current Speed = High Speed Mode", WS_CHILD | WS_VISIBLE, 25,
                        154, 269, 16, w, NULL, ((LPCREATESTRUCTA)lp)->hInstance, NULL);
        return 0;
    }
    if (m == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(w, m, wp, lp);
}

int WINAPI WinMain(HINSTANCE inst, HINSTANCE prev, LPSTR cmd, int show) {
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    WNDCLASSA wc = {0};
    MSG msg;
    HWND w;
    (void)prev;
    (void)cmd;
    InitCommonControlsEx(&icc);
    wc.lpfnWndProc = MinimalWndProc;
    wc.hInstance = inst;
    wc.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    wc.lpszClassName = "VelotuneBenchMinimal";
    RegisterClassA(&wc);
    w = CreateWindowExA(WS_EX_APPWINDOW | WS_EX_TOPMOST, wc.lpszClassName, "Minimal", WS_POPUP, 352,
                        284, 320, 200, NULL, NULL, inst, NULL);
    ShowWindow(w, show);
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
