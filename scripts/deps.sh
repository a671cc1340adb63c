#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the run command need,
# if any is missing. Run as root (or with sudo).
set -euo pipefail
pkgs=(cmake make git mingw-w64 googletest clang libclang-rt-14-dev wine wine64 xvfb xdotool
      x11-utils imagemagick nsis zip unzip procps fonts-nanum fonts-wine shellcheck dpkg-dev
      python3 lintian systemd man-db osslsigncode openssl
      qemu-system-x86 busybox-static debootstrap genisoimage socat)
missing=()
for p in "${pkgs[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO=sudo
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
