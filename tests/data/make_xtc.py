"""Writes the XTC fixtures of tests/data with GROMACS and MDTraj and their MDAnalysis references.

Run from tests/data: /usr/bin/python3 make_xtc.py (needs gmx, MDTraj, MDAnalysis).
"""
import subprocess
import numpy as np
import mdtraj as md
import MDAnalysis as mda

def gmx_xtc(pdb, out, *extra):
    subprocess.run(["gmx", "-quiet", "-nobackup", "trjconv", "-f", pdb, "-s", "peptide.pdb", "-o", out, *extra],
                   input=b"0\n", check=True, capture_output=True)

def reference(xtc, top, with_box=False):
    """MDAnalysis's coordinates (Å) and, with_box, its six cell values per frame, as float32."""
    u = mda.Universe(top, xtc)
    stem = xtc[:-4]
    np.array([ts.positions.copy() for ts in u.trajectory], dtype="<f4").tofile(stem + ".ref.f32")
    if with_box:
        box = np.array([ts.dimensions.copy() for ts in u.trajectory], dtype="<f4")
        box.tofile(stem + ".box.f32")

box = md.load("peptide10_box.dcd", top="peptide.pdb")
box.save_pdb("/tmp/peptide10_box.pdb")
# From PDB input trjconv would keep its 4 decimals (10000/nm); GROMACS writes 1000/nm.
gmx_xtc("/tmp/peptide10_box.pdb", "gmx_peptide10.xtc", "-ndec", "3")
gmx_xtc("/tmp/peptide10_box.pdb", "gmx_peptide10_ndec2.xtc", "-ndec", "2")

tri = md.load("peptide10.dcd", top="peptide.pdb")
tri.unitcell_lengths = np.tile([4.8, 5.2, 5.0], (tri.n_frames, 1))
tri.unitcell_angles = np.tile([80.0, 95.0, 70.0], (tri.n_frames, 1))
tri.save_xtc("mdtraj_peptide10.xtc")

# Systems of at most 9 atoms are stored as plain floats.
for n, frames in ((1, 3), (9, 2)):
    small = tri[:frames].atom_slice(range(n))
    small.save_xtc(f"mdtraj_{n}atom.xtc")
    small.save_pdb(f"/tmp/mdtraj_{n}atom.pdb")

for name in ("gmx_peptide10", "mdtraj_peptide10"):
    reference(name + ".xtc", "peptide.pdb", with_box=True)
reference("gmx_peptide10_ndec2.xtc", "peptide.pdb")
for n in (1, 9):
    reference(f"mdtraj_{n}atom.xtc", f"/tmp/mdtraj_{n}atom.pdb")

# Axis ranges beyond 2^24 grid steps: each coordinate goes in its own field, not packed. On
# eighths of a nm the values stay exact in float32 at this size, so a decoded frame encodes
# back to the same bytes.
wide = tri[:2].atom_slice(range(12))
wide.xyz = np.round(wide.xyz * 8) / 8
wide.xyz[:, ::3, 0] += 20000.0
wide.save_xtc("mdtraj_wide.xtc")
wide.save_pdb("/tmp/mdtraj_wide.pdb")
reference("mdtraj_wide.xtc", "/tmp/mdtraj_wide.pdb")
