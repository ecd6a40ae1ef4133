#!/bin/sh
# A profile rewritten in place ends with its old bytes or its new ones, exactly, whatever stops
# the rewrite: a disk that fails part-way (a shim of the write calls, loaded with LD_PRELOAD, as no
# real disk fails on demand), or kill -9 at any moment. Where the process died before it could
# put the old bytes back, a backup beside the profile is the one file left: a read (--check) then
# writes nothing and says whether a rewrite is pending, and the next save puts the old bytes back
# before anything else. The same kills during a save through a new file leave nothing that the
# next save does not take away.
# Usage: in_place_faults_test.sh TOOL SHIM [KILLS]   (KILLS: rounds of kill -9 per path, 100)
set -u
tool=$(realpath "$1")
shim=$(realpath "$2")
kills=${3:-100}
work=$(mktemp -d)
trap 'umount "$work/fuse" 2>/dev/null; rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $1" >&2
  failures=$((failures + 1))
}

yes '  <line>a line of a large profile</line>' | head -c 100000000 >"$work/old.xml"
printf '<lx>\n<mapfiles>old.cmr</mapfiles>\n<showraster>0</showraster>\n</lx>\n' >>"$work/old.xml"
cp "$work/old.xml" "$work/new.xml"
"$tool" "$work/new.xml" >/dev/null || fail "the reference rewrite"
d=$work/profile
mkdir "$d"
cd "$d" || exit 1

# A fresh profile with a second name, so that it is written in place.
fresh_in_place() {
  rm -f "$d"/* "$d"/.talvor-*
  cp "$work/old.xml" p.xml
  ln p.xml other.xml
}
names() { ls -A | sort | tr '\n' ' '; }
backups() { ls -A | grep -c '^\.talvor-backup-'; }
leftovers() { ls -A | grep -c '^\.talvor-'; }

# A disk that fails part-way through the new bytes: the old bytes are back, and no backup stays.
fresh_in_place
# (the profile's second write fails, once: the backup is whole and the old bytes go back).
FAIL_FILE=p.xml FAIL_FILE_WRITES_AFTER=1 FAIL_FILE_WRITES_COUNT=1 LD_PRELOAD=$shim "$tool" p.xml \
  >/dev/null 2>"$work/err"
[ $? -eq 1 ] || fail "a write failing part-way: exit code"
cmp -s p.xml "$work/old.xml" || fail "a write failing part-way: not the old bytes"
[ "$(names)" = "other.xml p.xml " ] || fail "a write failing part-way: left $(names)"
grep -q "^Erreur d'écriture dans le flux: Input/output error.$" "$work/err" ||
  fail "a write failing part-way: $(cat "$work/err")"

# A disk that fails from the flush of the new bytes on (the fifth flush: the backup's two, its
# folder's, the profile's mark's, then the profile's): the old bytes cannot be made durable again,
# the message names the backup that holds them, a read finds the old bytes and writes nothing, and
# the next save takes the backup away.
fresh_in_place
FAIL_FSYNC_AFTER=4 LD_PRELOAD=$shim "$tool" p.xml >/dev/null 2>"$work/err"
[ $? -eq 1 ] || fail "a failing disk: exit code"
backup=$(ls -A | grep '^\.talvor-backup-')
grep -q "L'ancien contenu du fichier est dans \"$d/$backup\"" "$work/err" ||
  fail "a failing disk: the message does not name the backup: $(cat "$work/err")"
before=$(names)
"$tool" --check p.xml >/dev/null 2>&1
[ $? -eq 3 ] || fail "a failing disk: the next read does not find the old profile"
cmp -s p.xml "$work/old.xml" && [ "$(names)" = "$before" ] ||
  fail "a failing disk: the next read changed the profile or its folder: $(names)"
"$tool" p.xml >/dev/null || fail "a failing disk: the run after it"
cmp -s p.xml "$work/new.xml" && [ "$(names)" = "other.xml p.xml " ] ||
  fail "a failing disk: after the next run: $(names)"

# A backup left, then the profile changed by another program at once: nothing is undone, both
# stay. No clock tells it: the bytes do.
fresh_in_place
FAIL_FSYNC_AFTER=4 LD_PRELOAD=$shim "$tool" p.xml >/dev/null 2>&1
echo '<their-line/>' >>p.xml
cp p.xml "$work/theirs.xml"
"$tool" p.xml >/dev/null 2>"$work/err"
[ $? -eq 1 ] || fail "changed after an interrupted rewrite: exit code"
grep -q "Une réécriture de ce fichier a été interrompue, puis il a été modifié" "$work/err" ||
  fail "changed after an interrupted rewrite: $(cat "$work/err")"
cmp -s p.xml "$work/theirs.xml" && [ "$(backups)" -eq 1 ] ||
  fail "changed after an interrupted rewrite: the profile or its backup did not stay"

# A backup left with one byte of its body changed since: it is never used. A read and a save
# fail and name it, and the profile and the backup stay as they are.
fresh_in_place
FAIL_FSYNC_AFTER=4 LD_PRELOAD=$shim "$tool" p.xml >/dev/null 2>&1
backup=$(ls -A | grep '^\.talvor-backup-')
printf 'X' | dd of="$backup" bs=1 seek=1000 conv=notrunc 2>/dev/null
cp "$backup" "$work/damaged-backup"
cp p.xml "$work/before.xml"
"$tool" --check p.xml >/dev/null 2>"$work/err"
[ $? -eq 1 ] && grep -q "\"$d/$backup\" est absente ou inutilisable" "$work/err" ||
  fail "a damaged backup: the read: $(cat "$work/err")"
"$tool" p.xml >/dev/null 2>"$work/err"
[ $? -eq 1 ] && grep -q "\"$d/$backup\" est absente ou inutilisable" "$work/err" ||
  fail "a damaged backup: the save: $(cat "$work/err")"
cmp -s p.xml "$work/before.xml" && cmp -s "$backup" "$work/damaged-backup" ||
  fail "a damaged backup: the profile or the backup changed"

# The process id holds the profile's lock to save it.
saving() {
  awk -v pid="$1" '$2 == "FLOCK" && $4 == "WRITE" && $5 == pid { found = 1 } END { exit !found }' \
    /proc/locks
}
# One save's time in milliseconds, from its lock to its end.
save_time() {
  "$tool" p.xml >/dev/null &
  pid=$!
  until saving "$pid" || ! kill -0 "$pid" 2>/dev/null; do sleep 0.005; done
  start=$(date +%s%N)
  wait "$pid"
  echo $((($(date +%s%N) - start) / 1000000))
}

# kills NAME SETUP NAMES [ROUNDS]: kill -9 at random moments of the save, $kills times or ROUNDS.
kill_rounds() {
  rounds=${4:-$kills}
  eval "$2"
  span=$(save_time)
  bad=0 restored=0
  for round in $(seq "$rounds"); do
    eval "$2"
    "$tool" p.xml >/dev/null 2>&1 &
    pid=$!
    until saving "$pid" || ! kill -0 "$pid" 2>/dev/null; do sleep 0.002; done
    sleep "$(awk -v span="$span" -v seed="$round$$" 'BEGIN { srand(seed); printf "%.3f", rand() * span / 1000 }')"
    kill -9 "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    if [ "$(leftovers)" -gt 0 ]; then
      # A backup of the old bytes, or the new file of a save killed before it took the
      # profile's place, one at most: the next read writes nothing and tells whether the old
      # bytes are to go back (exit 4); the next save puts them back or removes the new file,
      # then saves as usual.
      restored=$((restored + 1))
      [ "$(leftovers)" -eq 1 ] || {
        bad=$((bad + 1))
        echo "  round $round: left $(names)" >&2
      }
      before=$(names)
      cp p.xml "$work/killed.xml"
      "$tool" --check p.xml >/dev/null 2>&1
      status=$?
      { cmp -s p.xml "$work/killed.xml" && [ "$(names)" = "$before" ] &&
        case $status in
        3) cmp -s p.xml "$work/old.xml" ;;
        0) cmp -s p.xml "$work/new.xml" ;;
        4) true ;;
        *) false ;;
        esac; } || {
        bad=$((bad + 1))
        echo "  round $round: the next read (exit $status) wrote or misjudged: $(names)" >&2
      }
      "$tool" p.xml >/dev/null 2>&1
      cmp -s p.xml "$work/new.xml" || {
        bad=$((bad + 1))
        echo "  round $round: the next save did not end with the new bytes" >&2
      }
    fi
    if ! cmp -s p.xml "$work/old.xml" && ! cmp -s p.xml "$work/new.xml"; then
      bad=$((bad + 1))
      echo "  round $round: neither old nor new" >&2
    fi
    [ "$(names)" = "$3" ] || {
      bad=$((bad + 1))
      echo "  round $round: left $(names)" >&2
    }
  done
  echo "$1: $rounds kills over a save of $span ms; $restored left a file that the next run took away"
  [ "$bad" -eq 0 ] || fail "$1: $bad wrong rounds"
}
fresh_renamed='rm -f "$d"/* "$d"/.talvor-*; cp "$work/old.xml" p.xml'
kill_rounds "kill -9 during a rewrite in place" fresh_in_place "other.xml p.xml "
kill_rounds "kill -9 during a save through a new file" "$fresh_renamed" "p.xml "

# Killed after the new file got its name and before it took the profile's place: the profile
# keeps its old bytes, the new file is the one left, which a read leaves and the next save takes
# away.
eval "$fresh_renamed"
KILL_AT_RENAME=1 LD_PRELOAD=$shim "$tool" p.xml >/dev/null 2>&1
[ $? -eq 137 ] || fail "killed before the rename: not killed"
cmp -s p.xml "$work/old.xml" && [ "$(ls -A | grep -c '^\.talvor-new-')" -eq 1 ] ||
  fail "killed before the rename: left $(names)"
before=$(names)
"$tool" --check p.xml >/dev/null 2>&1
[ "$(names)" = "$before" ] || fail "killed before the rename: the next read wrote: $(names)"
"$tool" p.xml >/dev/null 2>&1 && cmp -s p.xml "$work/new.xml" && [ "$(names)" = "p.xml " ] ||
  fail "killed before the rename: after the next save: $(names)"

# A file system that cannot make a file without a name (FUSE, here bindfs): the new file has a
# name for the whole save, so a kill leaves it, the one file left, and the next save takes it away.
cd "$work" || exit 1
d=$work/fuse
mkdir "$d" "$work/fuse-source"
if command -v bindfs >/dev/null && bindfs "$work/fuse-source" "$d" 2>"$work/err"; then
  cd "$d" || exit 1
  kill_rounds "kill -9 during a save through a named new file (FUSE)" "$fresh_renamed" "p.xml " 10
  cd "$work" || exit 1
  umount "$d"
else
  echo "in_place_faults_test: no FUSE file system can be mounted here, so its row is skipped: $(cat "$work/err")"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "in_place_faults_test: all passed"
