#!/bin/sh
# The run-time look-up check on a source of a few lines that looks up ReOpenFile, which Windows
# XP lacks, with the module and the name on separate lines and a comment that names another
# function: it fails while the list leaves the look-up out or calls it needed, passes once the
# list gives its fallback, and fails on a listed function that no source looks up.
# Usage: run_time_lookups_probe_test.sh EXPORTS
set -eu
exports=$1
check="$(dirname "$0")/run_time_lookups_check.py"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/src"
cat >"$work/src/Probe.cpp" <<'CODE'
// GetProcAddress(module, "GetTickCount64") stands in a comment only.
HANDLE Reopen(HANDLE file) {
    const auto reopen = reinterpret_cast<Function>(GetProcAddress(
        GetModuleHandleW(L"kernel32.dll"),
        "ReOpenFile"));
    return reopen != nullptr ? reopen(file, GENERIC_READ, 0, 0) : file;
}
CODE
failures=0

# expect STATUS WRONG-LINE LIST-LINE...: the check's exit status and its one complaint ("" for
# none) with the list made of the given lines.
expect() {
  want_status=$1
  want=$2
  shift 2
  printf '%s\n' "$@" >"$work/lookups.txt"
  status=0
  complaints=$(python3 "$check" "$work/lookups.txt" "$exports" "$work/src" 2>&1 >/dev/null) ||
    status=$?
  if [ "$status" -ne "$want_status" ] || [ "$complaints" != "$want" ]; then
    echo "FAILED with list: $*" >&2
    printf '%s\n' "status $status (expected $want_status), complaints:" "${complaints:-(none)}" \
      "expected:" "${want:-(none)}" >&2
    failures=$((failures + 1))
  else
    echo "ok, list: $*: status $status${want:+, $want}"
  fi
}

expect 1 "wrong: ReOpenFile: looked up in src/Probe.cpp, not in the list" "# empty"
expect 1 "wrong: kernel32.dll ReOpenFile: needed, and Windows XP SP3 does not export it" \
  "kernel32.dll ReOpenFile -"
expect 0 "" "kernel32.dll ReOpenFile the file is used as it was opened"
expect 1 "wrong: kernel32.dll GetTickCount64: listed, but no source looks it up" \
  "kernel32.dll ReOpenFile the file is used as it was opened" \
  "kernel32.dll GetTickCount64 GetTickCount"
[ "$failures" -eq 0 ]
