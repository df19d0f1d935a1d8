#!/usr/bin/python3
"""Writes the seed corpora under fuzz/corpus/: small valid files of every layout the parsers
read, written here independently of the readers, plus a few damaged variants. Run from the
repository root; the output is committed."""
import os
import struct

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data")


def put(target, name, data):
    os.makedirs(os.path.join(ROOT, target), exist_ok=True)
    if isinstance(data, str):
        data = data.encode()
    with open(os.path.join(ROOT, target, name), "wb") as f:
        f.write(data)


def code(value):
    """The 5-character base-85 code of a float's 32 bits, most significant digit first."""
    bits = struct.unpack("<I", struct.pack("<f", value))[0]
    digits = []
    for _ in range(5):
        digits.append(chr(33 + bits % 85))
        bits //= 85
    return "".join(reversed(digits))


def f8(values):
    out = []
    for i in range(0, len(values), 10):
        out.append("".join("%8.3f" % v for v in values[i:i + 10]))
    return "\n".join(out) + "\n"


def kvt_seeds():
    n, f, v = 2, 3, 2
    avg = [0.5 * i for i in range(3 * n)]
    vec = [[0.1 * (i + k) for i in range(3 * n)] for k in range(v)]
    ev = [2.0, 1.0]
    proj = [[0.25 * (m - k) for m in range(f)] for k in range(v)]
    title = "seed".ljust(80).encode()

    def stream(magic, flag=0, kvt6=False):
        b = magic + title + struct.pack("<iiif", n, f, v, 75.0) + struct.pack("<4i", 0, 0, 0, flag)
        if flag == 1:
            b += b"".join(struct.pack("<i4si3sc", i, b"CA  ", 1, b"ALA", b"A") for i in range(n))
        b += struct.pack("<%df" % (3 * n), *avg)
        for k in range(v):
            b += struct.pack("<%df" % (3 * n), *vec[k]) + struct.pack("<f", ev[k])
            if kvt6:
                b += struct.pack("<ff", 0.0, 0.5) + struct.pack("<%dh" % f, *range(-1, f - 1))
            else:
                b += struct.pack("<%df" % f, *proj[k])
        return b

    put("fuzz_kvtopen", "kvt4", stream(b"KVT4"))
    put("fuzz_kvtopen", "kvt4_atoms", stream(b"KVT4", flag=1))
    put("fuzz_kvtopen", "kvt6", stream(b"KVT6", kvt6=True))
    put("fuzz_kvtopen", "kvt4_truncated", stream(b"KVT4")[:-7])
    record = max(100 + 12 * n, 12 * n + 4 + 4 * f)
    r1 = b"KVT2" + title + struct.pack("<iiif", 3 * n, f, v, 75.0) + struct.pack("<%df" % (3 * n), *avg)
    kvt2 = r1.ljust(record, b"\0")
    for k in range(v):
        rk = struct.pack("<%df" % (3 * n), *vec[k]) + struct.pack("<f", ev[k]) + struct.pack("<%df" % f, *proj[k])
        kvt2 += rk.ljust(record, b"\0")
    put("fuzz_kvtopen", "kvt2", kvt2)
    head = "KVT0\nseed\n%8d%8d%8d%8.3f\n" % (n, f, v, 75.0)
    body = f8(avg) + "".join(f8(vec[k]) + "%8.3f\n" % ev[k] + f8(proj[k]) for k in range(v))
    put("fuzz_kvtopen", "kvt0", head + body)
    put("fuzz_fortran", "kvt0", "\x03" + head + body)

    def codes(values):
        s = "".join(code(x) for x in values)
        return "\n".join(s[i:i + 80] for i in range(0, len(s), 80)) + "\n"
    head5 = head.replace("KVT0", "KVT5")
    body5 = codes(avg) + "".join(codes(vec[k] + [ev[k]] + proj[k]) for k in range(v))
    put("fuzz_kvtopen", "kvt5", head5 + body5)
    put("fuzz_fortran", "kvt5", "\x01" + head5 + body5)
    put("fuzz_stor", "one", code(1.0))
    put("fuzz_stor", "blank", "     ")
    put("fuzz_stor", "pi", struct.pack("<f", 3.14159))


def dcd(natoms, frames, marker=4, cell=False, version=24):
    m = (lambda v: struct.pack("<i", v)) if marker == 4 else (lambda v: struct.pack("<q", v))
    counters = [frames, 0, 1, frames, 0, 0, 0, 0, 0]
    h = b"CORD" + struct.pack("<9i", *counters)
    h += struct.pack("<f", 0.002) if version else struct.pack("<d", 0.002)
    h += struct.pack("<i", 1 if cell else 0) + struct.pack("<8i", *([0] * 8)) + struct.pack("<i", version)
    if not version:
        h = h[:84]
    out = m(len(h)) + h + m(len(h))
    t = struct.pack("<i", 1) + b"seed".ljust(80)
    out += m(len(t)) + t + m(len(t)) + m(4) + struct.pack("<i", natoms) + m(4)
    for fr in range(frames):
        if cell:
            out += m(48) + struct.pack("<6d", 30.0, 0.0, 31.0, 0.0, 0.0, 32.0) + m(48)
        for axis in range(3):
            vals = [fr + 0.1 * a + axis for a in range(natoms)]
            out += m(4 * natoms) + struct.pack("<%df" % natoms, *vals) + m(4 * natoms)
    return out


def reader_seeds():
    put("fuzz_dcd", "plain", dcd(3, 2))
    put("fuzz_dcd", "cell", dcd(3, 2, cell=True))
    put("fuzz_dcd", "marker8", dcd(3, 2, marker=8))
    put("fuzz_dcd", "marker8_cell", dcd(2, 2, marker=8, cell=True))
    put("fuzz_dcd", "truncated", dcd(3, 2)[:-5])
    with open(os.path.join(DATA, "peptide10.dcd"), "rb") as f:
        real = f.read()
    put("fuzz_dcd", "peptide_two_frames", real[:276 + 2 * 2424])
    binpos = b"fxyz"
    for fr in range(2):
        binpos += struct.pack("<i", 3) + struct.pack("<9f", *[fr + 0.5 * i for i in range(9)])
    put("fuzz_binpos", "plain", binpos)
    put("fuzz_binpos", "one_frame", binpos[:4 + 40])
    box = b"fxyz" + b"".join(struct.pack("<i", 2) + struct.pack("<6f", *range(6)) +
                            struct.pack("<6f", 30, 31, 32, 90, 90, 90) for _ in range(2))
    put("fuzz_binpos", "box", box)
    crd = "title\n" + f8([0.5 * i for i in range(9)]) + f8([0.5 * i + 1 for i in range(9)])
    put("fuzz_amber", "crd3", "\x02" + crd)
    crdbox = ("title\n" + f8([0.5 * i for i in range(9)]) + "  30.000  31.000  32.000\n" +
              f8([0.5 * i for i in range(9)]) + "  30.000  31.000  32.000\n")
    put("fuzz_amber", "crdbox3", "\x02" + crdbox)


def selection_seeds():
    for name, text in (("range", "2:8:3"), ("single", "4"), ("stride", "::2"), ("last", ":5"),
                       ("four", "1:2:3:4"), ("letter", "a"), ("beyond", "5:40")):
        put("fuzz_selection", name, text)
    put("fuzz_album", "two", "@DCD@(1:3)\n@DCD@(2:5)\n")
    put("fuzz_album", "missing", "@DCD@\nnone.dcd\n")
    put("fuzz_album", "empty", "")


def atomsel_seeds():
    """Atom selections as users write them, and typical mistakes."""
    texts = (
        "protein and name CA", "backbone or nucleic", "not (resname SOL or name NA)",
        "name CA or name N and resid 10", "name H* C?' [CN]A HW[!1] [!]a-c-]",
        "resid -2:10 12 to 14 11 - 12 10 :11", "resid 10A-10B 12-10 -2A", "resnum 10-12",
        "index 0:3 7", "bynum 1-4 99999999999999999999", "mass 12.011 14 to 16 1e1-2e1",
        "charge -0.5 or mass inf", "segid PROT and chainID A", "chainid B and element O",
        "type C and not all", "group Protein or group \"two words\"", "group Beyond",
        "group Missing", "((name CA) or (not (resid 12)))", "not not not name OW",
        "name CA and", "byres name CA", "name CA around 5 protein", "resid 1-10,20",
        "mass 12 to", "name \"CA\"", "group \"open", "(name CA", "name CA)", "NAME CA", "",
        "resid 1 to 2 to 3", "mass 1_2.0 -1.5--0.5 .5:5.", "resid 10B:11 to",
    )
    for k, text in enumerate(texts):
        put("fuzz_atomsel", "sel%02d" % k, text)


def trr_frame(natoms, step, real="f", box=True, x=True, v=False, f=False):
    """One TRR frame, XDR big-endian; reals of type `real` ("f" single, "d" double)."""
    rb = struct.calcsize(real)
    vec = 3 * natoms * rb
    sizes = [0, 0, 9 * rb if box else 0, 0, 0, 0, 0, vec if x else 0, vec if v else 0,
             vec if f else 0]
    out = struct.pack(">iii", 1993, 13, 12) + b"GMX_trn_file"
    out += struct.pack(">13i", *sizes, natoms, step, 0) + struct.pack(">2" + real, step, 0)
    if box:
        out += struct.pack(">9" + real, 3, 0, 0, 1, 4, 0, 0, 1, 5)
    for present in (x, v, f):
        if present:
            out += struct.pack(">%d%s" % (3 * natoms, real), *[0.1 * i for i in range(3 * natoms)])
    return out


def trr_seeds():
    """Crafted TRR layouts; the GROMACS and MDTraj seeds beside them (5 atoms, 2 frames of the
    peptide run) are copied in from those programs, not written here."""
    put("fuzz_trr", "double_v_f", trr_frame(3, 0, "d", v=True, f=True) + trr_frame(3, 1, "d"))
    put("fuzz_trr", "velocity_frame", trr_frame(2, 0) + trr_frame(2, 1, x=False, v=True)
        + trr_frame(2, 2, box=False))
    put("fuzz_trr", "cut", (trr_frame(4, 0) * 2)[:-7])


def topology_seeds():
    """Small topology files from tests/data/topologies (MDAnalysis's test data and GROMACS), cut
    to a few atoms where they are long, and crafted numbers past the PDB columns."""
    top = os.path.join(DATA, "topologies")

    def lines(name, count=None):
        with open(os.path.join(top, name)) as f:
            return "".join(f.readlines()[:count])
    for name in ("elements.pdb", "conect_parsing.pdb"):
        put("fuzz_pdb", name, lines(name))
    put("fuzz_pdb", "gmx_models", lines("gmx_resid_wrap.pdb", 12) + "ENDMDL\n")
    atom = "ATOM  %5s  CA  ALA A%4s      11.104   6.134  -6.504  1.00  0.00           C\n"
    put("fuzz_pdb", "hybrid36", atom % ("99999", "9999") + atom % ("A0000", "A000")
        + atom % ("186a0", "271a") + "CONECT99999A0000186a0\nEND\n")
    for name in ("two_water_gro_widebox.gro", "huge_box.gro", "sameresid_diffresname.gro"):
        put("fuzz_gro", name, lines(name))
    residwrap = lines("residwrap.gro").splitlines(True)
    put("fuzz_gro", "triclinic", residwrap[0] + "    3\n" + "".join(residwrap[2:5]) + residwrap[-1])
    put("fuzz_psf", "parmed_ala3.psf", lines("parmed_ala3.psf", 52))
    ext = lines("1a2c_ins_code_cut.psf", 28).replace("       571 !NATOM", "        20 !NATOM")
    put("fuzz_psf", "ext_insertion_codes", ext + "\n         2 !NBOND: bonds\n"
        "         5         1         5         7\n")
    for name in ("ace_mbondi3.parm7", "ace_mbondi3.error4.parm7"):
        put("fuzz_prmtop", name, lines(name))
    put("fuzz_ndx", "residwrap.ndx", lines("residwrap.ndx"))
    put("fuzz_ndx", "groups", "[ a ]\n1 2 3\n\n[ b b ]\n 1000\n[ empty ]\n")


if __name__ == "__main__":
    topology_seeds()
    trr_seeds()
    kvt_seeds()
    reader_seeds()
    selection_seeds()
    atomsel_seeds()
