/* A library that leaves a mark when its entry code runs: an empty file named
 * after itself with ".ran" added. Planted beside a program, it shows whether the
 * program ran code from its folder that it never asked for. Built as msimg32.dll
 * (with the one function the panel once took from it, so a program importing it
 * still starts) and as a Velotray.kor with and without the Korean menu. */
#define NOGDI
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    char path[MAX_PATH + 8];
    DWORD n;
    HANDLE mark;
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    n = GetModuleFileNameA(instance, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return TRUE;
    lstrcpyA(path + n, ".ran");
    mark = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (mark != INVALID_HANDLE_VALUE) CloseHandle(mark);
    return TRUE;
}

#ifdef PLANTED_MSIMG32
__declspec(dllimport) BOOL WINAPI
    GdiTransparentBlt(HDC, int, int, int, int, HDC, int, int, int, int, UINT);

__declspec(dllexport) BOOL WINAPI
    TransparentBlt(HDC dest, int x, int y, int width, int height, HDC source, int sx, int sy,
                   int swidth, int sheight, UINT key) {
    return GdiTransparentBlt(dest, x, y, width, height, source, sx, sy, swidth, sheight, key);
}
#endif
