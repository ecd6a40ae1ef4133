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
. scripts/wine-host.sh
cleanup() {
  wine_server_stop "$prefix"
  wine_display_stop
}
trap cleanup EXIT
trap 'exit 130' INT TERM
wine_display_start

# The prefix of the window tests at 96 DPI, with one persistent server for every start.
sh tests/e2e/prepare-prefix.sh scripts/wine-run "$prefix" 96 >/dev/null 2>&1
wine_server_start scripts/wine-run "$prefix"

windows_path() { printf 'Z:%s' "$(pwd)/$1" | tr / '\\'; }
scripts/wine-run "$prefix" build/windows/bench/startup_probe.exe "$runs" \
  "$(windows_path build/windows/bench/minimal_window.exe)" \
  "$(windows_path build/windows/Talvor_Skarnel_Installer.exe)"
