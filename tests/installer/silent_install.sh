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
it_check "setup exits with 0" it_install "$dir"
for f in TrelvixVelotune.exe Velotray.exe Velotray.kor velotune.exe; do
    it_check "$f installed, same as the build's" cmp -s "$IT_DIST/$f" "$udir/$f"
done
it_check "uninstaller installed" test -f "$udir/Uninstall.exe"
it_expect_eq "nothing else in the folder" "TrelvixVelotune.exe Uninstall.exe Velotray.exe Velotray.kor velotune.exe" \
    "$(cd "$udir" 2>/dev/null && ls | sort | tr '\n' ' ' | sed 's/ $//')"
it_check "default folder left alone" test ! -e "$(it_unix "$IT_DEFAULT_DIR")"

it_case "logon entry and setting"
it_expect_eq "Run entry Velotune: quoted launcher path and /autorun" \
    "REG_SZ"$'\t'"\"$dir\\Velotray.exe\" /autorun" "$(it_reg_get "$IT_RUN_KEY" Velotune)"
it_expect_eq "autorun = 1" "REG_DWORD"$'\t'"0x1" "$(it_reg_get "$IT_PRODUCT_KEY" autorun)"

it_case "Start menu and Programs and Features"
it_check "Start menu shortcut exists" test -f "$IT_SHORTCUT"
it_check "shortcut points at the launcher" grep -aq "Velotune Test Folder\\\\Velotray.exe" "$IT_SHORTCUT"
it_expect_eq "DisplayName" "REG_SZ"$'\t'"Trelvix Velotune" "$(it_reg_get "$IT_UNINST_KEY" DisplayName)"
it_expect_eq "DisplayVersion" "REG_SZ"$'\t'"$IT_VERSION" "$(it_reg_get "$IT_UNINST_KEY" DisplayVersion)"
it_expect_eq "Publisher" "REG_SZ"$'\t'"$IT_PUBLISHER" "$(it_reg_get "$IT_UNINST_KEY" Publisher)"
it_expect_eq "InstallLocation" "REG_SZ"$'\t'"$dir" "$(it_reg_get "$IT_UNINST_KEY" InstallLocation)"
it_expect_eq "UninstallString" "REG_SZ"$'\t'"\"$dir\\Uninstall.exe\"" \
    "$(it_reg_get "$IT_UNINST_KEY" UninstallString)"
it_expect_eq "QuietUninstallString" "REG_SZ"$'\t'"\"$dir\\Uninstall.exe\" /S" \
    "$(it_reg_get "$IT_UNINST_KEY" QuietUninstallString)"
it_expect_eq "DisplayIcon" "REG_SZ"$'\t'"$dir\\Velotray.exe,0" "$(it_reg_get "$IT_UNINST_KEY" DisplayIcon)"
size=$(it_reg_get "$IT_UNINST_KEY" EstimatedSize)
kb=$(( $(du -sk --apparent-size "$udir" | cut -f1) ))
case $size in
REG_DWORD$'\t'0x*)
    v=$((${size#*$'\t'}))
    it_check "EstimatedSize in KB matches the folder ($v KB vs $kb KB)" \
        test "$v" -ge $((kb - 8)) -a "$v" -le $((kb + 8))
    ;;
*) it_fail "EstimatedSize: [$size]" ;;
esac

it_case "uninstall of that installation"
it_check "silent uninstall finishes" it_uninstall
it_check "folder removed" test ! -e "$udir"
it_done
