#!/bin/sh
# Times talvor-apply on generated profiles of 1 MB and 100 MB (UTF-8 and UTF-16 LE) against
# cp of the same file (the I/O floor) and sed -i doing the same two substitutions, and prints
# the ratios and the tool's peak memory. Usage: scripts/benchmark.sh [TOOL]
# The files live in a tmpfs when there is room, so that the figures are the programs' own
# and not the disk's.
set -eu
cd "$(dirname "$0")/.."
tool=$(realpath "${1:-build/native/talvor-apply}")
[ -x "$tool" ] || { echo "build the native preset first: $tool is missing" >&2; exit 1; }

base=/dev/shm
[ "$(df -Pk "$base" 2>/dev/null | awk 'NR==2 {print $4}')" -gt 700000 ] 2>/dev/null || base=${TMPDIR:-/tmp}
work=$(mktemp -d "$base/talvor-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

map=$(sed -n 's/^inline constexpr TextView MapFilesLine =$//p' MapInstaller/ProfileRewrite.h >/dev/null; \
  awk '/MapFilesLine =/{f=1;next} f{gsub(/^ *u"|";?$|"$/,""); s=s $0} /<\/mapfiles>/{if(f){print s; exit}}' \
  MapInstaller/ProfileRewrite.h)

# generate SIZE_MB FILE: a profile of about SIZE_MB megabytes with CR LF line breaks.
generate() {
  awk -v size="$(($1 * 1048576))" 'BEGIN {
    printf "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<profile>\r\n  <display>\r\n"
    printf "    <mapfiles>old-1.cmr,old-2.cmr</mapfiles>\r\n        <showraster>0</showraster>\r\n"
    n = 0; total = 150
    while (total < size) {
      line = sprintf("    <waypoint id=\"%d\" lat=\"45.%06d\" lon=\"6.%06d\" name=\"Col n°%d\"/>", n, n * 7 % 1000000, n * 13 % 1000000, n)
      printf "%s\r\n", line; total += length(line) + 3; n++
    }
    printf "  </display>\r\n</profile>\r\n"
  }' >"$2"
}

# best3 COMMAND...: the best wall time of three runs, in seconds, and that run's peak memory in KB.
best3() {
  best=""; mem=""
  for _ in 1 2 3; do
    cp "$work/in" "$work/run"
    start=$(date +%s.%N)
    /usr/bin/time -f "%M" -o "$work/t" "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    t=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", b - a }')
    read -r m <"$work/t"
    if [ -z "$best" ] || awk "BEGIN{exit !($t < $best)}"; then best=$t; mem=$m; fi
  done
  echo "$best $mem"
}

printf '%-16s %10s %8s %8s %8s %8s %9s %8s %9s\n' profile bytes tool_s cp_s sed_s tool/cp tool/sed tool_MB mem/size
for size in 1 100; do
  for enc in utf8 utf16le; do
    generate "$size" "$work/gen"
    if [ "$enc" = utf16le ]; then
      { printf '\377\376'; iconv -f UTF-8 -t UTF-16LE "$work/gen"; } >"$work/in"
    else
      { printf '\357\273\277'; cat "$work/gen"; } >"$work/in"
    fi
    bytes=$(stat -c %s "$work/in")
    set -- $(best3 "$tool" "$work/run"); tool_s=$1; tool_kb=$2
    set -- $(best3 cp "$work/run" "$work/copy"); cp_s=$1
    set -- $(best3 sed -i -e "s|^.*<mapfiles>.*\$|$map\r|" -e 's|^.*<showraster>.*$|        <showraster>1</showraster>\r|' "$work/run"); sed_s=$1
    awk -v n="$size MB $enc" -v b="$bytes" -v t="$tool_s" -v c="$cp_s" -v s="$sed_s" -v k="$tool_kb" 'BEGIN {
      printf "%-16s %10d %8.3f %8.3f %8.3f %8.2f %9.2f %8.1f %9.2f\n", n, b, t, c, s,
        (c > 0 ? t / c : 0), (s > 0 ? t / s : 0), k / 1024, k * 1024 / b }'
  done
done
