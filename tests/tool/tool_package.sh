#!/usr/bin/env bash
# tool_package.sh NATIVE_DIR WORK_DIR: the Linux tool's package and install,
# made afresh from the native build folder: lintian, where each file lands for
# the package (/usr) and for cmake --install (/usr/local), that the paths the
# man page and the unit name are those, the unit under systemd-analyze verify,
# the udev rule, the configuration as shipped, and the bash completion.
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
SOURCE_DATE_EPOCH=$epoch cpack --config "$native/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.log" 2>&1
deb=$(find "$work/pkg" -maxdepth 1 -name 'velotune_*_*.deb' | head -n 1)
if [ -z "$deb" ]; then
    check "cpack makes the package (see $work/cpack.log)" false
    vt_end
fi
expect "the package is named velotune_<version>_<arch>.deb" "velotune_1.0.1.3_$(dpkg --print-architecture).deb" \
    "$(basename "$deb")"
lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1
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
expect "the udev rule: two active lines" "2" "$(grep -cv -e '^#' -e '^$' "$rule")"
added=$(grep -v '^#' "$rule" | grep 'ACTION=="add"')
changed=$(grep -v '^#' "$rule" | grep 'ACTION=="change"')
expect "... one matching added optical block devices" 'SUBSYSTEM=="block"|KERNEL=="sr[0-9]*"|ACTION=="add"' \
    "$(grep -oE '(SUBSYSTEM|KERNEL|ACTION)=="[^"]*"' <<<"$added" | tr '\n' '|' | sed 's/|$//')"
expect "... asking systemd for the unit of that drive" 'TAG+="systemd"|ENV{SYSTEMD_WANTS}+="velotune-apply@%k.service"' \
    "$(grep -oE '(TAG|ENV\{SYSTEMD_WANTS\})\+="[^"]*"' <<<"$added" | tr '\n' '|' | sed 's/|$//')"
expect "... and running nothing itself" "" "$(grep -E 'RUN|PROGRAM|IMPORT' <<<"$added")"
expect "the other: a medium change of an optical drive only" \
    'SUBSYSTEM=="block"|KERNEL=="sr[0-9]*"|ACTION=="change"|ENV{DISK_MEDIA_CHANGE}=="1"' \
    "$(grep -oE '(SUBSYSTEM|KERNEL|ACTION|ENV\{DISK_MEDIA_CHANGE\})=="[^"]*"' <<<"$changed" | tr '\n' '|' | sed 's/|$//')"
expect "... queueing the unit's start without waiting for it" \
    'RUN+="/bin/systemctl --no-block start velotune-apply@%k.service"|0' \
    "$(grep -oE 'RUN\+="[^"]*"' <<<"$changed")|$(grep -c SYSTEMD_WANTS <<<"$changed")"
unit=$root/lib/systemd/system/velotune-apply@.service
expect "the unit: a bounded oneshot with its man page" "Type=oneshot|TimeoutStartSec=5min|Documentation=man:velotune(1)" \
    "$(grep -E '^(Type|TimeoutStartSec|Documentation)=' "$unit" | sort -t= -k1,1r | tr '\n' '|' | sed 's/|$//')"
expect "... that applies the configuration to /dev/<instance>" "ExecStart=/usr/bin/velotune apply /dev/%I" \
    "$(grep '^ExecStart=' "$unit")"

vt_section "cmake --install (/usr/local)"
local_root=$work/local-root
DESTDIR=$local_root cmake --install "$native" --prefix /usr/local >"$work/install.log" 2>&1
expect "the man page names where a local install puts the files" \
    "/etc/velotune.conf /usr/local/lib/systemd/system/velotune-apply@.service /etc/udev/rules.d/60-velotune.rules /usr/local/share/bash-completion/completions/velotune /usr/local/share/doc/velotune/ /usr/local/bin/velotune" \
    "$(named_paths "$local_root" | tr '\n' ' ' | sed 's/ $//')"
expect "... and each of them is installed" "" "$(missing "$local_root")"
expect "systemd-analyze verify passes for the local unit" "rc=0 unit=/usr/local/lib/systemd/system" \
    "$(verify "$local_root")"
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
expect "set's values" "high max silence|high max silence" \
    "$(complete_words velotune set '')|$(complete_words velotune set -v -d /dev/sr0 '')"
expect "options of list" "--all" "$(complete_words velotune list --a)"
expect "options of apply" "--check --config" "$(complete_words velotune apply --c)"
expect "options before a command" "--verbose --version" "$(complete_words velotune --v)"
vt_end
