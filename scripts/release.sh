#!/bin/sh
# Makes a release: builds the Windows programs of preset `windows` in a fresh build folder and puts
# them into dist/ with SHA256SUMS and README.txt, the text for users. Given a code-signing
# certificate, it signs the programs before their sums are taken.
#
# Usage: scripts/release.sh [BUILD_DIR]
#   BUILD_DIR  the build folder (default build/release), removed first; one that is not empty must
#              be a CMake build folder (holding CMakeCache.txt).
# Environment:
#   TALVOR_SIGN_CERT, TALVOR_SIGN_KEY  files of the code-signing certificate (PEM, followed by
#              its chain if any) and of its private key, unencrypted: both or none.
#   TALVOR_SIGN_TIMESTAMP_URL  an RFC 3161 time-stamp server for the signatures (optional).
#   SOURCE_DATE_EPOCH  the programs' time stamp, for a tree outside git only: a checkout's
#              programs always carry the date of its commit, as every other build of it does.
#   TALVOR_LIBJPEG_SOURCE  a libjpeg-turbo source package already downloaded (see
#              scripts/build-libjpeg-windows.sh).
set -eu

# Paths that the caller gives are taken from the caller's folder.
absolute() {
  [ -z "$1" ] || realpath -m "$1"
}
build=$(absolute "${1:-}")
cert=$(absolute "${TALVOR_SIGN_CERT:-}")
key=$(absolute "${TALVOR_SIGN_KEY:-}")
TALVOR_LIBJPEG_SOURCE=$(absolute "${TALVOR_LIBJPEG_SOURCE:-}")
export TALVOR_LIBJPEG_SOURCE

cd "$(dirname "$0")/.."
root=$(pwd -P)

say() {
  echo "release: $*"
}
fail() {
  echo "release: $*" >&2
  exit 1
}

build=${build:-build/release}
installer=Talvor_Skarnel_Installer.exe
tool=talvor-apply.exe

# The signing files are checked before the build, which takes minutes.
timestamp_url=${TALVOR_SIGN_TIMESTAMP_URL:-}
if [ -n "$cert$key" ]; then
  if [ -z "$cert" ] || [ -z "$key" ]; then
    fail "TALVOR_SIGN_CERT and TALVOR_SIGN_KEY go together"
  fi
  [ -r "$cert" ] || fail "cannot read the certificate $cert"
  [ -r "$key" ] || fail "cannot read the key $key"
  subject=$(openssl x509 -noout -subject -nameopt RFC2253,-esc_msb -in "$cert") ||
    fail "$cert holds no PEM certificate that openssl can read"
  signer=${subject#subject=}
fi

# The commit is the tree's own only: a copy of the tree inside another repository has none.
commit=""
if [ "$(git rev-parse --show-toplevel 2>/dev/null || true)" = "$root" ]; then
  commit=$(git rev-parse HEAD)
  if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
    say "warning: the tree has uncommitted changes: the programs are not those of $commit"
    commit="$commit (with uncommitted changes)"
  fi
fi
if [ -n "$commit" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct HEAD)
elif [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  fail "no commit to date the programs from: set SOURCE_DATE_EPOCH"
fi
export SOURCE_DATE_EPOCH

if [ -e "$build" ] && [ ! -f "$build/CMakeCache.txt" ] && [ -n "$(ls -A "$build")" ]; then
  fail "$build is neither empty nor a build folder: it is left alone"
fi
rm -rf "$build"
say "building in $build, time stamp $(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S UTC')"
cmake --preset windows -B "$build"
cmake --build "$build" --target Talvor_Skarnel_Installer talvor-apply

# dist/ is made beside the programs and replaces the old one only once it is whole.
stage=$build/dist
mkdir "$stage"
for program in "$installer" "$tool"; do
  if [ -n "$cert" ]; then
    say "signing $program"
    set -- -certs "$cert" -key "$key" -h sha256 -n "${program%.exe}"
    [ -z "$timestamp_url" ] || set -- "$@" -ts "$timestamp_url"
    osslsigncode sign "$@" -in "$build/$program" -out "$stage/$program" >/dev/null
  else
    cp "$build/$program" "$stage/$program"
  fi
done
(cd "$stage" && sha256sum "$installer" "$tool" >SHA256SUMS)

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
libjpeg_src=$(find "$build/deps" -mindepth 3 -maxdepth 3 -type d -name 'libjpeg-turbo-*' |
  head -n 1)
if [ ! -f "$libjpeg_src/LICENSE.md" ] || [ ! -f "$libjpeg_src/README.ijg" ]; then
  fail "no libjpeg-turbo licence files in $build/deps"
fi
RELEASE_VERSION=$version RELEASE_COMMIT=$commit RELEASE_SIGNER=${signer:-} \
  LIBJPEG_VERSION=${libjpeg_src##*/libjpeg-turbo-} \
  LIBJPEG_DEBIAN_VERSION=$(dpkg-parsechangelog -l "$libjpeg_src/debian/changelog" -S Version) \
  LIBJPEG_SOURCE=$libjpeg_src sh scripts/release-text.sh >"$build/README.lf.txt"
# Windows' Notepad reads the text right in every version with CR LF and a UTF-8 mark.
{
  printf '\357\273\277'
  sed 's/$/\r/' "$build/README.lf.txt"
} >"$stage/README.txt"

rm -rf dist
mv "$stage" dist
say "dist/ holds:"
(cd dist && ls -l && cat SHA256SUMS)
if [ -n "$cert" ]; then
  say "the programs are signed by $signer"
else
  say "the programs are NOT signed (no TALVOR_SIGN_CERT and TALVOR_SIGN_KEY given)"
fi
