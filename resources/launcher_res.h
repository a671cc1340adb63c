// Resource ids of the launcher (Velotray.exe) and of its Korean menu library
// (Velotray.kor). The icon group and the menus are named resources: the
// program loads them by the names "IDC_MYICON", "MENU_1" and "MENU_K".
#pragma once

// Menu items. "Auto Run" sits inside the "Option" popup.
#define IDM_OPEN_PANEL 100
#define IDM_ABOUT 102
#define IDM_EXIT 103
#define IDM_AUTO_RUN 200
