#!/bin/sh
# Checks the installer's image: every imported DLL is one that Windows loads from its system
# folder only (a known DLL), and DllCharacteristics holds HIGH_ENTROPY_VA, DYNAMIC_BASE and
# NX_COMPAT (0x160) with the base relocations that ASLR needs.
# Usage: installer_image_test.sh OBJDUMP EXE
set -eu
objdump=$1
exe=$2
headers=$("$objdump" -p "$exe")
status=0

imports=$(printf '%s\n' "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
if [ -z "$imports" ]; then
  echo "no import found in $exe" >&2
  exit 1
fi
known="advapi32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll oleaut32.dll
shell32.dll user32.dll"
for dll in $imports; do
  case " $(echo $known) " in
    *" $dll "*) echo "import: $dll" ;;
    *) echo "import not a known DLL: $dll" >&2; status=1 ;;
  esac
done

characteristics=$(printf '%s\n' "$headers" | sed -n 's/^DllCharacteristics[[:space:]]*//p')
echo "DllCharacteristics: $characteristics"
if [ $(( 0x$characteristics & 0x160 )) -ne $(( 0x160 )) ]; then
  echo "DllCharacteristics lacks 0x160 (HIGH_ENTROPY_VA|DYNAMIC_BASE|NX_COMPAT)" >&2
  status=1
fi

# ASLR needs the base relocations: the table must be there and not empty.
relocations=$(printf '%s\n' "$headers" |
  sed -n 's/^Entry 5 \([0-9a-fA-F]*\) \([0-9a-fA-F]*\) Base Relocation Directory.*/\2/p')
if [ -z "$relocations" ] || [ $(( 0x$relocations )) -eq 0 ]; then
  echo "no base relocation table" >&2
  status=1
fi
exit $status
