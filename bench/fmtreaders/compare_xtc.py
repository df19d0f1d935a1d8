#!/usr/bin/python3
"""Side-by-side XTC timings: our decoder and encoder against MDTraj's (its C xdrfile code),
and `kvt compress` of an XTC file against the same run from the equivalent DCD.

Writes (once, into WORK_DIR) a trajectory of 5,000 atoms x 2,000 frames: 25 copies of the
peptide of data/sample.dcd on a grid, each cycling through its 500 frames from its own start,
saved by MDTraj as traj.xtc and traj.dcd. Runs xtc_bench of a build directory on it, times
MDTraj on the same file in the same run and prints the ratios (above 1: ours is faster).

usage: bench/fmtreaders/compare_xtc.py BUILD_DIR [WORK_DIR]
Needs Debian's python3-mdtraj (hence /usr/bin/python3).
"""
import os
import subprocess
import sys

import mdtraj as md
import numpy as np
from common import best_of, run_benchmark

if len(sys.argv) not in (2, 3):
    sys.exit(__doc__)
BUILD = os.path.abspath(sys.argv[1])
WORK = os.path.abspath(sys.argv[2] if len(sys.argv) == 3 else "/tmp/kvtraj-xtc-bench")
HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.join(HERE, "..", "..")
COPIES, FRAMES = 25, 2000


def make_inputs():
    os.makedirs(WORK, exist_ok=True)
    xtc, dcd = os.path.join(WORK, "traj.xtc"), os.path.join(WORK, "traj.dcd")
    if os.path.exists(xtc) and os.path.exists(dcd):
        return xtc, dcd
    run = md.load_dcd(os.path.join(REPO, "data", "sample.dcd"),
                      top=os.path.join(REPO, "tests", "data", "peptide.pdb"))
    n = run.n_atoms
    xyz = np.empty((FRAMES, COPIES * n, 3), dtype=np.float32)
    for c in range(COPIES):
        shift = np.array([c % 5, (c // 5) % 5, 0], dtype=np.float32) * 6.0  # nm
        frames = (np.arange(FRAMES) + 37 * c) % run.n_frames
        xyz[:, c * n:(c + 1) * n] = run.xyz[frames] + shift
    with md.formats.XTCTrajectoryFile(xtc, "w") as f:
        f.write(xyz, box=np.tile(np.eye(3, dtype=np.float32) * 30.0, (FRAMES, 1, 1)))
    with md.formats.DCDTrajectoryFile(dcd, "w") as f:
        f.write(xyz * 10)
    return xtc, dcd


def mdtraj_read(path):
    """Streams the file in chunks of 50 frames, as our reader streams frame by frame."""
    with md.formats.XTCTrajectoryFile(path) as f:
        while len(f.read(n_frames=50)[0]):
            pass


def mdtraj_write(path, xyz, box):
    with md.formats.XTCTrajectoryFile(path, "w", force_overwrite=True) as f:
        f.write(xyz, box=box)


def main():
    xtc, dcd = make_inputs()
    rows = run_benchmark(os.path.join(BUILD, "bench/fmtreaders/xtc_bench"), WORK, 2, 3)
    ours = {name.split("/")[0]: b["frames_per_s"] for name, b in rows.items()}
    with md.formats.XTCTrajectoryFile(xtc) as f:
        xyz, _, _, box = f.read()
    scratch = os.path.join(WORK, "mdtraj_out.xtc")
    theirs = {"Decode": FRAMES / best_of(lambda: mdtraj_read(xtc), 3),
              "Encode": FRAMES / best_of(lambda: mdtraj_write(scratch, xyz, box), 3)}
    os.remove(scratch)
    print(f"{COPIES * 200} atoms x {FRAMES} frames, single thread")
    print(f"{'':26} {'ours frames/s':>14} {'MDTraj frames/s':>16} {'ratio':>7}")
    for name, what in (("Decode", "XTC decode (read all)"), ("Encode", "XTC encode (save)")):
        print(f"{what:26} {ours[name]:14.0f} {theirs[name]:16.0f} {ours[name] / theirs[name]:6.2f}x")

    kvt = os.path.join(BUILD, "apps/kvt/kvt")
    out = os.path.join(WORK, "out.kvt")
    def compress(path):
        subprocess.run([kvt, "compress", "-i", path, "-o", out, "--vectors", "10", "--quiet"],
                       check=True, stdout=subprocess.DEVNULL)
    from_xtc, from_dcd = best_of(lambda: compress(xtc), 2), best_of(lambda: compress(dcd), 2)
    print(f"kvt compress --vectors 10: from XTC {from_xtc:.2f} s, from DCD {from_dcd:.2f} s, "
          f"ratio {from_xtc / from_dcd:.2f}")


main()
