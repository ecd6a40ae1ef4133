#!/bin/sh
# The release is reproducible, checksummed and signed. scripts/release.sh runs on two copies of the
# tree (tracked and new files as they are now) in folders of different names and depths, one after
# the other and in another time zone: their programs must be byte-identical. The second run signs
# with a throwaway code-signing certificate: its programs must verify against that certificate,
# SHA256SUMS must hold the signed files' sums, and the signed programs must still run under Wine.
# Usage: release_test.sh SOURCE_DIR DEPS_DIR WINE_RUN PREFIX E2E_DRIVER
#   DEPS_DIR  where a build keeps libjpeg-turbo: its downloaded source package is unpacked by both
#             builds instead of being downloaded twice more.
set -eu
source_dir=$1
deps_dir=$2
wine_run=$3
prefix=$4
driver=$5
here=$(cd "$(dirname "$0")" && pwd)

# Each tree in a folder of its own: their paths differ from their first characters, as COFF file
# symbols keep only the first 18.
work=$(mktemp -d)
first_dir=$(mktemp -d)
second_dir=$(mktemp -d)
trap 'rm -rf "$work" "$first_dir" "$second_dir"' EXIT
status=0
failed() {
  echo "FAILED: $*" >&2
  status=1
}

copy_tree() {
  mkdir -p "$1"
  git -C "$source_dir" ls-files -z --cached --others --exclude-standard |
    (cd "$source_dir" && tar --null -T - -cf -) | tar -C "$1" -xf -
}

# Runs the release script of the tree in $1 with the rest as environment; its output goes to $1.log.
release() {
  tree=$1
  shift
  if ! env "$@" "$tree/scripts/release.sh" >"$tree.log" 2>&1; then
    tail -n 30 "$tree.log" >&2
    echo "FAILED: scripts/release.sh in $tree" >&2
    exit 1
  fi
}

SOURCE_DATE_EPOCH=$(git -C "$source_dir" log -1 --format=%ct)
export SOURCE_DATE_EPOCH
TALVOR_LIBJPEG_SOURCE=$(find "$deps_dir" -name 'libjpeg-turbo_*.dsc' 2>/dev/null | head -n 1)
export TALVOR_LIBJPEG_SOURCE

first=$first_dir/src
second=$second_dir/second-build/of-the-same/tree
copy_tree "$first"
copy_tree "$second"

mkdir "$work/signing"
openssl req -x509 -newkey rsa:3072 -nodes -days 2 -subj "/CN=Talvor release test" \
  -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
  -keyout "$work/signing/key.pem" -out "$work/signing/cert.pem" 2>/dev/null

release "$first"
grep -q "NOT signed" "$first.log" || failed "the unsigned release does not say that it is unsigned"
release "$second" TZ=Pacific/Kiritimati \
  TALVOR_SIGN_CERT="$work/signing/cert.pem" TALVOR_SIGN_KEY="$work/signing/key.pem"

# Reproducible: the second build's programs before signing are the first build's.
for program in Talvor_Skarnel_Installer.exe talvor-apply.exe; do
  python3 "$here/compare_pe.py" "$first/dist/$program" "$second/build/release/$program" ||
    failed "$program differs between the two builds"
done

expected="README.txt SHA256SUMS Talvor_Skarnel_Installer.exe talvor-apply.exe"
for tree in "$first" "$second"; do
  held=$(cd "$tree/dist" && LC_ALL=C ls | paste -sd ' ')
  [ "$held" = "$expected" ] || failed "$tree/dist holds $held, not $expected"
  (cd "$tree/dist" && sha256sum --strict -c SHA256SUMS) || failed "SHA256SUMS of $tree/dist"
done
grep -q "Independent JPEG Group" "$first/dist/README.txt" ||
  failed "README.txt lacks the notice that libjpeg-turbo's licence requires"
grep -q "CN=Talvor release test" "$second/dist/README.txt" ||
  failed "the signed release's README.txt does not name the signer"

# Signed: each signature verifies with the throwaway certificate as the only trusted one, the sums
# are those of the signed files, and the signatures cover the reproducible programs.
for program in Talvor_Skarnel_Installer.exe talvor-apply.exe; do
  if osslsigncode verify -in "$first/dist/$program" >/dev/null 2>&1; then
    failed "the unsigned $program carries a signature"
  fi
  if ! osslsigncode verify -CAfile "$work/signing/cert.pem" -in "$second/dist/$program" \
    >"$work/verify.log" 2>&1; then
    cat "$work/verify.log" >&2
    failed "the signature of $program does not verify"
  else
    echo "$program: the signature verifies"
  fi
  if cmp -s "$second/dist/$program" "$second/build/release/$program"; then
    failed "the signed release holds $program unsigned"
  fi
  # What the signature covers (every byte but the checksum and the signature) is the first
  # build's unsigned program: a rebuild checks a signed release this way.
  for tree in "$first" "$second"; do
    osslsigncode extract-data -h sha256 -in "$tree/dist/$program" -out "$tree.$program.der" \
      >/dev/null
  done
  cmp "$first.$program.der" "$second.$program.der" ||
    failed "the signed $program covers other bytes than the unsigned build"
done

# The signed programs still run: the tool reports its version, and the installer opens its window
# with the right caption, styles and size and ends on a close request.
"$wine_run" "$prefix" "$second/dist/talvor-apply.exe" --version ||
  failed "the signed talvor-apply.exe does not run"
# Both scenarios must have run: a filter that matches nothing passes in GoogleTest.
if ! sh "$here/../e2e/with-display.sh" "$wine_run" "$prefix" "$driver" \
  --installer="$second/dist/Talvor_Skarnel_Installer.exe" --dpi=96 \
  --gtest_filter='NormalStart.WindowHasTheCaptionStylesAndClientSize:NormalStart.CloseRequest*' \
  >"$work/start.log" 2>&1 || ! grep -q '^\[  PASSED  \] 2 tests' "$work/start.log"; then
  cat "$work/start.log" >&2
  failed "the signed Talvor_Skarnel_Installer.exe does not start as it should"
else
  echo "the signed Talvor_Skarnel_Installer.exe starts: $(grep '^\[  PASSED' "$work/start.log")"
fi

exit $status
