#!/bin/sh
# Runs a command with an X display: the one in DISPLAY when it is set (a whole test run can share
# one), else a private Xvfb started for this command alone and stopped after it.
# Usage: with-display.sh COMMAND [ARGS...]   Exit status is the command's.
set -u

if [ -n "${DISPLAY:-}" ]; then
  exec "$@"
fi

work=$(mktemp -d)
# Xvfb picks a free display number itself and writes it to fd 3 once it accepts connections.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
stop() {
  kill "$xvfb" 2>/dev/null
  wait "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap stop EXIT
trap 'exit 130' INT TERM

tries=0
until grep -q '[0-9]' "$work/display" 2>/dev/null; do
  if ! kill -0 "$xvfb" 2>/dev/null || [ "$tries" -ge 200 ]; then
    cat "$work/xvfb.log" >&2
    echo "with-display.sh: Xvfb did not start" >&2
    exit 1
  fi
  tries=$((tries + 1))
  sleep 0.05
done

DISPLAY=":$(tr -d '\n' <"$work/display")" "$@"
