#!/usr/bin/env bash
# Builds the libFuzzer targets with clang 14 (address + undefined sanitizers) and runs each one
# over its committed corpus and regression inputs. With SECONDS_PER_TARGET > 0 each target then
# fuzzes for that long, growing its corpus in build-fuzz/corpus/<target>.
#   usage: scripts/fuzz.sh [SECONDS_PER_TARGET]
set -euo pipefail
cd "$(dirname "$0")/.."
KVTRAJ_WITH_FUZZ=1 scripts/deps.sh
seconds=${1:-0}
build=build-fuzz
CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKVTRAJ_BUILD_FUZZ=ON \
  -DKVTRAJ_BUILD_TESTS=OFF -DKVTRAJ_BUILD_BENCH=OFF >/dev/null
targets=$(cd fuzz/corpus && ls -d fuzz_*)
# shellcheck disable=SC2086
cmake --build "$build" -j "$(nproc)" --target $targets
for t in $targets; do
  [ -n "$(ls -A fuzz/corpus/"$t")" ] || { echo "$t: the corpus is empty" >&2; exit 1; }
  inputs=(fuzz/corpus/"$t")
  [ -d fuzz/regressions/"$t" ] && inputs+=(fuzz/regressions/"$t")
  "$build/fuzz/$t" -runs=0 "${inputs[@]}" 2>"$build/$t.replay.log" ||
    { cat "$build/$t.replay.log"; echo "$t: replay failed" >&2; exit 1; }
  echo "$t: every input ran: $(grep -ho 'INITED.*' "$build/$t.replay.log" | head -n 1)"
  if [ "$seconds" -gt 0 ]; then
    mkdir -p "$build/corpus/$t"
    "$build/fuzz/$t" "$build/corpus/$t" "${inputs[@]}" -max_total_time="$seconds" -timeout=1 \
      -rss_limit_mb=2048 -malloc_limit_mb=2048 -artifact_prefix="$build/$t-" -print_final_stats=1
  fi
done
