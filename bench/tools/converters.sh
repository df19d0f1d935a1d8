#!/usr/bin/env bash
# Throughput of the node-trajectory converters next to `wc -l` on the same input, in one run.
#   bench/tools/converters.sh [BUILD_DIR] [MEGABYTES]
# Generates two node trajectories of about MEGABYTES each under /tmp (with the state line that
# blobcrd reads, and without it for blobpdb and blobxyz), converts each once per round and keeps
# the best of three rounds. Prints MB/s and how many times slower than `wc -l` each program is.
set -euo pipefail
build=${1:-build}
megabytes=${2:-120}
tools="$build/tools"
for program in blobcrd blobpdb blobxyz; do
  [[ -x "$tools/$program" ]] || { echo "missing $tools/$program (build it first)" >&2; exit 1; }
done
work=$(mktemp -d /tmp/kvtraj-bench-tools-XXXXXX)
trap 'rm -rf "$work"' EXIT

# One record: 1000 nodes of ten reals (positions of about a micrometre, as the simulation
# writes them); about 133 kB.
nodes=1000
records=$(( megabytes * 1000000 / (nodes * 133) + 1 ))
generate() {  # $1 = 1 with state lines
  awk -v records="$records" -v nodes="$nodes" -v state="$1" 'BEGIN {
    srand(7)
    for (r = 1; r <= records; ++r) {
      printf "*\nBlob %d, step %d\n", r % 3, 100 * r
      if (state) print "DYNAMIC"
      print nodes
      for (n = 0; n < nodes; ++n)
        printf "%.6e %.6e %.6e %.6e %.6e %.6e %.6e %.6e %.6e %.6e\n",
               rand() * 1e-6, rand() * 1e-6, rand() * 1e-6, rand() - 0.5, rand() - 0.5,
               rand() - 0.5, rand(), rand(), rand(), rand()
    }
  }'
}
generate 1 > "$work/state.txt"
generate 0 > "$work/plain.txt"

seconds_of() {  # best wall time of three runs of "$@"
  local best="" start end t
  for _ in 1 2 3; do
    start=$(date +%s.%N)
    "$@" > /dev/null
    end=$(date +%s.%N)
    t=$(echo "$end - $start" | bc -l)
    if [[ -z "$best" ]] || (( $(echo "$t < $best" | bc -l) )); then best=$t; fi
  done
  echo "$best"
}
size_mb() { echo "scale=3; $(stat -c %s "$1") / 1000000" | bc -l; }

cat "$work/state.txt" "$work/plain.txt" > /dev/null  # into the page cache
printf '%-10s %-10s %9s %9s %9s %12s\n' program input MB seconds MB/s "x wc -l"
report() {  # $1 program label, $2 input, $3 seconds, $4 wc seconds
  local mb
  mb=$(size_mb "$2")
  printf '%-10s %-10s %9.1f %9.3f %9.1f %12.1f\n' "$1" "$(basename "$2")" "$mb" "$3" \
    "$(echo "$mb / $3" | bc -l)" "$(echo "$3 / $4" | bc -l)"
}
for input in state plain; do
  wc_seconds=$(seconds_of wc -l "$work/$input.txt")
  report "wc -l" "$work/$input.txt" "$wc_seconds" "$wc_seconds"
  if [[ $input == state ]]; then programs=(blobcrd); else programs=(blobpdb blobxyz); fi
  for program in "${programs[@]}"; do
    t=$(seconds_of "$tools/$program" "$work/$input.txt" "$work/out")
    report "$program" "$work/$input.txt" "$t" "$wc_seconds"
  done
done
