#!/usr/bin/env bash
# The whole fault sweep: every N of every counted call, each error, and a spread sample of 200
# allocations per command, on a Release build (the sanitizers' runtime cannot sit under the
# injector), kvt-mpi on two ranks and the Python package included where they are built; then
# the interruptions at several moments of each command and two writers of one output at once.
# Takes a long while (run it with nice).
#   KVTRAJ_BUILD_DIR   build folder (default: build)
#   extra arguments go to sweep.py (e.g. --only 'compress-*' --malloc 0)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${KVTRAJ_BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
built() { grep -q "^$1:BOOL=ON" "$build/CMakeCache.txt"; }
targets=(kvt blobgrid blobcrd blobxyz blobpdb fault_inject)
extra=()
if built KVTRAJ_MPI; then
  targets+=(kvt-mpi)
  extra+=(--mpi "$build/apps/kvt-mpi/kvt-mpi")
fi
if built KVTRAJ_PYTHON; then
  targets+=(kvtraj_core)
  extra+=(--python "$build/python")
fi
cmake --build "$build" -j 2 --target "${targets[@]}"
/usr/bin/python3 tests/faults/sweep.py --preload "$build/tests/faults/libfault_inject.so" \
  --kvt "$build/apps/kvt/kvt" --tools "$build/tools" --data tests/data --sample 0 --malloc 200 \
  "${extra[@]}" "$@"
/usr/bin/python3 tests/faults/signals.py "$build/apps/kvt/kvt" data/sample.dcd --at 0.1,0.4,0.8 \
  --copies 300 \
  "${extra[@]}"
/usr/bin/python3 tests/faults/concurrent.py "$build/apps/kvt/kvt" tests/data --rounds 100
