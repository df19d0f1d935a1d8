"""Writes the solvated fixtures of tests/data/water: the peptide of tests/data/peptide.pdb in
TIP3P water, NPT (C-rescale), in a rhombic dodecahedron and in a truncated octahedron, with the
molecules split across the box as mdrun writes them.

Run from tests/data/water: /usr/bin/python3 make_water.py WORKDIR (needs gmx, MDAnalysis and
ParmEd; the MD runs go into WORKDIR/<box> and are reused when already there).

Per box it keeps 20 frames of md.xtc (a window holding both frames with the peptide split across
the box and frames with it whole, cut by `gmx trjconv -b -e`, without -pbc), conf.gro, index.ndx,
and the topology with its bonds saved by ParmEd from topol.top + conf.gro.
"""
import os
import shutil
import subprocess
import sys

import numpy as np
import MDAnalysis as mda
import parmed

HERE = os.path.dirname(os.path.abspath(__file__))
PEPTIDE = os.path.join(HERE, "..", "peptide.pdb")
NSTEPS, SEED, DISTANCE = 20000, 7, 0.7  # 40 ps; 0.7 nm of water keeps each system near 1 MB
FRAMES, DT = 20, 0.5  # frames kept; ps between frames of md.xtc
# Box type and the topology format ParmEd writes for it.
SYSTEMS = (("dodecahedron", "psf"), ("octahedron", "prmtop"))


def run_md(work, box):
    if not os.path.exists(os.path.join(work, "md.xtc")):
        subprocess.run([os.path.join(HERE, "tools", "run_water_md.sh"), PEPTIDE, work, str(NSTEPS),
                        str(SEED), box, str(DISTANCE)], check=True)


def split_frames(work):
    """Per frame of md.xtc: whether a bond of the peptide is longer than 4 Å as written."""
    u = mda.Universe(os.path.join(work, "md.tpr"), os.path.join(work, "md.xtc"))
    bonds = u.select_atoms("protein").bonds
    return np.array([bool((bonds.values(pbc=False) > 4.0).any()) for _ in u.trajectory])


def window(split):
    """The first FRAMES consecutive frames with at least 5 split and 5 whole ones."""
    for start in range(len(split) - FRAMES + 1):
        n = int(split[start:start + FRAMES].sum())
        if 5 <= n <= FRAMES - 5:
            return start
    sys.exit("no window of split and whole frames: run longer (NSTEPS)")


def cut_xtc(work, start, out):
    begin, end = start * DT - DT / 4, (start + FRAMES - 1) * DT + DT / 4
    subprocess.run(["gmx", "-quiet", "-nobackup", "trjconv", "-f", os.path.join(work, "md.xtc"),
                    "-s", os.path.join(work, "md.tpr"), "-o", out, "-b", str(begin), "-e",
                    str(end)], input=b"0\n", check=True, capture_output=True)


def main():
    root = os.path.abspath(sys.argv[1])
    for box, fmt in SYSTEMS:
        work = os.path.join(root, box)
        run_md(work, box)
        split = split_frames(work)
        start = window(split)
        cut_xtc(work, start, os.path.join(HERE, box + ".xtc"))
        shutil.copy(os.path.join(work, "conf.gro"), os.path.join(HERE, box + ".gro"))
        shutil.copy(os.path.join(work, "index.ndx"), os.path.join(HERE, box + ".ndx"))
        top = parmed.load_file(os.path.join(work, "topol.top"),
                               xyz=os.path.join(work, "conf.gro"))
        top.save(os.path.join(HERE, f"{box}.{fmt}"), overwrite=True)
        kept = np.flatnonzero(split[start:start + FRAMES])
        print(f"{box}: md.xtc frames {start}..{start + FRAMES - 1} (t = {start * DT} ps on),"
              f" peptide split in kept frames {kept.tolist()}")


if __name__ == "__main__":
    main()
