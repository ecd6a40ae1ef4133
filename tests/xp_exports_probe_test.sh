#!/bin/sh
# The Windows XP export check on the probe programs of tests/ImportProbe.c: the one that imports
# only what the C runtime needs passes; one that imports a function of later Windows versions
# (kernel32's ReOpenFile, msvcrt's _wfopen_s) or a function of a DLL without a list fails, and
# names that function and nothing else.
# Usage: xp_exports_probe_test.sh OBJDUMP EXPORTS PROBE-DIR
set -eu
objdump=$1
exports=$2
probes=$3
check="$(dirname "$0")/xp_exports_check.sh"
failures=0

# expect PROBE STATUS WRONG-LINE: the check's exit status and its one complaint ("" for none).
expect() {
  status=0
  complaints=$(sh "$check" "$objdump" "$probes/$1.exe" "$exports" 2>&1 >/dev/null) || status=$?
  if [ "$status" -ne "$2" ] || [ "$complaints" != "$3" ]; then
    echo "FAILED $1: status $status (expected $2), complaints:" >&2
    printf '%s\n' "${complaints:-(none)}" "expected:" "${3:-(none)}" >&2
    failures=$((failures + 1))
  else
    echo "ok $1: status $status${3:+, $3}"
  fi
}

expect import_probe 0 ""
expect import_probe_reopenfile 1 "wrong: KERNEL32.dll ReOpenFile: Windows XP does not export it"
expect import_probe_wfopen_s 1 "wrong: msvcrt.dll _wfopen_s: Windows XP does not export it"
expect import_probe_shlwapi 1 \
  "wrong: SHLWAPI.dll PathFileExistsW: no list of what SHLWAPI.dll exports on Windows XP"
[ "$failures" -eq 0 ]
