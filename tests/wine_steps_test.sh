#!/bin/sh
# Every Wine step of the project's scripts ends within its bound, with a message naming the step,
# and the emulated path of hosts without 32-bit programs says what it lacks rather than waiting.
# Usage: wine_steps_test.sh SCRIPTS-DIR PREFIX
set -u
scripts=$(realpath "$1")
prefix=$2
. "$scripts/wine-host.sh"
work=$(mktemp -d)
failures=0
fail() {
  echo "FAIL: $1" >&2
  sed 's/^/  stderr: /' "$work/err" >&2
  failures=$((failures + 1))
}
cleanup() {
  exec 3>&-
  WINEPREFIX=$work/server-only wineserver -k 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# A program that waits for ever (for a key on a pipe whose writer stays silent) is stopped at the
# time limit with exit code 124 and a message that names it.
mkfifo "$work/keys"
exec 3<>"$work/keys"
started=$(date +%s)
TALVOR_WINE_TIMEOUT=5 "$scripts/wine-run" "$prefix" cmd /c pause <"$work/keys" >/dev/null \
  2>"$work/err"
status=$?
took=$(($(date +%s) - started))
[ "$status" -eq 124 ] || fail "a program that never ends: exit $status, expected 124"
grep -q "^wine-run: cmd: did not end within 5 s; stopped$" "$work/err" ||
  fail "a program that never ends: no message naming it"
[ "$took" -le 20 ] || fail "a program that never ends: stopped after $took s"

# `wineserver -w` while a persistent server holds the prefix never returns by itself: the hang of
# a test run whose first Wine program could not start.
mkdir "$work/server-only"
WINEPREFIX=$work/server-only wineserver -p
WINEPREFIX=$work/server-only bounded 2 "waiting for the server" wineserver -w 2>"$work/err"
status=$?
[ "$status" -eq 124 ] || fail "wineserver -w: exit $status, expected 124"
grep -q "^waiting for the server: did not end within 2 s; stopped$" "$work/err" ||
  fail "wineserver -w: no message naming the step"

# The emulated path with Debian 12's own qemu-user, which would take a minute for each process.
mkdir "$work/bin"
printf '#!/bin/sh\necho "qemu-i386 version 7.2.19 (Debian 1:7.2+dfsg-7+deb12u18)"\n' \
  >"$work/bin/qemu-i386"
chmod +x "$work/bin/qemu-i386"
TALVOR_WINE_I386="" TALVOR_WINE_EMULATE=1 PATH="$work/bin:$PATH" "$scripts/wine-run" --host \
  >/dev/null 2>"$work/err"
status=$?
[ "$status" -eq 125 ] || fail "qemu-user 7.2: exit $status, expected 125"
grep -q "qemu-i386 7 is too slow for Wine: version 10 or later is needed" "$work/err" ||
  fail "qemu-user 7.2: no message saying what is needed"

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "wine_steps_test: all passed"
