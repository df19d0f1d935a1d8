#!/usr/bin/python3
"""XTC files that kvt writes, read back by MDTraj and checked by `gmx check`, their compressed
blocks compared with MDTraj's save_xtc of the same coordinates, and GROMACS's XTC converted by
kvt. Exits 77 (skipped) when MDTraj is not installed; the gmx check is skipped without gmx.
Usage: interop_xtc.py KVT DATA_DIR WORK_DIR"""
import os
import shutil
import subprocess

from interop_common import arguments, check, close, finish, require, run, snapshot_nm

(md,) = require("mdtraj")
data, work, pdb = arguments()


def blocks(path):
    """Each frame's bytes from its second atom count on: the compressed block."""
    raw = open(path, "rb").read()
    out, at = [], 0
    while at + 92 <= len(raw):
        end = at + 92 + (int.from_bytes(raw[at + 88:at + 92], "big") + 3) // 4 * 4
        out.append(raw[at + 52:end])
        at = end
    return out


ref = md.load_dcd(os.path.join(data, "peptide10.dcd"), top=pdb)
box = md.load_dcd(os.path.join(data, "peptide10_box.dcd"), top=pdb)

for precision in (1000, 100):
    ours = os.path.join(work, f"ours{precision}.xtc")
    run("convert", "-i", os.path.join(data, "peptide10_box.dcd"), "-o", ours,
        "--precision", str(precision))
    got = md.load_xtc(ours, top=pdb)
    close(f"ours at {precision}/nm read by MDTraj", got.xyz, box.xyz, 0.5 / precision + 1e-6)
    close(f"ours at {precision}/nm: box lengths", got.unitcell_lengths, box.unitcell_lengths,
          1e-6)
    if precision == 1000:  # the only precision MDTraj writes
        theirs = os.path.join(work, "mdtraj.xtc")
        box.save_xtc(theirs)
        same = blocks(ours) == blocks(theirs)
        check("compressed blocks equal MDTraj's", same, f"{len(blocks(theirs))} frames")
    if shutil.which("gmx"):
        log = subprocess.run(["gmx", "check", "-f", ours], capture_output=True, text=True)
        text = log.stdout + log.stderr
        frames = [line.split()[1] for line in text.splitlines() if line.startswith("Coords")]
        check(f"gmx check of ours at {precision}/nm", log.returncode == 0 and frames == ["10"],
              f"coordinate frames {frames}")

# GROMACS's file through kvt to DCD, against MDTraj's reading of the GROMACS file.
gmx_file = os.path.join(data, "gmx_peptide10.xtc")
out = os.path.join(work, "from_gmx.dcd")
run("convert", "-i", gmx_file, "-o", out)
close("GROMACS XTC converted to DCD", md.load_dcd(out, top=pdb).xyz,
      md.load_xtc(gmx_file, top=pdb).xyz, 1e-6)

kvtfile = os.path.join(work, "p.kvt")
run("compress", "-i", gmx_file + "(2:10:2)", "-o", kvtfile, "--vectors", "3")
out = os.path.join(work, "rebuilt.xtc")
run("expand", "-i", kvtfile, "-o", out)
got = md.load_xtc(out, top=pdb)
check("expand to XTC: frames", got.n_frames == 5, f"{got.n_frames}")
close("expand to XTC: snapshot 3", got.xyz[2], snapshot_nm(kvtfile, 3), 0.0005 + 1e-6)

finish()
