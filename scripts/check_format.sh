#!/usr/bin/env bash
# check_format.sh — fails when a tracked C++ file differs from what
# clang-format makes of it; `clang-format -i FILE` mends one.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror
echo "format: $(git ls-files '*.cpp' '*.h' | wc -l) files as clang-format makes them"
