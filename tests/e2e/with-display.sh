#!/bin/sh
# Runs a command with an X display of its own: a private Xvfb started for this command alone and
# stopped after it, so that commands run side by side never share a screen or its input focus.
# Usage: with-display.sh COMMAND [ARGS...]   Exit status is the command's.
set -u

. "$(dirname "$0")/../../scripts/wine-host.sh"
trap wine_display_stop EXIT
trap 'exit 130' INT TERM
wine_display_start || exit 1
"$@"
