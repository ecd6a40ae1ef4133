#!/bin/sh
# Installs every tool the build and the tests need, from Debian 12's packages.
# Run as root on a fresh machine; running it again changes nothing.
set -eu

# The shipped programs are 32-bit: Wine runs them once Debian's i386 architecture is enabled and
# wine32 is installed.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  force_update=1
fi

packages="
  build-essential cmake ninja-build pkg-config git
  clang clang-format libclang-rt-14-dev
  googletest libgtest-dev libjpeg-dev
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64-i686
  mingw-w64-tools
  wine wine64 wine32:i386 xvfb x11-utils xdotool imagemagick icoutils python3
  fonts-dejavu-core fonts-liberation2
  dpkg-dev debian-archive-keyring
  libxml2-utils osslsigncode openssl
  time procps
"

missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done

if [ -n "$missing" ] || [ -n "${force_update:-}" ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  # shellcheck disable=SC2086
  [ -z "$missing" ] || apt-get install -y -q --no-install-recommends $missing
fi
