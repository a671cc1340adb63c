#!/usr/bin/env bash
# A reinstall keeps the user's Auto Run choice and the chosen folder, and ends a
# running launcher before it replaces the files, starting it again afterwards.
source "$(dirname "$0")/lib.sh"
it_require_build
it_save
it_cleanup

dir='C:\Program Files\Velotune Reinstall'
udir=$(it_unix "$dir")

it_case "first setup"
check "setup exits with 0" it_install "$dir"
check "autorun = 1" eq \
    "$(it_reg_get "$IT_PRODUCT_KEY" autorun)" \
    "REG_DWORD"$'\t'"0x1"

it_case "reinstall over autorun = 0"
wine reg add "$IT_PRODUCT_KEY" /v autorun /t REG_DWORD /d 0 /f >/dev/null 2>&1
rm -f "$udir/Velotray.kor"
check "setup without /D= exits with 0" it_install
check "autorun stays 0" eq \
    "$(it_reg_get "$IT_PRODUCT_KEY" autorun)" \
    "REG_DWORD"$'\t'"0x0"
check "files go to the folder of the first setup" cmp -s "$IT_DIST/Velotray.kor" "$udir/Velotray.kor"
check "nothing in the default folder" test ! -e "$(it_unix "$IT_DEFAULT_DIR")"
check "Run entry unchanged" eq \
    "$(it_reg_get "$IT_RUN_KEY" Velotune)" \
    "REG_SZ"$'\t'"\"$dir\\Velotray.exe\" /autorun"

it_case "reinstall over autorun = 5"
wine reg add "$IT_PRODUCT_KEY" /v autorun /t REG_DWORD /d 5 /f >/dev/null 2>&1
check "setup exits with 0" it_install "$dir"
check "autorun stays 5" eq \
    "$(it_reg_get "$IT_PRODUCT_KEY" autorun)" \
    "REG_DWORD"$'\t'"0x5"

it_case "reinstall while the launcher runs"
check "launcher started from the Run entry" it_probe logon ";" wait-window - "$IT_LAUNCHER_WINDOW" 30000
old_pids=$(it_program_pids | awk '{print $1}')
rm -f "$udir/Velotray.kor"
check "setup exits with 0" it_install "$dir"
check "files replaced" cmp -s "$IT_DIST/Velotray.kor" "$udir/Velotray.kor"
check "the launcher runs again afterwards" it_probe wait-window - "$IT_LAUNCHER_WINDOW" 20000
launcher_only() { [ -n "$(it_program_pids)" ] && ! it_program_pids | grep -qi TrelvixVelotune; }
check "from the installation, as at logon (no panel)" launcher_only
check "it was a new process: the old one was ended by its window" \
    not eq "$(it_program_pids | awk '{print $1}')" "$old_pids"
it_probe exit-launcher >/dev/null 2>&1
check "no program left running" it_wait_no_programs

it_case "reinstall over an unreadable autorun value"
wine reg add "$IT_PRODUCT_KEY" /v autorun /t REG_SZ /d 0 /f >/dev/null 2>&1
check "setup exits with 0" it_install "$dir"
check "autorun becomes the number 1" eq \
    "$(it_reg_get "$IT_PRODUCT_KEY" autorun)" \
    "REG_DWORD"$'\t'"0x1"

it_case "reinstall into another folder"
dir2='C:\Program Files\Velotune Moved'
udir2=$(it_unix "$dir2")
touch "$udir/notes of the user.txt"
check "setup exits with 0" it_install "$dir2"
check "files in the new folder" cmp -s "$IT_DIST/Velotray.exe" "$udir2/Velotray.exe"
check "only the user's file stays in the old folder" eq \
    "$(cd "$udir" 2>/dev/null && ls)" \
    "notes of the user.txt"
check "Run entry names the new folder" eq \
    "$(it_reg_get "$IT_RUN_KEY" Velotune)" \
    "REG_SZ"$'\t'"\"$dir2\\Velotray.exe\" /autorun"
check "InstallLocation is the new folder" eq \
    "$(it_reg_get "$IT_UNINST_KEY" InstallLocation)" \
    "REG_SZ"$'\t'"$dir2"
check "autorun kept" eq \
    "$(it_reg_get "$IT_PRODUCT_KEY" autorun)" \
    "REG_DWORD"$'\t'"0x1"
rm -rf "$udir"

it_case "reinstall back into the first folder"
check "setup exits with 0" it_install "$dir"
check "files in the first folder" cmp -s "$IT_DIST/Velotray.exe" "$udir/Velotray.exe"
check "the other folder removed" test ! -e "$udir2"

it_case "uninstall"
check "silent uninstall finishes" it_uninstall
check "folder removed" test ! -e "$udir"
check "product key removed" test -z "$(it_reg_get "$IT_PRODUCT_KEY" autorun)"
vt_end
