/* The benchmark's plain figure: the smallest Win32 program with one window and
 * one static text, without common controls or manifest. Started and measured
 * exactly like the speed panel, beside the reference program (minimal.c). */
#include <windows.h>

static LRESULT CALLBACK PlainWndProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
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
    WNDCLASSA wc = {0};
    MSG msg;
    HWND w;
    (void)prev;
    (void)cmd;
    wc.lpfnWndProc = PlainWndProc;
    wc.hInstance = inst;
    wc.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    wc.lpszClassName = "VelotuneBenchPlain";
    RegisterClassA(&wc);
    w = CreateWindowExA(WS_EX_APPWINDOW | WS_EX_TOPMOST, wc.lpszClassName, "Plain", WS_POPUP, 352,
                        284, 320, 200, NULL, NULL, inst, NULL);
    ShowWindow(w, show);
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
