// Resource ids of the speed panel program (TrelvixVelotune.exe).
#pragma once

// Icons
#define IDI_PANEL 1 // the window and application icon, 32 x 32, 256 colours

// Bitmaps
#define IDB_BACKGROUND 101 // Image2, 320 x 200
#define IDB_SET 102        // "Set" glyph, 64 x 16
#define IDB_CLOSE 103      // "Close" glyph, 64 x 16
#define IDB_OK 104         // "&OK" glyph of the About box, 16 x 16
#define IDB_MENU_SPEED 110 // popup menu item pictures, 16 x 16, red transparent
#define IDB_MENU_OPTION 111
#define IDB_MENU_ABOUT 112
#define IDB_MENU_EXIT 113
#define IDB_TRAY 120 // ImageList1's picture, 16 x 16, red transparent

// Strings
#define IDS_CANNOT_CREATE_ICON 0
#define IDS_CANNOT_REMOVE_ICON 5

// Own window messages: common/protocol.h
