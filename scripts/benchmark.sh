#!/bin/sh
# Times talvor-apply on profiles of every shape against cp of the same file onto an existing copy
# (the floor of reading and writing it) and sed -i doing the same two substitutions, and prints
# the bytes the tool wrote, the ratios and the tool's peak memory against its bound of twice the
# file and 16 MB.
# Usage: scripts/benchmark.sh [TOOL]
# The files live in a tmpfs when there is room, so that the figures are the programs' own and not
# the disk's (the tool's fsync costs nothing there); each time is the best of five runs.
set -eu
cd "$(dirname "$0")/.."
tool=$(realpath "${1:-build/native/talvor-apply}")
[ -x "$tool" ] || { echo "build the native preset first: $tool is missing" >&2; exit 1; }

base=/dev/shm
[ "$(df -Pk "$base" 2>/dev/null | awk 'NR==2 {print $4}')" -gt 1500000 ] 2>/dev/null || base=${TMPDIR:-/tmp}
work=$(mktemp -d "$base/talvor-bench.XXXXXX")
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

. scripts/repeat-bytes.sh

# shape NAME: writes the profile of that shape to $work/in.
shape() {
  case $1 in
    "1 MB UTF-8 CR LF") { printf '\357\273\277'; usual 1000000; } ;;
    "100 MB UTF-8 CR LF") { printf '\357\273\277'; usual 100000000; } ;;
    "100 MB UTF-8 LF") { printf '\357\273\277'; usual 100000000 | tr -d '\r'; } ;;
    "100 MB UTF-16 CR LF") { printf '\377\376'; usual 50000000 | iconv -f UTF-8 -t UTF-16LE; } ;;
    "100 MB UTF-16 LF") { printf '\377\376'; usual 50000000 | tr -d '\r' | iconv -f UTF-8 -t UTF-16LE; } ;;
    "100 MB of line breaks") repeat 100000000 '\n' ;;
    "one line of 100 MB")
      printf '<lx><mapfiles>a</mapfiles>'; repeat 10000000 'xxxxxxxxxx'; printf '<showraster>0</showraster></lx>' ;;
    "64 000 unclosed pairs") repeat 64000 '<mapfiles>a\n<showraster>0\n' ;;
    "40 000 two-line elements") repeat 20000 '<mapfiles>a,\nb</mapfiles>\n<showraster>\n0</showraster>\n' ;;
  esac >"$work/in"
}

# best COMMAND...: the best wall time of five runs, in seconds, and that run's peak memory in KB.
# Each run replaces the content of an existing file: the tool and sed that of run, cp that of copy.
best() {
  best=""; mem=""
  for _ in 1 2 3 4 5; do
    cp "$work/in" "$work/run"
    cp "$work/in" "$work/copy"
    start=$(date +%s.%N)
    /usr/bin/time -f "%M" -o "$work/t" "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    t=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", b - a }')
    read -r m <"$work/t"
    if [ -z "$best" ] || awk "BEGIN{exit !($t < $best)}"; then best=$t; mem=$m; fi
  done
  echo "$best $mem"
}

printf '%-26s %10s %10s %7s %7s %7s %7s %8s %7s %9s\n' profile bytes written tool_s cp_s sed_s \
  tool/cp tool/sed tool_MB bound_MB
for name in "1 MB UTF-8 CR LF" "100 MB UTF-8 CR LF" "100 MB UTF-8 LF" "100 MB UTF-16 CR LF" \
  "100 MB UTF-16 LF" "100 MB of line breaks" "one line of 100 MB" "64 000 unclosed pairs" \
  "40 000 two-line elements"; do
  shape "$name"
  bytes=$(stat -c %s "$work/in")
  set -- $(best "$tool" "$work/run"); tool_s=$1; tool_kb=$2
  written=$(stat -c %s "$work/run")
  set -- $(best cp "$work/run" "$work/copy"); cp_s=$1
  set -- $(best sed -i -e "s|^.*<mapfiles>.*\$|$map\r|" -e "s|^.*<showraster>.*\$|$raster\r|" "$work/run"); sed_s=$1
  awk -v n="$name" -v b="$bytes" -v w="$written" -v t="$tool_s" -v c="$cp_s" -v s="$sed_s" \
    -v k="$tool_kb" 'BEGIN {
    printf "%-26s %10d %10d %7.3f %7.3f %7.3f %7.2f %8.2f %7.1f %9.1f\n", n, b, w, t, c, s,
      (c > 0 ? t / c : 0), (s > 0 ? t / s : 0), k / 1024, (2 * b / 1048576 + 16) }'
done
