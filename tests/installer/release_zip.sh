#!/usr/bin/env bash
# The release zip beside the setup program: the programs as built and the
# manual installation text, nothing else.
source "$(dirname "$0")/lib.sh"
zip=$IT_DIST/TrelvixVelotune-$IT_VERSION.zip
it_case "release zip"
it_check "zip exists" test -f "$zip"
it_expect_eq "entries" "README-install.txt TrelvixVelotune.exe Velotray.exe Velotray.kor velotune.exe" \
    "$(unzip -Z1 "$zip" 2>/dev/null | sort | tr '\n' ' ' | sed 's/ $//')"
for f in TrelvixVelotune.exe Velotray.exe Velotray.kor velotune.exe; do
    it_check "$f same as the build's" cmp -s "$IT_DIST/$f" <(unzip -p "$zip" "$f")
done
text=$(unzip -p "$zip" README-install.txt 2>/dev/null)
it_check "text names this version" grep -qF "$IT_VERSION" <<<"$text"
it_check "text has Windows line ends" eval '[ "$(grep -c $'"'"'\r$'"'"' <<<"$text")" = "$(wc -l <<<"$text")" ]'
it_check "text gives the logon entry" grep -qF 'Currentversion\Run" /reg:64 /f /v Velotune' <<<"$text"
it_check "no placeholder left" eval '! grep -q @ <<<"$text"'
it_done
