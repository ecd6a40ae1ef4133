# Sourced by the scripts that run Windows programs: the time limit of every step, the virtual
# display and the persistent Wine server. POSIX sh; sourcing it only defines functions.

# bounded SECONDS STEP COMMAND [ARGS...]: runs COMMAND, stopped after SECONDS (and killed 10 s
# later if it still runs) with a message that names STEP. Exit status is COMMAND's, 124 when it
# was stopped.
bounded() {
  _seconds=$1
  _step=$2
  shift 2
  _status=0
  _start=$(date +%s)
  timeout --foreground --kill-after=10 "$_seconds" "$@" || _status=$?
  # 137: it did not end on the first signal either (or something else killed it).
  if [ "$_status" -eq 124 ] ||
    { [ "$_status" -eq 137 ] && [ $(($(date +%s) - _start)) -ge "$_seconds" ]; }; then
    echo "$_step: did not end within $_seconds s; stopped" >&2
    return 124
  fi
  return "$_status"
}

# wine_display_start: a virtual display of its own (Xvfb takes a free number itself and writes it
# to fd 3 once it accepts connections), exported in DISPLAY; its process is wine_display_pid.
wine_display_start() {
  _log=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$_log.display" 2>"$_log" &
  wine_display_pid=$!
  _tries=0
  until grep -q '[0-9]' "$_log.display" 2>/dev/null; do
    if ! kill -0 "$wine_display_pid" 2>/dev/null || [ "$_tries" -ge 200 ]; then
      cat "$_log" >&2
      echo "Xvfb: no display within 10 s" >&2
      rm -f "$_log" "$_log.display"
      return 1
    fi
    _tries=$((_tries + 1))
    sleep 0.05
  done
  DISPLAY=":$(tr -d '\n' <"$_log.display")"
  export DISPLAY
  rm -f "$_log" "$_log.display"
}

wine_display_stop() {
  [ -n "${wine_display_pid:-}" ] || return 0
  kill "$wine_display_pid" 2>/dev/null
  wait "$wine_display_pid" 2>/dev/null
  wine_display_pid=""
}

# wine_server_start WINE-RUN PREFIX: the prefix made (or found) and one persistent Wine server
# for it, so that each program starts in a fraction of a second instead of about one.
wine_server_start() {
  # Made first, with a short-lived server that ends before the persistent one starts.
  "$1" "$2" cmd /c exit 0 >/dev/null 2>&1 || true
  WINEPREFIX=$2 bounded 60 "wineserver -w in $2" wineserver -w || return
  WINEPREFIX=$2 bounded 60 "wineserver -p in $2" wineserver -p || return
  # A first program brings up the server's services, which keep its output open; programs started
  # in parallel before they are up were seen to hang.
  "$1" "$2" cmd /c exit 0 >/dev/null 2>&1
}

wine_server_stop() {
  WINEPREFIX=$1 bounded 30 "wineserver -k in $1" wineserver -k 2>/dev/null || true
}
