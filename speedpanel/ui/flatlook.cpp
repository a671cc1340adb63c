#include "speedpanel/ui/flatlook.h"

#include <commctrl.h>

namespace velotune {

namespace {

// uxtheme is no known DLL, so it comes from the system folder only; where it is
// missing there are no visual styles either.
bool TakeOutOfTheming(HWND control) {
    static HMODULE uxtheme = LoadLibraryExA("uxtheme.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!uxtheme || !control) return false;
    using SetWindowThemeFn = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
    auto setTheme = reinterpret_cast<SetWindowThemeFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(uxtheme, "SetWindowTheme")));
    return setTheme && SUCCEEDED(setTheme(control, L"", L""));
}

// Draws the flat bevel over the classic sunken edge: a one-pixel line in the
// button-shadow colour, and the field's own background inside it.
LRESULT CALLBACK FlatEdgeProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l, UINT_PTR, DWORD_PTR fill) {
    const LRESULT result = DefSubclassProc(hwnd, msg, w, l);
    if (msg == WM_PAINT || msg == WM_ENABLE || msg == WM_SETFOCUS || msg == WM_KILLFOCUS) {
        RECT r;
        GetClientRect(hwnd, &r);
        if (HDC dc = GetDC(hwnd)) {
            FrameRect(dc, &r, GetSysColorBrush(COLOR_BTNSHADOW));
            // The classic look's two-pixel sunken edge and the one-pixel margin
            // inside it take the field's colour.
            HBRUSH inner = CreateSolidBrush(static_cast<COLORREF>(fill));
            for (int ring = 0; ring < 2; ++ring) {
                InflateRect(&r, -1, -1);
                FrameRect(dc, &r, inner);
            }
            DeleteObject(inner);
            ReleaseDC(hwnd, dc);
        }
    } else if (msg == WM_NCDESTROY) {
        RemoveWindowSubclass(hwnd, &FlatEdgeProc, 1);
    }
    return result;
}

} // namespace

void KeepFlatLook(HWND comboBox, COLORREF fill) {
    if (!comboBox) return;
    TakeOutOfTheming(comboBox);
    SetWindowSubclass(comboBox, &FlatEdgeProc, 1, fill);
}

} // namespace velotune
