#!/bin/sh
# Runs every test: the formatting check, the native tests, the tests under AddressSanitizer and
# UndefinedBehaviorSanitizer with a minute of fuzzing (both while the Windows programs compile),
# and the tests of both Windows builds (the shipped 32-bit one and the 64-bit one) under Wine in
# virtual displays. Installs what it needs first when run as root.
set -eu
cd "$(dirname "$0")/.."

if [ "$(id -u)" -eq 0 ]; then
  scripts/setup.sh
else
  echo "test: not root, so the packages of scripts/setup.sh are taken as installed"
fi

scripts/check-format.sh

# The native and sanitizer tests run while the Windows builds compile: much of their time is spent
# waiting (tools started and killed, files written and read back), which the compiler fills. Each
# writes to a log of its own, shown once it has ended.
in_background() {
  log=$1
  shift
  "$@" >"$log" 2>&1 &
}
shown() {
  if wait "$1"; then
    cat "$2"
  else
    cat "$2"
    echo "test: $3 failed" >&2
    exit 1
  fi
}

cmake --preset native >/dev/null
cmake --build --preset native
in_background build/native-tests.log ctest --preset native
native_tests=$!

# Fuzzing for a bounded time; new inputs it finds go to the build folder, not the repository.
sanitizer_tests() {
  ctest --preset sanitize || return
  corpus=build/sanitize/fuzz-corpus
  mkdir -p "$corpus"
  if ! build/sanitize/tests/fuzz/profile_fuzzer -max_total_time="${TALVOR_FUZZ_SECONDS:-60}" \
    -print_final_stats=1 -artifact_prefix=build/sanitize/ "$corpus" tests/fuzz/corpus \
    >build/sanitize/fuzz.log 2>&1; then
    tail -n 40 build/sanitize/fuzz.log
    echo "test: the fuzzer found a failure; its input is in build/sanitize/" >&2
    return 1
  fi
  tail -n 8 build/sanitize/fuzz.log
}
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize
in_background build/sanitize-tests.log sanitizer_tests
sanitize_tests=$!

cmake --preset windows >/dev/null
# The 64-bit libjpeg-turbo from the source package that the 32-bit one downloaded.
dsc=$(find build/windows/deps -name 'libjpeg-turbo_*.dsc' | head -n 1)
TALVOR_LIBJPEG_SOURCE=${TALVOR_LIBJPEG_SOURCE:-$dsc} cmake --preset windows64 >/dev/null
for preset in windows windows64; do
  cmake --build --preset "$preset"
done
shown "$native_tests" build/native-tests.log "the native tests"
shown "$sanitize_tests" build/sanitize-tests.log "the sanitizer tests"

# One virtual display for the tests that make windows in-process (each end-to-end entry starts a
# display of its own), and one persistent Wine server per Windows build for the whole run. Every
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
