#!/usr/bin/python3
"""AMBER NetCDF files that kvt writes, read back by MDTraj and MDAnalysis and compared with what
MDAnalysis reads from the GROMACS TRR they were converted from. Exits 77 (skipped) when a peer
is not installed.
Usage: netcdf_interop.py KVT DATA_DIR WORK_DIR"""
import os
import subprocess
import sys
import warnings

try:
    import MDAnalysis as mda
    import mdtraj as md
    import numpy as np
except ImportError:
    sys.exit(77)

warnings.simplefilter("ignore")
kvt, data, work = sys.argv[1:4]
os.makedirs(work, exist_ok=True)
pdb = os.path.join(data, "peptide.pdb")
failures = []


def run(*args):
    subprocess.run([kvt, *args, "--quiet"], check=True, stdout=subprocess.DEVNULL)


def check(name, got, want, tolerance):
    err = float(np.max(np.abs(got - want))) if got.shape == want.shape else float("inf")
    status = "ok" if err <= tolerance else "FAILED"
    print(f"{name}: shape {got.shape}, max difference {err:.2e} ({status})")
    if status != "ok":
        failures.append(name)


ref = np.fromfile(os.path.join(data, "peptide10_gmx_trr.ref.f32"), dtype="<f4").reshape(10, 606)
out = os.path.join(work, "from_trr.nc")
run("convert", "-i", os.path.join(data, "peptide10_gmx.trr"), "-o", out)

u = mda.Universe(pdb, out)
check("MDAnalysis coordinates", np.array([ts.positions.ravel().copy() for ts in u.trajectory]),
      ref[:, :600], 0.0)
check("MDAnalysis cell", np.array([ts.dimensions.copy() for ts in u.trajectory]), ref[:, 600:], 1e-4)
t = md.load_netcdf(out, top=pdb)
check("MDTraj coordinates (nm)", t.xyz.reshape(10, 600), ref[:, :600] / 10, 1e-6)
check("MDTraj cell lengths (nm)", t.unitcell_lengths, ref[:, 600:603] / 10, 1e-5)

# The frames of kvt expand: as many as compressed, readable by both.
kvtfile = os.path.join(work, "from_nc.kvt")
expanded = os.path.join(work, "expanded.nc")
run("compress", "-i", out, "-o", kvtfile, "--vectors", "5")
run("expand", "-i", kvtfile, "-o", expanded)
check("expand: MDAnalysis frames", np.array([mda.Universe(pdb, expanded).trajectory.n_frames]),
      np.array([10]), 0)
check("expand: MDTraj frames", np.array([md.load_netcdf(expanded, top=pdb).n_frames]),
      np.array([10]), 0)

sys.exit(1 if failures else 0)
