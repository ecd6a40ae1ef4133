#!/bin/sh
# Builds libjpeg-turbo for Windows as a static library, from the source
# package of Debian 12 (bookworm), with one of the project's MinGW-w64
# toolchain files (cmake/mingw-w64-i686.cmake or -x86_64.cmake).
# cmake/libjpeg-windows.cmake runs it when configuring a Windows build.
#
# Usage: scripts/build-libjpeg-windows.sh TOOLCHAIN-FILE OUTDIR [C-FLAGS]
#   C-FLAGS         added to the compiler flags below
#   OUTDIR/apt      apt's lists and cache for our own source list
#   OUTDIR/src      the source package, downloaded and unpacked
#   OUTDIR/build    the CMake build tree
#   OUTDIR/install  include/ (jpeglib.h, jconfig.h, ...) and lib/libjpeg.a
# Does nothing when OUTDIR/install/lib/libjpeg.a exists already.
#
# The source comes through scripts/apt-sources/debian-src.sources, given to
# apt with command-line options only: the machine's source lists and package
# lists are neither read nor written, while the rest of its apt settings (a
# proxy, say) still apply. apt checks the Release file's signature against
# the Debian archive keyring named in our list, and the downloaded files
# against the hashes in the signed index.
#
# TALVOR_LIBJPEG_SOURCE, when set, names the .dsc of a source package that
# an earlier run downloaded (OUTDIR/src/*.dsc): it is unpacked from there,
# with the hashes it lists checked, instead of being downloaded again.
set -eu

say() {
  echo "build-libjpeg-windows: $*"
}

if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: $0 TOOLCHAIN-FILE OUTDIR [C-FLAGS]" >&2
  exit 2
fi

if [ -f "$2/install/lib/libjpeg.a" ]; then
  say "$2/install/lib/libjpeg.a exists, nothing to do"
  exit 0
fi

here=$(cd "$(dirname "$0")" && pwd)
toolchain=$(realpath "$1")
extra_flags=${3:-}
mkdir -p "$2"
out=$(cd "$2" && pwd)

# Anything left here comes from an interrupted run: start again from scratch.
rm -rf "$out/src" "$out/build" "$out/stage" "$out/install"
mkdir -p "$out/apt/lists/partial" "$out/apt/cache" "$out/apt/sources.list.d" \
  "$out/src" "$out/build"

# The apt options become the positional parameters, so that paths with
# spaces survive. Each directory apt writes to is one of ours: the lists (with
# their lock), the binary caches, and the source parts directory, left empty
# so that only our list is read. The -c file drops the machine's update hooks.
set -- \
  -c "$here/apt-sources/no-update-hooks.conf" \
  -o "Dir::Etc::SourceList=$here/apt-sources/debian-src.sources" \
  -o "Dir::Etc::SourceParts=$out/apt/sources.list.d" \
  -o "Dir::State::Lists=$out/apt/lists" \
  -o "Dir::Cache=$out/apt/cache"

if [ -n "${TALVOR_LIBJPEG_SOURCE:-}" ]; then
  say "unpacking the source package $TALVOR_LIBJPEG_SOURCE"
  dsc=$(realpath "$TALVOR_LIBJPEG_SOURCE")
  (cd "$out/src" && dpkg-source -x "$dsc")
else
  say "updating the package index of our source list"
  apt-get -q "$@" update

  # As root, apt fetches as the user _apt and warns that it downloads
  # unsandboxed when _apt cannot write to OUTDIR/src; that warning is harmless.
  say "downloading and unpacking Debian's libjpeg-turbo source package"
  (cd "$out/src" && apt-get -q "$@" source libjpeg-turbo)
fi

src=$(find "$out/src" -mindepth 1 -maxdepth 1 -type d -name 'libjpeg-turbo-*')
if [ ! -f "$src/CMakeLists.txt" ]; then
  say "no unpacked libjpeg-turbo source tree in $out/src" >&2
  exit 1
fi

# Built for size, as the installer is: -Os, and each function in a section of
# its own so that the linker drops what the logo's decoding never calls. No
# SIMD: the program decodes one small picture once, in about 3 ms instead of
# 1 ms (32-bit, under Wine), where the SIMD code would add 60 KB to the
# installer. No arithmetic decoding: the logo is a baseline JPEG, whose
# entropy coding is Huffman's. The C runtime's own printf and scanf: the
# library's formats (%d, %ld, %s, %u, %x) need nothing of MinGW's C99
# versions, which would add 60 KB.
# Reproducible objects: the source and build folders' paths are mapped to
# fixed names.
prefix_map="-ffile-prefix-map=$src=libjpeg-turbo -ffile-prefix-map=$out/build=libjpeg-build"

# -Wno-dev: policy warnings meant for upstream's developers, not for us.
say "configuring $(basename "$src") with $(basename "$toolchain")"
cmake -S "$src" -B "$out/build" -G Ninja -Wno-dev \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=MinSizeRel \
  -DCMAKE_C_FLAGS="-ffunction-sections -fdata-sections -D__USE_MINGW_ANSI_STDIO=0 $prefix_map $extra_flags" \
  -DCMAKE_INSTALL_PREFIX="$out/install" \
  -DENABLE_STATIC=ON \
  -DENABLE_SHARED=OFF \
  -DWITH_TURBOJPEG=OFF \
  -DWITH_SIMD=0 \
  -DWITH_ARITH_DEC=0 \
  -DWITH_ARITH_ENC=0

say "building"
cmake --build "$out/build"

# Installed into a staging directory and moved into place in one step, so
# that libjpeg.a, which marks the work as done, never exists without the
# headers next to it.
say "installing into $out/install"
DESTDIR="$out/stage" cmake --install "$out/build"
for f in include/jpeglib.h include/jconfig.h include/jmorecfg.h \
  include/jerror.h lib/libjpeg.a; do
  if [ ! -f "$out/stage$out/install/$f" ]; then
    say "the install step did not produce $f" >&2
    exit 1
  fi
done
# nasm names each object's source by its full path in a file symbol, and
# has no option to map it: debugging symbols are stripped from the library.
strip=$(sed -n 's/^CMAKE_STRIP:FILEPATH=//p' "$out/build/CMakeCache.txt")
"$strip" --strip-debug "$out/stage$out/install/lib/libjpeg.a"
mv "$out/stage$out/install" "$out/install"
rm -rf "$out/stage"
say "done: $out/install/lib/libjpeg.a"
