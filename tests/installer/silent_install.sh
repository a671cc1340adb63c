#!/usr/bin/env bash
# Silent setup into a folder whose name holds blanks: the three programs, the
# logon entry, the first "autorun" value, the Start menu shortcut and the
# "Programs and Features" entry.
source "$(dirname "$0")/lib.sh"
it_require_build
it_save
it_cleanup

dir='C:\Program Files\Velotune Test Folder'
udir=$(it_unix "$dir")

it_case "silent setup with /D= into a folder with blanks"
check "setup exits with 0" it_install "$dir"
for f in TrelvixVelotune.exe Velotray.exe Velotray.kor velotune.exe; do
    check "$f installed, same as the build's" cmp -s "$IT_DIST/$f" "$udir/$f"
done
check "uninstaller installed" test -f "$udir/Uninstall.exe"
check "nothing else in the folder" eq \
    "$(find "$udir" -mindepth 1 -maxdepth 1 -printf '%f\n' 2>/dev/null | sort | tr '\n' ' ' | sed 's/ $//')" \
    "TrelvixVelotune.exe Uninstall.exe Velotray.exe Velotray.kor velotune.exe"
check "default folder left alone" test ! -e "$(it_unix "$IT_DEFAULT_DIR")"

it_case "logon entry and setting"
check "Run entry Velotune: quoted launcher path and /autorun" eq \
    "$(it_reg_get "$IT_RUN_KEY" Velotune)" \
    "REG_SZ"$'\t'"\"$dir\\Velotray.exe\" /autorun"
check "autorun = 1" eq \
    "$(it_reg_get "$IT_PRODUCT_KEY" autorun)" \
    "REG_DWORD"$'\t'"0x1"

it_case "Start menu and Programs and Features"
check "Start menu shortcut exists" test -f "$IT_SHORTCUT"
check "shortcut points at the launcher" grep -aq "Velotune Test Folder\\\\Velotray.exe" "$IT_SHORTCUT"
check "DisplayName" eq \
    "$(it_reg_get "$IT_UNINST_KEY" DisplayName)" \
    "REG_SZ"$'\t'"Trelvix Velotune"
check "DisplayVersion" eq \
    "$(it_reg_get "$IT_UNINST_KEY" DisplayVersion)" \
    "REG_SZ"$'\t'"$IT_VERSION"
check "Publisher" eq \
    "$(it_reg_get "$IT_UNINST_KEY" Publisher)" \
    "REG_SZ"$'\t'"$IT_PUBLISHER"
check "InstallLocation" eq \
    "$(it_reg_get "$IT_UNINST_KEY" InstallLocation)" \
    "REG_SZ"$'\t'"$dir"
check "UninstallString" eq \
    "$(it_reg_get "$IT_UNINST_KEY" UninstallString)" \
    "REG_SZ"$'\t'"\"$dir\\Uninstall.exe\""
check "QuietUninstallString" eq \
    "$(it_reg_get "$IT_UNINST_KEY" QuietUninstallString)" \
    "REG_SZ"$'\t'"\"$dir\\Uninstall.exe\" /S"
check "DisplayIcon" eq \
    "$(it_reg_get "$IT_UNINST_KEY" DisplayIcon)" \
    "REG_SZ"$'\t'"$dir\\Velotray.exe,0"
size=$(it_reg_get "$IT_UNINST_KEY" EstimatedSize)
kb=$(( $(du -sk --apparent-size "$udir" | cut -f1) ))
case $size in
REG_DWORD$'\t'0x*)
    v=$((${size#*$'\t'}))
    check "EstimatedSize in KB matches the folder ($v KB vs $kb KB)" \
        test "$v" -ge $((kb - 8)) -a "$v" -le $((kb + 8))
    ;;
*) check "EstimatedSize is a REG_DWORD: [$size]" false ;;
esac

it_case "uninstall of that installation"
check "silent uninstall finishes" it_uninstall
check "folder removed" test ! -e "$udir"

it_case "silent setup into a folder a user made beforehand, with files in it"
# Wine keeps no descriptor a program sets on a file (it reads one back from
# the Unix mode), so what the setup asks for is read from the requests it
# sends to the Wine server, which a server started with -d1 traces: each
# set_security_object, with the path of the handle it names. One line a request:
#   PATH|SECURITY_INFORMATION|OWNER|the DACL's own ACEs (flags,mask,SID),
# the ACEs Wine appends from the parent (flags 0x10, inherited) left out.
dir='C:\VelotunePremade'
udir=$(it_unix "$dir")
out=$IT_BUILD/installer-tests
mkdir -p "$out"
rm -rf "$udir"
mkdir -p "$udir"
echo "a user's note" >"$udir/notes.txt"
echo "a user's program" >"$udir/TrelvixVelotune.exe"
check "the folder made with full control for Users" it_probe set-sddl "$dir" \
    'O:BUD:(A;OICI;FA;;;BU)'
security_requests() {
    awk '
        function hex(s, n, i) {
            for (i = 1; i <= length(s); i++) n = n * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1
            return n
        }
        match($0, /^[0-9a-f]+: create_file\(.*filename="[^"]*"/) {
            thread = $1; f = $0; sub(/.*filename="/, "", f); sub(/".*/, "", f)
            sub(/.*\/dosdevices\/c:\//, "", f); sub(/\/$/, "", f); opening[thread] = f; next
        }
        /^[0-9a-f]+: create_file\(\) = 0 \{ handle=/ {
            h = $0; sub(/.*handle=/, "", h); sub(/ .*/, "", h); path[$1 h] = opening[$1]; next
        }
        /set_security_object\( handle=/ {
            h = $0; sub(/.*handle=/, "", h); sub(/,.*/, "", h); h = $1 h
            i = $0; sub(/.*security_info=/, "", i); sub(/,.*/, "", i)
            o = $0; sub(/.*owner=/, "", o); sub(/,.*/, "", o)
            d = $0; sub(/.*dacl=\{/, "", d); own = ""
            while (match(d, /flags=[0-9a-f]+,mask=[0-9a-f]+,sid=[^}]+/)) {
                ace = substr(d, RSTART, RLENGTH); d = substr(d, RSTART + RLENGTH)
                split(ace, a, /[=,]/)
                if (int(hex(a[2]) / 16) % 2 == 1) continue
                own = own " " a[2] "," a[4] "," a[6]
            }
            print path[h] "|" i "|" o "|" substr(own, 2)
        }'
}
setup=$(winepath -w "$IT_SETUP" 2>/dev/null)
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
wineserver -f -d1 </dev/null >/dev/null 2>"$out/server.trace" &
timeout 120 wine "$setup" /S "/D=$dir" </dev/null >/dev/null 2>&1
check "setup exits with 0" eq "$?" 0
vt_restart_wine
security_requests <"$out/server.trace" >"$out/security.txt"
rm -f "$out/server.trace"
check "the folder: Administrators made its owner, then its DACL set, protected (no ACE of the parent's): full control for Administrators and SYSTEM, read and run for Users" eq \
    "$(grep '^VelotunePremade|' "$out/security.txt" | tr '\n' ' ')" \
    "VelotunePremade|00000001|S-1-5-32-544| VelotunePremade|80000004|<not present>|3,1f01ff,S-1-5-32-544 3,1f01ff,S-1-5-18 3,1200a9,S-1-5-32-545 "
for f in notes.txt TrelvixVelotune.exe; do
    check "$f it held: Administrators made its owner, then no ACE of its own, the folder's inherited" eq \
        "$(grep "^VelotunePremade/$f|" "$out/security.txt" | tr '\n' ' ')" \
        "VelotunePremade/$f|00000001|S-1-5-32-544| VelotunePremade/$f|20000004|<not present>| "
done
check "the programs installed over the user's" cmp -s "$IT_DIST/TrelvixVelotune.exe" "$udir/TrelvixVelotune.exe"
check "the user's note left in place" test -f "$udir/notes.txt"
# What Wine reads back afterwards (from the Unix mode, whatever was set):
wine "$IT_PROBE" sddl "$dir" ";" sddl "$dir\\notes.txt" </dev/null >"$out/readback.txt" 2>&1
tr -d '\r' <"$out/readback.txt" | sed 's/^/     wine reads: /'
check "silent uninstall finishes" it_uninstall
check "the user's note and the folder stay" test -f "$udir/notes.txt"
rm -rf "$udir"

it_case "a folder made beforehand that cannot be made safe is refused"
# An entry that links elsewhere (Wine shows a Unix symbolic link as a reparse
# point, as Windows shows a junction) is not followed: the setup refuses.
mkdir -p "$udir" "$out/elsewhere"
ln -s "$out/elsewhere" "$udir/link"
timeout 120 wine "$setup" /S "/D=$dir" </dev/null >/dev/null 2>&1
check "setup exits with 2" eq "$?" 2
check "nothing installed, the folder left as it was" eq "$(find "$udir" -mindepth 1 -printf '%f ')" "link "
check "no uninstall entry" not it_key_exists "$IT_UNINST_KEY"
check "... and no Run entry" not it_reg_get "$IT_RUN_KEY" Velotune
rm -rf "$udir" "$out/elsewhere"
vt_end
