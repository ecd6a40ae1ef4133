#!/bin/sh
# Checks that an image loads on Windows XP: every function that it imports must be in its DLL's
# list of exports in one of the FOLDERs (DLL.txt, one name a line; tests/xp-sp3-exports holds
# what 32-bit XP SP3 exports). A DLL without a list is refused, and so is a function imported by
# ordinal, whose number no list vouches for. Prints the imports of each DLL; names each wrong one.
# Usage: xp_exports_check.sh OBJDUMP IMAGE FOLDER...
set -eu
objdump=$1
image=$2
shift 2

imports=$(sh "$(dirname "$0")/image-imports.sh" "$objdump" "$image")
[ -n "$imports" ] || { echo "wrong: $image: no import found" >&2; exit 1; }

# Every list as lines "dll function", the DLL's name in lower case without ".dll".
lists() {
  for folder; do
    for list in "$folder"/*.txt; do
      sed "s/^/$(basename "$list" .txt) /" "$list"
    done
  done
}

# The lists come on standard input, the imports through the environment.
lists "$@" | IMPORTS=$imports awk '
  { exported[$1, $2] = 1; listed[$1] = 1 }
  END {
    count = split(ENVIRON["IMPORTS"], line, "\n")
    for (i = 1; i <= count; i++) {
      split(line[i], field, " ")
      dll = tolower(field[1])
      sub(/\.dll$/, "", dll)
      if (!(dll in seen)) order[++dlls] = field[1]
      seen[dll] = seen[dll] " " field[2]
      if (!(dll in listed))
        wrong[++n] = field[1] " " field[2] ": no list of what " field[1] " exports on Windows XP"
      else if (field[2] == "<none>")
        wrong[++n] = field[1] ": a function imported by ordinal, which no list vouches for"
      else if (!((dll, field[2]) in exported))
        wrong[++n] = field[1] " " field[2] ": Windows XP does not export it"
    }
    for (i = 1; i <= dlls; i++) {
      dll = tolower(order[i])
      sub(/\.dll$/, "", dll)
      print "imports from " order[i] ":" seen[dll]
    }
    for (i = 1; i <= n; i++) print "wrong: " wrong[i] > "/dev/stderr"
    exit (n > 0)
  }'
