#!/bin/sh
# Prints the import table of a PE image as lines "DLL FUNCTION", in the table's order; a function
# imported by ordinal shows as "DLL <none>". Shared by the image checks.
# Usage: image-imports.sh OBJDUMP IMAGE
set -euf
"$1" -p "$2" | awk '
  /^\tDLL Name: / { dll = $3; next }
  /^$/ { dll = "" }
  dll != "" && /^\t[0-9a-f]+\t/ { print dll, ($3 == "" ? "<none>" : $3) }'
