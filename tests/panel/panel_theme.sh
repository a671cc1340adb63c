#!/usr/bin/env bash
# The drive list under visual styles: Wine draws with its bundled "Light" theme,
# as Windows 10 and 11 draw with theirs. The closed field of the drive list
# keeps its sky-blue background and its flat one-pixel bevel instead of the
# theme's look.
source "$(dirname "$0")/lib.sh"
trap 'cleanup_panel; probe_stop; vt_sim_no_cdrom d' EXIT

theme=$(wine reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\ThemeManager' /v DllName \
    2>/dev/null | tr -d '\r' | grep -i DllName)
echo "     theme: ${theme:-none}"
check "the prefix draws with the Light theme" grep -qi 'light.msstyles' <<<"$theme"

vt_sim_drive th1 kind=twomode mode=high >/dev/null
vt_sim_cdrom d th1
probe_start "$BUILD" || exit 1
vt_sim_preload
start_panel
check "the panel shows" probe wait-visible "${MAIN[@]}" 30000
check "the panel shows the mode" probe wait-text "${MAIN[@]}" pos=25,154 "Current Speed = High Speed Mode" 30000
probe info "${MAIN[@]}"
PX=$(probe_get x)
PY=$(probe_get y)
# The focus goes on to the option buttons, so the field shows its own colour.
probe setfg "${MAIN[@]}" >/dev/null
xdotool key Tab
focus_class() { probe focus "${MAIN[@]}" >/dev/null && probe_get focus_class; }
focus_left_list() { [ -n "$(focus_class)" ] && [ "$(focus_class)" != ComboBox ]; }
check "the focus leaves the drive list" until_ok 5 focus_left_list
shot light-theme
img=$ART/$TEST_NAME-light-theme.png
# pixel X Y: "R,G,B" of the screenshot at the panel's client X,Y
pixel() {
    convert "$img" -format "%[fx:int(255*p{$((PX + $1)),$((PY + $2))}.r)],%[fx:int(255*p{$((PX + $1)),$((PY + $2))}.g)],%[fx:int(255*p{$((PX + $1)),$((PY + $2))}.b)]" info:
}
# The field lies at 37,52 (GroupBox3 at 25,36, the list at 12,16 in it), 245 wide.
field=$(pixel 150 55)
edge=$(pixel 150 52)
echo "     field inside: $field, top edge: $edge"
check "the closed field is sky blue" eq "$field" "166,202,240"
flat_top() { [ "$edge" != "$field" ] && [ "$(pixel 150 53)" = "$field" ] && [ "$(pixel 150 54)" = "$field" ]; }
check "its top edge is one flat line, not the theme's" flat_top
check "the left edge likewise" eq "$(pixel 37 70)" "$edge"
check "the panel ends on WM_CLOSE" probe post "${MAIN[@]}" 16
panel_wait
vt_end
