#!/usr/bin/env bash
# Bad registry values for both values the launcher reads: the Run entry
# "Velotune" (a string naming the launcher) and "autorun" (a REG_DWORD). Every
# wrong type (and the right one) with lengths from empty to far past the
# launcher's 1024-byte buffers. For each, the launcher is started as at logon
# ("/autorun"): it must end at once with exit code 0, or run with its window
# answering and end with exit code 0 when closed. It must change neither value.
# A few overlong Run values are also tried with a start by hand, which starts
# the panel from the path built from them.
set -u
source "$(dirname "$0")/../acceptance/lib.sh"
sys_init "$1" "$2" "${3:-}" fault_registry
vt_sim_drive d1 kind=twomode mode=high >/dev/null
vt_sim_cdrom d d1
vt_sim_preload
EXE="$APPW\\Velotray.exe"
GOOD_RUN="s:\"$EXE\" /autorun"

types="0 1 3 4 5 7 11" # NONE SZ BINARY DWORD DWORD_BIG_ENDIAN MULTI_SZ QWORD
lengths="0 4 5 1025 70000"
script=$ART/registry.txt
# A logon start ends at once only when "autorun" is a 4-byte REG_DWORD holding 0;
# a value of any other type or length counts as missing, and the launcher runs.
# So the fill bytes alternate between 0x00 (a zero of the wrong type) and 0xff.
{
    echo "regset \"$RUN_KEY\" Velotune 1 \"$GOOD_RUN\""
    i=0
    for t in $types; do
        for n in $lengths; do
            for fill in 0x00 0xff; do
                i=$((i + 1))
                how=launch-runs
                [ "$t/$n/$fill" = 4/4/0x00 ] && how=launch-ends
                echo "regset \"$PRODUCT_KEY\" autorun $t fill:$n:$fill"
                echo "wait-gone - \"$LAUNCHER_TITLE\" 5000"
                echo "$how 5000 \"$LAUNCHER_TITLE\" \"$EXE\" /autorun"
                echo "regexpect \"$PRODUCT_KEY\" autorun $t fill:$n:$fill"
                echo "regexpect \"$RUN_KEY\" Velotune 1 \"$GOOD_RUN\""
            done
        done
    done
    echo "regset \"$PRODUCT_KEY\" autorun 4 dword:1"
    for t in $types; do
        for n in $lengths; do
            i=$((i + 1))
            fill=$([ $((i % 2)) = 0 ] && echo 0x5c || echo 0x41) # backslashes or letters
            echo "regset \"$RUN_KEY\" Velotune $t fill:$n:$fill"
            echo "wait-gone - \"$LAUNCHER_TITLE\" 5000"
            echo "launch-runs 5000 \"$LAUNCHER_TITLE\" \"$EXE\" /autorun"
            echo "regexpect \"$RUN_KEY\" Velotune $t fill:$n:$fill"
            echo "regexpect \"$PRODUCT_KEY\" autorun 4 dword:1"
        done
    done
    # Started by hand: the panel path comes from an overlong Run value, which
    # falls back to the bare program name beside the launcher.
    for n in 1025 70000; do
        echo "regset \"$RUN_KEY\" Velotune 1 fill:$n:0x5c"
        echo "launch-runs 5000 \"$LAUNCHER_TITLE\" \"$EXE\""
        echo "regexpect \"$RUN_KEY\" Velotune 1 fill:$n:0x5c"
    done
    # The installation's values again: a normal start works.
    echo "regset \"$RUN_KEY\" Velotune 1 \"$GOOD_RUN\""
    echo "launch-runs 5000 \"$LAUNCHER_TITLE\" \"$EXE\" /autorun"
} >"$script"
steps=$(grep -c . "$script")
cases=$(grep -c '^launch' "$script")
timeout -k 10 400 wine "$PROBE" script "$(vt_sim_winpath "$script")" </dev/null >"$ART/registry.raw" 2>/dev/null
probe_rc=$?
tr -d '\r' <"$ART/registry.raw" >"$ART/registry.out"
grep -E '^(FAIL|exit|running|ended|still)' "$ART/registry.out" | sort | uniq -c
grep -B3 '^FAIL' "$ART/registry.out" | head -40
check "every one of the $steps steps ran" [ "$(grep -c '^> ' "$ART/registry.out")" = "$steps" ]
check "the probe ended with no failed step" [ "$probe_rc" = 0 ]
check "$cases launcher starts with bad registry values: each ended or ran as the value says" \
    [ "$(grep -c '^FAIL: launch' "$ART/registry.out")" = 0 ]
check "no value changed by the launcher" [ "$(grep -c '^FAIL: regexpect' "$ART/registry.out")" = 0 ]
check "no step failed" [ "$(grep -c '^FAIL' "$ART/registry.out")" = 0 ]
# The starts by hand started the panel from the bare name; it must work.
check "a panel started after an overlong Run value appears" wait_panel 10000
check "... and answers" pr0 alive "$PANEL_CLASS" "$PANEL_TITLE"
sys_install 1
sys_end
