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
it_check "setup exits with 0" it_install "$dir"
it_expect_eq "autorun = 1" "REG_DWORD"$'\t'"0x1" "$(it_reg_get "$IT_PRODUCT_KEY" autorun)"

it_case "reinstall over autorun = 0"
wine reg add "$IT_PRODUCT_KEY" /v autorun /t REG_DWORD /d 0 /f >/dev/null 2>&1
rm -f "$udir/Velotray.kor"
it_check "setup without /D= exits with 0" it_install
it_expect_eq "autorun stays 0" "REG_DWORD"$'\t'"0x0" "$(it_reg_get "$IT_PRODUCT_KEY" autorun)"
it_check "files go to the folder of the first setup" cmp -s "$IT_DIST/Velotray.kor" "$udir/Velotray.kor"
it_check "nothing in the default folder" test ! -e "$(it_unix "$IT_DEFAULT_DIR")"
it_expect_eq "Run entry unchanged" "REG_SZ"$'\t'"\"$dir\\Velotray.exe\" /autorun" \
    "$(it_reg_get "$IT_RUN_KEY" Velotune)"

it_case "reinstall over autorun = 5"
wine reg add "$IT_PRODUCT_KEY" /v autorun /t REG_DWORD /d 5 /f >/dev/null 2>&1
it_check "setup exits with 0" it_install "$dir"
it_expect_eq "autorun stays 5" "REG_DWORD"$'\t'"0x5" "$(it_reg_get "$IT_PRODUCT_KEY" autorun)"

it_case "reinstall while the launcher runs"
it_check "launcher started from the Run entry" wine "$IT_PROBE" logon wait - "$IT_LAUNCHER_WINDOW" 30
old_pids=$(it_program_pids | awk '{print $1}')
rm -f "$udir/Velotray.kor"
it_check "setup exits with 0" it_install "$dir"
it_check "files replaced" cmp -s "$IT_DIST/Velotray.kor" "$udir/Velotray.kor"
it_check "the launcher runs again afterwards" wine "$IT_PROBE" wait - "$IT_LAUNCHER_WINDOW" 20
launcher_only() { [ -n "$(it_program_pids)" ] && ! it_program_pids | grep -qi TrelvixVelotune; }
it_check "from the installation, as at logon (no panel)" launcher_only
it_check "it was a new process: the old one was ended by its window" \
    [ "$(it_program_pids | awk '{print $1}')" != "$old_pids" ]
wine "$IT_PROBE" exit-launcher >/dev/null 2>&1
it_check "no program left running" it_wait_no_programs

it_case "reinstall over an unreadable autorun value"
wine reg add "$IT_PRODUCT_KEY" /v autorun /t REG_SZ /d 0 /f >/dev/null 2>&1
it_check "setup exits with 0" it_install "$dir"
it_expect_eq "autorun becomes the number 1" "REG_DWORD"$'\t'"0x1" "$(it_reg_get "$IT_PRODUCT_KEY" autorun)"

it_case "reinstall into another folder"
dir2='C:\Program Files\Velotune Moved'
udir2=$(it_unix "$dir2")
touch "$udir/notes of the user.txt"
it_check "setup exits with 0" it_install "$dir2"
it_check "files in the new folder" cmp -s "$IT_DIST/Velotray.exe" "$udir2/Velotray.exe"
it_expect_eq "only the user's file stays in the old folder" "notes of the user.txt" \
    "$(cd "$udir" 2>/dev/null && ls)"
it_expect_eq "Run entry names the new folder" "REG_SZ"$'\t'"\"$dir2\\Velotray.exe\" /autorun" \
    "$(it_reg_get "$IT_RUN_KEY" Velotune)"
it_expect_eq "InstallLocation is the new folder" "REG_SZ"$'\t'"$dir2" \
    "$(it_reg_get "$IT_UNINST_KEY" InstallLocation)"
it_expect_eq "autorun kept" "REG_DWORD"$'\t'"0x1" "$(it_reg_get "$IT_PRODUCT_KEY" autorun)"
rm -rf "$udir"

it_case "reinstall back into the first folder"
it_check "setup exits with 0" it_install "$dir"
it_check "files in the first folder" cmp -s "$IT_DIST/Velotray.exe" "$udir/Velotray.exe"
it_check "the other folder removed" test ! -e "$udir2"

it_case "uninstall"
it_check "silent uninstall finishes" it_uninstall
it_check "folder removed" test ! -e "$udir"
it_check "product key removed" test -z "$(it_reg_get "$IT_PRODUCT_KEY" autorun)"
it_done
