#!/usr/bin/python3
"""PDB and GRO files of the writers, read back by MDAnalysis and MDTraj: a small triclinic system
of two frames, and 100,050 atoms in as many residues, whose serials and residue numbers pass the
columns' 99,999 and 9,999. Arguments: WRITE_NAMED WORK_DIR. Skips (77) without MDAnalysis or
MDTraj."""
import os
import subprocess
import sys
import warnings

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "kvt"))
from interop_common import check, close, finish, require  # noqa: E402

np, mda, md = require("numpy", "MDAnalysis", "mdtraj")
warnings.simplefilter("ignore")
writer, work = sys.argv[1:3]
os.makedirs(work, exist_ok=True)
NAMES = ["N", "CA", "OXT", "HD21", "CL"]
RESNAMES = ["ALA", "ALA", "GLY", "ASN", "CL"]
CELL = [40, 50, 60, 80, 95, 110]


def written(name, natoms, frames, triclinic):
    path = os.path.join(work, name)
    args = [writer, path, str(natoms), str(frames)] + (["triclinic"] if triclinic else [])
    subprocess.run(args, check=True)
    return path


def positions(natoms, frame):
    """The frames write_named writes, in Å."""
    i = np.arange(natoms)[:, None]
    k = np.arange(3)[None, :]
    return ((7 * i + 13 * frame + 5 * k) % 2000) / 2.0 - 500.0


def read_by_mdanalysis(path, natoms, frames, triclinic):
    tag = os.path.basename(path)
    u = mda.Universe(path)
    check(f"{tag} MDAnalysis atoms", u.atoms.n_atoms == natoms, str(u.atoms.n_atoms))
    check(f"{tag} MDAnalysis frames", len(u.trajectory) == frames, str(len(u.trajectory)))
    for ts in u.trajectory:
        close(f"{tag} MDAnalysis frame {ts.frame} (Å)", ts.positions,
              positions(natoms, ts.frame), 6e-4 if path.endswith(".pdb") else 6e-3)
        if triclinic:
            close(f"{tag} MDAnalysis cell {ts.frame}", ts.dimensions, CELL, 0.01)
    names = [NAMES[i % 5] for i in range(natoms)]
    check(f"{tag} MDAnalysis names", list(u.atoms.names) == names)
    check(f"{tag} MDAnalysis residue names",
          list(u.atoms.resnames) == [RESNAMES[i % 5] for i in range(natoms)])
    # Wrapped residue numbers come back unfolded.
    check(f"{tag} MDAnalysis residue numbers", np.array_equal(u.atoms.resids,
                                                              np.arange(1, natoms + 1)),
          f"last {u.atoms.resids[-1]}")
    if path.endswith(".pdb"):
        elements = ["N", "C", "O", "H", "CL"]
        check(f"{tag} MDAnalysis elements",
              [e.upper() for e in u.atoms.elements] == [elements[i % 5] for i in range(natoms)])


def read_by_mdtraj(path, natoms, frames, triclinic):
    tag = os.path.basename(path)
    t = md.load(path, no_boxchk=True) if path.endswith(".pdb") else md.load(path)
    check(f"{tag} MDTraj atoms and frames", (t.n_atoms, t.n_frames) == (natoms, frames),
          f"{t.n_atoms}, {t.n_frames}")
    close(f"{tag} MDTraj coordinates (Å)", t.xyz * 10,
          np.stack([positions(natoms, f) for f in range(frames)]), 6e-3)
    check(f"{tag} MDTraj residues", t.n_residues == natoms, str(t.n_residues))
    check(f"{tag} MDTraj names", [a.name for a in t.top.atoms][:5] == NAMES)
    if triclinic:
        close(f"{tag} MDTraj cell lengths (Å)", t.unitcell_lengths[0] * 10, CELL[:3], 0.01)
        close(f"{tag} MDTraj cell angles", t.unitcell_angles[0], CELL[3:], 0.01)


for ext in ("pdb", "gro"):
    small = written(f"small.{ext}", 7, 2, True)
    # MDAnalysis reads the first frame of a GRO file only.
    read_by_mdanalysis(small, 7, 2 if ext == "pdb" else 1, True)
    read_by_mdtraj(small, 7, 2, True)
    large = written(f"large.{ext}", 100050, 1, False)
    read_by_mdanalysis(large, 100050, 1, False)
    read_by_mdtraj(large, 100050, 1, False)
finish()
