#!/usr/bin/env bash
# Builds kvtraj and runs the whole test suite.
#   KVTRAJ_BUILD_DIR   build folder (default: build)
#   KVTRAJ_CMAKE_ARGS  extra CMake arguments, e.g. -DKVTRAJ_SANITIZE=ON
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
build=${KVTRAJ_BUILD_DIR:-build}
jobs=$(nproc)
# shellcheck disable=SC2086
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release ${KVTRAJ_CMAKE_ARGS:-} >/dev/null
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" --output-on-failure -j "$jobs"
