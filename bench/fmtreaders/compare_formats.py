#!/usr/bin/python3
"""Side-by-side timings of the TRR and AMBER NetCDF readers against MDTraj and MDAnalysis.

Writes one trajectory (ATOMS atoms x FRAMES frames, random walk, with box) through MDTraj as
traj.trr and traj.nc, runs formats_bench of a build directory on them, times MDAnalysis's NCDF
and TRR readers (iterating every frame) and MDTraj's load_netcdf and load_trr on the same files
in the same run, and prints the ratios (above 1: ours is faster).

usage: bench/fmtreaders/compare_formats.py BUILD_DIR [ATOMS FRAMES]   (default 5000 2000)
Needs Debian's python3-mdtraj and python3-mdanalysis (hence /usr/bin/python3).
"""
import os
import shutil
import sys
import tempfile
import warnings

from common import best_of, run_benchmark, seconds

if len(sys.argv) not in (2, 4):
    sys.exit(__doc__)
BUILD = sys.argv[1]
ATOMS, FRAMES = (int(sys.argv[2]), int(sys.argv[3])) if len(sys.argv) == 4 else (5000, 2000)
warnings.simplefilter("ignore")

import MDAnalysis as mda  # noqa: E402
import mdtraj  # noqa: E402
import numpy as np  # noqa: E402


def write_inputs(directory):
    rng = np.random.default_rng(7)
    top = mdtraj.Topology()
    chain = top.add_chain()
    for i in range(ATOMS):
        top.add_atom("C", mdtraj.element.carbon, top.add_residue("RES", chain))
    start = rng.uniform(0, 8, (ATOMS, 3)).astype(np.float32)
    xyz = np.empty((FRAMES, ATOMS, 3), dtype=np.float32)
    xyz[0] = start
    for f in range(1, FRAMES):
        xyz[f] = xyz[f - 1] + rng.normal(0, 0.01, (ATOMS, 3)).astype(np.float32)
    t = mdtraj.Trajectory(xyz, top, unitcell_lengths=np.full((FRAMES, 3), 8.0),
                          unitcell_angles=np.full((FRAMES, 3), 90.0))
    t.save_netcdf(os.path.join(directory, "traj.nc"))
    t.save_trr(os.path.join(directory, "traj.trr"))
    t[0].save_pdb(os.path.join(directory, "traj.pdb"))


def mda_iterate(path, pdb):
    def run():
        u = mda.Universe(pdb, path)
        for ts in u.trajectory:
            ts.positions.sum()
        u.trajectory.close()
    return run


def main():
    directory = tempfile.mkdtemp(prefix="kvtraj-formats-")
    try:
        write_inputs(directory)
        program = os.path.join(BUILD, "bench/fmtreaders/formats_bench")
        ours = seconds(run_benchmark(program, directory, 1, 3))
        pdb = os.path.join(directory, "traj.pdb")
        top = mdtraj.load_topology(pdb)
        path = {ext: os.path.join(directory, "traj." + ext) for ext in ("nc", "trr")}
        peers = {
            "nc": [("MDAnalysis NCDFReader", mda_iterate(path["nc"], pdb)),
                   ("MDTraj load_netcdf", lambda: mdtraj.load_netcdf(path["nc"], top=top))],
            "trr": [("MDTraj load_trr", lambda: mdtraj.load_trr(path["trr"], top=top)),
                    ("MDAnalysis TRRReader", mda_iterate(path["trr"], pdb))],
        }
        print(f"{ATOMS} atoms x {FRAMES} frames, written by MDTraj")
        print(f"{'reading the whole file':34} {'ours ms':>9} {'other ms':>9} {'speed ratio':>12}")
        for ext, rows in peers.items():
            mine = ours[f"AllFrames/{ext}"]
            for name, function in rows:
                theirs = best_of(function, 3)
                print(f"{ext + ' vs ' + name:34} {mine * 1e3:9.1f} {theirs * 1e3:9.1f} "
                      f"{theirs / mine:11.2f}x")
    finally:
        shutil.rmtree(directory)


main()
