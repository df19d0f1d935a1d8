#!/usr/bin/python3
"""kvt select side by side with MDAnalysis on a topology of over a million atoms.

Makes, once, a solvated system from the shared peptide with GROMACS (pdb2gmx, editconf,
solvate: about 7,000 atoms) and replicates it 5 x 5 x 6 times with gmx genconf into big.gro
(1,060,050 atoms). Then, in one run, alternating the two sides and keeping the fastest of each:
  - `kvt select --top big.gro "protein and name CA"` (process start, reading, selecting,
    printing) against MDAnalysis Universe("big.gro") plus select_atoms of the same text;
  - the selection alone, ours (selection_bench, the file read beforehand) against
    Universe.select_atoms on the loaded Universe, for a few texts, in CPU time (the wall time
    of a few milliseconds suffers most from other processes on a shared machine).
Both sides must select the same atoms. Prints the times and the ratios.
Usage: selection_compare.py BUILD_DIR [--work DIR] [--rounds N]
"""
import argparse
import json
import os
import subprocess
import sys
import time
import warnings

HERE = os.path.dirname(os.path.abspath(__file__))
PEPTIDE = os.path.join(HERE, "..", "..", "tests", "data", "peptide.pdb")
TEXTS = {
    "protein_and_name_CA": "protein and name CA",
    "not_resname_SOL": "not resname SOL",
    "water_oxygens_in_range": "resname SOL and name O* and resid 100:20000",
    "backbone_or_heavy_atoms_by_mass": "backbone or mass 12 to 16",
}


def gmx(*args, stdin=None):
    subprocess.run(["gmx", "-quiet", *args], check=True, input=stdin, text=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_system(work):
    big = os.path.join(work, "big.gro")
    if os.path.exists(big):
        return big
    step = lambda name: os.path.join(work, name)  # noqa: E731
    gmx("pdb2gmx", "-f", PEPTIDE, "-o", step("pep.gro"), "-p", step("topol.top"), "-i",
        step("posre.itp"), "-ff", "amber99sb-ildn", "-water", "tip3p", "-ignh")
    gmx("editconf", "-f", step("pep.gro"), "-o", step("box.gro"), "-bt", "cubic", "-d", "1.0")
    gmx("solvate", "-cp", step("box.gro"), "-cs", "spc216.gro", "-o", step("solv.gro"))
    gmx("genconf", "-f", step("solv.gro"), "-o", big, "-nbox", "5", "5", "6")
    return big


def kvt_select(kvt, big, text):
    start = time.perf_counter()
    out = subprocess.run([kvt, "select", "--top", big, text], check=True,
                         stdout=subprocess.PIPE, text=True).stdout
    return time.perf_counter() - start, [int(n) - 1 for n in out.split()]


def mda_select(mda, big, text):
    start = time.perf_counter()
    u = mda.Universe(big)
    atoms = u.select_atoms(text).indices.tolist()
    return time.perf_counter() - start, atoms, u


def ours_selection_alone(build, big):
    env = dict(os.environ, KVTRAJ_BENCH_TOPOLOGY=big)
    out = subprocess.run([os.path.join(build, "bench", "topology", "selection_bench"),
                          "--benchmark_format=json", "--benchmark_repetitions=5",
                          "--benchmark_report_aggregates_only=false"], env=env, check=True,
                         stdout=subprocess.PIPE, text=True).stdout
    best = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("run_type") != "iteration":
            continue
        key = b["name"].removeprefix("BM_select/").split("/")[0]
        ms = b["cpu_time"] * {"ns": 1e-6, "us": 1e-3, "ms": 1.0}[b["time_unit"]]
        best[key] = (min(ms, best.get(key, (ms,))[0]), int(b["selected"]))
    return best


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build")
    parser.add_argument("--work", default=os.environ.get("TMPDIR", "/work/bench-data"))
    parser.add_argument("--rounds", type=int, default=2)
    args = parser.parse_args()
    warnings.filterwarnings("ignore")
    import MDAnalysis as mda

    os.makedirs(args.work, exist_ok=True)
    kvt = os.path.join(args.build, "apps", "kvt", "kvt")
    big = make_system(args.work)
    text = TEXTS["protein_and_name_CA"]

    ours, theirs, universe = float("inf"), float("inf"), None
    for _ in range(args.rounds):
        t, kvt_atoms = kvt_select(kvt, big, text)
        ours = min(ours, t)
        t, mda_atoms, universe = mda_select(mda, big, text)
        theirs = min(theirs, t)
        if kvt_atoms != mda_atoms:
            sys.exit(f"different atoms for {text!r}: kvt {len(kvt_atoms)}, MDAnalysis "
                     f"{len(mda_atoms)}")
    print(f"{universe.atoms.n_atoms} atoms; {len(kvt_atoms)} selected by {text!r} on both sides")
    print(f"read + select: kvt select {ours:.3f} s, MDAnalysis Universe + select_atoms "
          f"{theirs:.3f} s, ratio {theirs / ours:.1f}x (best of {args.rounds})")

    alone = ours_selection_alone(args.build, big)
    print(f"{'selection alone (CPU time, best of 5)':<48} {'ours ms':>9} {'MDAnalysis ms':>14} "
          f"{'ratio':>7}")
    for key, sel in TEXTS.items():
        times = []
        for _ in range(5):
            start = time.process_time()
            count = universe.select_atoms(sel).n_atoms
            times.append(time.process_time() - start)
        ms, selected = alone[key]
        if selected != count:
            sys.exit(f"different counts for {sel!r}: ours {selected}, MDAnalysis {count}")
        print(f"{sel!r:<48} {ms:9.2f} {1e3 * min(times):14.2f} {1e3 * min(times) / ms:6.1f}x")


if __name__ == "__main__":
    main()
