#!/usr/bin/python3
"""AMBER NetCDF files that kvt writes, read back by MDTraj, MDAnalysis and scipy's reader of the
classic format (its layout: version, dimensions, big-endian types) and compared with what
MDAnalysis reads from the GROMACS TRR they were converted from. Exits 77 (skipped) when a peer
is not installed.
Usage: netcdf_interop.py KVT DATA_DIR WORK_DIR"""
import os
import warnings

from interop_common import arguments, check, close, finish, require, run

mda, md, np, scipy_io = require("MDAnalysis", "mdtraj", "numpy", "scipy.io")
warnings.simplefilter("ignore")
data, work, pdb = arguments()

ref = np.fromfile(os.path.join(data, "peptide10_gmx_trr.ref.f32"), dtype="<f4").reshape(10, 606)
out = os.path.join(work, "from_trr.nc")
run("convert", "-i", os.path.join(data, "peptide10_gmx.trr"), "-o", out)

u = mda.Universe(pdb, out)
close("MDAnalysis coordinates", np.array([ts.positions.ravel().copy() for ts in u.trajectory]),
      ref[:, :600], 0.0)
close("MDAnalysis cell", np.array([ts.dimensions.copy() for ts in u.trajectory]), ref[:, 600:], 1e-4)
f = scipy_io.netcdf_file(out, "r", mmap=False)
check("scipy: 64-bit offset format", f.version_byte == 2, f"version {f.version_byte}")
check("scipy: frame is the unlimited dimension", f.dimensions["frame"] is None,
      f"{f.dimensions}")
types = {k: f.variables[k].data.dtype.str for k in ("time", "coordinates", "cell_lengths")}
check("scipy: big-endian float and double", types == {"time": ">f4", "coordinates": ">f4",
                                                       "cell_lengths": ">f8"}, f"{types}")
close("scipy coordinates", f.variables["coordinates"].data.reshape(10, 600), ref[:, :600], 0.0)
close("scipy cell angles", f.variables["cell_angles"].data, ref[:, 603:], 1e-4)
check("scipy: times k ps", list(f.variables["time"].data) == list(range(10)),
      f"{f.variables['time'].data}")
f.close()
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
