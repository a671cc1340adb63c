# The rows of other makers' drives that both transports run: the commands the
# Windows transport may hand to the cdrom driver's own requests before pass-through
# (a speed read and set on a CD and a DVD drive). Sourced by mmc_table.sh and
# tool_wine.sh, which define mmc, mmc_data and expect.
# shellcheck shell=bash
mmc cd "$CD" "status" "0|$INQUIRY $STATUS $GETCONF $GP0 $PAGE2A|device:  @
model:   OTHERCO CD-ROM          1.00
kind:    mmc
medium:  cd
speed:   48x (8467 kB/s)
maximum: 48x (8467 kB/s)
speeds:  (none)|"
mmc cd - "set 8x" "0|$INQUIRY $GETCONF $CD8X $PAGE2A|@  8x|"
mmc dvd "$DVD" "status -j" '0|'"$INQUIRY $STATUS $GETCONF $GP0 $GP3"'|{"device": "@", "vendor": "OTHERCO", "product": "DVD-ROM", "revision": "1.00", "model": "OTHERCO DVD-ROM         1.00", "kind": "mmc", "mode": null, "speed": 16, "speeds": [2, 4, 8, 16], "medium": "dvd", "speed_kbs": 22160, "max_kbs": 22160, "speeds_kbs": [2770, 5540, 11080, 22160], "note": null}|'
mmc dvd - "set 8x" "0|$INQUIRY $GETCONF $READCAP $STREAM $GP0|@  8x|"
expect "... SET STREAMING's 28 bytes went out: LBA 0 to the last, 11080 kB per 1000 ms to read and to write" \
    "000000000000000000057e3f00002b48000003e800002b48000003e8" "$(mmc_data dvd)"
