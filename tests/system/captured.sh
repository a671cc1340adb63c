#!/usr/bin/env bash
# captured.sh COMMAND...: runs a test command with its output in a file, then
# prints the file. Wine's long-lived processes (services, device drivers, the
# desktop) inherit the output of whichever program started them; through a file
# they never hold ctest's pipe open after the test has ended.
log=$(mktemp)
"$@" >"$log" 2>&1 </dev/null
rc=$?
cat "$log"
rm -f "$log"
exit $rc
