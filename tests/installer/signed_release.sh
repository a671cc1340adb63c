#!/usr/bin/env bash
# A signed release, made with a throwaway certificate authority: the built
# programs signed and packed again the way the build packs them (makensis signs
# the uninstaller and the setup). Every signed file verifies against that
# authority, and so does the uninstaller the setup writes when it installs;
# SHA256SUMS checks.
source "$(dirname "$0")/lib.sh"
it_require_build
it_save
it_cleanup

work=$IT_BUILD/installer-tests/signed
rm -rf "$work"
mkdir -p "$work/dist"
ca=$work/ca.pem
programs=(TrelvixVelotune.exe Velotray.exe Velotray.kor velotune.exe)
setup=$work/dist/TrelvixVelotune-$IT_VERSION-setup.exe
quiet() { "$@" >"$work/last.log" 2>&1 || { sed 's/^/     /' "$work/last.log"; return 1; }; }
verifies() { quiet osslsigncode verify -CAfile "$ca" -in "$1"; }

it_case "a throwaway authority and code-signing certificate"
make_certificate() {
    cd "$work" || return 1
    openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
        -subj "/CN=Velotune Test Authority" -addext "basicConstraints=critical,CA:TRUE" \
        -addext "keyUsage=critical,keyCertSign,cRLSign" &&
        openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr \
            -subj "/CN=Velotune Test Signer" &&
        printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >signer.ext &&
        openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
            -extfile signer.ext -out signer.pem &&
        echo "test-password" >password.txt &&
        openssl pkcs12 -export -in signer.pem -inkey signer.key -out signer.pfx \
            -passout file:password.txt
}
check "certificate made" quiet make_certificate
export VELOTUNE_SIGN_PKCS12=$work/signer.pfx VELOTUNE_SIGN_PASSWORD_FILE=$work/password.txt
unset VELOTUNE_SIGN_TIMESTAMP_URL

it_case "signing the programs and packing the release"
for f in "${programs[@]}"; do cp "$IT_DIST/$f" "$work/dist/$f"; done
check "an unsigned program does not verify" not verifies "$work/dist/Velotray.exe"
check "a time-stamp server that does not answer fails the signing, file left as it was" \
    not env VELOTUNE_SIGN_TIMESTAMP_URL=http://127.0.0.1:9/ \
    "$IT_SOURCE/installer/sign.sh" "$work/dist/Velotray.kor" 2>/dev/null
check "  ... and left as it was" cmp -s "$IT_DIST/Velotray.kor" "$work/dist/Velotray.kor"
check "programs signed" quiet "$IT_SOURCE/installer/sign.sh" "${programs[@]/#/$work/dist/}"
check "setup, zip and SHA256SUMS packed" quiet "$IT_BUILD/installer/release.sh" "$work/dist"
for f in "${programs[@]}"; do
    check "$f verifies" verifies "$work/dist/$f"
done
check "the setup verifies" verifies "$setup"
check "SHA256SUMS checks" quiet sh -c "cd '$work/dist' && sha256sum -c SHA256SUMS"

it_case "a signature that fails inside makensis stops the release"
# The release packed by a copy of release.sh, whose sign.sh beside it signs
# nothing and fails at its Nth call: 1 the uninstaller, 2 the setup.
fake=$work/failing-sign
mkdir -p "$fake/dist"
cp "$IT_SOURCE/installer/release.sh" "$fake/"
sed "s|'$IT_SOURCE/installer/release.sh'|'$fake/release.sh'|" "$IT_BUILD/installer/release.sh" >"$fake/pack.sh"
for f in "${programs[@]}"; do cp "$work/dist/$f" "$fake/dist/$f"; done
for n in 1 2; do
    # shellcheck disable=SC2016 # expanded by the fake sign.sh
    printf '#!/bin/sh\nn=$(($(cat "%s" 2>/dev/null || echo 0) + 1))\necho "$n" >"%s"\n[ "$n" -lt %s ]\n' \
        "$fake/calls" "$fake/calls" "$n" >"$fake/sign.sh"
    chmod 755 "$fake/sign.sh"
    rm -f "$fake/calls" "$fake/dist/TrelvixVelotune-$IT_VERSION-setup.exe"
    echo stale >"$fake/dist/SHA256SUMS"
    sh "$fake/pack.sh" "$fake/dist" >"$fake/pack.log" 2>&1
    check "sign command failing at call $n: the release fails, makensis stopped there, no setup, no SHA256SUMS" eq \
        "$?|$(cat "$fake/calls")|$(cd "$fake/dist" && ls TrelvixVelotune-*-setup.exe SHA256SUMS 2>/dev/null)" "1|$n|"
done

it_case "the signed setup installed"
IT_SETUP=$setup
check "setup exits with 0" it_install
udir=$(it_unix "$IT_DEFAULT_DIR")
check "the uninstaller it wrote verifies" verifies "$udir/Uninstall.exe"
for f in "${programs[@]}"; do
    check "$f installed as signed" cmp -s "$work/dist/$f" "$udir/$f"
done
check "silent uninstall finishes" it_uninstall
vt_end
