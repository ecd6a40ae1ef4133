#!/bin/sh
# Under Wine, a profile that the Windows build rewrites in place ends with its old bytes or its new
# ones, exactly, whatever stops the rewrite: a disk that fails part-way (a shim of the write calls
# that Wine makes for the program, loaded with LD_PRELOAD; only a 64-bit Wine loads the host's
# 64-bit library), or kill -9 of the program at any moment of the save. Where the program died
# before it could put the old bytes back, a backup beside the profile is the one file left: a read
# (--check) then writes nothing and says whether a rewrite is pending, and the next save puts the
# old bytes back before anything else. A save through a new file that is killed leaves that new
# file, which the next save removes.
# Usage: wine_in_place_faults_test.sh SHIM-SOURCE TOOL RUNNER...
#   SHIM-SOURCE  tests/faults/FailingWrites.c, built here with the host's compiler
#   TALVOR_WINE_KILLS  rounds of kill -9 (10)
set -u
shim_source=$(realpath "$1")
tool=$(realpath "$2")
shift 2
runner=""
for word in "$@"; do runner="$runner '$word'"; done
kills=${TALVOR_WINE_KILLS:-10}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $1" >&2
  failures=$((failures + 1))
}
run_tool() { eval "$runner \"\$tool\" \"\$@\""; }

# The image's machine: the shim is a 64-bit Linux library, which only a 64-bit Wine loads.
pe=$(od -An -tu4 -j 60 -N 4 "$tool" | tr -d ' ')
machine=$(od -An -tx2 -j $((pe + 4)) -N 2 "$tool" | tr -d ' ')
# A save that lasts long enough to be cut at many moments: 100 MB, or 30 MB for the 32-bit build,
# whose Wine may be emulated.
size=$([ "$machine" = 8664 ] && echo 100000000 || echo 30000000)
yes '  <line>a line of a large profile</line>' | head -c "$size" >"$work/old.xml"
printf '<lx>\n<mapfiles>old.cmr</mapfiles>\n<showraster>0</showraster>\n</lx>\n' >>"$work/old.xml"
d=$work/profile
mkdir "$d"
cd "$d" || exit 1
cp "$work/old.xml" p.xml
run_tool p.xml >/dev/null || fail "the reference rewrite"
mv p.xml "$work/new.xml"

# A fresh profile with a second name, so that it is written in place.
fresh_in_place() {
  rm -f "$d"/* "$d"/~talvor-*
  cp "$work/old.xml" p.xml
  ln p.xml other.xml
}
names() { ls -A | sort | tr '\n' ' '; }
backups() { ls -A | grep -c '^~talvor-backup-'; }

if [ "$machine" = 8664 ]; then
  cc -shared -fPIC -O2 -o "$work/shim.so" "$shim_source" -ldl || exit 1

  # A disk that fails once part-way through the new bytes: the old bytes are back, and no
  # backup stays.
  fresh_in_place
  FAIL_FILE=p.xml FAIL_FILE_WRITES_AFTER=2 FAIL_FILE_WRITES_COUNT=1 LD_PRELOAD=$work/shim.so \
    run_tool p.xml >/dev/null 2>"$work/err"
  [ $? -eq 1 ] || fail "a write failing part-way: exit code"
  cmp -s p.xml "$work/old.xml" || fail "a write failing part-way: not the old bytes"
  [ "$(names)" = "other.xml p.xml " ] || fail "a write failing part-way: left $(names)"

  # A disk that fails from there on: the old bytes cannot go back, the message names the backup
  # that holds them by its Windows path, a read says that a rewrite is pending and writes nothing,
  # and the next save puts the old bytes back before it saves.
  fresh_in_place
  FAIL_FILE=p.xml FAIL_FILE_WRITES_AFTER=2 LD_PRELOAD=$work/shim.so \
    run_tool p.xml >/dev/null 2>"$work/err"
  [ $? -eq 1 ] || fail "a failing disk: exit code"
  backup=$(ls -A | grep '^~talvor-backup-')
  grep -Fq "L'ancien contenu du fichier est dans \"Z:$(echo "$d" | tr / '\\')\\$backup\"" \
    "$work/err" || fail "a failing disk: the message does not name the backup: $(cat "$work/err")"
  before=$(names)
  cp p.xml "$work/cut.xml"
  run_tool --check p.xml >/dev/null 2>&1
  [ $? -eq 4 ] || fail "a failing disk: the next read does not find the rewrite pending"
  cmp -s p.xml "$work/cut.xml" && [ "$(names)" = "$before" ] ||
    fail "a failing disk: the next read changed the profile or its folder: $(names)"
  run_tool p.xml >/dev/null || fail "a failing disk: the run after it"
  cmp -s p.xml "$work/new.xml" && [ "$(names)" = "other.xml p.xml " ] ||
    fail "a failing disk: after the next run: $(names)"
else
  echo "wine_in_place_faults_test: a 32-bit Wine loads no 64-bit library, so the failing disk is shown by the 64-bit build only"
fi

# The Windows program's own process among those that a run started: Wine names it after the
# image, as far as the system keeps a name (15 bytes).
program=$(basename "$tool" | cut -c 1-15)
descendants() {
  for child in $(pgrep -P "$1"); do
    echo "$child"
    descendants "$child"
  done
}
program_of() {
  for process in $(descendants "$1"); do
    [ "$(cat "/proc/$process/comm" 2>/dev/null)" = "$program" ] && echo "$process" && return
  done
}

# Killed while it writes its new file, a save through a new file leaves that file, named for the
# profile (Windows has no file without a name), and the profile's old bytes; the next save of the
# profile removes it. The program is stopped as soon as its new file appears and killed only if
# that file is still being written: a kill inside Wine's ReplaceFileW would show Wine's own gap
# (see the README's Wine notes), not the program's.
new_size=$(wc -c <"$work/new.xml")
for attempt in 1 2 3 4 5; do
  rm -f "$d"/* "$d"/~talvor-*
  cp "$work/old.xml" p.xml
  run_tool p.xml >/dev/null 2>&1 &
  pid=$!
  victim=""
  while [ -z "$victim" ] && kill -0 "$pid" 2>/dev/null; do victim=$(program_of "$pid"); done
  until ls -A | grep -q '^~talvor-new-' || ! kill -0 "$pid" 2>/dev/null; do sleep 0.001; done
  kill -STOP "$victim" 2>/dev/null
  written=$(cat ./~talvor-new-* 2>/dev/null | wc -c)
  if [ "$written" -lt "$new_size" ]; then
    kill -9 "$victim"
    wait "$pid"
    break
  fi
  kill -CONT "$victim" 2>/dev/null
  wait "$pid"
done
[ "$written" -lt "$new_size" ] || fail "killed during a save through a new file: never caught it writing"
cmp -s p.xml "$work/old.xml" && [ "$(ls -A | grep -c '^~talvor-new-')" -eq 1 ] ||
  fail "killed during a save through a new file: left $(names)"
for try in 1 2 3 4 5; do
  run_tool p.xml >/dev/null 2>"$work/err"
  [ $? -ne 1 ] && break
  sleep 0.5
done
cmp -s p.xml "$work/new.xml" && [ "$(names)" = "p.xml " ] ||
  fail "killed during a save through a new file: after the next save: $(names) $(cat "$work/err")"

# One save's time in milliseconds, from its backup to its end.
fresh_in_place
run_tool p.xml >/dev/null &
pid=$!
until [ "$(backups)" -gt 0 ] || ! kill -0 "$pid" 2>/dev/null; do sleep 0.005; done
start=$(date +%s%N)
wait "$pid"
span=$((($(date +%s%N) - start) / 1000000))

bad=0 restored=0 killed=0
for round in $(seq "$kills"); do
  fresh_in_place
  run_tool p.xml >/dev/null 2>&1 &
  pid=$!
  victim=""
  while [ -z "$victim" ] && kill -0 "$pid" 2>/dev/null; do victim=$(program_of "$pid"); done
  until [ "$(backups)" -gt 0 ] || ! kill -0 "$pid" 2>/dev/null; do sleep 0.002; done
  sleep "$(awk -v span="$span" -v seed="$round$$" 'BEGIN { srand(seed); printf "%.3f", rand() * span / 1000 }')"
  [ -n "$victim" ] && kill -9 "$victim" 2>/dev/null
  wait "$pid"
  [ $? -eq 137 ] && killed=$((killed + 1))
  if [ "$(backups)" -gt 0 ]; then
    # The next read writes nothing and tells whether the old bytes are to go back (exit 4); the
    # next save puts them back, then saves as usual. Wine closes a killed program's files a
    # moment after it has gone: until then they are in use, and the read says so (exit 1), as it
    # does while a save runs. A backup that the program had removed while it still held it open
    # goes only then, maybe after the look above: the profile then holds its new bytes.
    restored=$((restored + 1))
    for try in 1 2 3 4 5; do
      before=$(names)
      cp p.xml "$work/killed.xml"
      run_tool --check p.xml >/dev/null 2>"$work/err"
      status=$?
      [ "$status" -ne 1 ] && break
      sleep 0.5
    done
    { cmp -s p.xml "$work/killed.xml" && [ "$(names)" = "$before" ] &&
      case $status in
      3) cmp -s p.xml "$work/old.xml" ;;
      0) cmp -s p.xml "$work/new.xml" ;;
      4) true ;;
      *) false ;;
      esac; } || {
      bad=$((bad + 1))
      echo "  round $round: the next read (exit $status) wrote or misjudged: $(names) $(cat "$work/err")" >&2
    }
    run_tool p.xml >/dev/null 2>&1
    cmp -s p.xml "$work/new.xml" || {
      bad=$((bad + 1))
      echo "  round $round: the next save did not end with the new bytes" >&2
    }
  fi
  if ! cmp -s p.xml "$work/old.xml" && ! cmp -s p.xml "$work/new.xml"; then
    bad=$((bad + 1))
    echo "  round $round: neither old nor new" >&2
  fi
  [ "$(names)" = "other.xml p.xml " ] || {
    bad=$((bad + 1))
    echo "  round $round: left $(names)" >&2
  }
done
echo "kill -9 during a rewrite in place: $kills kills over a save of $span ms; $killed came before its end; $restored left a backup that the next save took away"
[ "$killed" -gt 0 ] || fail "kill -9 during a rewrite in place: no kill came before the end of the save"
[ "$bad" -eq 0 ] || fail "kill -9 during a rewrite in place: $bad wrong rounds"

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "wine_in_place_faults_test: all passed"
