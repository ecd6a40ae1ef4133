#!/bin/sh
# Runs every test: the formatting check, the native tests, the tests under AddressSanitizer and
# UndefinedBehaviorSanitizer with a minute of fuzzing, and the tests of both Windows builds (the
# shipped 32-bit one and the 64-bit one) under Wine in a virtual display. Installs what it needs
# first when run as root.
set -eu
cd "$(dirname "$0")/.."

if [ "$(id -u)" -eq 0 ]; then
  scripts/setup.sh
else
  echo "test: not root, so the packages of scripts/setup.sh are taken as installed"
fi

scripts/check-format.sh

for preset in native sanitize windows windows64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

ctest --preset native
ctest --preset sanitize

# Fuzzing for a bounded time; new inputs it finds go to the build folder, not the repository.
corpus=build/sanitize/fuzz-corpus
mkdir -p "$corpus"
if ! build/sanitize/tests/fuzz/profile_fuzzer -max_total_time="${TALVOR_FUZZ_SECONDS:-60}" \
  -print_final_stats=1 -artifact_prefix=build/sanitize/ "$corpus" tests/fuzz/corpus \
  >build/sanitize/fuzz.log 2>&1; then
  tail -n 40 build/sanitize/fuzz.log
  echo "test: the fuzzer found a failure; its input is in build/sanitize/" >&2
  exit 1
fi
tail -n 8 build/sanitize/fuzz.log

# One virtual display, and one persistent Wine server per Windows build for the whole run. Every
# step is bounded, and the display and the servers end with the run, however it ends.
. scripts/wine-host.sh
TALVOR_WINE_I386=$(scripts/wine-run --host)
export TALVOR_WINE_I386
echo "test: 32-bit Windows programs start $TALVOR_WINE_I386 on this host"
prefixes="$(pwd)/build/windows/wineprefix $(pwd)/build/windows64/wineprefix"
cleanup() {
  for prefix in $prefixes; do wine_server_stop "$prefix"; done
  wine_display_stop
}
trap cleanup EXIT
trap 'exit 130' INT TERM
wine_display_start
for prefix in $prefixes; do wine_server_start scripts/wine-run "$prefix"; done

ctest --preset windows
ctest --preset windows64

# The emulated path of hosts without 32-bit programs, taken here too: the tool and a start of the
# window at 144 DPI, with its reveal's timings.
if [ "$TALVOR_WINE_I386" = native ]; then
  if reason=$(TALVOR_WINE_I386="" TALVOR_WINE_EMULATE=1 scripts/wine-run --host 2>&1); then
    TALVOR_WINE_I386=emulated ctest --preset windows -R '^(tool_test|e2e_window_144)$'
  else
    echo "test: the emulated path cannot be taken on this host: $reason"
  fi
fi

echo "test: all passed"
