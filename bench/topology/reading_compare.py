#!/usr/bin/python3
"""Side-by-side timings of the topology readers against MDAnalysis.

Makes one water box with GROMACS (gmx solvate; EDGE nm a side, about 100 atoms per nm^3) as
system.gro, converts it with gmx editconf to system.pdb and with ParmEd to system.psf, runs
topology_bench of a build directory on the three files, times MDAnalysis's Universe(path) on the
same files in the same run (the topology and, for GRO and PDB, the positions and the box, as
read_topology reads them), and prints the ratios of the wall times (above 1: ours is faster) and
our CPU time beside them (on a machine shared with other work the two differ).

usage: bench/topology/reading_compare.py BUILD_DIR [EDGE]   (default 22: 1,046,772 atoms)
Needs Debian's gromacs, python3-mdanalysis and python3-parmed (hence /usr/bin/python3).
"""
import os
import shutil
import subprocess
import sys
import tempfile
import warnings

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fmtreaders"))
from common import best_of, run_benchmark, seconds  # noqa: E402

if len(sys.argv) not in (2, 3):
    sys.exit(__doc__)
BUILD = sys.argv[1]
EDGE = float(sys.argv[2]) if len(sys.argv) == 3 else 22.0
warnings.simplefilter("ignore")

import MDAnalysis as mda  # noqa: E402
import parmed  # noqa: E402


def gmx(*args):
    subprocess.run(["gmx", "-quiet", *args], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def write_inputs(directory):
    gro = os.path.join(directory, "system.gro")
    gmx("solvate", "-cs", "spc216.gro", "-box", str(EDGE), str(EDGE), str(EDGE), "-o", gro)
    gmx("editconf", "-f", gro, "-o", os.path.join(directory, "system.pdb"))
    parmed.load_file(gro).save(os.path.join(directory, "system.psf"))
    with open(gro) as f:
        f.readline()
        return int(f.readline())


def mda_read(path):
    def run():
        u = mda.Universe(path)
        u.atoms.names, u.atoms.masses  # noqa: B018  (attributes built, as ours are)
    return run


def main():
    directory = tempfile.mkdtemp(prefix="kvtraj-topology-")
    try:
        atoms = write_inputs(directory)
        rows = run_benchmark(os.path.join(BUILD, "bench/topology/topology_bench"), directory, 1, 3)
        ours = seconds(rows)
        print(f"{atoms} atoms of water, written by GROMACS 2022 (PSF by ParmEd)")
        print(f"{'reading the whole file':34} {'ours ms':>9} {'(cpu ms)':>9} {'other ms':>9} "
              f"{'speed ratio':>12}")
        for ext in ("gro", "pdb", "psf"):
            mine = ours[f"Read/{ext}"]
            theirs = best_of(mda_read(os.path.join(directory, "system." + ext)), 3)
            row = rows[f"Read/{ext}"]
            cpu = mine * row["cpu_time"] / row["real_time"]  # both in the row's time unit
            print(f"{ext + ' vs MDAnalysis Universe':34} {mine * 1e3:9.1f} {cpu * 1e3:9.1f} "
                  f"{theirs * 1e3:9.1f} {theirs / mine:11.2f}x")
    finally:
        shutil.rmtree(directory)


main()
