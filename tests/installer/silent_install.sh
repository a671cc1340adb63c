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
vt_end
