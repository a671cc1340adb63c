#!/usr/bin/env bash
# Signs Windows files in place with Authenticode (SHA-256), with the
# certificate the environment names:
#   VELOTUNE_SIGN_PKCS12         path of the .pfx (certificate and private key)
#   VELOTUNE_SIGN_PASSWORD_FILE  path of a file holding its password
#   VELOTUNE_SIGN_TIMESTAMP_URL  optional: an RFC 3161 time-stamp server
#
#   installer/sign.sh FILE...
#
# The build runs it on each program after linking, and makensis on the setup
# and on the uninstaller it packs. A file that cannot be signed fails the run
# and is left as it was.
set -euo pipefail
: "${VELOTUNE_SIGN_PKCS12:?sign.sh: VELOTUNE_SIGN_PKCS12 is not set}"
pass=()
if [ -n "${VELOTUNE_SIGN_PASSWORD_FILE:-}" ]; then
    pass=(-readpass "$VELOTUNE_SIGN_PASSWORD_FILE")
fi
stamp=()
if [ -n "${VELOTUNE_SIGN_TIMESTAMP_URL:-}" ]; then
    stamp=(-ts "$VELOTUNE_SIGN_TIMESTAMP_URL")
fi
for f in "$@"; do
    tmp=$f.signing
    rm -f "$tmp"
    if ! osslsigncode sign -pkcs12 "$VELOTUNE_SIGN_PKCS12" "${pass[@]}" -h sha256 \
        -n "Trelvix Velotune" "${stamp[@]}" -in "$f" -out "$tmp" >"$tmp.log" 2>&1; then
        cat "$tmp.log" >&2
        rm -f "$tmp" "$tmp.log"
        echo "sign.sh: cannot sign $f" >&2
        exit 1
    fi
    rm -f "$tmp.log"
    chmod --reference="$f" "$tmp"
    mv -f "$tmp" "$f"
done
