#!/usr/bin/env bash
# The benchmark: builds (scripts/build.sh, VELOTUNE_BUILD honoured), then runs the
# programs under Wine and Xvfb in a Wine environment of its own
# (BUILD/benchenv), prints a table and writes bench/RESULTS.md.
#
#   bench/run.sh [--no-build] [--runs N] [--idle SECONDS]
#
# Figures:
#   start-up     ms from CreateProcess to the panel's status line showing the
#                drive's mode, and to the minimal program's window with its text
#                (bench/minimal.c), both started and polled (1 ms) by vtprobe.exe
#                inside Wine, alternately, median of N runs; the ratio of the two
#   tray         ms from CreateProcess of "Velotray.exe /autorun" to its icon in
#                the tray (Wine's explorer makes one tooltip window per icon when
#                Shell_NotifyIcon(NIM_ADD) has been handled; vtprobe polls their
#                number at 1 ms)
#   commands     drive commands per action, from the simulated drives' logs
#   idle         CPU time of the launcher and the panel over the idle time
#                (Linux /proc utime+stime of the Wine processes, 10 ms ticks)
#   footprint    stripped sizes, imported DLLs, working sets (K32GetProcessMemoryInfo)
#   allocation   heap allocations per drive command (bench/allocbench.cpp)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
B=${VELOTUNE_BUILD:-$top/build}
build=1 runs=7 idle=30
while [ $# -gt 0 ]; do
    case "$1" in
    --no-build) build=0 ;;
    --runs) runs=$2; shift ;;
    --idle) idle=$2; shift ;;
    -h | --help) sed -n '2,23p' "$0"; exit 0 ;;
    *) echo "run.sh: unknown option $1" >&2; exit 2 ;;
    esac
    shift
done
[ "$build" = 1 ] && VELOTUNE_BUILD=$B "$top/scripts/build.sh"
B=$(cd "$B" && pwd)
for f in dist/TrelvixVelotune.exe dist/Velotray.exe dist/Velotray.kor tools/winprobe.exe bench/bench_minimal.exe \
    bench/allocbench.exe native/sim/libvtsim_sgio.so sim/WNASPI32.DLL; do
    [ -f "$B/$f" ] || { echo "run.sh: $B/$f is missing" >&2; exit 1; }
done

# From here on a failed step is reported in the table, not fatal.
set +e
export SYS_ENV=$B/benchenv
unset VT_KEEP_DISPLAY
# shellcheck source=../tests/acceptance/lib.sh
source "$top/tests/acceptance/lib.sh"
sys_init "$B" "$top" "$B/native" bench
trap 'sys_quiet_end >/dev/null 2>&1; vt_down >/dev/null 2>&1' EXIT
W=$ART
cp -f "$B/bench/bench_minimal.exe" "$B/tools/winprobe.exe" "$APP/"
MINW=$(vt_sim_winpath "$APP/bench_minimal.exe")
PANELW=$(vt_sim_winpath "$APP/TrelvixVelotune.exe")
LAUNCHW=$(vt_sim_winpath "$APP/Velotray.exe")
sys_install 1
vt_sim_drive d1 kind=twomode mode=high vendor=TRELVIX "product=DVD-RW TV-1620" revision=1.03 >/dev/null
vt_sim_drive e1 kind=speedlist speeds=8,16,24,40 current=24 vendor=TRELVIX "product=CD-RW TV-5224" revision=2.00 >/dev/null
vt_sim_cdrom d d1
vt_sim_no_cdrom e
vt_sim_apply
vt_sim_preload
say() { echo "bench: $*" >&2; }
median() { sort -n | awk '{a[NR]=$1} END{if(NR==0){print "n/a"} else if(NR%2){print a[(NR+1)/2]} else {printf "%.1f\n",(a[NR/2]+a[NR/2+1])/2}}'; }

# --- start-up --------------------------------------------------------------
say "start-up, $runs runs each (plus one warm-up)"
script=$W/startup.txt
{
    for i in $(seq 0 "$runs"); do
        echo "starttime \"$MINW\" VelotuneBenchMinimal - \"Current Speed = \""
        echo "starttime \"$PANELW\" $PANEL_CLASS \"$PANEL_TITLE\" \"Current Speed = \""
    done
} >"$script"
pr0 script "$(vt_sim_winpath "$script")" >"$W/startup.out" || true
mapfile -t times < <(sed -n 's/^ms: //p' "$W/startup.out")
min_t=() pan_t=()
for i in "${!times[@]}"; do
    [ "$i" -lt 2 ] && continue # the warm-up pair
    if [ $((i % 2)) = 0 ]; then min_t+=("${times[$i]}"); else pan_t+=("${times[$i]}"); fi
done
min_med=$(printf '%s\n' "${min_t[@]}" | median)
pan_med=$(printf '%s\n' "${pan_t[@]}" | median)
ratio=$(awk -v a="$pan_med" -v b="$min_med" 'BEGIN{ if (b > 0) printf "%.2f", a / b; else print "n/a" }')
say "minimal ${min_t[*]} -> $min_med ms; panel ${pan_t[*]} -> $pan_med ms; ratio $ratio"

# --- launcher to tray icon -------------------------------------------------
say "launcher start to tray icon, $runs runs"
script=$W/tray.txt
{
    for i in $(seq 0 "$runs"); do
        echo "traytime \"$LAUNCHW\" /autorun"
        echo "post - \"$LAUNCHER_TITLE\" 273 103 0"
        echo "gone - \"$LAUNCHER_TITLE\" 10000"
        echo "sleep 300"
    done
} >"$script"
pr0 script "$(vt_sim_winpath "$script")" >"$W/tray.out" || true
mapfile -t tt < <(sed -n 's/^ms: //p' "$W/tray.out" | tail -n +2)
tray_med=$(printf '%s\n' "${tt[@]}" | median)
say "tray ${tt[*]} -> $tray_med ms"

# --- commands per action, idle cost, working sets ---------------------------
say "commands per action with two drives (d: two-mode, e: speed list)"
vt_sim_cdrom e e1
vt_sim_apply
vt_sim_preload
vt_sim_log_clear d1
vt_sim_log_clear e1
launcher
wait_launcher
wait_panel
wait_status
sleep 1
disc_d=$(vt_sim_count d1) disc_e=$(vt_sim_count e1)
vt_sim_log_clear d1
click_child "text=Silence Mode"
click_control "$PANEL_CLASS" SpeedButton1 # "Set"
wait_status "Current Speed = Silence Mode" 10000 || say "Set did not show Silence Mode"
sleep 1
set_n=$(vt_sim_count d1)
set_detail="$(vt_sim_count d1 'cdb=ff07b0') mode set + $(vt_sim_count d1 'cdb=ff07b1') status read"
vt_sim_log_clear d1
vt_sim_log_clear e1
click_child class=ComboBox:0 # DriveComboBox
sleep 0.5
xdotool key Down Return
wait_status "Current Speed = 24" 10000 || say "drive switch did not show the speed-list drive"
sleep 1
sw1="$(vt_sim_count e1)"
click_child class=ComboBox:0
sleep 0.5
xdotool key Up Return
sleep 1.5
sw2="$(vt_sim_count d1)"
switch_total=$(($(vt_sim_count d1) + $(vt_sim_count e1)))
xdotool mousemove 600 60
sleep 1
shot panel-two-drives

say "idle for $idle s"
lpid=$(prefix_pids 'Velotray.exe' | head -n 1)
ppid_=$(prefix_pids 'TrelvixVelotune.exe' | head -n 1)
ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0; }
threads() { ls "/proc/$1/task" 2>/dev/null | wc -l; }
vt_sim_log_clear d1
vt_sim_log_clear e1
l0=$(ticks "$lpid") p0=$(ticks "$ppid_")
sleep "$idle"
l1=$(ticks "$lpid") p1=$(ticks "$ppid_")
idle_cmds=$(($(vt_sim_count d1) + $(vt_sim_count e1)))
hz=$(getconf CLK_TCK)
l_cpu=$(((l1 - l0) * 1000 / hz)) p_cpu=$(((p1 - p0) * 1000 / hz))
say "idle: launcher $l_cpu ms, panel $p_cpu ms, $idle_cmds commands"
l_ws=$(pr0 proc - "$LAUNCHER_TITLE" | awk '/^proc:/{print $3}')
p_ws=$(pr0 proc "$PANEL_CLASS" "$PANEL_TITLE" | awk '/^proc:/{print $3}')
l_thr=$(threads "$lpid") p_thr=$(threads "$ppid_")
sys_quiet_end

# --- footprint ---------------------------------------------------------------
say "footprint"
strip_size() {
    local t=$W/strip.tmp
    cp -f "$1" "$t"
    x86_64-w64-mingw32-strip "$t"
    stat -c %s "$t"
}
imports() { x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^\tDLL Name: //p' | sort -u | tr '\n' ' '; }
sz_panel=$(strip_size "$B/dist/TrelvixVelotune.exe")
sz_launch=$(strip_size "$B/dist/Velotray.exe")
sz_kor=$(strip_size "$B/dist/Velotray.kor")
raw_panel=$(stat -c %s "$B/dist/TrelvixVelotune.exe")
raw_launch=$(stat -c %s "$B/dist/Velotray.exe")
imp_panel=$(imports "$B/dist/TrelvixVelotune.exe")
imp_launch=$(imports "$B/dist/Velotray.exe")
imp_kor=$(imports "$B/dist/Velotray.kor")
sys_dlls='^(KERNEL32|USER32|GDI32|ADVAPI32|SHELL32|COMCTL32|MSIMG32|msvcrt|api-ms-win-crt-[a-z0-9-]+|COMDLG32|OLE32|SHLWAPI|UXTHEME|WINMM|VERSION)\.dll$'
nonsys=""
for d in $imp_panel $imp_launch $imp_kor; do
    echo "$d" | grep -qiE "$sys_dlls" || nonsys="$nonsys $d"
done
# What links in: the largest sections and symbols of the panel.
x86_64-w64-mingw32-nm --size-sort -S -C "$B/dist/TrelvixVelotune.exe" 2>/dev/null | tail -n 15 >"$W/panel-largest-symbols.txt" || true
x86_64-w64-mingw32-objdump -h "$B/dist/TrelvixVelotune.exe" >"$W/panel-sections.txt" || true
AWK_HEX='function hex(s,  i, n) { n = 0; s = tolower(s); for (i = 1; i <= length(s); i++) n = n * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1; return n }'
# Section sizes of a program: code (.text), resources (.rsrc), the rest.
sections() {
    x86_64-w64-mingw32-objdump -h "$1" | awk "$AWK_HEX"' $2 ~ /^\./ && $2 !~ /^\.debug/ {
        n = hex($3); if ($2 == ".text") t += n; else if ($2 == ".rsrc") r += n; else o += n }
        END { printf "code %.1f KB, resources %.1f KB, other %.1f KB", t / 1024, r / 1024, o / 1024 }'
}
# Code by origin: the project's own functions, the C++ runtime (libstdc++,
# libgcc, exception support) and the rest (MinGW start-up and C runtime glue).
origins() {
    x86_64-w64-mingw32-nm -S -C --size-sort "$1" 2>/dev/null | awk "$AWK_HEX"' $3 ~ /^[tT]$/ {
        n = hex($2); name = substr($0, index($0, $4))
        if (name ~ /velotune|Velotune|TForm|TTray|Launcher|^(Win)?[Mm]ain|WinMain/) own += n
        else if (name ~ /std::|__cxa|__gxx|_Unwind|__gnu_cxx|operator new|operator delete|d_print|d_demangle|__cxxabi|typeinfo|GCC_specific|gnu_exception/) cxx += n
        else if (name ~ /pthread|sema_|pformat|gdtoa|dtoa|D2A|A2D|emutls|mingw|CRTStartup|pei386|_tls|atexit|onexit/) crt += n
        else rest += n }
        END { printf "own %.1f KB, C++ runtime %.1f KB, MinGW runtime (winpthreads, printf) %.1f KB, other %.1f KB", own / 1024, cxx / 1024, crt / 1024, rest / 1024 }'
}
sec_panel=$(sections "$B/dist/TrelvixVelotune.exe")
sec_launch=$(sections "$B/dist/Velotray.exe")
org_panel=$(origins "$B/dist/TrelvixVelotune.exe")
org_launch=$(origins "$B/dist/Velotray.exe")

# --- allocation per drive command ---------------------------------------------
say "allocation per drive command"
vt_sim_no_cdrom e
vt_sim_apply
vt_sim_preload
cp -f "$B/bench/allocbench.exe" "$APP/"
n_cmd=1000
(cd "$APP" && wine "$APP/allocbench.exe" d $n_cmd </dev/null >"$W/alloc-nt.raw" 2>/dev/null)
tr -d '\r' <"$W/alloc-nt.raw" >"$W/alloc-nt.out"
vt_sim_aspi_config adapters=1 support=0x0101
vt_sim_aspi_target 0:0 d1
vt_sim_aspi_install "$APP"
(cd "$APP" && wine "$APP/allocbench.exe" aspi $n_cmd </dev/null >"$W/alloc-aspi.raw" 2>/dev/null)
tr -d '\r' <"$W/alloc-aspi.raw" >"$W/alloc-aspi.out"
# The panel's handlers over a speed-list drive.
vt_sim_drive d1 kind=speedlist speeds=8,16,24,40 current=24 vendor=TRELVIX "product=CD-RW TV-5224" revision=2.00 >/dev/null
(cd "$APP" && wine "$APP/allocbench.exe" d $n_cmd </dev/null >"$W/alloc-list.raw" 2>/dev/null)
tr -d '\r' <"$W/alloc-list.raw" >"$W/alloc-list.out"
av() { sed -n "s/^$2: //p" "$W/alloc-$1.out" | head -n 1; }

# --- table and RESULTS.md -------------------------------------------------------
ok() { if [ "$1" = 1 ]; then echo "met"; else echo "MISSED"; fi; }
g_start=$(awk -v r="$ratio" 'BEGIN{print (r != "n/a" && r <= 1.2) ? 1 : 0}')
g_panel=$([ "$sz_panel" -lt 307200 ] && echo 1 || echo 0)
g_launch=$([ "$sz_launch" -lt 65536 ] && echo 1 || echo 0)
g_idle=$([ "$l_cpu" = 0 ] && [ "$p_cpu" = 0 ] && [ "$idle_cmds" = 0 ] && echo 1 || echo 0)
g_alloc=$([ "$(av nt allocs_status_read)" = 0 ] && [ "$(av nt allocs_mode_set)" = 0 ] &&
    [ "$(av aspi allocs_status_read)" = 0 ] && [ "$(av aspi allocs_mode_set)" = 0 ] && echo 1 || echo 0)
g_imports=$([ -z "$nonsys" ] && echo 1 || echo 0)
kb() { awk -v b="$1" 'BEGIN{printf "%.1f KB", b / 1024}'; }
when=$(date -u '+%Y-%m-%d %H:%M UTC')
table=$(
    cat <<EOF
| Figure | Measured | Goal |
|---|---|---|
| start-up to status line, panel (median of $runs) | $pan_med ms | |
| start-up to window text, minimal program (median of $runs) | $min_med ms | |
| start-up ratio panel / minimal | $ratio | <= 1.2: $(ok "$g_start") |
| launcher start to tray icon (median of $runs) | $tray_med ms | |
| commands: discovery, 2 drives | d: $disc_d, e: $disc_e | status read + INQUIRY per drive, + 1 status refresh of the first |
| commands: Set | $set_n ($set_detail) | |
| commands: drive switch | to e: $sw1, back to d: $sw2 (total $switch_total for 2 switches) | one status read per switch |
| commands: idle $idle s | $idle_cmds | 0 |
| CPU time idle $idle s, launcher / panel | $l_cpu ms / $p_cpu ms | 0: $(ok "$g_idle") |
| threads of the idle processes, launcher / panel | $l_thr / $p_thr | (Wine's own included) |
| size stripped, TrelvixVelotune.exe | $(kb "$sz_panel") ($sz_panel B; unstripped $raw_panel B) | < 300 KB: $(ok "$g_panel") |
| size stripped, Velotray.exe | $(kb "$sz_launch") ($sz_launch B; unstripped $raw_launch B) | < 64 KB: $(ok "$g_launch") |
| sections, TrelvixVelotune.exe | $sec_panel | |
| code by origin, TrelvixVelotune.exe (symbol sizes) | $org_panel | |
| sections, Velotray.exe | $sec_launch | |
| code by origin, Velotray.exe (symbol sizes) | $org_launch | |
| size stripped, Velotray.kor | $(kb "$sz_kor") ($sz_kor B) | |
| imports, TrelvixVelotune.exe | $imp_panel | system DLLs only: $(ok "$g_imports") |
| imports, Velotray.exe | $imp_launch | |
| imports, Velotray.kor | ${imp_kor:-none} | |
| working set idle, launcher / panel | ${l_ws:-?} KB / ${p_ws:-?} KB | |
| allocations per $n_cmd status reads / mode sets, pass-through | $(av nt allocs_status_read) / $(av nt allocs_mode_set) | 0: $(ok "$g_alloc") |
| allocations per $n_cmd status reads / mode sets, ASPI | $(av aspi allocs_status_read) / $(av aspi allocs_mode_set) | 0 |
| allocations per $n_cmd refreshes / Sets of the panel's handlers (two-mode drive) | $(av nt allocs_refresh) / $(av nt allocs_set) | |
| allocations per $n_cmd refreshes / Sets of the panel's handlers (speed-list drive) | $(av list allocs_refresh) / $(av list allocs_set) | |
| allocations of one discovery | $(av nt allocs_discovery) | (per discovery, not per command) |
| allocation counter self-check (HeapAlloc, malloc, new) | $(av nt selfcheck) | 3 of 3 |
EOF
)
echo
echo "$table"
echo
{
    echo "# Benchmark results"
    echo
    echo "Measured $when by \`bench/run.sh\` on $(nproc) cores, $(wine --version 2>/dev/null), Xvfb."
    echo "Build: MinSizeRel, MinGW-w64 $(x86_64-w64-mingw32-g++-posix -dumpversion), static runtime."
    echo
    echo "$table"
    echo
    cat "$top/bench/NOTES.md" 2>/dev/null || true
} >"$top/bench/RESULTS.md"
echo "Written: $top/bench/RESULTS.md (work files in $W)"
