#!/bin/sh
# The release is reproducible, checksummed and signed. scripts/release.sh runs on a copy of the
# tree (tracked and new files as they are now) in a folder of another name and depth, in another
# time zone and with a throwaway code-signing certificate: its programs before signing must be
# byte-identical to those of the build that runs this test (preset `windows`, built from the same
# tree, which dates its programs by the commit checked out), the signed ones must verify against that certificate,
# SHA256SUMS must hold the signed files' sums, and the signed programs must still run under Wine.
# The script's unsigned path then packages the same build again, with cmake stood in for by a copy
# of that build folder: its programs must be the built ones, unsigned, and say so.
# Usage: release_test.sh SOURCE_DIR DEPS_DIR WINE_RUN PREFIX E2E_DRIVER INSTALLER TOOL
#   DEPS_DIR  where a build keeps libjpeg-turbo: its downloaded source package is unpacked by the
#             release's build instead of being downloaded again.
#   INSTALLER, TOOL  the programs of the build that runs the test.
set -eu
source_dir=$1
deps_dir=$2
wine_run=$3
prefix=$4
driver=$5
built_installer=$6
built_tool=$7
here=$(cd "$(dirname "$0")" && pwd)

# The tree copies in folders of their own: their paths differ from the source tree's from their
# first characters, as COFF file symbols keep only the first 18.
work=$(mktemp -d)
signed_dir=$(mktemp -d)
unsigned_dir=$(mktemp -d)
trap 'rm -rf "$work" "$signed_dir" "$unsigned_dir"' EXIT
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

# The copies are outside git: they are dated as the checkout dates its programs.
SOURCE_DATE_EPOCH=$(git -C "$source_dir" log -1 --format=%ct)
export SOURCE_DATE_EPOCH
TALVOR_LIBJPEG_SOURCE=$(find "$deps_dir" -name 'libjpeg-turbo_*.dsc' 2>/dev/null | head -n 1)
export TALVOR_LIBJPEG_SOURCE

signed=$signed_dir/another-build/of-the-same/tree
copy_tree "$signed"

mkdir "$work/signing"
openssl req -x509 -newkey rsa:3072 -nodes -days 2 -subj "/CN=Talvor release test" \
  -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
  -keyout "$work/signing/key.pem" -out "$work/signing/cert.pem" 2>/dev/null

release "$signed" TZ=Pacific/Kiritimati \
  TALVOR_SIGN_CERT="$work/signing/cert.pem" TALVOR_SIGN_KEY="$work/signing/key.pem"

# Reproducible: the release's programs before signing are those of this build, which carry the
# commit's date whatever the environment of the build was.
for program in "$built_installer" "$built_tool"; do
  if ! python3 "$here/compare_pe.py" "$program" "$signed/build/release/${program##*/}"; then
    failed "${program##*/} differs between this build and the release's"
  fi
  stamp=$(python3 -c 'import struct, sys
data = open(sys.argv[1], "rb").read()
print(struct.unpack_from("<I", data, struct.unpack_from("<I", data, 0x3C)[0] + 8)[0])' "$program")
  [ "$stamp" = "$SOURCE_DATE_EPOCH" ] ||
    failed "${program##*/} is dated $stamp, not by its commit ($SOURCE_DATE_EPOCH)"
done

# The unsigned path: the same build packaged again, cmake's two steps replaced by a copy of what
# the packaging reads from the signed run's build folder.
unsigned=$unsigned_dir/src
copy_tree "$unsigned"
mkdir "$work/bin"
cat >"$work/bin/cmake" <<STUB
#!/bin/sh
built="$signed/build/release"
case "\$1" in
--preset)
  mkdir -p "\$4/deps/libjpeg"
  cp "\$built/CMakeCache.txt" "\$built/Talvor_Skarnel_Installer.exe" "\$built/talvor-apply.exe" "\$4"
  cp -R "\$built/deps/libjpeg/src" "\$4/deps/libjpeg"
  ;;
--build) ;;
*) exit 2 ;;
esac
STUB
chmod +x "$work/bin/cmake"
release "$unsigned" PATH="$work/bin:$PATH"
grep -q "NOT signed" "$unsigned.log" || failed "the unsigned release does not say that it is unsigned"
for program in Talvor_Skarnel_Installer.exe talvor-apply.exe; do
  cmp "$signed/build/release/$program" "$unsigned/dist/$program" ||
    failed "the unsigned release holds another $program than the one built"
done

expected="README.txt SHA256SUMS Talvor_Skarnel_Installer.exe talvor-apply.exe"
for tree in "$unsigned" "$signed"; do
  held=$(cd "$tree/dist" && LC_ALL=C ls | paste -sd ' ')
  [ "$held" = "$expected" ] || failed "$tree/dist holds $held, not $expected"
  (cd "$tree/dist" && sha256sum --strict -c SHA256SUMS) || failed "SHA256SUMS of $tree/dist"
  grep -q "Independent JPEG Group" "$tree/dist/README.txt" ||
    failed "$tree/dist/README.txt lacks the notice that libjpeg-turbo's licence requires"
done
grep -q "CN=Talvor release test" "$signed/dist/README.txt" ||
  failed "the signed release's README.txt does not name the signer"

# Signed: each signature verifies with the throwaway certificate as the only trusted one, the sums
# are those of the signed files, and the signatures cover the reproducible programs.
for program in Talvor_Skarnel_Installer.exe talvor-apply.exe; do
  if osslsigncode verify -in "$unsigned/dist/$program" >/dev/null 2>&1; then
    failed "the unsigned $program carries a signature"
  fi
  if ! osslsigncode verify -CAfile "$work/signing/cert.pem" -in "$signed/dist/$program" \
    >"$work/verify.log" 2>&1; then
    cat "$work/verify.log" >&2
    failed "the signature of $program does not verify"
  else
    echo "$program: the signature verifies"
  fi
  if cmp -s "$signed/dist/$program" "$signed/build/release/$program"; then
    failed "the signed release holds $program unsigned"
  fi
  # What the signature covers (every byte but the checksum and the signature) is this build's
  # unsigned program: a rebuild checks a signed release this way.
  osslsigncode extract-data -h sha256 -in "$signed/dist/$program" \
    -out "$work/$program.signed.der" >/dev/null
  case $program in
  talvor-apply.exe) built=$built_tool ;;
  *) built=$built_installer ;;
  esac
  osslsigncode extract-data -h sha256 -in "$built" -out "$work/$program.built.der" >/dev/null
  cmp "$work/$program.built.der" "$work/$program.signed.der" ||
    failed "the signed $program covers other bytes than the unsigned build"
done

# The signed programs still run: the tool reports its version, and the installer opens its window
# with the right caption, styles and size and ends on a close request.
"$wine_run" "$prefix" "$signed/dist/talvor-apply.exe" --version ||
  failed "the signed talvor-apply.exe does not run"
# Both scenarios must have run: a filter that matches nothing passes in GoogleTest.
if ! sh "$here/../e2e/with-display.sh" "$wine_run" "$prefix" "$driver" \
  --installer="$signed/dist/Talvor_Skarnel_Installer.exe" --dpi=96 \
  --gtest_filter='NormalStart.WindowHasTheCaptionStylesAndClientSize:NormalStart.CloseRequest*' \
  >"$work/start.log" 2>&1 || ! grep -q '^\[  PASSED  \] 2 tests' "$work/start.log"; then
  cat "$work/start.log" >&2
  failed "the signed Talvor_Skarnel_Installer.exe does not start as it should"
else
  echo "the signed Talvor_Skarnel_Installer.exe starts: $(grep '^\[  PASSED' "$work/start.log")"
fi

exit $status
