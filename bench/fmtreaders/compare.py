#!/usr/bin/python3
"""Side-by-side timings of the trajectory readers against MDTraj and MDAnalysis.

Runs fmtreaders_bench and trajsrc_bench of a build directory on the shared peptide run (DCD,
binpos, AMBER mdcrd; 250 frames of 200 atoms) or on the files of KVTRAJ_BENCH_DIR
(traj.dcd, traj.binpos, traj.mdcrd, and traj.pdb for the peers' topology), times the peers'
readers on the same files, and prints the ratios.

usage: bench/fmtreaders/compare.py BUILD_DIR
Needs Debian's python3-mdtraj and python3-mdanalysis (hence /usr/bin/python3).
"""
import os
import sys
import tempfile

from common import best_of, run_benchmark, seconds

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


def main():
    directory, pdb = inputs()
    path = {ext: os.path.join(directory, "traj." + ext) for ext in ("dcd", "binpos", "mdcrd")}
    ours = {}
    for program in ("bench/fmtreaders/fmtreaders_bench", "bench/trajsrc/trajsrc_bench"):
        ours.update(seconds(run_benchmark(os.path.join(BUILD, program), directory, 0.5, 5)))

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
            theirs = best_of(function, 15)
            print(f"{ext + ' vs ' + name:34} {mine * 1e3:9.3f} {theirs * 1e3:9.3f} "
                  f"{theirs / mine:11.2f}x")
    in_order = ours["Snapshots/dcd_in_order"]
    shuffled = ours["Snapshots/dcd_shuffled"]
    print(f"{'xsnap shuffled vs in order (dcd)':34} {shuffled * 1e3:9.3f} {in_order * 1e3:9.3f} "
          f"{shuffled / in_order:11.2f}x cost")


main()
