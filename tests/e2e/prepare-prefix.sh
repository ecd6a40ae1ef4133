#!/bin/sh
# Makes a Wine prefix ready for the window tests: created by wine-run on first use, reporting
# Windows 10 as the program's manifest allows, giving programs the DPI asked for, and running the
# driver with the programs it starts in a Wine desktop of their own; optionally in a colour scheme.
# Usage: prepare-prefix.sh WINE-RUN PREFIX DPI [high-contrast-black]
set -eu
wine_run=$1
prefix=$2
dpi=$3
scheme=${4:-}

"$wine_run" "$prefix" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f \
  >/dev/null
"$wine_run" "$prefix" winecfg -v win10

# In a Wine desktop (one window of the display) Wine activates and focuses windows itself. On the
# bare display it follows X's input focus, and when a message box closes, X gives the focus to the
# root window before Wine gives it to the box's owner: seeing its foreground window lose the focus
# to no Wine window, Wine made its desktop the foreground, and about one run in ten found the
# installer's window inactive after the box. The desktop is as large as the test display.
"$wine_run" "$prefix" reg add 'HKCU\Software\Wine\AppDefaults\e2e_driver.exe\Explorer' \
  /v Desktop /d e2e /f >/dev/null
"$wine_run" "$prefix" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v e2e /d 1280x1024 /f \
  >/dev/null

# The high-contrast black scheme as Windows stores it: white text on black, and high contrast on
# (Flags 127). Programs started afterwards read these colours; Wine 8 never reports the flag.
if [ "$scheme" = high-contrast-black ]; then
  for colour in "Window 0 0 0" "WindowText 255 255 255" "ButtonFace 0 0 0" "ButtonText 255 255 255"; do
    "$wine_run" "$prefix" reg add 'HKCU\Control Panel\Colors' /v "${colour%% *}" \
      /d "${colour#* }" /f >/dev/null
  done
  "$wine_run" "$prefix" reg add 'HKCU\Control Panel\Accessibility\HighContrast' /v Flags \
    /d 127 /f >/dev/null
elif [ -n "$scheme" ]; then
  echo "prepare-prefix.sh: unknown scheme $scheme" >&2
  exit 2
fi
