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
# - an embedded manifest, if any, naming only its own processor architecture or "*";
# - at most MAX-BYTES bytes.
# Usage: shipped_image_test.sh OBJDUMP x86|amd64 MAX-BYTES EXE
set -euf
objdump=$1
arch=$2
max_bytes=$3
exe=$4
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
  *) echo "usage: $0 OBJDUMP x86|amd64 MAX-BYTES EXE" >&2; exit 2 ;;
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
  set -- "$tests/xp-sp3-exports"
else
  set -- "$tests/xp-sp3-exports" "$tests/x64-only-exports"
fi
sh "$tests/xp_exports_check.sh" "$objdump" "$exe" "$@" || status=1

if [ "$arch" = x86 ]; then
  python3 "$tests/instruction_set_check.py" "$objdump" "$exe" "$exe.map" \
    "$tests/cpuid-guarded-code.txt" || status=1
fi

# The manifest, if the image has one (resource type 24).
if manifest=$(wrestool -x -R -t 24 "$exe" 2>/dev/null) && [ -n "$manifest" ]; then
  printf '%s\n' "$manifest" | xmllint --noout - || wrong "the manifest is not well-formed XML"
  architectures=$(printf '%s\n' "$manifest" |
    xmllint --xpath '//*[local-name()="assemblyIdentity"]/@processorArchitecture' - 2>/dev/null |
    grep -o 'processorArchitecture="[^"]*"' | sed 's/.*="\(.*\)"/\1/' || true)
  echo "manifest processor architectures:" $architectures
  for value in $architectures; do
    [ "$value" = "*" ] || [ "$(lower "$value")" = "$arch" ] ||
      wrong "the manifest names processor architecture $value in a $arch image"
  done
else
  echo "no manifest"
fi

size=$(wc -c <"$exe")
echo "size: $size bytes (at most $max_bytes)"
[ "$size" -le "$max_bytes" ] || wrong "$size bytes, more than $max_bytes"
exit $status
