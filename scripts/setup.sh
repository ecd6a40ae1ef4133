#!/bin/sh
# Installs every tool the build and the tests need, from Debian 12's packages.
# Run as root on a fresh machine; running it again changes nothing.
set -eu

packages="
  build-essential cmake ninja-build pkg-config git
  clang clang-format libclang-rt-14-dev
  googletest libgtest-dev libjpeg-dev
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 mingw-w64-tools
  wine wine64 xvfb x11-utils xdotool imagemagick icoutils python3 fonts-dejavu-core
  dpkg-dev nasm debian-archive-keyring
  time
"

missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done

if [ -n "$missing" ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  # shellcheck disable=SC2086
  apt-get install -y -q --no-install-recommends $missing
fi
