"""What the reader comparisons share: running one of our Google Benchmark programs on a
directory of inputs and timing a peer's function in the same run."""
import json
import os
import subprocess
import time

_SECONDS_PER_UNIT = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


def run_benchmark(program, directory, min_time, repetitions):
    """Runs `program` with KVTRAJ_BENCH_DIR=directory; its median rows by run name."""
    out = os.path.join(directory, "result.json")
    subprocess.run([program, f"--benchmark_min_time={min_time}",
                    f"--benchmark_repetitions={repetitions}",
                    "--benchmark_report_aggregates_only=true", "--benchmark_out=" + out,
                    "--benchmark_out_format=json"],
                   env=dict(os.environ, KVTRAJ_BENCH_DIR=directory), check=True,
                   stdout=subprocess.DEVNULL)
    with open(out) as f:
        results = json.load(f)["benchmarks"]
    return {b["run_name"]: b for b in results if b.get("aggregate_name") == "median"}


def seconds(rows):
    """The real time of each row in seconds."""
    return {name: b["real_time"] * _SECONDS_PER_UNIT[b["time_unit"]] for name, b in rows.items()}


def best_of(function, repeats):
    """The shortest of `repeats` timed calls of `function`, in seconds."""
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        function()
        times.append(time.perf_counter() - start)
    return min(times)
