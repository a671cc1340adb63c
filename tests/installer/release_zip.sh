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

it_case "stripped files and their sums"
for f in TrelvixVelotune.exe Velotray.exe Velotray.kor velotune.exe; do
    check "$f stripped: no symbols, no debug sections" eq \
        "$(x86_64-w64-mingw32-objdump -h -t "$IT_DIST/$f" | grep -cE '\.debug_|^\[ *[0-9]+\]')" 0
done
listed=$(cut -d' ' -f3- "$IT_DIST/SHA256SUMS" 2>/dev/null | sort | tr '\n' ' ')
want=$( (printf '%s\n' "${IT_SETUP##*/}" "${zip##*/}" TrelvixVelotune.exe Velotray.exe Velotray.kor \
    velotune.exe && find "$IT_DIST" -maxdepth 1 -name 'velotune_*.deb' -printf '%f\n') |
    sort | tr '\n' ' ')
check "SHA256SUMS lists the setup, the zip, the programs and the package" eq "$listed" "$want"
check "SHA256SUMS checks" sh -c "cd '$IT_DIST' && sha256sum --quiet -c SHA256SUMS"
vt_end
