#!/usr/bin/env bash
# The benchmark: builds (scripts/build.sh, VELOTUNE_BUILD honoured), then runs the
# programs under Wine and Xvfb in a Wine environment of its own
# (BUILD/benchenv), prints a table and writes bench/RESULTS.md.
#
#   bench/run.sh [--no-build] [--runs N] [--traces N] [--idle SECONDS]
#
# A figure that could not be taken reads "not measured" (never "met"), and the
# run then ends with exit status 1 after writing the results.
#
# Figures:
#   start-up     ms from CreateProcess to the panel's status line showing the
#                drive's mode, to the reference program's window with its text
#                (bench/minimal.c: common controls with the panel's manifest) and
#                to the plain one-window program's (bench/plain.c), all started
#                and polled (1 ms) by winprobe.exe inside Wine, in turn, median and
#                range of N runs each; the ratio panel / reference
#   breakdown    where the start-up time goes: a few more starts of the panel and
#                the reference under Wine's timestamped relay trace, split into
#                phases by bench/breakdown.awk (medians)
#   double click ms from a double click on the launcher's icon (the shell's
#                callback message, posted by a one-shot winprobe.exe) to the
#                panel's status line
#   tray         ms from CreateProcess of "Velotray.exe /autorun" to its icon in
#                the tray (Wine's explorer makes one tooltip window per icon when
#                Shell_NotifyIcon(NIM_ADD) has been handled; winprobe polls their
#                number at 1 ms)
#   commands     drive commands per action, from the simulated drives' logs; the
#                tool's commands per set 8x and per status on other makers' drives
#   idle         CPU time of the launcher and the panel over the idle time
#                (Linux /proc utime+stime of the Wine processes, 10 ms ticks)
#   footprint    stripped sizes, imported DLLs, working sets (K32GetProcessMemoryInfo)
#   allocation   heap allocations per drive command (bench/allocbench.cpp)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
B=${VELOTUNE_BUILD:-$top/build}
build=1 runs=11 traces=5 idle=30 quiet=400
while [ $# -gt 0 ]; do
    case "$1" in
    --no-build) build=0 ;;
    --runs) runs=$2; shift ;;
    --traces) traces=$2; shift ;;
    --idle) idle=$2; shift ;;
    -h | --help) sed -n '2,33p' "$0"; exit 0 ;;
    *) echo "run.sh: unknown option $1" >&2; exit 2 ;;
    esac
    shift
done
[ "$build" = 1 ] && VELOTUNE_BUILD=$B "$top/scripts/build.sh"
B=$(cd "$B" && pwd)
for f in dist/TrelvixVelotune.exe dist/Velotray.exe dist/Velotray.kor symbols/TrelvixVelotune.exe symbols/Velotray.exe tools/winprobe.exe bench/bench_minimal.exe \
    bench/bench_plain.exe bench/allocbench.exe native/sim/libvtsim_sgio.so sim/WNASPI32.DLL; do
    [ -f "$B/$f" ] || { echo "run.sh: $B/$f is missing" >&2; exit 1; }
done

# The code measured: the commit, and whether the work tree differed from it.
commit=$(git -C "$top" rev-parse --short=12 HEAD 2>/dev/null || echo unknown)
if [ "$commit" != unknown ] && ! git -C "$top" diff --quiet HEAD -- . ':!bench/RESULTS.md' 2>/dev/null; then
    commit="$commit (with uncommitted changes)"
fi

load_start=$(cut -d' ' -f1-3 /proc/loadavg)

# From here on a failed step is reported as "not measured" in the table, and the
# run ends with exit status 1.
set +e
# nm VALUE NAME: VALUE, or "not measured" (and NAME noted) when it is empty or n/a.
nm() {
    if [ -z "$1" ] || [ "$1" = n/a ]; then
        echo "$2" >>"$W/not-measured.txt"
        echo "not measured"
    else
        echo "$1"
    fi
}
export SYS_ENV=$B/benchenv
unset VT_KEEP_DISPLAY
# shellcheck source=../tests/acceptance/lib.sh
source "$top/tests/acceptance/lib.sh"
sys_init "$B" "$top" "$B/native" bench
relay_key='HKCU\Software\Wine\Debug'
trap 'wine reg delete "$relay_key" /v RelayInclude /f >/dev/null 2>&1; sys_quiet_end >/dev/null 2>&1; vt_down >/dev/null 2>&1' EXIT
W=$ART
: >"$W/not-measured.txt"
cp -f "$B/bench/bench_minimal.exe" "$B/bench/bench_plain.exe" "$B/tools/winprobe.exe" "$APP/"
MINW=$(vt_sim_winpath "$APP/bench_minimal.exe")
PLAINW=$(vt_sim_winpath "$APP/bench_plain.exe")
PROBEW=$(vt_sim_winpath "$APP/winprobe.exe")
PANELW=$(vt_sim_winpath "$APP/TrelvixVelotune.exe")
LAUNCHW=$(vt_sim_winpath "$APP/Velotray.exe")
sys_install 1
vt_sim_drive d1 kind=twomode mode=high vendor=TRELVIX "product=DVD-RW TV-1620" revision=1.03 >/dev/null
vt_sim_drive e1 kind=speedlist speeds=8,16,24,40 current=24 vendor=TRELVIX "product=CD-RW TV-5224" revision=2.00 >/dev/null
vt_sim_cdrom d d1
vt_sim_no_cdrom e
vt_sim_preload
say() { echo "bench: $*" >&2; }
median() { sort -n | awk '{a[NR]=$1} END{if(NR==0){print "n/a"} else if(NR%2){print a[(NR+1)/2]} else {printf "%.1f\n",(a[NR/2]+a[NR/2+1])/2}}'; }
# range: "MIN to MAX", or n/a.
range() { sort -n | awk 'NR==1{lo=$1} {hi=$1} END{if(NR==0) print "n/a"; else print lo " to " hi}'; }
# The times of a probe's output, only when there are exactly the N expected.
times_of() {
    local n
    n=$(grep -c '^ms: ' "$1")
    if [ "$n" = "$2" ]; then sed -n 's/^ms: //p' "$1"; else say "$1: $n of $2 times (see the file)"; fi
}

# --- start-up --------------------------------------------------------------
say "start-up, $runs runs each of the plain program, the reference and the panel, in turn (plus one warm-up round)"
# Each round: the three programs until their window is visible with the text
# (read as the system keeps it), then the reference and the panel again with
# the text asked for through the program's message loop (the former figure).
script=$W/startup.txt
{
    for i in $(seq 0 "$runs"); do
        for line in "starttime \"$PLAINW\" VelotuneBenchPlain - \"Current Speed = \"" \
            "starttime \"$MINW\" VelotuneBenchMinimal - \"Current Speed = \"" \
            "starttime \"$PANELW\" $PANEL_CLASS \"$PANEL_TITLE\" \"Current Speed = \"" \
            "starttime-loop \"$MINW\" VelotuneBenchMinimal - \"Current Speed = \"" \
            "starttime-loop \"$PANELW\" $PANEL_CLASS \"$PANEL_TITLE\" \"Current Speed = \""; do
            # A quiet desktop for each start: Wine, its desktop and the X server
            # are still busy with the last program's end for a while after it.
            echo "sleep $quiet"
            echo "$line"
        done
    done
} >"$script"
pr0 script "$(vt_sim_winpath "$script")" >"$W/startup.out"
mapfile -t times < <(times_of "$W/startup.out" $((5 * (runs + 1))))
plain_t=() min_t=() pan_t=() minl_t=() panl_t=()
for i in "${!times[@]}"; do
    [ "$i" -lt 5 ] && continue # the warm-up round
    case $((i % 5)) in
    0) plain_t+=("${times[$i]}") ;;
    1) min_t+=("${times[$i]}") ;;
    2) pan_t+=("${times[$i]}") ;;
    3) minl_t+=("${times[$i]}") ;;
    4) panl_t+=("${times[$i]}") ;;
    esac
done
plain_med=$(printf '%s\n' "${plain_t[@]}" | median) plain_rng=$(printf '%s\n' "${plain_t[@]}" | range)
min_med=$(printf '%s\n' "${min_t[@]}" | median) min_rng=$(printf '%s\n' "${min_t[@]}" | range)
pan_med=$(printf '%s\n' "${pan_t[@]}" | median) pan_rng=$(printf '%s\n' "${pan_t[@]}" | range)
minl_med=$(printf '%s\n' "${minl_t[@]}" | median) panl_med=$(printf '%s\n' "${panl_t[@]}" | median)
[ "${#times[@]}" = 0 ] && plain_med=n/a min_med=n/a pan_med=n/a minl_med=n/a panl_med=n/a
ratio=$(awk -v a="$pan_med" -v b="$min_med" 'BEGIN{ if (a != "n/a" && b != "n/a" && b > 0) printf "%.2f", a / b; else print "n/a" }')
ratio_loop=$(awk -v a="$panl_med" -v b="$minl_med" 'BEGIN{ if (a != "n/a" && b != "n/a" && b > 0) printf "%.2f", a / b; else print "n/a" }')
# The fastest run of each: the least that load on the machine added.
pan_min=$(printf '%s\n' "${pan_t[@]}" | sort -n | head -n 1) min_min=$(printf '%s\n' "${min_t[@]}" | sort -n | head -n 1)
ratio_fast=$(awk -v a="$pan_min" -v b="$min_min" 'BEGIN{ if (a != "" && b != "" && b > 0) printf "%.2f", a / b; else print "n/a" }')
# Round by round: each round's panel and reference ran back to back, so their
# ratio is less moved by load that changes during the run.
ratio_rounds=$(for i in "${!pan_t[@]}"; do
    awk -v a="${pan_t[$i]}" -v b="${min_t[$i]}" 'BEGIN{ if (b > 0) printf "%.3f\n", a / b }'
done | median)
ratio_plain=$(awk -v a="$pan_med" -v b="$plain_med" 'BEGIN{ if (a != "n/a" && b != "n/a" && b > 0) printf "%.2f", a / b; else print "n/a" }')
say "plain ${plain_t[*]} -> $plain_med ms; reference ${min_t[*]} -> $min_med ms; panel ${pan_t[*]} -> $pan_med ms; ratio $ratio"
say "through the message loop: reference ${minl_t[*]} -> $minl_med ms; panel ${panl_t[*]} -> $panl_med ms; ratio $ratio_loop"

# --- where the start-up time goes ----------------------------------------------
# Wine's relay trace of the calls that mark the phases, with timestamps (1 ms).
# Timed through the message loop, so that the program is still there for its
# first paint before the probe closes it (the phases come from the trace).
say "start-up breakdown, $traces traced starts each of the reference and the panel"
wine reg add "$relay_key" /v RelayInclude /t REG_SZ /f /d \
    'kernel32.CreateProcessA;comctl32.InitCommonControlsEx;user32.CreateWindowExA;user32.LoadImageA;kernel32.FindResourceA;gdi32.GdiFlush;kernel32.GetLogicalDrives;kernel32.GetDriveTypeA;kernel32.CreateFileA;kernel32.DeviceIoControl;user32.SetWindowTextA;user32.BeginPaint' \
    >/dev/null 2>&1
for i in $(seq 1 "$traces"); do
    for p in minimal panel; do
        if [ $p = panel ]; then
            line="starttime-loop \"$PANELW\" $PANEL_CLASS \"$PANEL_TITLE\" \"Current Speed = \"" exe=TrelvixVelotune.exe
        else
            line="starttime-loop \"$MINW\" VelotuneBenchMinimal - \"Current Speed = \"" exe=bench_minimal.exe
        fi
        echo "$line" >"$W/traced.txt"
        (cd "$APP" && WINEDEBUG=+timestamp,+pid,+relay,+loaddll wine "$PROBE" script "$(vt_sim_winpath "$W/traced.txt")" \
            </dev/null >/dev/null 2>"$W/trace-$p-$i.txt")
        awk -v exe="$exe" -v status="Current Speed = " -f "$top/bench/breakdown.awk" "$W/trace-$p-$i.txt" >>"$W/phases-$p.txt"
    done
done
wine reg delete "$relay_key" /v RelayInclude /f >/dev/null 2>&1
# phase NAME WHO: the median of one phase over the traced starts.
phase() {
    [ -s "$W/phases-$2.txt" ] || { echo n/a; return; }
    sed -n "s/.* $1=\([0-9.]*\).*/\1/p" "$W/phases-$2.txt" | median
}
n_traced_panel=$(grep -c '^phases:' "$W/phases-panel.txt" 2>/dev/null || echo 0)
n_traced_min=$(grep -c '^phases:' "$W/phases-minimal.txt" 2>/dev/null || echo 0)
say "traced: panel $n_traced_panel, reference $n_traced_min"

# --- launcher to tray icon -------------------------------------------------
say "launcher start to tray icon, $runs runs"
script=$W/tray.txt
{
    for i in $(seq 0 "$runs"); do
        echo "traytime \"$LAUNCHW\" /autorun"
        echo "post - \"$LAUNCHER_TITLE\" 273 103 0"
        echo "wait-gone - \"$LAUNCHER_TITLE\" 10000"
        echo "sleep 300"
    done
} >"$script"
pr0 script "$(vt_sim_winpath "$script")" >"$W/tray.out"
mapfile -t tt < <(times_of "$W/tray.out" $((runs + 1)) | tail -n +2)
tray_med=$(printf '%s\n' "${tt[@]}" | median) tray_rng=$(printf '%s\n' "${tt[@]}" | range)
say "tray ${tt[*]} -> $tray_med ms"

# --- double click on the icon to the panel's status line ------------------------
# The shell tells the launcher of a double click with its callback message 1025
# and WM_LBUTTONDBLCLK (515) in lParam; a one-shot winprobe.exe posts exactly that,
# and the time runs from its start (so it includes that small process's start).
say "double click on the icon to the panel's status line, $runs runs"
launcher /autorun
wait_launcher
# (The click goes through a script file: the probe passes its arguments on unquoted.)
echo "post - \"$LAUNCHER_TITLE\" 1025 0 515" >"$W/dblclick-post.txt"
script=$W/dblclick.txt
{
    for i in $(seq 0 "$runs"); do
        echo "starttime \"$PROBEW\" $PANEL_CLASS \"$PANEL_TITLE\" \"Current Speed = \" script $(vt_sim_winpath "$W/dblclick-post.txt")"
        echo "wait-gone $PANEL_CLASS \"$PANEL_TITLE\" 10000"
        echo "sleep 300"
    done
} >"$script"
pr0 script "$(vt_sim_winpath "$script")" >"$W/dblclick.out"
mapfile -t dc < <(times_of "$W/dblclick.out" $((runs + 1)) | tail -n +2)
dbl_med=$(printf '%s\n' "${dc[@]}" | median) dbl_rng=$(printf '%s\n' "${dc[@]}" | range)
say "double click ${dc[*]} -> $dbl_med ms"
# The poster's own share: the same probe started the same way, starting the
# plain program instead of posting the click.
echo "start \"$PLAINW\"" >"$W/poster-plain.txt"
script=$W/poster.txt
for i in $(seq 0 "$runs"); do
    echo "starttime \"$PROBEW\" VelotuneBenchPlain - \"Current Speed = \" script $(vt_sim_winpath "$W/poster-plain.txt")"
    echo "wait-gone VelotuneBenchPlain - 10000"
done >"$script"
pr0 script "$(vt_sim_winpath "$script")" >"$W/poster.out"
mapfile -t pp < <(times_of "$W/poster.out" $((runs + 1)) | tail -n +2)
poster_med=$(printf '%s\n' "${pp[@]}" | median)
poster_share=$(awk -v a="$poster_med" -v b="$plain_med" 'BEGIN{ if (a != "n/a" && b != "n/a") printf "%.1f", a - b; else print "n/a" }')
dbl_net=$(awk -v a="$dbl_med" -v b="$poster_share" 'BEGIN{ if (a != "n/a" && b != "n/a") printf "%.1f", a - b; else print "n/a" }')
say "poster then plain program ${pp[*]} -> $poster_med ms; poster's share $poster_share ms; double click less it $dbl_net ms"
sys_quiet_end

# --- commands per action, idle cost, working sets ---------------------------
say "commands per action with two drives (d: two-mode, e: speed list)"
vt_sim_cdrom e e1
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

# --- velotune on other makers' drives: commands per set Nx and per status ------
# The native tool through the real SG_IO path into the simulated drive kinds of
# tests/tool/mmc_table.sh; each run's commands counted from the drive's log.
say "velotune: commands per set 8x and per status on other makers' drives"
mmc_dir=$B/benchenv/mmc
rm -rf "$mmc_dir" && mkdir -p "$mmc_dir"
# mmc_count "KEYS" ARGS...: "commands vendor" one run sent to a drive of KEYS
mmc_count() {
    local keys=$1
    shift
    # shellcheck disable=SC2086 # the keys are words
    printf '%s\n' $keys >"$mmc_dir/d.drive"
    : >"$mmc_dir/d.drive.log"
    LD_PRELOAD=$B/native/sim/libvtsim_sgio.so "$B/native/velotune" "$@" "$mmc_dir/d.drive" \
        >/dev/null 2>&1
    echo "$(grep -c '^cdb=' "$mmc_dir/d.drive.log") $(grep -c '^cdb=ff' "$mmc_dir/d.drive.log")"
}
mmc_kinds=("kind=mmc profile=0x08 perf=0 speed_kbs=8467 max_kbs=8467"
    "kind=mmc profile=0x10 streaming=1 offered=5540,11080,22160 speed_kbs=22160 max_kbs=22160 cd_speed=cd_only"
    "kind=mmc profile=0x10 cd_speed=cd_only speed_kbs=22160 max_kbs=22160"
    "kind=mmc profile=0x10 streaming=1 no_current=1"
    "kind=mmc profile=0 needs_disc=1 perf=0 max_kbs=8467")
mmc_set=() mmc_status=() mmc_set_vendor=0
for keys in "${mmc_kinds[@]}"; do
    read -r n v <<<"$(mmc_count "$keys" set 8x)"
    mmc_set+=("$n")
    mmc_set_vendor=$((mmc_set_vendor + v))
    read -r n v <<<"$(mmc_count "$keys" status)"
    mmc_status+=("$n")
done
mmc_set_max=$(printf '%s\n' "${mmc_set[@]}" | sort -n | tail -n 1)
mmc_status_max=$(printf '%s\n' "${mmc_status[@]}" | sort -n | tail -n 1)
g_mmc=""
[ -n "$mmc_set_max" ] && [ -n "$mmc_status_max" ] && g_mmc=0 &&
    [ "$mmc_set_max" -le 6 ] && [ "$mmc_status_max" -le 6 ] && [ "$mmc_set_vendor" -eq 0 ] && g_mmc=1
say "set 8x: ${mmc_set[*]} (vendor $mmc_set_vendor), status: ${mmc_status[*]}"

say "idle for $idle s"
lpid=$(prefix_pids 'Velotray.exe' | head -n 1)
ppid_=$(prefix_pids 'TrelvixVelotune.exe' | head -n 1)
# CPU ticks of a process; nothing when it is not there.
ticks() { [ -n "$1" ] && awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null; }
threads() { [ -n "$1" ] && [ -d "/proc/$1/task" ] && find "/proc/$1/task" -mindepth 1 -maxdepth 1 | wc -l; }
vt_sim_log_clear d1
vt_sim_log_clear e1
l0=$(ticks "$lpid") p0=$(ticks "$ppid_")
sleep "$idle"
l1=$(ticks "$lpid") p1=$(ticks "$ppid_")
idle_cmds=$(($(vt_sim_count d1) + $(vt_sim_count e1)))
hz=$(getconf CLK_TCK)
l_cpu=n/a p_cpu=n/a
[ -n "$l0" ] && [ -n "$l1" ] && l_cpu=$(((l1 - l0) * 1000 / hz))
[ -n "$p0" ] && [ -n "$p1" ] && p_cpu=$(((p1 - p0) * 1000 / hz))
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
# The shipped programs are stripped; the build keeps unstripped copies in
# symbols/, which the symbol figures below read.
SYM=$B/symbols
raw_panel=$(stat -c %s "$SYM/TrelvixVelotune.exe")
raw_launch=$(stat -c %s "$SYM/Velotray.exe")
imp_panel=$(imports "$B/dist/TrelvixVelotune.exe")
imp_launch=$(imports "$B/dist/Velotray.exe")
imp_kor=$(imports "$B/dist/Velotray.kor")
sys_dlls='^(KERNEL32|USER32|GDI32|ADVAPI32|SHELL32|COMCTL32|MSIMG32|msvcrt|api-ms-win-crt-[a-z0-9-]+|COMDLG32|OLE32|SHLWAPI|UXTHEME|WINMM|VERSION)\.dll$'
nonsys=""
for d in $imp_panel $imp_launch $imp_kor; do
    echo "$d" | grep -qiE "$sys_dlls" || nonsys="$nonsys $d"
done
# What links in: the largest sections and symbols of the panel.
x86_64-w64-mingw32-nm --size-sort -S -C "$SYM/TrelvixVelotune.exe" 2>/dev/null | tail -n 15 >"$W/panel-largest-symbols.txt" || true
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
org_panel=$(origins "$SYM/TrelvixVelotune.exe")
org_launch=$(origins "$SYM/Velotray.exe")

# --- allocation per drive command ---------------------------------------------
say "allocation per drive command"
vt_sim_no_cdrom e
vt_sim_preload
cp -f "$B/bench/allocbench.exe" "$APP/"
n_cmd=1000
(cd "$APP" && wine "$APP/allocbench.exe" d $n_cmd </dev/null >"$W/alloc-nt.raw" 2>/dev/null)
tr -d '\r' <"$W/alloc-nt.raw" >"$W/alloc-nt.out"
vt_sim_aspi_config adapters=1 support=0x0101
vt_sim_aspi_target 0:0 d1
vt_sim_aspi_install "$APP"
# The ASPI path is the 95 family's: on the NT family the layer is taken from the
# system folder only, and the simulated one lies beside the program.
vt_sim_win98 allocbench.exe
vt_sim_apply
(cd "$APP" && wine "$APP/allocbench.exe" aspi $n_cmd </dev/null >"$W/alloc-aspi.raw" 2>/dev/null)
vt_sim_win98 allocbench.exe off
vt_sim_apply
tr -d '\r' <"$W/alloc-aspi.raw" >"$W/alloc-aspi.out"
# The panel's handlers over a speed-list drive.
vt_sim_drive d1 kind=speedlist speeds=8,16,24,40 current=24 vendor=TRELVIX "product=CD-RW TV-5224" revision=2.00 >/dev/null
(cd "$APP" && wine "$APP/allocbench.exe" d $n_cmd </dev/null >"$W/alloc-list.raw" 2>/dev/null)
tr -d '\r' <"$W/alloc-list.raw" >"$W/alloc-list.out"
av() { sed -n "s/^$2: //p" "$W/alloc-$1.out" | head -n 1; }

# --- table and RESULTS.md -------------------------------------------------------
# goal FLAG: "met", "MISSED", or "not measured" when the flag is empty.
goal() { case "$1" in 1) echo "met" ;; 0) echo "MISSED" ;; *) echo "not measured" ;; esac; }
num() { [ -n "$1" ] && [ "$1" != n/a ] && [ "$1" != "not measured" ]; }
g_start=$(num "$ratio" && awk -v r="$ratio" 'BEGIN{print (r <= 1.2) ? 1 : 0}')
g_panel=$(num "$sz_panel" && { [ "$sz_panel" -le 262144 ] && echo 1 || echo 0; })
g_launch=$(num "$sz_launch" && { [ "$sz_launch" -le 65536 ] && echo 1 || echo 0; })
g_idle=$(num "$l_cpu" && num "$p_cpu" && num "$idle_cmds" &&
    { [ "$l_cpu" = 0 ] && [ "$p_cpu" = 0 ] && [ "$idle_cmds" = 0 ] && echo 1 || echo 0; })
a_nt_s=$(av nt allocs_status_read) a_nt_m=$(av nt allocs_mode_set)
a_as_s=$(av aspi allocs_status_read) a_as_m=$(av aspi allocs_mode_set)
a_2_r=$(av nt allocs_refresh) a_2_s=$(av nt allocs_set)
a_l_r=$(av list allocs_refresh) a_l_s=$(av list allocs_set)
a_l_b=$(av list allocs_refresh_build) a_l_p=$(av list allocs_set_list)
g_alloc=$(num "$a_nt_s" && num "$a_nt_m" && num "$a_as_s" && num "$a_as_m" &&
    { [ "$a_nt_s" = 0 ] && [ "$a_nt_m" = 0 ] && [ "$a_as_s" = 0 ] && [ "$a_as_m" = 0 ] && echo 1 || echo 0; })
g_alloc_ui=$(num "$a_2_r" && num "$a_2_s" && num "$a_l_b" && num "$a_l_p" &&
    { [ "$a_2_r" = 0 ] && [ "$a_2_s" = 0 ] && [ "$a_l_b" = 0 ] && [ "$a_l_p" = 0 ] && echo 1 || echo 0; })
g_imports=$(num "$imp_panel" && { [ -z "$nonsys" ] && echo 1 || echo 0; })
kb() { awk -v b="$1" 'BEGIN{printf "%.1f KB", b / 1024}'; }
ms() { if num "$1"; then echo "$1 ms"; else nm "" "$2"; fi; }
ph() { ms "$(phase "$1" "$2")" "breakdown $1 ($2)"; }
when=$(date -u '+%Y-%m-%d %H:%M UTC')
table=$(
    cat <<EOF
| Figure | Measured | Goal |
|---|---|---|
| start-up to the status line on a visible window, panel (median of ${#pan_t[@]}; range) | $(ms "$pan_med" "panel start-up") ($pan_rng) | |
| start-up to the text on a visible window, reference: common controls + manifest (median of ${#min_t[@]}; range) | $(ms "$min_med" "reference start-up") ($min_rng) | |
| start-up to the text on a visible window, plain one-window program (median of ${#plain_t[@]}; range) | $(ms "$plain_med" "plain start-up") ($plain_rng) | |
| start-up ratio panel / reference | $(nm "$ratio" "start-up ratio") | <= 1.2: $(goal "$g_start") |
| start-up ratio panel / reference, median of the rounds' own ratios | $(nm "$ratio_rounds" "round ratio") | |
| start-up ratio panel / reference, fastest run of each | $(nm "$ratio_fast" "fastest ratio") | |
| start-up ratio panel / plain program | $(nm "$ratio_plain" "plain ratio") | |
| start-up with the text asked through the program's message loop (WM_GETTEXT), reference / panel (medians of ${#minl_t[@]}); ratio | $(ms "$minl_med" "reference start-up, loop") / $(ms "$panl_med" "panel start-up, loop"); $(nm "$ratio_loop" "loop ratio") | |
| launcher start to tray icon (median of ${#tt[@]}; range) | $(ms "$tray_med" "tray icon") ($tray_rng) | |
| double click on the icon to the panel's status line, timed from the start of the one-shot console probe that posts the click (median of ${#dc[@]}; range) | $(ms "$dbl_med" "double click") ($dbl_rng) | |
| of it: the poster's start (probe starting the plain program, median $(ms "$poster_med" "poster"), less the plain program's median) | $(ms "$poster_share" "poster share") | |
| double click to status line less the poster's start | $(ms "$dbl_net" "double click net") | |
| commands: discovery, 2 drives | d: $(nm "$disc_d" "discovery d"), e: $(nm "$disc_e" "discovery e") | status read + INQUIRY per drive, + 1 status refresh of the first |
| commands: Set | $(nm "$set_n" "Set") ($set_detail) | |
| commands: drive switch | to e: $(nm "$sw1" "switch"), back to d: $(nm "$sw2" "switch back") (total $switch_total for 2 switches) | one status read per switch |
| commands: idle $idle s | $(nm "$idle_cmds" "idle commands") | 0 |
| velotune commands per set 8x, other makers' drives (CD, DVD streaming, DVD without streaming, DVD without a current speed, empty) | $(nm "$mmc_set_max" "mmc set") at most (${mmc_set[*]}), vendor commands $mmc_set_vendor | <= 6, no vendor command: $(goal "$g_mmc") |
| velotune commands per status, the same drives | $(nm "$mmc_status_max" "mmc status") at most (${mmc_status[*]}) | <= 6, the status read included |
| CPU time idle $idle s, launcher / panel | $(ms "$l_cpu" "idle CPU launcher") / $(ms "$p_cpu" "idle CPU panel") | 0: $(goal "$g_idle") |
| threads of the idle processes, launcher / panel | $(nm "$l_thr" "threads launcher") / $(nm "$p_thr" "threads panel") | (Wine's own included) |
| size stripped, TrelvixVelotune.exe | $(kb "$sz_panel") ($sz_panel B; unstripped $raw_panel B) | <= 256 KB: $(goal "$g_panel") |
| size stripped, Velotray.exe | $(kb "$sz_launch") ($sz_launch B; unstripped $raw_launch B) | <= 64 KB: $(goal "$g_launch") |
| sections, TrelvixVelotune.exe | $sec_panel | |
| code by origin, TrelvixVelotune.exe (symbol sizes) | $org_panel | |
| sections, Velotray.exe | $sec_launch | |
| code by origin, Velotray.exe (symbol sizes) | $org_launch | |
| size stripped, Velotray.kor | $(kb "$sz_kor") ($sz_kor B) | |
| imports, TrelvixVelotune.exe | $imp_panel | system DLLs only: $(goal "$g_imports") |
| imports, Velotray.exe | $imp_launch | |
| imports, Velotray.kor | ${imp_kor:-none} | |
| working set idle, launcher / panel | $(nm "$l_ws" "working set launcher") KB / $(nm "$p_ws" "working set panel") KB | |
| allocations per $n_cmd status reads / mode sets, pass-through | $(nm "$a_nt_s" "allocs nt status") / $(nm "$a_nt_m" "allocs nt set") | 0: $(goal "$g_alloc") |
| allocations per $n_cmd status reads / mode sets, ASPI | $(nm "$a_as_s" "allocs aspi status") / $(nm "$a_as_m" "allocs aspi set") | 0 |
| allocations per $n_cmd refreshes / Sets of the panel's handlers, two-mode drive | $(nm "$a_2_r" "allocs refresh") / $(nm "$a_2_s" "allocs set") | 0 |
| allocations per $n_cmd refreshes that build the speed list, speed-list drive | $(nm "$a_l_b" "allocs list build") | 0 |
| allocations per $n_cmd Sets that parse a list entry (and rebuild the list), speed-list drive | $(nm "$a_l_p" "allocs list set") (entry "$(av list set_list_entry)") | 0: $(goal "$g_alloc_ui") |
| allocations per $n_cmd refreshes / Sets, speed-list drive with the list kept | $(nm "$a_l_r" "allocs list refresh") / $(nm "$a_l_s" "allocs list set kept") | |
| allocations of one discovery | $(nm "$(av nt allocs_discovery)" "allocs discovery") | (per discovery, not per command) |
| allocation counter self-check (HeapAlloc, malloc, new) | $(nm "$(av nt selfcheck)" "alloc selfcheck") | 3 of 3 |
EOF
)
breakdown=$(
    cat <<EOF
Medians of $n_traced_panel traced starts of the panel and $n_traced_min of the
reference, in ms (the trace's clock has 1 ms steps). The trace slows every
traced call, so the phases add up to more than the untraced start-up above:
they show where the time goes, not how long it is.

| Phase | Reference | Panel |
|---|---|---|
| process creation (CreateProcessA to the program's first trace line) | $(ph process minimal) | $(ph process panel) |
| loader: DLLs mapped and attached, C runtime start (without common controls) | $(ph loader minimal) | $(ph loader panel) |
| common controls with the manifest (comctl32 6 attach: activation context, X11 driver, theme) | $(ph comctl32 minimal) | $(ph comctl32 panel) |
| program start to its main window (application object, InitCommonControlsEx, icons, form objects, pictures, the drive search's thread started) | $(ph before_window minimal) | $(ph before_window panel) |
| of it: InitCommonControlsEx | $(ph initcc minimal) | $(ph initcc panel) |
| the background bitmap (the 320 x 200 picture loaded: LoadImageA, or the packed resource found and unpacked) | - | $(ph bitmap panel) |
| the main window and the controls of its first paint | $(ph windows minimal) | $(ph windows panel) |
| of it: the main window itself (the process's first window: Wine's X11 connection for the thread and the window's X side; the reference's with its static text made inside it) | $(ph first_window minimal) | $(ph first_window panel) |
| of it: the drive list (a drop-down list, whose list is a top-level window of its own, with its X side) | - | $(ph drive_list panel) |
| of it: the other controls (two group boxes, two option buttons, the status line), fonts, the drive list's font and item height | - | $(ph other_controls panel) |
| after the last control to the status line (region, title, placing, showing; waiting for the drive search if it still runs; listing, the status refresh) | - | $(ph after_windows panel) |
| the drive search, on a thread of its own while the window is made (first GetLogicalDrives to its last command) | - | $(ph search panel) |
| of it: GetDriveTypeA ($(phase n_drivetype panel) calls) | - | $(ph drivetype panel) |
| of it: opening drives ($(phase n_open panel) CreateFileA) | - | $(ph opens panel) |
| of it and after it: drive commands ($(phase n_command panel) DeviceIoControl, the status refresh included) | - | $(ph commands panel) |
| total, CreateProcessA to the status line (traced) | $(ph total minimal) | $(ph total panel) |
| first paint of the main window, after the status line | - | $(ph paint_after_status panel) |
EOF
)
# Notes on the goals, from this run's figures.
notes() {
    echo "## Goals, from the figures above"
    echo
    if [ "$(goal "$g_start")" = met ]; then
        echo "- **Start-up ratio:** met ($ratio: panel $pan_med ms, reference $min_med ms; fastest runs $pan_min and $min_min ms, ratio $ratio_fast)."
    else
        echo "- **Start-up ratio:** $(goal "$g_start") ($(nm "$ratio" "start-up ratio") against 1.2: panel $pan_med ms, reference $min_med ms; fastest runs $pan_min and $min_min ms, ratio $ratio_fast). Beyond the reference, in the traced starts: $(phase before_window panel) ms before the main window, $(phase drive_list panel) ms for the drive list, $(phase other_controls panel) ms for the other controls and $(phase after_windows panel) ms from the last control to the status line; NOTES below say what each is and why it stays."
    fi
    echo "- **Panel size (<= 256 KB stripped):** $(goal "$g_panel") ($(kb "$sz_panel"); $sec_panel)."
    echo "- **Launcher size (<= 64 KB stripped):** $(goal "$g_launch") ($(kb "$sz_launch"); $sec_launch)."
    if [ "$(goal "$g_alloc")" = met ] && [ "$(goal "$g_alloc_ui")" = met ]; then
        echo "- **Allocation per command:** none in the transport and in the panel's refreshes and Sets, also where a refresh builds the speed list and a Set parses a list entry."
    else
        echo "- **Allocation per command:** transport $(goal "$g_alloc"); the panel's refreshes and Sets $(goal "$g_alloc_ui") (see the allocation rows)."
    fi
    echo "- **Idle:** $(goal "$g_idle") (CPU $(ms "$l_cpu" "idle CPU launcher") / $(ms "$p_cpu" "idle CPU panel"), $(nm "$idle_cmds" "idle commands") commands)."
}
notes_text=$(notes)
echo
echo "$table"
echo
echo "$breakdown"
echo
echo "$notes_text"
{
    echo "# Benchmark results"
    echo
    echo "Written by \`bench/run.sh\`; never edited by hand. Measured $when at commit"
    echo "$commit, on $(nproc) cores (load average $load_start at the start, $(cut -d' ' -f1-3 /proc/loadavg)"
    echo "at the end), $(wine --version 2>/dev/null), Xvfb."
    echo "Build: MinSizeRel, MinGW-w64 $(x86_64-w64-mingw32-g++-posix -dumpversion), static runtime (the panel's of the win32 thread model)."
    echo
    echo "$table"
    echo
    echo "## Where the start-up time goes"
    echo
    echo "$breakdown"
    echo
    echo "$notes_text"
    echo
    cat "$top/bench/NOTES.md"
} >"$top/bench/RESULTS.md"
echo "Written: $top/bench/RESULTS.md (work files in $W)"
if [ -s "$W/not-measured.txt" ]; then
    echo "run.sh: not measured: $(sort -u "$W/not-measured.txt" | paste -sd ';' -)" >&2
    exit 1
fi
