#!/bin/sh
# Fails when a C++ file of the repository is not laid out as .clang-format says.
set -eu
cd "$(dirname "$0")/.."
git ls-files -co --exclude-standard -- '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
echo "format: ok"
