#!/bin/sh
# Runs a command with an X display: the one in DISPLAY when it is set (a whole test run can share
# one), else a private Xvfb started for this command alone and stopped after it.
# Usage: with-display.sh COMMAND [ARGS...]   Exit status is the command's.
set -u

if [ -n "${DISPLAY:-}" ]; then
  exec "$@"
fi

. "$(dirname "$0")/../../scripts/wine-host.sh"
trap wine_display_stop EXIT
trap 'exit 130' INT TERM
wine_display_start || exit 1
"$@"
