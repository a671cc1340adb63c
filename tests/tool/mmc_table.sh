# The simulated drive kinds of other makers (kind mmc), one row per kind and
# command, with the commands each received byte for byte. Sourced by
# tool_native.sh (SG_IO), which defines mmc NAME KEYS "ARGS" WANT, mmc_data NAME,
# expect, INQUIRY and STATUS. Its first rows, those whose commands the Windows
# transport may hand to the cdrom driver's requests, are mmc_driver_rows.sh,
# which tool_wine.sh runs too.
# shellcheck shell=bash
# shellcheck source=tests/tool/mmc_commands.sh
source "$(dirname "${BASH_SOURCE[0]}")/mmc_commands.sh"
# shellcheck source=tests/tool/mmc_driver_rows.sh
source "$(dirname "${BASH_SOURCE[0]}")/mmc_driver_rows.sh"
mmc cd - "set max" "0|$INQUIRY $GETCONF $CDMAX $PAGE2A|@  max: the drive reads at 48x|"
mmc cd - "set 1411kB -j" '0|'"$INQUIRY $GETCONF $CD8X $PAGE2A"'|{"device": "@", "vendor": "OTHERCO", "product": "CD-ROM", "revision": "1.00", "model": "OTHERCO CD-ROM          1.00", "kind": "mmc", "mode": null, "speed": 8, "speeds": [], "medium": "cd", "speed_kbs": 1411, "max_kbs": 8467, "speeds_kbs": [], "note": null, "confirmed": true}|'
mmc cd - "set 8" "1|$INQUIRY $STATUS||velotune: @@ it is an mmc drive, which takes a read speed: 8x, NkB or max"
mmc cd - "set silence" "2|$INQUIRY $STATUS||velotune: @@ not this maker's drive (it refuses the status read, sense 5/20/00)"
mmc dvd - "set max" "0|$INQUIRY $GETCONF $READCAP $STREAM $GP0|@  max: the drive reads at 16x|"
expect "... max: restore defaults (RDD)" "040000000000000000057e3f0000ffff000003e80000ffff000003e8" \
    "$(mmc_data dvd)"
mmc dvdcd "kind=mmc profile=0x10 cd_speed=cd_only speed_kbs=22160 max_kbs=22160" "set 8x" \
    "3|$INQUIRY $GETCONF $READCAP $STREAM $DVD8X $PAGE2A||velotune: @@ the drive kept 16x"
mmc round "kind=mmc profile=0x10 streaming=1 offered=5540,11080,22160 round_down=1 speed_kbs=22160 max_kbs=22160" \
    "set 6x" "0|$INQUIRY $GETCONF $READCAP $STREAM $GP0|@  6x asked, the drive reads at 4x|"
mmc refuse "kind=mmc profile=0x08 perf=0 cd_speed=refuse speed_kbs=4234 max_kbs=4234" "set 8x" \
    "2|$INQUIRY $GETCONF $CD8X||velotune: @@ the drive takes no speed command"
mmc refuse - "set max" "2|$INQUIRY $GETCONF $CDMAX||velotune: @@ the drive takes no speed command"
mmc empty "kind=mmc profile=0 needs_disc=1 perf=0 max_kbs=8467" "status" "0|$INQUIRY $STATUS $GETCONF $GP0 $PAGE2A|device:  @
model:   TRELVIX SIMULATED DRIVE 1.00
kind:    mmc
medium:  none
speed:   (not reported)
maximum: 48x (8467 kB/s)
speeds:  (none)|"
mmc empty - "set 8x" "3|$INQUIRY $GETCONF $CD8X||velotune: @@ no disc: the drive takes a speed only with a disc in it"
mmc nocur "kind=mmc profile=0x10 streaming=1 no_current=1 speed_kbs=11080" "set 8x -j" \
    '0|'"$INQUIRY $GETCONF $READCAP $STREAM $GP0 $PAGE2A"'|{"device": "@", "vendor": "TRELVIX", "product": "SIMULATED DRIVE", "revision": "1.00", "model": "TRELVIX SIMULATED DRIVE 1.00", "kind": "mmc", "mode": null, "speed": null, "speeds": [], "medium": "dvd", "speed_kbs": null, "max_kbs": null, "speeds_kbs": [], "note": null, "confirmed": false}|velotune: @@ not confirmed: the drive does not report its speed'
mmc changer "$CD" "set 8x" "0|$INQUIRY $GETCONF $CD8X $PAGE2A|@  8x|"
mmc changer +disc_change=1 "list --all" "0|$INQUIRY $INQUIRY $STATUS $GETCONF $GP0 $PAGE2A|@  OTHERCO CD-ROM          1.00  mmc  48x|"

