#!/bin/sh
# The image checks on the probe programs of tests/ImageProbe.c. The Windows XP export check: the
# probe that imports only what the C runtime needs passes; one that imports a function of later
# Windows versions (kernel32's ReOpenFile, msvcrt's _wfopen_s) or a function of a DLL without a
# list fails, and names that function and nothing else. The instruction-set check: the plain
# probe passes, and the one that runs an SSE instruction fails and names it in main's code.
# Usage: image_checks_probe_test.sh OBJDUMP EXPORTS GUARDED PROBE-DIR
set -eu
objdump=$1
exports=$2
guarded=$3
probes=$4
tests=$(dirname "$0")
failures=0

# expect NAME STATUS WRONG-PATTERN COMMAND...: the command's exit status, and its complaints
# matched as a whole by the basic regular expression (empty: none).
expect() {
  name=$1
  want_status=$2
  want=$3
  shift 3
  status=0
  complaints=$("$@" 2>&1 >/dev/null) || status=$?
  if [ "$status" -eq "$want_status" ] &&
    { [ -z "$want$complaints" ] || printf '%s' "$complaints" | grep -qx -e "$want"; } &&
    [ "$(printf '%s' "$complaints" | grep -c '')" -le 1 ]; then
    echo "ok $name: status $status${complaints:+, $complaints}"
  else
    echo "FAILED $name: status $status (expected $want_status), complaints:" >&2
    printf '%s\n' "${complaints:-(none)}" "expected one matching:" "${want:-(none)}" >&2
    failures=$((failures + 1))
  fi
}

exports_of() {
  sh "$tests/xp_exports_check.sh" "$objdump" "$probes/$1.exe" "$exports"
}
instructions_of() {
  python3 "$tests/instruction_set_check.py" "$objdump" "$probes/$1.exe" "$probes/$1.exe.map" \
    "$guarded"
}

expect "exports of image_probe" 0 "" exports_of image_probe
expect "exports of image_probe_reopenfile" 1 \
  "wrong: KERNEL32.dll ReOpenFile: Windows XP does not export it" \
  exports_of image_probe_reopenfile
expect "exports of image_probe_wfopen_s" 1 \
  "wrong: msvcrt.dll _wfopen_s: Windows XP does not export it" \
  exports_of image_probe_wfopen_s
expect "exports of image_probe_shlwapi" 1 \
  "wrong: SHLWAPI.dll PathFileExistsW: no list of what SHLWAPI.dll exports on Windows XP" \
  exports_of image_probe_shlwapi
expect "instructions of image_probe" 0 "" instructions_of image_probe
expect "instructions of image_probe_sse" 1 \
  "wrong: beyond the Pentium Pro: 0x[0-9a-f]* xorps %xmm0,%xmm0 in \.text[^ ]*main (ImageProbe\.c\.obj)" \
  instructions_of image_probe_sse
[ "$failures" -eq 0 ]
