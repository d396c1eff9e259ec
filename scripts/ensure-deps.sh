#!/usr/bin/env bash
# Installs what building and testing need, and only what is missing: the i386 architecture,
# the mingw-w64 i686 cross toolchain, CMake, GoogleTest's sources, Wine (32-bit) and Xvfb.
# Safe to run again; as root it uses apt-get, otherwise it only reports what is missing.
set -euo pipefail

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

for p in cmake make g++-mingw-w64-i686 binutils-mingw-w64-i686 mingw-w64-i686-dev googletest \
         wine wine32:i386 fonts-wine xvfb xauth imagemagick python3; do
  have_pkg "$p" || need+=("$p")
done
[ ${#need[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "ensure-deps: missing packages (run as root to install): ${need[*]}" >&2
  exit 1
fi

echo "ensure-deps: installing ${need[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
