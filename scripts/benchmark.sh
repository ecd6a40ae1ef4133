#!/bin/sh
# Times talvor-apply on profiles of every shape against the floor of what it does, writing the
# file anew: `cp` of the same file to a new file, and on a disk `cp` followed by `sync FILE`, as
# the tool flushes its save. It also times the save's whole pattern, that copy renamed over a copy
# of the profile (`mv`, which frees the old file's pages as the tool's rename does); the least
# program that rewrites the file through its memory (bench/CopyThroughMemory.cpp: `cp` copies
# inside the kernel, and a program that looks at every byte cannot); `cp` onto an existing copy
# and `sed -i` doing the same two substitutions, and prints the bytes the tool wrote, the ratios
# and the tool's peak memory against its bound of twice the file and 16 MB.
# Usage: scripts/benchmark.sh [TOOL [FOLDER [ROUNDS]]]
# The files live in FOLDER, by default a tmpfs when there is room, so that the figures are the
# programs' own and not the disk's. The programs run in turn, round after round (ROUNDS, 5 by
# default): each figure is the median of the rounds, each ratio the median of the rounds' ratios,
# and the spread is the lowest and highest of the rounds' ratios to the floor.
set -eu
cd "$(dirname "$0")/.."
tool=$(realpath "${1:-build/native/talvor-apply}")
[ -x "$tool" ] || { echo "build the native preset first: $tool is missing" >&2; exit 1; }
through=$(realpath build/native/bench/copy_through_memory)
[ -x "$through" ] || { echo "build the native preset first: $through is missing" >&2; exit 1; }

base=${2:-/dev/shm}
[ "$(df -Pk "$base" 2>/dev/null | awk 'NR==2 {print $4}')" -gt 1500000 ] 2>/dev/null || base=${TMPDIR:-/tmp}
rounds=${3:-5}
work=$(mktemp -d "$base/talvor-bench.XXXXXX")
# On a tmpfs a flush costs nothing and the floor is the copy alone.
on_disk=1
[ "$(stat -f -c %T "$work")" = tmpfs ] && on_disk=0
trap 'rm -rf "$work"' EXIT

# The two lines that the tool writes, as it writes them: from a tiny profile that it completes.
printf 'a\nb\nc\n<showraster>0</showraster>\n' >"$work/tiny.xml"
"$tool" "$work/tiny.xml" >/dev/null
raster=$(sed -n '4s/\r$//p' "$work/tiny.xml")
map=$(sed -n '5s/\r$//p' "$work/tiny.xml")

# usual BYTES: a usual profile of about BYTES bytes of UTF-8 with CR LF line breaks.
usual() {
  awk -v size="$1" 'BEGIN {
    printf "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<profile>\r\n  <display>\r\n"
    printf "    <mapfiles>old-1.cmr,old-2.cmr</mapfiles>\r\n        <showraster>0</showraster>\r\n"
    n = 0; total = 150
    while (total < size) {
      line = sprintf("    <waypoint id=\"%d\" lat=\"45.%06d\" lon=\"6.%06d\" name=\"Col n°%d\"/>", n, n * 7 % 1000000, n * 13 % 1000000, n)
      printf "%s\r\n", line; total += length(line) + 3; n++
    }
    printf "  </display>\r\n</profile>\r\n"
  }'
}

# long BYTES: the same with lines of about 4 KB, a track of points each.
long() {
  awk -v size="$1" 'BEGIN {
    printf "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<profile>\r\n  <display>\r\n"
    printf "    <mapfiles>old-1.cmr,old-2.cmr</mapfiles>\r\n        <showraster>0</showraster>\r\n"
    points = ""
    for (i = 0; i < 200; i++) points = points sprintf("45.%06d,6.%06d ", i * 7919 % 1000000, i * 104729 % 1000000)
    n = 0; total = 150
    while (total < size) {
      line = sprintf("    <track id=\"%d\" name=\"Tour n°%d\" points=\"%s\"/>", n, n, points)
      printf "%s\r\n", line; total += length(line) + 3; n++
    }
    printf "  </display>\r\n</profile>\r\n"
  }'
}

. scripts/repeat-bytes.sh

# shape NAME: writes the profile of that shape to $work/in.
shape() {
  case $1 in
    "1 MB UTF-8 CR LF") { printf '\357\273\277'; usual 1000000; } ;;
    "100 MB UTF-8 CR LF") { printf '\357\273\277'; usual 100000000; } ;;
    "100 MB UTF-8 LF") { printf '\357\273\277'; usual 100000000 | tr -d '\r'; } ;;
    "100 MB UTF-8 CR LF, 4 KB lines") { printf '\357\273\277'; long 100000000; } ;;
    "100 MB UTF-8 LF, 4 KB lines") { printf '\357\273\277'; long 100000000 | tr -d '\r'; } ;;
    "100 MB UTF-16 CR LF") { printf '\377\376'; usual 50000000 | iconv -f UTF-8 -t UTF-16LE; } ;;
    "100 MB UTF-16 LF") { printf '\377\376'; usual 50000000 | tr -d '\r' | iconv -f UTF-8 -t UTF-16LE; } ;;
    "100 MB of line breaks") repeat 100000000 '\n' ;;
    "one line of 100 MB")
      printf '<lx><mapfiles>a</mapfiles>'; repeat 10000000 'xxxxxxxxxx'; printf '<showraster>0</showraster></lx>' ;;
    "64 000 unclosed pairs") repeat 64000 '<mapfiles>a\n<showraster>0\n' ;;
    "40 000 two-line elements") repeat 20000 '<mapfiles>a,\nb</mapfiles>\n<showraster>\n0</showraster>\n' ;;
  esac >"$work/in"
}

# timed FILE COMMAND...: appends the command's wall time in seconds to FILE; its peak memory in KB
# goes to $work/peak. A command that fails, or takes more than five minutes, ends the benchmark:
# its time would say nothing.
timed() {
  out=$1; shift
  start=$(date +%s.%N)
  status=0
  /usr/bin/time -f "%M" -o "$work/peak" timeout -k 10 300 "$@" >/dev/null 2>"$work/errors" || status=$?
  end=$(date +%s.%N)
  if [ "$status" -ne 0 ]; then
    [ "$status" -eq 124 ] && echo "benchmark: $* took more than 300 s; stopped" >&2 ||
      echo "benchmark: $* failed (exit $status): $(head -c 300 "$work/errors")" >&2
    exit 1
  fi
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.5f\n", b - a }' >>"$out"
}

# median FILE: the median of the numbers in FILE, one a line.
median() {
  sort -g "$1" | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'
}

# measure: times the programs on $work/in, in turn for each round. Leaves one time a line in
# $work/tool.t, floor.t, replace.t, through.t, onto.t and sed.t, the rounds' ratios in
# tool_floor.t, tool_replace.t, tool_through.t and tool_sed.t, and the tool's largest peak memory
# in $work/tool_kb.
measure() {
  for f in tool floor replace through onto sed tool_floor tool_replace tool_through tool_sed; do
    : >"$work/$f.t"
  done
  echo 0 >"$work/tool_kb"
  round=0
  while [ "$round" -lt "$rounds" ]; do
    round=$((round + 1))
    cp "$work/in" "$work/run"
    timed "$work/tool.t" "$tool" "$work/run"
    kb=$(cat "$work/peak")
    [ "$kb" -le "$(cat "$work/tool_kb")" ] || echo "$kb" >"$work/tool_kb"
    rm -f "$work/new"
    : >"$work/one"
    timed "$work/one" cp "$work/in" "$work/new"
    [ "$on_disk" -eq 0 ] || timed "$work/one" sync "$work/new"
    awk '{ t += $1 } END { printf "%.5f\n", t }' "$work/one" >>"$work/floor.t"
    cp "$work/in" "$work/old"
    timed "$work/one" mv "$work/new" "$work/old"
    awk '{ t += $1 } END { printf "%.5f\n", t }' "$work/one" >>"$work/replace.t"
    rm -f "$work/old"
    cp "$work/in" "$work/through"
    timed "$work/through.t" "$through" "$work/through"
    rm -f "$work/through"
    cp "$work/in" "$work/new"
    timed "$work/onto.t" cp "$work/in" "$work/new"
    cp "$work/in" "$work/sed"
    timed "$work/sed.t" sed -i -e "s|^.*<mapfiles>.*\$|$map\r|" -e "s|^.*<showraster>.*\$|$raster\r|" "$work/sed"
    t=$(tail -n 1 "$work/tool.t"); f=$(tail -n 1 "$work/floor.t"); e=$(tail -n 1 "$work/sed.t")
    awk -v t="$t" -v f="$f" 'BEGIN { print t / f }' >>"$work/tool_floor.t"
    awk -v t="$t" -v f="$(tail -n 1 "$work/replace.t")" 'BEGIN { print t / f }' >>"$work/tool_replace.t"
    awk -v t="$t" -v f="$(tail -n 1 "$work/through.t")" 'BEGIN { print t / f }' >>"$work/tool_through.t"
    awk -v t="$t" -v e="$e" 'BEGIN { print t / e }' >>"$work/tool_sed.t"
  done
}

floor_name=$([ "$on_disk" -eq 0 ] && echo "cp_new" || echo "cp+sync")
echo "files in $work ($(stat -f -c %T "$work")), $rounds rounds, medians; load: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-30s %10s %10s %7s %7s %7s %7s %7s %7s %7s %11s %7s %7s %8s %7s %9s\n' profile bytes \
  written tool_s "$floor_name" "+mv" memory cp_onto sed_s tool/fl "spread" tool/mv tool/mem \
  tool/sed tool_MB bound_MB
for name in "1 MB UTF-8 CR LF" "100 MB UTF-8 CR LF" "100 MB UTF-8 LF" \
  "100 MB UTF-8 CR LF, 4 KB lines" "100 MB UTF-8 LF, 4 KB lines" "100 MB UTF-16 CR LF" \
  "100 MB UTF-16 LF" "100 MB of line breaks" "one line of 100 MB" "64 000 unclosed pairs" \
  "40 000 two-line elements"; do
  shape "$name"
  measure
  bytes=$(stat -c %s "$work/in")
  written=$(stat -c %s "$work/run")
  low=$(sort -g "$work/tool_floor.t" | head -n 1); high=$(sort -g "$work/tool_floor.t" | tail -n 1)
  awk -v n="$name" -v b="$bytes" -v w="$written" -v t="$(median "$work/tool.t")" \
    -v f="$(median "$work/floor.t")" -v m="$(median "$work/replace.t")" \
    -v h="$(median "$work/through.t")" -v rh="$(median "$work/tool_through.t")" \
    -v o="$(median "$work/onto.t")" -v s="$(median "$work/sed.t")" \
    -v r="$(median "$work/tool_floor.t")" -v lo="$low" -v hi="$high" \
    -v rm="$(median "$work/tool_replace.t")" \
    -v rs="$(median "$work/tool_sed.t")" -v k="$(cat "$work/tool_kb")" 'BEGIN {
    printf "%-30s %10d %10d %7.3f %7.3f %7.3f %7.3f %7.3f %7.3f %7.2f %5.2f-%5.2f %7.2f %7.2f %8.2f %7.1f %9.1f\n",
      n, b, w, t, f, m, h, o, s, r, lo, hi, rm, rh, rs, k / 1024, (2 * b / 1048576 + 16) }'
done
