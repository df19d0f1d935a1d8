#!/usr/bin/python3
"""Files that kvt writes, read back by MDTraj and compared with what MDTraj reads from the
original. Exits 77 (skipped) when MDTraj is not installed.
Usage: interop.py KVT DATA_DIR WORK_DIR"""
import os

from interop_common import arguments, close, finish, require, run, snapshot_nm

(md,) = require("mdtraj")
data, work, pdb = arguments()

ref = md.load_dcd(os.path.join(data, "peptide10.dcd"), top=pdb)
box = md.load_dcd(os.path.join(data, "peptide10_box.dcd"), top=pdb)
natoms = ref.n_atoms

for ext, tolerance in (("dcd", 0.0), ("binpos", 0.0), ("crd", 5.1e-5)):
    out = os.path.join(work, "copy." + ext)
    run("convert", "-i", os.path.join(data, "peptide10.dcd"), "-o", out)
    if ext == "crd":
        got = md.load_mdcrd(out, top=pdb)
    else:
        got = md.load(out, top=pdb)
    close("convert to " + ext, got.xyz, ref.xyz, tolerance)  # nm; crd holds 3 decimals of Å

out = os.path.join(work, "box.dcd")
run("convert", "-i", os.path.join(data, "peptide10_box.dcd"), "-o", out)
got = md.load_dcd(out, top=pdb)
close("convert box DCD: coordinates", got.xyz, box.xyz, 0.0)
close("convert box DCD: lengths", got.unitcell_lengths, box.unitcell_lengths, 1e-6)
close("convert box DCD: angles", got.unitcell_angles, box.unitcell_angles, 1e-4)

out = os.path.join(work, "box.crdbox")
run("convert", "-i", os.path.join(data, "peptide10_box.dcd"), "-o", out)
with md.formats.MDCRDTrajectoryFile(out, n_atoms=natoms, has_box=True) as f:
    xyz, lengths = f.read()
close("convert to crdbox: coordinates", xyz, box.xyz * 10, 5.1e-4)
close("convert to crdbox: box", lengths, box.unitcell_lengths * 10, 5e-4)

kvtfile = os.path.join(work, "p.kvt")
run("compress", "-i", os.path.join(data, "peptide10.dcd"), "-o", kvtfile, "--vectors", "6")
out = os.path.join(work, "rebuilt.dcd")
run("expand", "-i", kvtfile, "-o", out)
got = md.load_dcd(out, top=pdb)
for i in (1, 4, 10):
    close(f"expand snapshot {i}", got.xyz[i - 1], snapshot_nm(kvtfile, i), 1e-6)

finish()
