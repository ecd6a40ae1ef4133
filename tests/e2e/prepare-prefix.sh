#!/bin/sh
# Makes a Wine prefix ready for the window tests: created by wine-run on first use, reporting
# Windows 10 as the program's manifest allows, and giving programs the DPI asked for.
# Usage: prepare-prefix.sh WINE-RUN PREFIX DPI
set -eu
wine_run=$1
prefix=$2
dpi=$3

"$wine_run" "$prefix" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f \
  >/dev/null
"$wine_run" "$prefix" winecfg -v win10
