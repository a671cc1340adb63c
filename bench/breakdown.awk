# Splits one traced start of a program (Wine's +timestamp,+pid,+relay,+loaddll
# output, relay limited to the calls named in run.sh) into phases. Prints one
# line "phases: NAME=MS ..." with times in ms, or nothing when the trace lacks
# the start or the status line.
#   awk -v exe=TrelvixVelotune.exe -v status="Current Speed = " -f breakdown.awk TRACE
function t(s) { return s * 1000 }
function rest(line,  i, n) {
    # Text after "time:pid:tid:"
    n = 0
    for (i = 1; i <= length(line); i++)
        if (substr(line, i, 1) == ":" && ++n == 3) return substr(line, i + 1)
    return ""
}
BEGIN { FS = ":" }
{
    now = t($1); pid = $2; tid = $3; r = rest($0)
}
r ~ /^Call KERNEL32\.CreateProcessA\(/ && index(r, exe) { tc = now; child = ""; next }
child == "" && tc != "" && r ~ /loaddll:build_module Loaded/ && index(r, exe) { child = pid; t0 = now; next }
pid != child || child == "" { next }
r ~ /^Call PE DLL .*COMCTL32\.dll.*PROCESS_ATTACH/ { cc0 = now }
r ~ /^Ret  PE DLL .*COMCTL32\.dll.*PROCESS_ATTACH/ { cc = now - cc0 }
r ~ /^Starting thread proc/ && te == "" { te = now }
# The background: a bitmap resource (LoadImageA) or a packed one (FindResourceA,
# then the unpacking, which ends with GdiFlush).
r ~ /^Call (user32\.LoadImageA|KERNEL32\.FindResourceA|kernel32\.FindResourceA)\(140000000,00000065,/ && bg0 == "" { bg0 = now }
r ~ /^Ret  (user32\.LoadImageA|GDI32\.GdiFlush|gdi32\.GdiFlush)\(/ && bg0 != "" && bg == "" { bg = now - bg0 }
r ~ /^Call comctl32\.InitCommonControlsEx/ { icc0 = now }
r ~ /^Ret  comctl32\.InitCommonControlsEx/ && icc0 != "" { icc = now - icc0 }
r ~ /^Call user32\.CreateWindowExA\(/ && tw0 == "" && (index(r, "\"TFormMain\"") || index(r, "\"VelotuneBench")) { tw0 = now; main = tid }
# The windows made before the status line, on the window's thread: each call
# that returns to the top level (a control made inside its parent's creation
# counts with it).
r ~ /^Call user32\.CreateWindowExA\(/ && tw0 != "" && tid == main {
    depth++
    # The drive list: a drop-down list, whose list is a window of its own.
    if (ts == "" && index(r, "\"COMBOBOX\"")) { cb0 = now; cbdepth = depth }
}
r ~ /^Ret  user32\.CreateWindowExA\(/ && tw0 != "" && tid == main && depth > 0 {
    if (cbdepth == depth && cb0 != "") { cb += now - cb0; cb0 = ""; cbdepth = 0 }
    if (depth == 1 && tw_first == "") tw_first = now - tw0
    if (--depth == 0 && ts == "") {
        tw1 = now
        # A text given at creation is there once the outermost window is.
        if (textmade) ts = now
    }
}
# The drive search: from its first question to its last command before the
# status line; the panel runs it on a thread of its own while the window is made.
r ~ /^Call KERNEL32\.(GetLogicalDrives|GetDriveTypeA)/ && td0 == "" { td0 = now; search = tid }
r ~ /^Ret  KERNEL32\.DeviceIoControl/ && ts == "" && tid == search { td1 = now }
r ~ /^Call KERNEL32\.GetDriveTypeA/ { gd0 = now; ngd++ }
r ~ /^Ret  KERNEL32\.GetDriveTypeA/ { gd += now - gd0 }
r ~ /^Call KERNEL32\.CreateFileA/ { cf0 = now; ncf++ }
r ~ /^Ret  KERNEL32\.CreateFileA/ { cf += now - cf0 }
r ~ /^Call KERNEL32\.DeviceIoControl/ { io0 = now; nio++ }
r ~ /^Ret  KERNEL32\.DeviceIoControl/ { io += now - io0 }
ts == "" && r ~ /^Call user32\.SetWindowTextA\(/ && index(r, "\"" status) { ts = now }
ts == "" && r ~ /^Call user32\.CreateWindowExA\(/ && index(r, "\"" status) { textmade = 1 }
r ~ /^Call user32\.BeginPaint/ && tp == "" { tp = now }
END {
    if (tc == "" || t0 == "" || te == "" || tw0 == "" || ts == "") exit
    if (tw1 == "") tw1 = tw0
    if (td0 == "") td0 = ts
    if (td1 == "") td1 = td0
    printf "phases: process=%.1f loader=%.1f comctl32=%.1f", t0 - tc, te - t0 - cc, cc
    printf " before_window=%.1f bitmap=%.1f initcc=%.1f", tw0 - te - bg, bg + 0, icc + 0
    printf " windows=%.1f first_window=%.1f drive_list=%.1f", tw1 - tw0, tw_first, cb + 0
    printf " other_controls=%.1f after_windows=%.1f", tw1 - tw0 - tw_first - cb, ts - tw1
    printf " search=%.1f search_thread=%d", td1 - td0, search != "" && search != main
    printf " drivetype=%.1f opens=%.1f commands=%.1f", gd, cf, io
    printf " n_drivetype=%d n_open=%d n_command=%d", ngd, ncf, nio
    printf " total=%.1f paint_after_status=%s\n", ts - tc, tp == "" ? "n/a" : sprintf("%.1f", tp - ts)
}
