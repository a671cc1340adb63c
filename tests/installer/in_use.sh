#!/usr/bin/env bash
# An upgrade on a live system: a file of the installation that another program
# holds open is written beside its target and put in place at the next
# restart, and the setup says so with exit code 3010. The folder named by its
# 8.3 alias is the same installation, so nothing of it is deleted.
source "$(dirname "$0")/lib.sh"
it_require_build
it_save
it_cleanup

dir='C:\Program Files\Velotune In Use'
udir=$(it_unix "$dir")
PENDING_KEY='HKLM\System\CurrentControlSet\Control\Session Manager'
wine reg delete "$PENDING_KEY" /v PendingFileRenameOperations /f >/dev/null 2>&1
pending() {
    wine reg query "$PENDING_KEY" /v PendingFileRenameOperations 2>/dev/null | tr -d '\r' |
        grep PendingFileRenameOperations
}
# probe_value KEY CMD ARGS...: one value the probe prints as KEY=VALUE
probe_value() {
    local key=$1
    shift
    wine "$IT_PROBE" "$@" </dev/null 2>/dev/null | tr -d '\r' | sed -n "s/^$key=//p"
}
# setup_rc [FOLDER]: the silent setup's whole exit code (a Linux exit status
# would cut 3010 to 8 bits). /D= comes last and unquoted.
setup_rc() {
    local setup line
    setup=$(winepath -w "$IT_SETUP" 2>/dev/null) || return 1
    line="\"$setup\" /S"
    [ $# -gt 0 ] && line="$line /D=$1"
    probe_value exit runline 120000 "$line"
}

it_case "first setup"
check "setup exits with 0" eq "$(setup_rc "$dir")" 0
check "nothing waits for a restart" eq "$(pending)" ""

# The folder's 8.3 alias, as the system gives it.
short=$(probe_value short short "$dir")
echo "     8.3 alias: $short"
check "the folder has an 8.3 alias" not eq "${short:-$dir}" "$dir"

it_case "upgrade while Velotray.kor is held open, named by its 8.3 alias"
printf 'old' >"$udir/Velotray.kor"
wine "$IT_PROBE" lock "$dir\\Velotray.kor" ";" hold 60 >/dev/null 2>&1 &
holder=$!
check "the file is held open" it_probe wait-window - "Velotune Test Desktop Holder" 20000
check "setup exits with 3010 (restart needed)" eq "$(setup_rc "$short")" 3010
check "the new file waits beside its target" cmp -s "$IT_DIST/Velotray.kor" "$udir/Velotray.kor.new"
check "the file in use is untouched for now" eq "$(cat "$udir/Velotray.kor")" old
for f in TrelvixVelotune.exe Velotray.exe; do
    check "$f replaced at once" cmp -s "$IT_DIST/$f" "$udir/$f"
done
p=$(pending)
echo "     $p"
check "the replacement is scheduled for the restart" grep -qiF 'Velotray.kor.new' <<<"$p"
# One pair only: the new file onto the old one. Deleting the held file, as a
# setup that took the alias for another folder would, adds a pair with an
# empty target.
entries=$(sed 's/.*REG_MULTI_SZ *//; s/\\0/\n/g' <<<"$p")
check "nothing else is scheduled, no deletion" eq "$entries" \
    "\\??\\$dir\\Velotray.kor.new"$'\n'"!\\??\\$dir\\Velotray.kor"
check "InstallLocation is the long name" eq "$(it_reg_get "$IT_UNINST_KEY" InstallLocation)" \
    "REG_SZ"$'\t'"$dir"
it_probe release >/dev/null 2>&1
wait "$holder"
wine reg delete "$PENDING_KEY" /v PendingFileRenameOperations /f >/dev/null 2>&1
rm -f "$udir/Velotray.kor.new"

it_case "the next setup, with nothing in use"
check "setup exits with 0" eq "$(setup_rc "$dir")" 0
check "Velotray.kor is the build's" cmp -s "$IT_DIST/Velotray.kor" "$udir/Velotray.kor"
check "nothing waits for a restart" eq "$(pending)" ""

it_case "uninstall"
check "silent uninstall finishes" it_uninstall
check "folder removed" test ! -e "$udir"
vt_end
