#!/usr/bin/env bash
# tool_package.sh NATIVE_DIR WORK_DIR: the Linux tool's package and install,
# made afresh from the native build folder: lintian, the same bytes under umask
# 077 as under 022, where each file lands for the package (/usr) and for cmake
# --install (/usr/local) and with which modes, that the paths the man page and
# the unit name are those, the unit under systemd-analyze verify and security
# and the system calls it lets through, the maintainer scripts, the udev rule,
# the configuration as shipped, and the bash completion.
set -u
native=$(cd "$1" && pwd)
work=$2
source "$(dirname "$0")/../system/lib.sh"
rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1

# expect NAME WANT HAVE
expect() { check "$1" eq "$3" "$2"; }
# 2001-09-09 01:46:40 UTC: a date no build day can be
epoch=1000000000

# --- the package -----------------------------------------------------------------
# pack UMASK: the package made afresh by cpack under that umask, into pkgUMASK/
pack() {
    (umask "$1" && SOURCE_DATE_EPOCH=$epoch cpack --config "$native/CPackConfig.cmake" -B "$work/pkg$1") \
        >"$work/cpack$1.log" 2>&1
    find "$work/pkg$1" -maxdepth 1 -name 'velotune_*_*.deb' | head -n 1
}
deb=$(pack 022)
if [ -z "$deb" ]; then
    check "cpack makes the package (see $work/cpack022.log)" false
    vt_end
fi
expect "the package is named velotune_<version>_<arch>.deb" "velotune_1.0.1.3_$(dpkg --print-architecture).deb" \
    "$(basename "$deb")"
deb077=$(pack 077)
check "a package made under umask 077 is byte for byte the one made under 022" \
    cmp "$deb" "${deb077:-$work/pkg077/none}"
# lintian reads the one from umask 077: a folder or control file that took the
# umask's mode would show there
lintian --fail-on error,warning "${deb077:-$deb}" >"$work/lintian.log" 2>&1
expect "lintian: no error and no warning" "0|" "$?|$(grep -E '^[EW]: ' "$work/lintian.log")"
expect "/etc/velotune.conf is a conffile" "/etc/velotune.conf" "$(dpkg-deb --info "$deb" conffiles)"
expect "the program depends on the libraries it links" "yes" \
    "$(dpkg-deb -f "$deb" Depends | grep -q 'libc6' && echo yes)"
root=$work/usr-root
dpkg-deb -x "$deb" "$root"
expect "the packaged program runs" "velotune 1.0.1.3" "$("$root/usr/bin/velotune" --version | cut -d' ' -f1-2)"
expect "the man page and the changelog carry SOURCE_DATE_EPOCH's date, not the build day's" \
    '.TH VELOTUNE 1 "2001-09-09" "velotune 1.0.1.3" "User Commands"| -- Ziruverora Support <support@ziruverora.example>  Sun, 09 Sep 2001 01:46:40 +0000' \
    "$(zcat "$root/usr/share/man/man1/velotune.1.gz" | head -n 1)|$(zcat "$root/usr/share/doc/velotune/changelog.gz" | tail -n 1)"
# the options --help names that the man page does not
undocumented() {
    local man option
    man=$(zcat "$root/usr/share/man/man1/velotune.1.gz" | sed 's/\\-/-/g')
    for option in $("$root/usr/bin/velotune" --help | grep -oE -- '(^|[ [|])--?[a-zA-Z][a-zA-Z-]*' |
        grep -oE -- '--?[a-zA-Z-]+' | sort -u); do
        grep -qE -- "(^|[ \"])$option([ \",]|$)" <<<"$man" || echo "$option"
    done
    for command in list status set apply; do
        grep -q "^\.B velotune $command" <<<"$man" || echo "$command"
    done
}
expect "the man page's synopsis and options name every command and option --help names" "" \
    "$(undocumented | tr '\n' ' ')"
expect "every line of the shipped configuration is commented out" "" \
    "$(grep -v -e '^#' -e '^[[:space:]]*$' "$root/etc/velotune.conf")"

# named_paths ROOT: the paths the man page's FILES section and the unit name
named_paths() {
    zcat "$(find "$1" -path '*/man1/velotune.1.gz')" | sed -n '/^\.SH FILES/,/^\.SH/s/^\.I //p' |
        sed 's/\\-/-/g'
    sed -n 's/^ExecStart=\([^ ]*\).*/\1/p' "$(find "$1" -name 'velotune-apply@.service')"
}
# missing ROOT: the named paths that are not in the tree under ROOT
missing() {
    local path
    while read -r path; do
        [ -e "$1$path" ] || echo "$path"
    done < <(named_paths "$1")
}
# verify ROOT: systemd-analyze verify of one instance against the tree, with
# the system's own targets beside it and the man page found in the tree
verify() {
    local units
    units=$(dirname "$(find "$1" -name 'velotune-apply@.service' | head -n 1)")
    mkdir -p "$1/lib/systemd/system"
    cp -a /lib/systemd/system/*.target /lib/systemd/system/*.slice "$1/lib/systemd/system/"
    MANPATH=$(dirname "$(find "$1" -path '*/man1/velotune.1.gz')")/.. \
        systemd-analyze verify --root="$1" velotune-apply@sr0.service 2>&1 | grep -v 'Failed to resolve symlink'
    echo "rc=${PIPESTATUS[0]} unit=${units#"$1"}"
}

vt_section "package (/usr)"
expect "the man page names where the files land" \
    "/etc/velotune.conf /lib/systemd/system/velotune-apply@.service /lib/udev/rules.d/60-velotune.rules /usr/share/bash-completion/completions/velotune /usr/share/doc/velotune/ /usr/bin/velotune" \
    "$(named_paths "$root" | tr '\n' ' ' | sed 's/ $//')"
expect "... and each of them is in the package" "" "$(missing "$root")"
expect "systemd-analyze verify passes for velotune-apply@sr0.service" "rc=0 unit=/lib/systemd/system" \
    "$(verify "$root")"
rm "$root/usr/bin/velotune"
expect "... and fails without the program it runs" "rc=1" "$(verify "$root" | grep -o 'rc=1')"

rule=$root/lib/udev/rules.d/60-velotune.rules
expect "the udev rule: one active line" "1" "$(grep -cv -e '^#' -e '^$' "$rule")"
expect "... matching added optical block devices" 'SUBSYSTEM=="block"|KERNEL=="sr[0-9]*"|ACTION=="add"' \
    "$(grep -v '^#' "$rule" | grep -oE '(SUBSYSTEM|KERNEL|ACTION)=="[^"]*"' | tr '\n' '|' | sed 's/|$//')"
expect "... asking systemd for the unit of that drive" 'TAG+="systemd"|ENV{SYSTEMD_WANTS}+="velotune-apply@%k.service"' \
    "$(grep -v '^#' "$rule" | grep -oE '(TAG|ENV\{SYSTEMD_WANTS\})\+="[^"]*"' | tr '\n' '|' | sed 's/|$//')"
expect "... and running nothing itself" "" "$(grep -v '^#' "$rule" | grep -E 'RUN|PROGRAM|IMPORT')"
unit=$root/lib/systemd/system/velotune-apply@.service
expect "the unit: a bounded oneshot with its man page" "Type=oneshot|TimeoutStartSec=5min|Documentation=man:velotune(1)" \
    "$(grep -E '^(Type|TimeoutStartSec|Documentation)=' "$unit" | sort -t= -k1,1r | tr '\n' '|' | sed 's/|$//')"
expect "... that applies the configuration to /dev/<instance>" "ExecStart=/usr/bin/velotune apply /dev/%I" \
    "$(grep '^ExecStart=' "$unit")"
exposure=$(systemd-analyze security --offline=yes "$unit" 2>&1 |
    sed -n 's/.*Overall exposure level for .*: \([0-9.]*\) .*/\1/p')
expect "... sandboxed: an exposure of 2.0 or less (systemd-analyze security --offline=yes)" \
    "yes" "$(awk -v e="$exposure" 'BEGIN { print (e != "" && e <= 2.0) ? "yes" : "no: [" e "]" }')"
expect "... with CAP_SYS_RAWIO alone, the optical drives' block nodes alone, the host's /dev and root" \
    "CapabilityBoundingSet=CAP_SYS_RAWIO|DeviceAllow=block-sr rw|DevicePolicy=closed|" \
    "$(grep -E '^(CapabilityBoundingSet|DevicePolicy|DeviceAllow|PrivateDevices|PrivateUsers|User|DynamicUser)=' "$unit" |
        sort | tr '\n' '|')"
# filter_set SET...: the system calls a filter's sets name, groups expanded
filter_set() {
    local item
    for item in "$@"; do
        case $item in
        @*) # shellcheck disable=SC2046 # one word per member
            filter_set $(systemd-analyze syscall-filter "$item" | sed -n '2,$s/^ *\([^# ][^ ]*\)$/\1/p') ;;
        *) echo "$item" ;;
        esac
    done
}
# filtered: the calls the unit's SystemCallFilter= lines let through, one a line
filtered() {
    local line words allow=() deny=()
    while read -r line; do
        case $line in
        "~"*) read -r -a words <<<"${line#\~}" && deny+=("${words[@]}") ;;
        *) read -r -a words <<<"$line" && allow+=("${words[@]}") ;;
        esac
    done < <(sed -n 's/^SystemCallFilter=//p' "$unit")
    filter_set "${allow[@]}" | sort -u >"$work/allowed"
    filter_set "${deny[@]}" | sort -u >"$work/denied"
    comm -23 "$work/allowed" "$work/denied"
}
filtered >"$work/filtered"
# The calls of apply on a simulated drive (the SG_IO emulator answers the
# ioctl in the process, so the calls of a real drive are named as well: its
# look at the node and at /sys, the lock and SG_IO).
printf '%s\n' kind=twomode mode=high vendor=TRELVIX "product=DVD-RW VT-2250A" revision=1.03 \
    >"$work/sim.drive"
echo "*.drive silence" >"$work/apply.conf"
chmod 644 "$work/apply.conf"
strace -f -qq -o "$work/apply.trace" -E "LD_PRELOAD=$native/sim/libvtsim_sgio.so" \
    "$native/velotune" apply --config "$work/apply.conf" "$work/sim.drive" >"$work/apply.out" 2>&1
called() {
    sed -n 's/^[0-9]* *\([a-z0-9_]*\)(.*/\1/p' "$work/apply.trace"
    printf '%s\n' newfstatat statx openat readlinkat getdents64 fstat flock ioctl close
}
expect "... and its system call filter lets through every call apply makes" "silence|" \
    "$(cut -d' ' -f3 "$work/apply.out")|$(called | sort -u | comm -23 - "$work/filtered" | tr '\n' ' ')"

vt_section "maintainer scripts"
# maintscript SCRIPT ARG [systemd]: runs the package's script with a systemctl
# that logs its arguments and fails, under a /run of its own (in a private
# mount namespace) that shows a running systemd or not; prints its exit code
# and what systemctl got
dpkg-deb -e "$deb" "$work/control"
printf '#!/bin/sh\necho "$@" >>"%s"\nexit 1\n' "$work/systemctl.log" >"$work/systemctl"
chmod 755 "$work/systemctl"
maintscript() {
    : >"$work/systemctl.log"
    # shellcheck disable=SC2016 # expanded by the inner shell
    SCRIPT=$work/control/$1 PATH=$work:$PATH SYSTEMD=${3:-} timeout 10 unshare -m sh -c '
        mount -t tmpfs tmpfs /run || exit 99
        [ -z "$SYSTEMD" ] || mkdir -p /run/systemd/system
        "$SCRIPT" "$0"' "$2" >/dev/null 2>&1
    echo "$?:$(cat "$work/systemctl.log")"
}
expect "postinst and postrm: 0755, /bin/sh, set -e" "755 #!/bin/sh set -e|755 #!/bin/sh set -e" \
    "$(for f in postinst postrm; do
        echo "$(stat -c %a "$work/control/$f") $(head -n1 "$work/control/$f") $(grep -m1 '^set' "$work/control/$f")"
    done | tr '\n' '|' | sed 's/|$//')"
while IFS='|' read -r script arg systemd want; do
    expect "$script $arg${systemd:+ (systemd running)}" "$want" "$(maintscript "$script" "$arg" "$systemd")"
done <<'TABLE'
postinst|configure|yes|0:--system daemon-reload
postinst|abort-upgrade|yes|0:--system daemon-reload
postinst|configure||0:
postinst|bogus|yes|1:
postrm|remove|yes|0:--system daemon-reload
postrm|remove||0:
postrm|upgrade|yes|0:
postrm|purge|yes|0:
TABLE

vt_section "cmake --install (/usr/local)"
local_root=$work/local-root
DESTDIR=$local_root cmake --install "$native" --prefix /usr/local >"$work/install.log" 2>&1
expect "the man page names where a local install puts the files" \
    "/etc/velotune.conf /usr/local/lib/systemd/system/velotune-apply@.service /etc/udev/rules.d/60-velotune.rules /usr/local/share/bash-completion/completions/velotune /usr/local/share/doc/velotune/ /usr/local/bin/velotune" \
    "$(named_paths "$local_root" | tr '\n' ' ' | sed 's/ $//')"
expect "... and each of them is installed" "" "$(missing "$local_root")"
expect "systemd-analyze verify passes for the local unit" "rc=0 unit=/usr/local/lib/systemd/system" \
    "$(verify "$local_root")"
# modes WHERE: what in the tree under WHERE is not 0755 (folders) or 0644/0755 (files)
modes() {
    find "$1" -mindepth 1 \( -type d ! -perm 755 \) -o \( -type f ! -perm 644 ! -perm 755 \) |
        sed "s|^$1||" | tr '\n' ' '
}
rm -rf "$work/local077"
(umask 077 && DESTDIR=$work/local077 cmake --install "$native" --prefix /usr/local) >"$work/install077.log" 2>&1
expect "a local install under umask 077: folders 0755, files 0644 or 0755" "" "$(modes "$work/local077")"
echo "/dev/sr0 silence" >"$local_root/etc/velotune.conf"
DESTDIR=$local_root cmake --install "$native" --prefix /usr/local >"$work/install.log" 2>&1
expect "a second install keeps the administrator's configuration" "/dev/sr0 silence" \
    "$(cat "$local_root/etc/velotune.conf")"

vt_section "bash completion"
# complete WORDS...: what the completion offers for the last word
complete_words() {
    (
        # shellcheck disable=SC1091
        source "$root/usr/share/bash-completion/completions/velotune"
        COMP_WORDS=("$@")
        COMP_CWORD=$(($# - 1))
        _velotune
        printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//'
    )
}
expect "commands" "apply list set status" "$(complete_words velotune '')"
expect "set's values" "high silence|high silence" \
    "$(complete_words velotune set '')|$(complete_words velotune set -v -d /dev/sr0 '')"
expect "options of list" "--all" "$(complete_words velotune list --a)"
expect "options of apply" "--check --config" "$(complete_words velotune apply --c)"
expect "options before a command" "--verbose --version" "$(complete_words velotune --v)"
vt_end
