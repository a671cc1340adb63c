#!/usr/bin/env bash
# The release zip beside the setup program: the programs as built and the
# manual installation text, nothing else.
source "$(dirname "$0")/lib.sh"
zip=$IT_DIST/TrelvixVelotune-$IT_VERSION.zip
it_case "release zip"
check "zip exists" test -f "$zip"
check "entries" eq \
    "$(unzip -Z1 "$zip" 2>/dev/null | sort | tr '\n' ' ' | sed 's/ $//')" \
    "README-install.txt TrelvixVelotune.exe Velotray.exe Velotray.kor velotune.exe"
for f in TrelvixVelotune.exe Velotray.exe Velotray.kor velotune.exe; do
    check "$f same as the build's" cmp -s "$IT_DIST/$f" <(unzip -p "$zip" "$f")
done
text=$(unzip -p "$zip" README-install.txt 2>/dev/null)
check "text names this version" grep -qF "$IT_VERSION" <<<"$text"
crlf_lines() { [ "$(grep -c $'\r$' <<<"$text")" = "$(wc -l <<<"$text")" ]; }
check "text has Windows line ends" crlf_lines
check "text gives the logon entry" grep -qF 'Currentversion\Run" /reg:64 /f /v Velotune' <<<"$text"
check "no placeholder left" not grep -q @ <<<"$text"
vt_end
