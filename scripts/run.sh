#!/bin/sh
# The whole job on the sample profiles of examples/profiles: builds the installer, copies the
# profiles to build/run/profiles and starts the installer under Wine with that folder as its
# argument.
# - With a display (DISPLAY set), the window opens there: use it as a user would.
# - Without one, it runs in a virtual display and plays the user: it waits for the reveal, opens
#   the dialog with Tab and Enter, picks Camille.xml, and saves screenshots of each step in
#   build/run/screenshots. Either way the profile's change is shown at the end.
set -eu
cd "$(dirname "$0")/.."
if [ "$(id -u)" -eq 0 ]; then scripts/setup.sh >/dev/null; fi
cmake --preset windows >/dev/null
cmake --build --preset windows --target Talvor_Skarnel_Installer talvor-apply >/dev/null

run=$(pwd)/build/run
rm -rf "$run/profiles" "$run/screenshots"
mkdir -p "$run/screenshots"
cp -r examples/profiles "$run/profiles"
installer=build/windows/Talvor_Skarnel_Installer.exe
folder=$(printf 'Z:%s\\' "$run/profiles" | tr / '\\')
prefix=$run/wineprefix

if [ -n "${DISPLAY:-}" ]; then
  scripts/wine-run "$prefix" "$installer" "$folder"
else
  . scripts/wine-host.sh
  installer_pid=""
  cleanup() {
    [ -z "$installer_pid" ] || kill "$installer_pid" 2>/dev/null || true
    wine_server_stop "$prefix"
    wine_display_stop
  }
  trap cleanup EXIT
  trap 'exit 130' INT TERM
  wine_display_start
  # The whole session is bounded: a window that never appears or never takes the keys ends the run
  # with a message, never a hang.
  TALVOR_WINE_TIMEOUT=180 scripts/wine-run "$prefix" "$installer" "$folder" &
  installer_pid=$!

  # wait_window NAME SECONDS: the id of the first window whose name is NAME.
  wait_window() {
    for _ in $(seq $(($2 * 10))); do
      id=$(xdotool search --name "^$1\$" 2>/dev/null | head -n 1) && [ -n "$id" ] && { echo "$id"; return; }
      sleep 0.1
    done
    echo "run: no window named '$1' appeared within $2 s" >&2
    return 1
  }
  # The first start makes the Wine prefix (some 10 s; 40 s where 32-bit programs are emulated).
  window=$(wait_window "Le Talvor Map Installer" 120)
  sleep 11  # the credits reveal takes ten seconds
  import -window "$window" "$run/screenshots/1-window.png"
  bounded 20 "run: Tab and Enter to the window" xdotool windowfocus --sync "$window" key Tab key Return
  dialog=$(wait_window "Open" 15)
  sleep 1
  import -window "$dialog" "$run/screenshots/2-dialog.png"
  bounded 20 "run: Camille.xml typed into the dialog" \
    xdotool windowfocus --sync "$dialog" type "Camille.xml"
  xdotool key Return
  code=0
  wait "$installer_pid" || code=$?
  installer_pid=""
  echo "run: the installer ended with exit code $code; screenshots in build/run/screenshots"
fi

echo "--- build/run/profiles/Camille.xml now reads:"
cat "$run/profiles/Camille.xml"
