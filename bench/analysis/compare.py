#!/usr/bin/python3
"""kvt project side by side with MDAnalysis's PCA.transform, and against its own parts.

Makes the synthetic trajectory of bench/kvt/compare.py (ATOMS atoms, FRAMES frames, moved along
collective modes with a random rigid motion per frame), compresses it into 10 vectors, then in
one run times:
  - project_bench: one decode of the DCD, the decode plus a fit per frame onto the average, and
    the projection on the 10 vectors (one and two threads), with the ratio of the projection to
    decode + fit (target <= 1.2);
  - in alternating rounds, kvt project of the whole DCD to a CSV file (two threads), with and
    without the fit, and MDAnalysis PCA.transform of the same frames on 10 components (which fits
    nothing), with the medians of the per-round ratios (target >= 5).
Usage: compare.py KVT PROJECT_BENCH [--atoms 1000] [--frames 5000] [--rounds 5] [--work DIR]
"""
import argparse
import json
import os
import runpy
import subprocess
import tempfile
import time

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))


def synthetic():
    """The functions of bench/kvt/compare.py, for its trajectory and input files."""
    return runpy.run_path(os.path.join(HERE, "..", "kvt", "compare.py"))


def bench_times(program, work):
    """Real and CPU time (s, all threads) of each benchmark of project_bench, by name."""
    report = os.path.join(work, "project_bench.json")
    subprocess.run([program, f"--benchmark_out={report}", "--benchmark_out_format=json",
                    "--benchmark_min_time=1"], check=True, stdout=subprocess.DEVNULL,
                   env={**os.environ, "KVTRAJ_BENCH_DIR": work})
    with open(report) as f:
        return {b["name"].split("/process_time")[0]: (b["real_time"] / 1e3, b["cpu_time"] / 1e3)
                for b in json.load(f)["benchmarks"]}


def mdanalysis_transform(pdb, dcd, components):
    """A function timing MDAnalysis PCA.transform of every frame on `components` components."""
    import MDAnalysis as mda
    from MDAnalysis.analysis import pca
    u = mda.Universe(pdb, dcd)
    fitted = pca.PCA(u, select="all", n_components=components).run(stop=2)

    def timed():
        start = time.perf_counter()
        out = fitted.transform(u.atoms, n_components=components)
        return time.perf_counter() - start, out.shape
    return timed


def timed_run(cmd):
    start = time.perf_counter()
    subprocess.run(cmd, check=True)
    return time.perf_counter() - start


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("kvt")
    ap.add_argument("project_bench")
    ap.add_argument("--atoms", type=int, default=1000)
    ap.add_argument("--frames", type=int, default=5000)
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--work")
    args = ap.parse_args()
    work = args.work or tempfile.mkdtemp(prefix="kvt-project-bench-")
    os.makedirs(work, exist_ok=True)
    kvt = os.path.abspath(args.kvt)

    dcd, kvtfile = os.path.join(work, "traj.dcd"), os.path.join(work, "traj.kvt")
    pdb = os.path.join(work, "synthetic.pdb")
    peers = synthetic()
    paths = peers["write_inputs"](peers["make_trajectory"](args.atoms, args.frames), work)
    os.replace(paths["dcd"], dcd)
    subprocess.run([kvt, "compress", "-i", dcd, "-o", kvtfile, "--vectors", "10", "--quiet"],
                   check=True, stdout=subprocess.DEVNULL)
    print(f"trajectory: {args.atoms} atoms x {args.frames} frames, "
          f"{os.path.getsize(dcd) / 2**20:.1f} MiB DCD, 10 vectors")

    t = bench_times(os.path.abspath(args.project_bench), work)
    parts = t["Decode/decode_and_fit"]
    for name, label in (("Decode/decode", "decode"), ("Decode/decode_and_fit", "decode + fit"),
                        ("Project/1", "project, 1 thread"), ("Project/2", "project, 2 threads")):
        real, cpu = t[name]
        print(f"{label:20s}{real:8.3f} s real {cpu:8.3f} s CPU", end="")
        if name == "Project/1":
            print(f"   ratio to decode + fit: real {real / parts[0]:5.2f}, CPU "
                  f"{cpu / parts[1]:5.2f} (target <= 1.2)", end="")
        print()

    # Alternating rounds, so that a change in the machine's speed touches every contender alike;
    # the medians of the per-round ratios are printed. MDAnalysis's transform fits nothing, so
    # kvt project --no-fit does the same work, and the default (a fit per frame) does more.
    csv = os.path.join(work, "p.csv")
    project = [kvt, "project", "-i", kvtfile, "-t", dcd, "-o", csv, "--quiet"]
    transform = mdanalysis_transform(pdb, dcd, 10)
    rounds = []
    for _ in range(args.rounds):
        t_nofit = timed_run(project + ["--no-fit"])
        t_fit = timed_run(project)
        t_mda, shape = transform()
        rounds.append((t_fit, t_nofit, t_mda))
    ours = np.loadtxt(csv, delimiter=",", skiprows=1)
    assert ours.shape == (shape[0], shape[1] + 1), (ours.shape, shape)
    median = lambda values: float(np.median(values))
    fit, nofit, mda = (median([r[i] for r in rounds]) for i in range(3))
    print(f"{args.rounds} alternating rounds (medians; whole processes for kvt):")
    print(f"kvt project (CLI, fit)     {fit:8.3f} s   MDAnalysis / kvt "
          f"{median([r[2] / r[0] for r in rounds]):6.2f}")
    print(f"kvt project --no-fit (CLI) {nofit:8.3f} s   MDAnalysis / kvt "
          f"{median([r[2] / r[1] for r in rounds]):6.2f}   (the same work as transform)")
    print(f"MDAnalysis transform       {mda:8.3f} s   (target: kvt >= 5x faster)")


if __name__ == "__main__":
    main()
