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
# setup_rc [FOLDER]: the silent setup's whole exit code (a Linux exit status
# would cut 3010 to 8 bits). /D= comes last and unquoted.
setup_rc() {
    local setup line
    setup=$(winepath -w "$IT_SETUP" 2>/dev/null) || return 1
    line="\"$setup\" /S"
    [ $# -gt 0 ] && line="$line /D=$1"
    wine "$IT_PROBE" run "$line" 2>/dev/null | tr -d '\r' | sed -n 's/^exit: //p'
}

it_case "first setup"
it_expect_eq "setup exits with 0" 0 "$(setup_rc "$dir")"
it_expect_eq "nothing waits for a restart" "" "$(pending)"

# The folder's 8.3 alias, as the system gives it.
short=$(wine "$IT_PROBE" short "$dir" 2>/dev/null | tr -d '\r' | sed -n 's/^short: //p')
echo "8.3 alias: $short"
it_check "the folder has an 8.3 alias" [ -n "$short" ] && [ "$short" != "$dir" ]

it_case "upgrade while Velotray.kor is held open, named by its 8.3 alias"
printf 'old' >"$udir/Velotray.kor"
wine "$IT_PROBE" lock "$dir\\Velotray.kor" hold 60 >/dev/null 2>&1 &
holder=$!
it_check "the file is held open" wine "$IT_PROBE" wait - "Velotune Setup Test Holder" 20
it_expect_eq "setup exits with 3010 (restart needed)" 3010 "$(setup_rc "$short")"
it_check "the new file waits beside its target" cmp -s "$IT_DIST/Velotray.kor" "$udir/Velotray.kor.new"
it_expect_eq "the file in use is untouched for now" old "$(cat "$udir/Velotray.kor")"
for f in TrelvixVelotune.exe Velotray.exe; do
    it_check "$f replaced at once" cmp -s "$IT_DIST/$f" "$udir/$f"
done
p=$(pending)
echo "$p" | sed -n '3,$p'
it_check "the replacement is scheduled for the restart" grep -qiF 'Velotray.kor.new' <<<"$p"
# One pair only: the new file onto the old one. Deleting the held file, as a
# setup that took the alias for another folder would, adds a pair with an
# empty target.
entries=$(sed 's/.*REG_MULTI_SZ *//; s/\\0/\n/g' <<<"$p")
it_expect_eq "nothing else is scheduled, no deletion" \
    "\\??\\$dir\\Velotray.kor.new"$'\n'"!\\??\\$dir\\Velotray.kor" "$entries"
it_expect_eq "InstallLocation still the long name" "REG_SZ"$'\t'"$dir" \
    "$(it_reg_get "$IT_UNINST_KEY" InstallLocation)"
wine "$IT_PROBE" release >/dev/null 2>&1
wait "$holder"
wine reg delete "$PENDING_KEY" /v PendingFileRenameOperations /f >/dev/null 2>&1
rm -f "$udir/Velotray.kor.new"

it_case "the next setup, with nothing in use"
it_expect_eq "setup exits with 0" 0 "$(setup_rc "$dir")"
it_check "Velotray.kor is the build's" cmp -s "$IT_DIST/Velotray.kor" "$udir/Velotray.kor"
it_expect_eq "nothing waits for a restart" "" "$(pending)"

it_case "uninstall"
it_check "silent uninstall finishes" it_uninstall
it_check "folder removed" test ! -e "$udir"
it_done
