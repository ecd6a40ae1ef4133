#!/bin/sh
# The image checks on the probe programs of tests/ImageProbe.c and on manifests of a few lines.
# - The Windows XP export check: the probe that imports only what the C runtime needs passes;
#   one that imports a function of later Windows versions (kernel32's ReOpenFile, msvcrt's
#   _wfopen_s) or a function of a DLL without a list fails, and names that function alone.
# - The instruction-set check: the plain probe passes; the one that runs an SSE instruction
#   fails and names it in main's code.
# - The resource check: a probe without resources lacks manifest, version record and icon; a
#   manifest passes XP's rules, and fails them with an element of asm.v1 that XP does not know
#   or with a namespace declared twice on one element.
# Usage: image_checks_probe_test.sh OBJDUMP EXPORTS GUARDED PROBE-DIR RESOURCES
set -eu
objdump=$1
exports=$2
guarded=$3
probes=$4
resources=$5
tests=$(dirname "$0")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# expect NAME STATUS COMPLAINTS COMMAND...: the command's exit status, and its complaints on
# standard error, one a line, with each address written ADDRESS.
expect() {
  name=$1
  want_status=$2
  want=$3
  shift 3
  status=0
  complaints=$("$@" 2>&1 >/dev/null) || status=$?
  complaints=$(printf '%s' "$complaints" | sed 's/0x[0-9a-f]*/ADDRESS/g')
  if [ "$status" -eq "$want_status" ] && [ "$complaints" = "$want" ]; then
    echo "ok $name: status $status${complaints:+, }$complaints"
  else
    echo "FAILED $name: status $status (expected $want_status), complaints:" >&2
    printf '%s\n' "${complaints:-(none)}" "expected:" "${want:-(none)}" >&2
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
manifest() {
  python3 "$tests/image_resources_check.py" --manifest-only "$1"
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
  "wrong: beyond the Pentium Pro: ADDRESS xorps %xmm0,%xmm0 in .text.startup.main (ImageProbe.c.obj)" \
  instructions_of image_probe_sse

expect "resources of image_probe" 1 "wrong: no manifest
wrong: no version record
wrong: icon: no icon group MAINICON" \
  python3 "$tests/image_resources_check.py" "$probes/image_probe.exe" x86 1.0.0 \
  "$resources/talvor-apply.manifest" "$resources/talvor-apply.ico"
expect "the tool's manifest" 0 "" manifest "$resources/talvor-apply.manifest"
cat >"$work/unknown-element.manifest" <<'XML'
<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
  <assemblyIdentity type="win32" name="Probe" version="1.0.0.0"/>
  <compatibility/>
</assembly>
XML
expect "a manifest with <compatibility> in asm.v1" 1 \
  "wrong: manifest: <compatibility> is in urn:schemas-microsoft-com:asm.v1, where Windows XP knows no compatibility" \
  manifest "$work/unknown-element.manifest"
cat >"$work/namespace-twice.manifest" <<'XML'
<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" xmlns:asmv1="urn:schemas-microsoft-com:asm.v1"
          manifestVersion="1.0">
  <assemblyIdentity type="win32" name="Probe" version="1.0.0.0"/>
</assembly>
XML
expect "a manifest that declares asm.v1 twice on one element" 1 \
  "wrong: manifest: <assembly> declares the namespace urn:schemas-microsoft-com:asm.v1 twice" \
  manifest "$work/namespace-twice.manifest"
[ "$failures" -eq 0 ]
