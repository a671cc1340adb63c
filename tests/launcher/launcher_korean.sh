#!/usr/bin/env bash
# The menu's language: on a Korean system (LC_ALL=ko_KR.UTF-8 makes Wine's
# default language 1042) the menu comes from "Velotray.kor"; without the
# library the English menu shows; a "Velotray.kor" in the current directory is
# never loaded. Pictures of the menus are kept in the build folder's
# launcher-tests/ for a look.
source "$(dirname "$0")/lib.sh"
probe_start "$LT_BUILD" || exit 1
lt_end
lt_install "Velotune"
# A Hangul font for Wine's menu font to link to, where the system has one.
if fc-list 2>/dev/null | grep -q -i nanumgothic; then
    lt_registry '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]' '"Gulim"="NanumGothic"' \
        "[-$LT_VENDOR_KEY]" "[$LT_RUN_KEY]" "$(lt_run_entry_line)" \
        "[$LT_PRODUCT_KEY]" '"autorun"=dword:00000001'
else
    echo "note: no Hangul font found (Debian: fonts-nanum); Korean text shows as boxes"
    lt_registry "[-$LT_VENDOR_KEY]" "[$LT_RUN_KEY]" "$(lt_run_entry_line)" \
        "[$LT_PRODUCT_KEY]" '"autorun"=dword:00000001'
fi

# menu_picture NAME: a logon start (no panel), the menu, a picture of it.
menu_picture() {
    local name=$1 l t r b
    rm -f "$LT_OUT/menu-$name-screen.png" "$LT_OUT/menu-$name.png" # none of an earlier run
    lt_start /autorun
    lt_wait_launcher || return 1
    lt_wait_tray_unlike "$LT_OUT/tray-empty.png" || true
    lt_open_menu || return 1
    read -r l t r b <<<"$LT_MAIN"
    lt_shot "$LT_OUT/menu-$name-screen.png"
    convert "$LT_OUT/menu-$name-screen.png" -crop "$((r - l))x$((b - t))+$l+$t" +repage \
        "$LT_OUT/menu-$name.png"
    lt_close_menus
    probe send "$VT_LAUNCHER_TITLE" - 16 0 0 >/dev/null
    lt_launcher_gone
    wait "$LT_LAUNCHER_PID"
}
lt_tray "$LT_OUT/tray-empty.png"

LT_LOCALE=ko_KR.UTF-8 menu_picture korean
check "a menu opens on a Korean system" [ -s "$LT_OUT/menu-korean.png" ]
# Korean system, library missing.
rm -f "$LT_DIR/Velotray.kor"
LT_LOCALE=ko_KR.UTF-8 menu_picture korean-no-library
check "a menu opens without the library" [ -s "$LT_OUT/menu-korean-no-library.png" ]
# Korean system, a library that loads but holds no "MENU_1": the built-in menu,
# so that the launcher can still be reached and ended.
cp "$LT_BUILD/tools/planted/nomenu.kor" "$LT_DIR/Velotray.kor"
LT_LOCALE=ko_KR.UTF-8 menu_picture korean-no-menu
check "a library without a menu gives the built-in one" \
    vt_same_image "$LT_OUT/menu-korean-no-menu.png" "$LT_OUT/menu-korean-no-library.png"
rm -f "$LT_DIR/Velotray.kor"
# Another language.
cp "$LT_DIST/Velotray.kor" "$LT_DIR/"
LT_LOCALE=en_US.UTF-8 menu_picture english
check "a menu opens on an English system" [ -s "$LT_OUT/menu-english.png" ]

check "the Korean menu differs from the English one" \
    lt_differ "$LT_OUT/menu-korean.png" "$LT_OUT/menu-english.png"
# The two are drawn under different locales, whose menu fonts render apart
# (Tahoma with the Korean font links): the same texts give the same extents.
same_size() { [ "$(identify -format '%wx%h' "$1")" = "$(identify -format '%wx%h' "$2")" ]; }
check "without the library the menu is the built-in English one: its size" \
    same_size "$LT_OUT/menu-english.png" "$LT_OUT/menu-korean-no-library.png"
check "... and not the Korean one" \
    not same_size "$LT_OUT/menu-korean.png" "$LT_OUT/menu-korean-no-library.png"

# ---- a "Velotray.kor" in the current directory is not loaded: with no Run
# entry the library is looked for in the launcher's own folder.
lt_registry "[$LT_RUN_KEY]" '"Velotune"=-'
rm -f "$LT_DIR/Velotray.kor"
mkdir -p "$WINEPREFIX/drive_c/Planted"
cp "$LT_DIST/Velotray.kor" "$WINEPREFIX/drive_c/Planted/"
LT_CWD=$WINEPREFIX/drive_c/Planted LT_LOCALE=ko_KR.UTF-8 menu_picture korean-planted
check "a menu opens with a planted library" [ -s "$LT_OUT/menu-korean-planted.png" ]
check "the planted library was not loaded" \
    vt_same_image "$LT_OUT/menu-korean-planted.png" "$LT_OUT/menu-korean-no-library.png"
# The library beside the launcher is still found.
cp "$LT_DIST/Velotray.kor" "$LT_DIR/"
LT_CWD=$WINEPREFIX/drive_c/Planted LT_LOCALE=ko_KR.UTF-8 menu_picture korean-beside
check "the library beside the launcher is used" \
    vt_same_image "$LT_OUT/menu-korean-beside.png" "$LT_OUT/menu-korean.png"
rm -rf "$WINEPREFIX/drive_c/Planted"
lt_registry '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]' '"Gulim"=-'

lt_finish
