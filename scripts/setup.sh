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
  time procps util-linux coreutils acl attr bindfs fuse3
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

# qemu-user's i386 emulator runs Wine's 32-bit loader on hosts whose kernel runs no 32-bit x86
# program (scripts/wine-run), and the tests take that path on every host. Debian 12's qemu 7.2
# takes a minute for each Wine process; version 10 comes from bookworm-backports, downloaded
# through a source list of our own (apt checks it against the archive's signed index) and
# installed as a file, so that the machine's apt configuration stays as it is. It depends on
# nothing; the binfmt rules that it recommends are left out: wine-run registers its own in a
# namespace.
qemu_version=$(dpkg-query -W -f='${Version}' qemu-user 2>/dev/null || true)
if ! dpkg --compare-versions "${qemu_version:-0}" ge 1:10; then
  here=$(cd "$(dirname "$0")" && pwd)
  apt_state=$(mktemp -d)
  trap 'rm -rf "$apt_state"' EXIT
  mkdir -p "$apt_state/lists/partial" "$apt_state/cache" "$apt_state/parts" "$apt_state/debs"
  set -- \
    -c "$here/apt-sources/no-update-hooks.conf" \
    -o "Dir::Etc::SourceList=$here/apt-sources/debian-backports.sources" \
    -o "Dir::Etc::SourceParts=$apt_state/parts" \
    -o "Dir::State::Lists=$apt_state/lists" \
    -o "Dir::Cache=$apt_state/cache"
  apt-get -q "$@" update
  # As root, apt fetches as the user _apt and warns that it downloads unsandboxed when _apt cannot
  # write to the folder; that warning is harmless.
  (cd "$apt_state/debs" && apt-get -q "$@" download qemu-user)
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
    "$apt_state"/debs/qemu-user_*.deb
fi
