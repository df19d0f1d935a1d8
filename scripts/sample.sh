#!/usr/bin/env bash
# The main job on the bundled sample: builds kvt, compresses data/sample.dcd (500 frames of a
# 200-atom peptide) into out/sample.kvt and describes the result.
#   KVTRAJ_BUILD_DIR   build folder (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
build=${KVTRAJ_BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$(nproc)" --target kvt
mkdir -p out
"$build/apps/kvt/kvt" compress -i data/sample.dcd -o out/sample.kvt
"$build/apps/kvt/kvt" info out/sample.kvt
