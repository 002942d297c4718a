#!/usr/bin/env bash
# Applies the project's .clang-format to every tracked C++ source; with --check it changes
# nothing and fails when a file does not match.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--check" ]; then
  clang-format --dry-run -Werror "${files[@]}"
  echo "format: ${#files[@]} files match .clang-format"
else
  clang-format -i "${files[@]}"
fi
