#!/bin/sh
# The main job on the sample profiles of examples/profiles: builds the tool, copies the profiles
# to build/run/profiles and rewrites each copy, showing what changed.
set -eu
cd "$(dirname "$0")/.."
if [ "$(id -u)" -eq 0 ]; then scripts/setup.sh >/dev/null; fi
cmake --preset native >/dev/null
cmake --build --preset native --target talvor-apply >/dev/null
rm -rf build/run/profiles
mkdir -p build/run
cp -r examples/profiles build/run/profiles
for profile in build/run/profiles/*.xml; do
  build/native/talvor-apply "$profile"
done
echo "rewritten copies are in build/run/profiles; the originals in examples/profiles"
