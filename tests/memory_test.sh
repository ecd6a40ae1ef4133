#!/bin/sh
# The tool's peak memory stays within twice the profile's size and 16 MB, whatever the shape of
# the profile: a usual one, one of nothing but line breaks, one huge line, tens of thousands of
# elements, and a profile written in place. Usage: memory_test.sh TOOL
set -eu
tool=$1
base=/dev/shm
[ -d "$base" ] && [ -w "$base" ] || base=${TMPDIR:-/tmp}
work=$(mktemp -d "$base/talvor-memory.XXXXXX")
trap 'rm -rf "$work"' EXIT

. "$(dirname "$0")/../scripts/repeat-bytes.sh"

failed=0
# check NAME: rewrites $work/p.xml and compares the tool's peak memory with the bound.
check() {
  size=$(stat -c %s "$work/p.xml")
  /usr/bin/time -f %M -o "$work/peak" "$tool" "$work/p.xml" >/dev/null
  peak_kb=$(cat "$work/peak")
  bound_kb=$((size / 512 + 16384))
  if [ "$peak_kb" -le "$bound_kb" ]; then verdict=ok; else verdict=FAILED; failed=1; fi
  printf '%-28s %10d bytes: peak %7d KB, bound %7d KB %s\n' "$1" "$size" "$peak_kb" "$bound_kb" \
    "$verdict"
}

{ printf '\357\273\277<lx>\r\n<mapfiles>a</mapfiles>\r\n<showraster>0</showraster>\r\n'
  repeat 500000 '    <waypoint id="1" lat="45.0" lon="6.0" name="Col"/>\r\n'; } >"$work/p.xml"
check "usual profile"

# A profile with a second name is written in place: its new content, every line given a CR, is
# held in memory meanwhile.
{ printf '<lx>\n<mapfiles>a</mapfiles>\n<showraster>0</showraster>\n'
  repeat 1000000 '    <waypoint id="1" lat="45.0" lon="6.0"/>\n'; } >"$work/p.xml"
ln "$work/p.xml" "$work/other.xml"
check "LF profile, in place"
rm "$work/other.xml"

repeat 40000000 '\n' >"$work/p.xml"
check "line breaks only"

{ printf '<lx><mapfiles>a</mapfiles>'; repeat 4000000 'xxxxxxxxxx'; printf '<showraster>0</showraster>'; } \
  >"$work/p.xml"
check "one huge line"

repeat 64000 '<mapfiles>a\n<showraster>0\n' >"$work/p.xml"
check "64 000 unclosed pairs"

repeat 20000 '<mapfiles>a,\nb</mapfiles>\n<showraster>\n0</showraster>\n' >"$work/p.xml"
check "40 000 two-line elements"

{ printf '\377\376'; repeat 4000000 '<\000a\000>\000\r\000\n\000'; } >"$work/p.xml"
check "UTF-16, short lines"

exit $failed
