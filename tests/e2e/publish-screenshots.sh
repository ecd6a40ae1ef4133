#!/bin/sh
# Turns the screenshots that the scenarios saved (Windows bitmaps) into PNG files, and copies them
# into the repository's folder when TALVOR_UPDATE_SCREENSHOTS=1.
# Usage: publish-screenshots.sh SCREENSHOTS-DIR REPOSITORY-DIR
set -eu
shots=$1
docs=$2

made=""
for bmp in "$shots"/*.bmp; do
  [ -e "$bmp" ] || continue
  png="${bmp%.bmp}.png"
  convert "$bmp" "$png"
  rm -f "$bmp"
  made="$made $png"
done

if [ "${TALVOR_UPDATE_SCREENSHOTS:-0}" = 1 ] && [ -n "$made" ]; then
  mkdir -p "$docs"
  # shellcheck disable=SC2086
  cp $made "$docs"/
  echo "copied to $docs:$made"
fi
