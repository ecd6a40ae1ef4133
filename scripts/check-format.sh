#!/bin/sh
# Fails when a C or C++ file of the repository is not laid out as .clang-format says.
set -eu
cd "$(dirname "$0")/.."
git ls-files -co --exclude-standard -- '*.c' '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
echo "format: ok"
