#!/usr/bin/python3
"""Files that kvt writes, read back by MDTraj and compared with what MDTraj reads from the
original. Exits 77 (skipped) when MDTraj is not installed.
Usage: interop.py KVT DATA_DIR WORK_DIR"""
import os
import subprocess
import sys

try:
    import mdtraj as md
    import numpy as np
except ImportError:
    sys.exit(77)

kvt, data, work = sys.argv[1:4]
os.makedirs(work, exist_ok=True)
pdb = os.path.join(data, "peptide.pdb")
failures = []


def run(*args):
    subprocess.run([kvt, *args, "--quiet"], check=True, stdout=subprocess.DEVNULL)


def check(name, got, want, tolerance):
    err = float(np.max(np.abs(got - want)))
    status = "ok" if got.shape == want.shape and err <= tolerance else "FAILED"
    print(f"{name}: shape {got.shape}, max difference {err:.2e} ({status})")
    if status != "ok":
        failures.append(name)


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
    check("convert to " + ext, got.xyz, ref.xyz, tolerance)  # nm; crd holds 3 decimals of Å

out = os.path.join(work, "box.dcd")
run("convert", "-i", os.path.join(data, "peptide10_box.dcd"), "-o", out)
got = md.load_dcd(out, top=pdb)
check("convert box DCD: coordinates", got.xyz, box.xyz, 0.0)
check("convert box DCD: lengths", got.unitcell_lengths, box.unitcell_lengths, 1e-6)
check("convert box DCD: angles", got.unitcell_angles, box.unitcell_angles, 1e-4)

out = os.path.join(work, "box.crdbox")
run("convert", "-i", os.path.join(data, "peptide10_box.dcd"), "-o", out)
with md.formats.MDCRDTrajectoryFile(out, n_atoms=natoms, has_box=True) as f:
    xyz, lengths = f.read()
check("convert to crdbox: coordinates", xyz, box.xyz * 10, 5.1e-4)
check("convert to crdbox: box", lengths, box.unitcell_lengths * 10, 5e-4)

kvtfile = os.path.join(work, "p.kvt")
run("compress", "-i", os.path.join(data, "peptide10.dcd"), "-o", kvtfile, "--vectors", "6")
out = os.path.join(work, "rebuilt.dcd")
run("expand", "-i", kvtfile, "-o", out)
got = md.load_dcd(out, top=pdb)
for i in (1, 4, 10):
    text = subprocess.run([kvt, "query", "-i", kvtfile, "--snap", str(i)], check=True,
                          stdout=subprocess.PIPE, text=True).stdout
    want = np.array(text.split(), dtype=np.float32).reshape(-1, 3) / 10
    check(f"expand snapshot {i}", got.xyz[i - 1], want, 1e-6)

sys.exit(1 if failures else 0)
