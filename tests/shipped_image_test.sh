#!/bin/sh
# Checks a shipped program's image against what lets it start on every Windows from XP SP3 on,
# without planted DLLs and within its size:
# - the machine and PE format of its architecture (x86: PE32 i386; amd64: PE32+ x86-64);
# - subsystem and OS versions no newer than XP's (5.1; 5.2 for XP x64 Edition);
# - DllCharacteristics exactly DYNAMIC_BASE|NX_COMPAT (0x140), with HIGH_ENTROPY_VA on amd64
#   (0x160), and a base relocation table for ASLR to use;
# - imports only from the DLLs loaded before the program's first statement on every Windows
#   (KERNEL32, USER32, GDI32, msvcrt, ole32, ADVAPI32), and only functions that Windows XP exports
#   (tests/xp_exports_check.sh: the lists of 32-bit XP SP3, and on amd64 those of the functions
#   that only 64-bit Windows has);
# - on x86, no instruction beyond the Pentium Pro's (MMX, SSE and later) outside the code that
#   runs only after a CPUID test (tests/instruction_set_check.py, with the map EXE.map of the
#   link); every x86-64 processor has SSE2, which the 64-bit code uses throughout;
# - its manifest, version record and icon (tests/image_resources_check.py, which takes VERSION,
#   MANIFEST, ICON and --long-path-aware): the project's files, a manifest that Windows XP's
#   parser takes, that names only its own processor architecture or "*", runs the program as
#   invoker and declares the Windows versions from Vista on, and a version record of VERSION
#   that names the program's own file;
# - at most MAX-BYTES bytes.
# Usage: shipped_image_test.sh OBJDUMP x86|amd64 MAX-BYTES EXE VERSION MANIFEST ICON [--long-path-aware]
set -euf
objdump=$1
arch=$2
max_bytes=$3
exe=$4
shift 4
tests=$(dirname "$0")
status=0

wrong() {
  echo "wrong: $*" >&2
  status=1
}

lower() {
  printf '%s' "$1" | tr 'A-Z' 'a-z'
}

case $arch in
  x86) format=pei-i386 magic=010b oldest=501 characteristics=0140 ;;
  amd64) format=pei-x86-64 magic=020b oldest=502 characteristics=0160 ;;
  *) echo "usage: $0 OBJDUMP x86|amd64 MAX-BYTES EXE VERSION MANIFEST ICON [--long-path-aware]" >&2
     exit 2 ;;
esac

headers=$("$objdump" -p "$exe")
echo "$exe"

# header FIELD: the value of a line "FIELD<blanks>VALUE" of objdump's header dump.
header() {
  printf '%s\n' "$headers" | sed -n "s/^$1[[:space:]]\{1,\}\([0-9a-fA-F]*\).*/\1/p"
}

printf '%s\n' "$headers" | grep -q "file format $format\$" ||
  wrong "not a $format image: $(printf '%s\n' "$headers" | grep -m1 'file format')"
[ "$(header Magic)" = "$magic" ] || wrong "optional header magic $(header Magic), not $magic"

for kind in Subsystem OSystem; do
  version=$(( $(header "Major${kind}Version") * 100 + $(header "Minor${kind}Version") ))
  echo "${kind} version: $(header "Major${kind}Version").$(header "Minor${kind}Version")"
  [ "$version" -le "$oldest" ] || wrong "$kind version newer than Windows XP's"
done

echo "DllCharacteristics: $(header DllCharacteristics)"
[ "$(header DllCharacteristics)" = "0000$characteristics" ] ||
  wrong "DllCharacteristics $(header DllCharacteristics), not $characteristics"
relocations=$(printf '%s\n' "$headers" |
  sed -n 's/^Entry 5 [0-9a-fA-F]* \([0-9a-fA-F]*\) Base Relocation Directory.*/\1/p')
[ -n "$relocations" ] && [ $(( 0x$relocations )) -ne 0 ] || wrong "no base relocation table"

# The DLLs that the import table names.
imports=$(sh "$tests/image-imports.sh" "$objdump" "$exe")
for dll in $(printf '%s\n' "$imports" | cut -d' ' -f1 | sort -uf); do
  case " $(lower "$dll") " in
    *" kernel32.dll "* | *" user32.dll "* | *" gdi32.dll "* | *" msvcrt.dll "* | \
      *" ole32.dll "* | *" advapi32.dll "*) ;;
    *) wrong "imports from $dll, which a planted copy beside the program could replace" ;;
  esac
done

# Each imported function against what Windows XP exports; it prints the imports.
if [ "$arch" = x86 ]; then
  sh "$tests/xp_exports_check.sh" "$objdump" "$exe" "$tests/xp-sp3-exports" || status=1
else
  sh "$tests/xp_exports_check.sh" "$objdump" "$exe" "$tests/xp-sp3-exports" \
    "$tests/x64-only-exports" || status=1
fi

if [ "$arch" = x86 ]; then
  python3 "$tests/instruction_set_check.py" "$objdump" "$exe" "$exe.map" \
    "$tests/cpuid-guarded-code.txt" || status=1
fi

# Its manifest, version record and icon, read back from the image.
python3 "$tests/image_resources_check.py" "$exe" "$arch" "$@" || status=1

size=$(wc -c <"$exe")
echo "size: $size bytes (at most $max_bytes)"
[ "$size" -le "$max_bytes" ] || wrong "$size bytes, more than $max_bytes"
exit $status
