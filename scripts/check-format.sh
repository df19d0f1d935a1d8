#!/usr/bin/env bash
# Fails when a C++ source of the repository differs from what clang-format makes of it with the
# committed .clang-format, and names the files that drift.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t sources < <(git ls-files '*.cpp' '*.hpp')
if ! clang-format --dry-run --Werror "${sources[@]}" 2>/tmp/kvtraj-format.log; then
  grep -o '^[^:]*\.[ch]pp' /tmp/kvtraj-format.log | sort -u >&2
  echo "clang-format: the files above drift from .clang-format (run clang-format -i on them)" >&2
  exit 1
fi
echo "clang-format: ${#sources[@]} files match .clang-format"
