# Simulated drives for programs under Wine. Source after tests/system/wineenv.sh
# and vt_init:
#
#   source tests/system/wineenv.sh; vt_init BUILD; source tests/sim/sim.sh
#   vt_sim_init NATIVE_DIR
#
# A drive is a text file NAME.drive of key=value lines in $VT_SIM_DIR (the keys
# are listed in tests/sim/simdrive.h: kind=twomode|speedlist, mode=high|silence,
# speeds=8,16,24, current=24, vendor=, product=, revision=, type=5,
# reject_status=1, inquiry_fails=1, set_fails=1, hang_ms=N, gone=1,
# (on the pass-through path, hang_ms of at least the command's time-out is
# answered at once as a time-out: logged answer=timeout, the call fails),
# status_hex=..., inquiry_hex=...). The file is read on every command; a mode set
# writes mode= (two-mode) or current= (speed list) back into it. Every command the
# drive receives adds one line to NAME.drive.log:
#   cdb=ff07b100000000000000ffaa dir=in len=255 timeout=60000 sense_max=24 answer=good
# (pass-through path; the ASPI path writes "ha=H target=T dir=.. len=.. flags=08
# lun=0 sense_len=14" in place of the timeout fields).
#
#   vt_sim_init NATIVE_DIR     VT_SIM_LIB (the SG_IO emulator), VT_SIM_DIR
#                              ($VT_BUILD/simdrives), VT_SIM_ASPI_DLL
#   vt_sim_preload             adds the SG_IO emulator to LD_PRELOAD (exported) for
#                              every wine process started afterwards
#   vt_sim_drive NAME K=V...   writes a new drive file (and empties its log);
#                              prints its path
#   vt_sim_set NAME K=V...     changes or adds keys of an existing drive
#   vt_sim_unset NAME KEY...   removes keys
#   vt_sim_get NAME KEY        prints the value of a key (e.g. mode after a Set)
#   vt_sim_path NAME           prints the drive file's path
#   vt_sim_log NAME            prints the drive's command log
#   vt_sim_log_clear NAME      empties the drive's command log
#   vt_sim_count NAME [ERE]    number of logged commands (matching ERE, if given)
#   vt_sim_cdrom L NAME        drive letter L becomes a CD-ROM played by NAME
#   vt_sim_no_cdrom L          drive letter L has no drive: a fixed letter (below)
#                              stays a CD-ROM letter whose device fails every
#                              command at the transport; another letter goes
#   vt_sim_cdrom_now L NAME    as vt_sim_cdrom, at once and with Wine running: Wine's
#                              mount manager defines the letter and tells every
#                              window that a volume arrived (tools/winedrive.exe)
#   vt_sim_no_cdrom_now L      removes drive letter L the same way (a volume removal);
#                              a fixed letter is really gone until the next
#                              vt_sim_cdrom, vt_sim_no_cdrom or vt_sim_init maps it
#   vt_sim_win98 PROG.exe [off]  PROG.exe sees the 95 family (Version=win98), or not
#   vt_sim_apply               writes the queued registry changes (vt_sim_win98, and
#                              the letters that are not fixed) with one wine start
#                              and, when such a letter changed, restarts the wine
#                              server (it reads the letters at its start). Call it
#                              before starting the program; after changes of fixed
#                              letters only it has nothing to do.
#   vt_sim_map                 maps the fixed letters that are not mapped (the wine
#                              fixture calls it once per run; vt_sim_init too)
#   vt_sim_aspi_config K=V...  writes the ASPI configuration $VT_SIM_DIR/aspi.ini
#                              (adapters=N, support=0xSSCC, delay_ms=N, missing=0xSS)
#                              and empties its log
#   vt_sim_aspi_target H:T NAME  adds a device at host adapter H, target T
#   vt_sim_aspi_log            prints the ASPI log (every command, with ha= target=)
#   vt_sim_aspi_install DIR    copies the simulated WNASPI32.DLL into DIR (beside
#                              the program), exports VTSIM_ASPI_CONFIG and adds
#                              wnaspi32=n to WINEDLLOVERRIDES
#   vt_sim_winpath PATH        prints the Windows (Z:) form of a Unix path
#
# The fixed letters ($VT_SIM_FIXED, d to o: every letter the scripts use) are
# CD-ROM letters for the whole run: each one's device link in the prefix names a
# slot link $VT_BUILD/simslots/L, and that slot names the drive file that plays
# the letter, or $VT_BUILD/simslots/gone.drive (gone=1) when the letter has no
# drive. vt_sim_cdrom and vt_sim_no_cdrom only re-point the slot, at once; every
# program that opens "\\.\L:" afterwards talks to the new drive file (one that
# still holds a handle keeps the old one), and the wine server goes on running.
# Wine's mount manager keeps the letter's type from its start, so a fixed letter
# cannot be taken away without it: only vt_sim_no_cdrom_now does, through it.

vt_sim_init() {
    local native=${1:-${VT_BUILD:?vt_init first}/native}
    VT_SIM_LIB=$(cd "$native" && pwd)/sim/libvtsim_sgio.so
    VT_SIM_DIR=${VT_SIM_DIR:-$VT_BUILD/simdrives}
    VT_SIM_ASPI_DLL=$VT_BUILD/sim/WNASPI32.DLL
    VT_SIM_REG=()
    mkdir -p "$VT_SIM_DIR"
    export VT_SIM_LIB VT_SIM_DIR VT_SIM_ASPI_DLL
    vt_sim_clean
}

# Every script starts from a prefix without simulated drives and without the
# 95-family setting, whatever an earlier script (or one that was killed) left:
# the fixed letters mapped and without a drive, no other simulated letter.
vt_sim_clean() {
    local link letter dirty='' rc=0
    for link in "$WINEPREFIX"/dosdevices/?::; do
        [ -L "$link" ] || continue
        letter=$(basename "$link"); letter=${letter%::}
        vt_sim_fixed "$letter" && continue
        vt_sim_no_cdrom "$letter"
        dirty=1
    done
    if [ -f "$WINEPREFIX/system.reg" ]; then
        local gone; gone=$(vt_sim_gone)
        for letter in $VT_SIM_FIXED; do vt_sim_slot "$letter" "$gone"; done
        : >"$gone.log"
        vt_sim_map || rc=1
    fi
    if grep -qi '"Version"="win98"' "$WINEPREFIX/user.reg" 2>/dev/null; then
        local app
        # shellcheck disable=SC2013 # program names hold no blanks
        for app in $(grep -i -B3 '"Version"="win98"' "$WINEPREFIX/user.reg" |
                     sed -n 's/^\[Software\\\\Wine\\\\AppDefaults\\\\\([^]]*\)\].*/\1/p'); do
            vt_sim_win98 "$app" off
        done
        dirty=1
    fi
    [ -n "$dirty$VT_SIM_RESTART" ] && vt_sim_apply
    return $rc
}

# --- the fixed letters ------------------------------------------------------------

VT_SIM_FIXED="d e f g h i j k l m n o"
VT_SIM_RESTART=
VT_SIM_REG=()

vt_sim_fixed() {
    case " $VT_SIM_FIXED " in
    *" $1 "*) return 0 ;;
    esac
    return 1
}

vt_sim_slots() { echo "$VT_BUILD/simslots"; }

# vt_sim_gone: prints the drive file of the fixed letters without a drive
vt_sim_gone() {
    local file; file=$(vt_sim_slots)/gone.drive
    [ -f "$file" ] || printf 'gone=1\n' >"$file"
    echo "$file"
}

# vt_sim_slot L FILE: the slot of fixed letter L names FILE; a program that opens
# the letter meanwhile finds the old name or the new one, never none
vt_sim_slot() {
    local slot; slot=$(vt_sim_slots)/$1
    mkdir -p "$(vt_sim_slots)"
    ln -sfn "$2" "$slot.new" && mv -T "$slot.new" "$slot"
}

# vt_sim_mapped L: true when the prefix's links of fixed letter L lead to its slot
vt_sim_mapped() {
    local dev=$WINEPREFIX/dosdevices/$1
    [ "$(readlink "$dev:")" = "$VT_BUILD/cdroot" ] &&
        [ "$(readlink "$dev::")" = "$(vt_sim_slots)/$1" ]
}

# vt_sim_map [L...]: maps the given fixed letters (all of them by default) that
# are not mapped. One or two letters (what vt_sim_no_cdrom_now took away) through
# Wine's mount manager while it runs; more (a new prefix, the wine fixture's
# start) by their links and registry type, with a restart of the wine server at
# the next vt_sim_apply. A letter mapped anew has no drive unless its slot names one.
vt_sim_map() {
    [ -f "$WINEPREFIX/system.reg" ] || return 0
    local letter slots todo=() letters=("$@")
    # shellcheck disable=SC2206 # a list of letters
    [ $# -gt 0 ] || letters=($VT_SIM_FIXED)
    slots=$(vt_sim_slots)
    mkdir -p "$slots" "$VT_BUILD/cdroot" "$WINEPREFIX/dosdevices"
    for letter in "${letters[@]}"; do
        [ -L "$slots/$letter" ] || vt_sim_slot "$letter" "$(vt_sim_gone)"
        vt_sim_mapped "$letter" || todo+=("$letter")
    done
    [ ${#todo[@]} -gt 0 ] || return 0
    if [ ${#todo[@]} -le 2 ] && [ -f "$VT_BUILD/tools/winedrive.exe" ]; then
        for letter in "${todo[@]}"; do
            wine "$VT_BUILD/tools/winedrive.exe" define "$letter" cdrom "$VT_BUILD/cdroot" \
                "$slots/$letter" </dev/null >/dev/null 2>&1 && vt_sim_mapped "$letter" && continue
            echo "vt_sim_map: the mount manager did not map $letter:" >&2
            return 1
        done
        return 0
    fi
    for letter in "${todo[@]}"; do
        ln -sfn "$VT_BUILD/cdroot" "$WINEPREFIX/dosdevices/$letter:"
        ln -sfn "$slots/$letter" "$WINEPREFIX/dosdevices/$letter::"
        VT_SIM_REG+=("HKEY_LOCAL_MACHINE\\Software\\Wine\\Drives|\"$letter:\"=\"cdrom\"")
    done
    VT_SIM_RESTART=1
}

vt_sim_preload() {
    case ":${LD_PRELOAD:-}:" in
    *":$VT_SIM_LIB:"*) ;;
    *) export LD_PRELOAD=${LD_PRELOAD:+$LD_PRELOAD:}$VT_SIM_LIB ;;
    esac
}

vt_sim_path() { echo "$VT_SIM_DIR/$1.drive"; }

vt_sim_drive() {
    local file; file=$(vt_sim_path "$1"); shift
    : >"$file.log"
    printf '%s\n' "$@" >"$file"
    echo "$file"
}

vt_sim_set() {
    local file; file=$(vt_sim_path "$1"); shift
    local kv key
    for kv in "$@"; do
        key=${kv%%=*}
        if grep -q "^$key=" "$file"; then
            # in place, so that open descriptors keep naming the file
            local text; text=$(awk -v k="$key" -v l="$kv" -F= '$1==k{print l; next}{print}' "$file")
            printf '%s\n' "$text" >"$file"
        else
            printf '%s\n' "$kv" >>"$file"
        fi
    done
}

vt_sim_unset() {
    local file; file=$(vt_sim_path "$1"); shift
    local key text
    for key in "$@"; do
        text=$(awk -v k="$key" -F= '$1!=k' "$file")
        printf '%s\n' "$text" >"$file"
    done
}

vt_sim_get() {
    awk -v k="$2" -F= '$1==k{v=substr($0,length(k)+2)} END{print v}' "$(vt_sim_path "$1")"
}

vt_sim_log() { cat "$(vt_sim_path "$1").log" 2>/dev/null; }

vt_sim_log_clear() { : >"$(vt_sim_path "$1").log"; }

vt_sim_count() {
    local log; log="$(vt_sim_path "$1").log"
    [ -f "$log" ] || { echo 0; return; }
    if [ -n "${2:-}" ]; then grep -cE "$2" "$log"; else wc -l <"$log" | tr -d ' '; fi
}

vt_sim_winpath() { echo "Z:${1//\//\\}"; }

vt_sim_cdrom() {
    local letter=$1 file; file=$(vt_sim_path "$2")
    if vt_sim_fixed "$letter" && [ -f "$WINEPREFIX/system.reg" ]; then
        vt_sim_slot "$letter" "$file"
        vt_sim_map "$letter" || return
        # without the mount manager's help: the links, and a restart now
        [ -z "$VT_SIM_RESTART" ] || vt_sim_apply
        return
    fi
    VT_SIM_RESTART=1
    mkdir -p "$WINEPREFIX/dosdevices" "$VT_BUILD/cdroot"
    ln -sfn "$VT_BUILD/cdroot" "$WINEPREFIX/dosdevices/$letter:"
    ln -sfn "$file" "$WINEPREFIX/dosdevices/$letter::"
    VT_SIM_REG+=("HKEY_LOCAL_MACHINE\\Software\\Wine\\Drives|\"$letter:\"=\"cdrom\"")
}

vt_sim_no_cdrom() {
    local letter=$1
    if vt_sim_fixed "$letter" && [ -f "$WINEPREFIX/system.reg" ]; then
        vt_sim_slot "$letter" "$(vt_sim_gone)"
        vt_sim_map "$letter" || return
        # without the mount manager's help: the links, and a restart now
        [ -z "$VT_SIM_RESTART" ] || vt_sim_apply
        return
    fi
    VT_SIM_RESTART=1
    rm -f "$WINEPREFIX/dosdevices/$letter:" "$WINEPREFIX/dosdevices/$letter::"
    VT_SIM_REG+=("HKEY_LOCAL_MACHINE\\Software\\Wine\\Drives|\"$letter:\"=-")
}

# A fixed letter keeps its slot: the mount manager's links lead to the slot, and
# the slot to the drive.
vt_sim_cdrom_now() {
    local device; device=$(vt_sim_path "$2")
    mkdir -p "$VT_BUILD/cdroot"
    if vt_sim_fixed "$1"; then
        vt_sim_slot "$1" "$device"
        device=$(vt_sim_slots)/$1
    fi
    wine "$VT_BUILD/tools/winedrive.exe" define "$1" cdrom "$VT_BUILD/cdroot" "$device" </dev/null
}

vt_sim_no_cdrom_now() {
    wine "$VT_BUILD/tools/winedrive.exe" remove "$1" </dev/null || return
    rm -f "$WINEPREFIX/dosdevices/$1::" # the mount manager leaves the device link
    if vt_sim_fixed "$1"; then vt_sim_slot "$1" "$(vt_sim_gone)"; fi
}

vt_sim_win98() {
    local key="HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\$1"
    if [ "${2:-on}" = off ]; then
        VT_SIM_REG+=("$key|\"Version\"=-")
    else
        VT_SIM_REG+=("$key|\"Version\"=\"win98\"")
    fi
}

vt_sim_apply() {
    if [ ${#VT_SIM_REG[@]} -gt 0 ]; then
        local reg=${VT_SIM_DIR:-$VT_BUILD/simdrives}/apply.reg entry
        {
            printf 'REGEDIT4\r\n'
            for entry in "${VT_SIM_REG[@]}"; do
                printf '\r\n[%s]\r\n%s\r\n' "${entry%%|*}" "${entry#*|}"
            done
        } >"$reg"
        wine regedit /S "$(vt_sim_winpath "$reg")" </dev/null >/dev/null 2>&1
        VT_SIM_REG=()
    fi
    if [ -n "${VT_SIM_RESTART:-}" ]; then
        vt_restart_wine
        # Wine's own services start with the first program after the restart and
        # keep its output open: start them here, away from the caller's output.
        wine cmd /c exit </dev/null >/dev/null 2>&1
        VT_SIM_RESTART=
    fi
}

vt_sim_aspi_config() {
    local ini=$VT_SIM_DIR/aspi.ini
    printf '%s\n' "$@" >"$ini"
    : >"$ini.log"
    export VTSIM_ASPI_CONFIG=$ini
}

vt_sim_aspi_target() {
    printf 'target=%s %s\n' "$1" "$(vt_sim_path "$2")" >>"$VT_SIM_DIR/aspi.ini"
}

vt_sim_aspi_log() { cat "$VT_SIM_DIR/aspi.ini.log" 2>/dev/null; }

vt_sim_aspi_install() {
    local dir; dir=$(cd "$1" && pwd)
    [ "$dir/WNASPI32.DLL" -ef "$VT_SIM_ASPI_DLL" ] || cp -f "$VT_SIM_ASPI_DLL" "$dir/WNASPI32.DLL"
    export VTSIM_ASPI_CONFIG=$VT_SIM_DIR/aspi.ini
    case ",${WINEDLLOVERRIDES:-}" in
    *wnaspi32=n*) ;;
    *) export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}wnaspi32=n" ;;
    esac
}
