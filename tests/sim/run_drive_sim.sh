#!/usr/bin/env bash
# run_drive_sim.sh nt|aspi BUILD_DIR NATIVE_DIR PROGRAM
# Runs a drive integration test program once under Wine with simulated drives:
#   nt    CD-ROM letters d to h played by the SG_IO emulator (d.drive ... h.drive);
#         a native WNASPI32.DLL beside the program is preferred, as a planted one
#   aspi  the program sees the 95 family and loads the simulated WNASPI32.DLL
set -u
mode=$1 build=$2 native=$3 program=$4
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../system/wineenv.sh"
vt_init "$build"
source "$here/sim.sh"
VT_SIM_DIR=$VT_BUILD/simdrives/$mode
vt_sim_init "${native:-$VT_BUILD/native}"

case $mode in
nt)
    if [ ! -f "$VT_SIM_LIB" ]; then
        echo "SG_IO emulator missing: $VT_SIM_LIB (build the native part first)" >&2
        exit 1
    fi
    for letter in d e f g h; do vt_sim_cdrom "$letter" "$letter"; done
    cleanup() {
        for letter in d e f g h; do vt_sim_no_cdrom "$letter"; done
    }
    trap cleanup EXIT
    # The simulated WNASPI32.DLL lies beside the program and would be taken
    # first, as Windows takes a planted one: the NT path must never load it.
    (vt_sim_preload &&
        WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}wnaspi32=n,b" exec wine "$program")
    ;;
aspi)
    vt_sim_win98 "$(basename "$program")"
    vt_sim_apply
    vt_sim_aspi_config adapters=0
    vt_sim_aspi_install "$(dirname "$program")"
    wine "$program"
    ;;
*)
    echo "usage: run_drive_sim.sh nt|aspi BUILD_DIR NATIVE_DIR PROGRAM" >&2
    exit 2
    ;;
esac
