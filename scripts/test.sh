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

# One virtual display, and one persistent Wine server per Windows build for the whole run.
display=""
for n in $(seq 90 120); do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=$n; break; fi
done
[ -n "$display" ] || { echo "test: no free X display number" >&2; exit 1; }
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
prefixes="$(pwd)/build/windows/wineprefix $(pwd)/build/windows64/wineprefix"
cleanup() {
  for prefix in $prefixes; do
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  done
  kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
export DISPLAY=":$display"
for _ in $(seq 50); do
  xdpyinfo >/dev/null 2>&1 && break
  sleep 0.1
done
for prefix in $prefixes; do
  # The prefix is made (or found) first; its short-lived server ends before the persistent one
  # starts.
  scripts/wine-run "$prefix" cmd /c exit 0 >/dev/null 2>&1 || true
  WINEPREFIX=$prefix wineserver -w
  WINEPREFIX=$prefix wineserver -p
  # A first program brings up the new server's services; tests started in parallel before they
  # are up were seen to hang in Wine.
  scripts/wine-run "$prefix" cmd /c exit 0 >/dev/null 2>&1
done
ctest --preset windows
ctest --preset windows64

echo "test: all passed"
