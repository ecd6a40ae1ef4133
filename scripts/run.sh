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
  display=""
  for n in $(seq 70 89); do
    if [ ! -e "/tmp/.X$n-lock" ]; then display=$n; break; fi
  done
  Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  trap 'WINEPREFIX="$prefix" wineserver -k 2>/dev/null; kill "$xvfb" 2>/dev/null || true' EXIT
  export DISPLAY=":$display"
  sleep 1
  scripts/wine-run "$prefix" "$installer" "$folder" &
  installer_pid=$!

  # wait_window NAME SECONDS: the id of the first window whose name is NAME.
  wait_window() {
    for _ in $(seq $(($2 * 10))); do
      id=$(xdotool search --name "^$1\$" 2>/dev/null | head -n 1) && [ -n "$id" ] && { echo "$id"; return; }
      sleep 0.1
    done
    echo "run: no window named '$1' appeared" >&2
    return 1
  }
  window=$(wait_window "Le Talvor Map Installer" 30)
  sleep 11  # the credits reveal takes ten seconds
  import -window "$window" "$run/screenshots/1-window.png"
  xdotool windowfocus --sync "$window" key Tab key Return
  dialog=$(wait_window "Open" 15)
  sleep 1
  import -window "$dialog" "$run/screenshots/2-dialog.png"
  xdotool windowfocus --sync "$dialog" type "Camille.xml"
  xdotool key Return
  code=0
  wait "$installer_pid" || code=$?
  echo "run: the installer ended with exit code $code; screenshots in build/run/screenshots"
fi

echo "--- build/run/profiles/Camille.xml now reads:"
cat "$run/profiles/Camille.xml"
