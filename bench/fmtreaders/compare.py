#!/usr/bin/python3
"""Side-by-side timings of the trajectory readers against MDTraj and MDAnalysis.

Runs fmtreaders_bench and trajsrc_bench of a build directory on the shared peptide run (DCD,
binpos, AMBER mdcrd; 250 frames of 200 atoms) or on the files of KVTRAJ_BENCH_DIR
(traj.dcd, traj.binpos, traj.mdcrd, and traj.pdb for the peers' topology), times the peers'
readers on the same files, and prints the ratios.

usage: bench/fmtreaders/compare.py BUILD_DIR
Needs Debian's python3-mdtraj and python3-mdanalysis (hence /usr/bin/python3).
"""
import json
import os
import subprocess
import sys
import tempfile
import time

if len(sys.argv) != 2:
    sys.exit(__doc__)
BUILD = sys.argv[1]
HERE = os.path.dirname(os.path.abspath(__file__))
SHARED = os.path.join(HERE, "..", "..", "..", "shared", "data")


def inputs():
    directory = os.environ.get("KVTRAJ_BENCH_DIR")
    if directory:
        return directory, os.path.join(directory, "traj.pdb")
    directory = tempfile.mkdtemp(prefix="kvtraj-readers-")
    for ext in ("dcd", "binpos", "mdcrd"):
        os.symlink(os.path.join(SHARED, "peptide." + ext), os.path.join(directory, "traj." + ext))
    return directory, os.path.join(SHARED, "peptide.pdb")


def run_benchmark(program, directory):
    out = os.path.join(directory, "result.json")
    subprocess.run([os.path.join(BUILD, program), "--benchmark_min_time=0.5",
                    "--benchmark_repetitions=5", "--benchmark_report_aggregates_only=true",
                    "--benchmark_out=" + out, "--benchmark_out_format=json"],
                   env=dict(os.environ, KVTRAJ_BENCH_DIR=directory), check=True,
                   stdout=subprocess.DEVNULL)
    with open(out) as f:
        results = json.load(f)["benchmarks"]
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
    return {b["run_name"]: b["real_time"] * scale[b["time_unit"]]
            for b in results if b.get("aggregate_name") == "median"}


def best_of(function, repeats=15):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        function()
        times.append(time.perf_counter() - start)
    return min(times)


def main():
    directory, pdb = inputs()
    path = {ext: os.path.join(directory, "traj." + ext) for ext in ("dcd", "binpos", "mdcrd")}
    ours = run_benchmark("bench/fmtreaders/fmtreaders_bench", directory)
    ours.update(run_benchmark("bench/trajsrc/trajsrc_bench", directory))

    import mdtraj
    import MDAnalysis.coordinates.DCD as mda_dcd
    top = mdtraj.load_topology(pdb)

    def mda_read():
        reader = mda_dcd.DCDReader(path["dcd"])
        for ts in reader:
            ts.positions.sum()
        reader.close()

    peers = {
        "dcd": [("MDTraj load_dcd", lambda: mdtraj.load_dcd(path["dcd"], top=top)),
                ("MDAnalysis DCDReader", mda_read)],
        "binpos": [("MDTraj load_binpos", lambda: mdtraj.load_binpos(path["binpos"], top=top))],
        "mdcrd": [("MDTraj load_mdcrd", lambda: mdtraj.load_mdcrd(path["mdcrd"], top=top))],
    }
    print(f"{'reading the whole file':34} {'ours ms':>9} {'other ms':>9} {'speed ratio':>12}")
    for ext, rows in peers.items():
        mine = ours[f"AllFrames/{ext}"]
        plain = ours[f"PlainRead/{ext}"]
        print(f"{ext + ' vs plain sequential read':34} {mine * 1e3:9.3f} {plain * 1e3:9.3f} "
              f"{plain / mine:11.2f}x")
        for name, function in rows:
            theirs = best_of(function)
            print(f"{ext + ' vs ' + name:34} {mine * 1e3:9.3f} {theirs * 1e3:9.3f} "
                  f"{theirs / mine:11.2f}x")
    in_order = ours["Snapshots/dcd_in_order"]
    shuffled = ours["Snapshots/dcd_shuffled"]
    print(f"{'xsnap shuffled vs in order (dcd)':34} {shuffled * 1e3:9.3f} {in_order * 1e3:9.3f} "
          f"{shuffled / in_order:11.2f}x cost")


main()
