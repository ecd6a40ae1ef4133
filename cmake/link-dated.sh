#!/bin/sh
# Usage: link-dated.sh DATE_FILE LINKER ARGUMENTS...
# Runs the link with SOURCE_DATE_EPOCH taken from DATE_FILE alone (see Reproducible.cmake): an
# empty or missing file lets the linker stamp the time of the link.
date_file=$1
shift
unset SOURCE_DATE_EPOCH
if [ -s "$date_file" ]; then
  SOURCE_DATE_EPOCH=$(cat "$date_file")
  export SOURCE_DATE_EPOCH
fi
exec "$@"
