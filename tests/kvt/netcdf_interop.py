#!/usr/bin/python3
"""AMBER NetCDF files that kvt writes, read back by MDTraj and MDAnalysis and compared with what
MDAnalysis reads from the GROMACS TRR they were converted from. Exits 77 (skipped) when a peer
is not installed.
Usage: netcdf_interop.py KVT DATA_DIR WORK_DIR"""
import os
import warnings

from interop_common import arguments, check, close, finish, require, run

mda, md, np = require("MDAnalysis", "mdtraj", "numpy")
warnings.simplefilter("ignore")
data, work, pdb = arguments()

ref = np.fromfile(os.path.join(data, "peptide10_gmx_trr.ref.f32"), dtype="<f4").reshape(10, 606)
out = os.path.join(work, "from_trr.nc")
run("convert", "-i", os.path.join(data, "peptide10_gmx.trr"), "-o", out)

u = mda.Universe(pdb, out)
close("MDAnalysis coordinates", np.array([ts.positions.ravel().copy() for ts in u.trajectory]),
      ref[:, :600], 0.0)
close("MDAnalysis cell", np.array([ts.dimensions.copy() for ts in u.trajectory]), ref[:, 600:], 1e-4)
t = md.load_netcdf(out, top=pdb)
close("MDTraj coordinates (nm)", t.xyz.reshape(10, 600), ref[:, :600] / 10, 1e-6)
close("MDTraj cell lengths (nm)", t.unitcell_lengths, ref[:, 600:603] / 10, 1e-5)

# The frames of kvt expand: as many as compressed, readable by both.
kvtfile = os.path.join(work, "from_nc.kvt")
expanded = os.path.join(work, "expanded.nc")
run("compress", "-i", out, "-o", kvtfile, "--vectors", "5")
run("expand", "-i", kvtfile, "-o", expanded)
frames = mda.Universe(pdb, expanded).trajectory.n_frames
check("expand: MDAnalysis frames", frames == 10, f"{frames}")
frames = md.load_netcdf(expanded, top=pdb).n_frames
check("expand: MDTraj frames", frames == 10, f"{frames}")

finish()
