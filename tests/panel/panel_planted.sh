#!/usr/bin/env bash
# A library planted beside the panel: the panel runs elevated, so an msimg32.dll
# in its folder (one that Windows takes before the system's, as Wine does with
# WINEDLLOVERRIDES=msimg32=n,b) must never run. The planted copy leaves
# msimg32.dll.ran beside itself when its entry code runs. The panel comes up with
# one two-mode drive, its window is drawn, and the mark must not be there.
source "$(dirname "$0")/lib.sh"

PLANT=$BUILD/tests/panel/planted
rm -rf "$PLANT"
mkdir -p "$PLANT"
cp "$BUILD/dist/$PANEL_EXE" "$PLANT/"
cp "$BUILD/tools/planted/msimg32.dll" "$PLANT/"
PANEL_DIR=$PLANT
# marked: the mark is there (named in whatever case the loader gave the library)
marked() { [ -n "$(find "$PLANT" -maxdepth 1 -iname 'msimg32.dll.ran')" ]; }

vt_sim_drive p1 kind=twomode mode=high vendor=TRELVIX >/dev/null
vt_sim_cdrom d p1
vt_sim_no_cdrom e
probe_start "$BUILD" || exit 1
trap 'cleanup_panel; probe_stop; vt_sim_no_cdrom d' EXIT
vt_sim_preload

WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}msimg32=n,b" start_panel
check "the panel window appears" probe wait-visible "${MAIN[@]}" 30000
probe wait-text "${MAIN[@]}" pos=25,154 "Current Speed = High Speed Mode" 20000 >/dev/null
shot planted
check "the msimg32.dll beside the panel never ran" not marked

# The planted copy is one that would run: loading it as code leaves the mark.
cleanup_panel
PLANTED_WIN=$(winepath -w "$PLANT/msimg32.dll" 2>/dev/null)
WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}msimg32=n,b" \
    timeout 60 wine rundll32.exe "$PLANTED_WIN,DllMain" >/dev/null 2>&1
check "the planted library leaves its mark when its code runs" marked
rm -rf "$PLANT"
vt_end
