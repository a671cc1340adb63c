#!/usr/bin/env bash
# Packs a release from the programs in DIR (TrelvixVelotune.exe, Velotray.exe,
# Velotray.kor, velotune.exe, as built: stripped, and signed when the build
# signs), and writes into DIR:
#   TrelvixVelotune-<version>-setup.exe   NSIS setup (and the uninstaller in it)
#   TrelvixVelotune-<version>.zip         the four programs and README-install.txt
#   velotune_<version>_<arch>.deb         a copy of the Linux package, when given
#   SHA256SUMS                            of all of them, as sha256sum -c reads it
#
#   installer/release.sh --makensis PATH --nsi PATH --version V --publisher NAME
#       --protocol PATH --readme PATH [--icon PATH] [--deb PATH] DIR
#
# Environment:
#   SOURCE_DATE_EPOCH            time of the files inside the zip (required)
#   VELOTUNE_SIGN_PKCS12 ...     when set, makensis signs the uninstaller it
#                                packs and the setup (installer/sign.sh)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
makensis="" nsi="" version="" publisher="" protocol="" readme="" icon="" deb=""
while [ $# -gt 1 ]; do
    case "$1" in
    --makensis) makensis=$2 ;;
    --nsi) nsi=$2 ;;
    --version) version=$2 ;;
    --publisher) publisher=$2 ;;
    --protocol) protocol=$2 ;;
    --readme) readme=$2 ;;
    --icon) icon=$2 ;;
    --deb) deb=$2 ;;
    *) echo "release.sh: unknown option $1" >&2; exit 2 ;;
    esac
    shift 2
done
[ $# = 1 ] || { echo "release.sh: no folder given" >&2; exit 2; }
dir=$(cd "$1" && pwd)
: "${SOURCE_DATE_EPOCH:?release.sh: SOURCE_DATE_EPOCH is not set}"
programs=(TrelvixVelotune.exe Velotray.exe Velotray.kor velotune.exe)
setup=TrelvixVelotune-$version-setup.exe
zip=TrelvixVelotune-$version.zip

# The setup. makensis runs the signing command on the uninstaller before it
# packs it, and on the finished setup.
nsis_args=(-WX -V2 -INPUTCHARSET UTF8 "-DVERSION=$version" "-DPUBLISHER=$publisher"
    "-DPANEL_EXE=$dir/TrelvixVelotune.exe" "-DLAUNCHER_EXE=$dir/Velotray.exe"
    "-DMENU_LIB=$dir/Velotray.kor" "-DTOOL_EXE=$dir/velotune.exe"
    "-DOUTFILE=$dir/$setup" "-DPROTOCOL_NSH=$protocol")
[ -n "$icon" ] && nsis_args+=("-DICON=$icon")
[ -n "${VELOTUNE_SIGN_PKCS12:-}" ] && nsis_args+=("-DSIGN_COMMAND=$here/sign.sh")
# Sums of an earlier release never stand beside this one's files, and a setup
# that makensis gave up on (its signing failed after it was written) is not
# left behind.
rm -f "$dir/SHA256SUMS"
if ! "$makensis" "${nsis_args[@]}" "$nsi"; then
    rm -f "$dir/$setup"
    echo "release.sh: makensis failed: no setup" >&2
    exit 1
fi

# The zip: entries in a fixed order, each with the commit's time (UTC) and the
# same permissions, without the owner or other extra fields.
stage=$(mktemp -d "$dir/.zip.XXXXXX")
trap 'rm -rf "$stage"' EXIT
for f in "${programs[@]}"; do cp "$dir/$f" "$stage/$f"; done
cp "$readme" "$stage/README-install.txt"
chmod 644 "$stage"/*
# (A zip keeps no time before 1980.)
stamp=$SOURCE_DATE_EPOCH
[ "$stamp" -ge 315532800 ] || stamp=315532800
touch -d "@$stamp" "$stage"/*
rm -f "$dir/$zip"
(cd "$stage" && TZ=UTC zip -X -q -D "$dir/$zip" "${programs[@]}" README-install.txt)

sums=("$setup" "$zip" "${programs[@]}")
if [ -n "$deb" ]; then
    cp -f "$deb" "$dir/"
    sums+=("$(basename "$deb")")
fi
(cd "$dir" && sha256sum "${sums[@]}" >SHA256SUMS.new && mv -f SHA256SUMS.new SHA256SUMS)
