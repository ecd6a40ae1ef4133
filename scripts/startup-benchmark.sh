#!/bin/sh
# The installer's start-up time under Wine: from its start to its first picture on screen (the
# logo drawn), against a minimal window program of our own (bench/MinimalWindow.cpp) that opens a
# white window of the same size and paints one rectangle. Both run in one virtual display and one
# persistent Wine server, alternating, RUNS times each (10 unless given); each run, the medians and
# the ratio are printed.
# Usage: scripts/startup-benchmark.sh [RUNS]
set -eu
cd "$(dirname "$0")/.."
runs=${1:-10}

cmake --preset windows >/dev/null
cmake --build --preset windows --target Talvor_Skarnel_Installer minimal_window startup_probe \
  >/dev/null

prefix=$(pwd)/build/bench/wineprefix
work=$(mktemp -d)
# Xvfb picks a free display number itself and writes it to fd 3 once it accepts connections.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
cleanup() {
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
tries=0
until grep -q '[0-9]' "$work/display" 2>/dev/null; do
  if ! kill -0 "$xvfb" 2>/dev/null || [ "$tries" -ge 200 ]; then
    cat "$work/xvfb.log" >&2
    echo "startup-benchmark: Xvfb did not start" >&2
    exit 1
  fi
  tries=$((tries + 1))
  sleep 0.05
done
export DISPLAY=":$(tr -d '\n' <"$work/display")"

# The prefix of the window tests at 96 DPI, with one persistent server for every start.
sh tests/e2e/prepare-prefix.sh scripts/wine-run "$prefix" 96 >/dev/null 2>&1
WINEPREFIX=$prefix wineserver -w
WINEPREFIX=$prefix wineserver -p
# The first program brings up the server's services, which keep its output open.
scripts/wine-run "$prefix" cmd /c exit 0 >/dev/null 2>&1

windows_path() { printf 'Z:%s' "$(pwd)/$1" | tr / '\\'; }
scripts/wine-run "$prefix" build/windows/bench/startup_probe.exe "$runs" \
  "$(windows_path build/windows/bench/minimal_window.exe)" \
  "$(windows_path build/windows/Talvor_Skarnel_Installer.exe)"
