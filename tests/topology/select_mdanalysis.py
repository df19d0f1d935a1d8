#!/usr/bin/python3
"""`kvt select` against MDAnalysis's Universe.select_atoms on real topology files (the fixtures of
tests/data/topologies, written by CHARMM, AMBER, GROMACS, NAMD and ParmEd), on a PDB with
insertion codes and on index groups: for each file and each selection text the atoms must be the
same. Where MDAnalysis selects nothing, kvt must refuse the text ("no atom is selected"); where
MDAnalysis refuses a text, so must kvt. One difference is by design: our topologies hold an
element for every atom, MDAnalysis's where it reads one and otherwise its guess_atom_element of
the name (as tests/data/topologies/make_refs.py records them), while MDAnalysis has none for
some files and leaves some PDB atoms blank; `element` texts are checked against that rule, and
against MDAnalysis on the atoms it gives an element. Exits 77 (skipped) without MDAnalysis.
Usage: select_mdanalysis.py KVT DATA_DIR WORK_DIR"""
import fnmatch
import os
import subprocess
import sys
import warnings

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "kvt"))
from interop_common import check, finish, require  # noqa: E402

(mda,) = require("MDAnalysis")
from MDAnalysis.topology.guessers import guess_atom_element  # noqa: E402
from MDAnalysis.topology.tables import SYMB2Z  # noqa: E402

warnings.filterwarnings("ignore")
kvt, data, work = sys.argv[1:4]
os.makedirs(work, exist_ok=True)
topologies = os.path.join(data, "topologies")

FILES = ["parmed_ala3.psf", "namd_cgenff.psf", "ace_mbondi3.parm7", "ace_mbondi3_noz.parm7",
         "chitosan.prmtop", "A6PA6_alpha.pdb", "namd_cgenff.pdb", "elements.pdb",
         "conect_parsing.pdb", "nucl_res.pdb", "gmx_resid_wrap.pdb", "residwrap.gro",
         "two_water_gro_widebox.gro", "sameresid_diffresname.gro", "huge_box.gro"]

# Selections as users write them.
TEXTS = [
    "all", "protein", "backbone", "nucleic", "name CA", "protein and name CA", "name CA CB N",
    "name H*", "name C? and not name CA", "name [CN]* and resid 1:3", "not name H*",
    "protein and not backbone", "resname ALA", "resname SOL WAT TIP3 HOH", "resname A* and type C*",
    "resid 1", "resid 1:5", "resid 1-5 and name CA", "resid 2 to 4", "resid 1 3 5", "resnum 1:3",
    "index 0:9", "bynum 1-10", "index 5 7 9 or bynum 1", "mass 12.011", "mass 1 to 2",
    "mass 12 to 16 and not protein", "charge -1 to 0", "element O", "element C N and resid 1",
    "segid S* or segid A*", "chainID A", "(name CA or name N) and resid 1:3",
    "name CA or name N and resid 1:3", "not (protein or resname SOL WAT)",
    "not protein and not nucleic", "name O* and resid 2:3 10-12", "resid 1 to 3 and not mass 1.008",
]


def kvt_select(top, text, *extra):
    """The atoms kvt selects (0-based), or the error line when it fails."""
    r = subprocess.run([kvt, "select", "--top", top, text, *extra], stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, text=True)
    if r.returncode != 0:
        return None, r.stderr.strip()
    return [int(n) - 1 for n in r.stdout.split()], ""


def mda_select(u, text, **groups):
    try:
        return list(u.select_atoms(text, **groups).indices), ""
    except Exception as e:  # MDAnalysis refuses the text: a missing attribute or bad syntax
        return None, f"{type(e).__name__}: {e}"


def elements(u):
    """Each atom's element as our topologies hold it, and MDAnalysis's own ("" for none)."""
    theirs = list(u.atoms.elements) if hasattr(u.atoms, "elements") else [""] * u.atoms.n_atoms
    guessed = [guess_atom_element(name).capitalize() for name in u.atoms.names]
    ours = [e if e else (g if g in SYMB2Z else "") for e, g in zip(theirs, guessed)]
    return ours, theirs


def element_atoms(u, column, text):
    """The atoms an `element ...` text selects (alone or and-ed with the rest of the text) when
    the elements are `column`."""
    words = text.split()
    patterns = words[1:words.index("and")] if "and" in words else words[1:]
    atoms = {i for i, e in enumerate(column) if any(fnmatch.fnmatchcase(e, p) for p in patterns)}
    if "and" in words:
        atoms &= set(u.select_atoms(" ".join(words[words.index("and") + 1:])).indices)
    return sorted(atoms)


def compare(label, top, text, want, why, *extra):
    """kvt against the atoms expected (None when MDAnalysis refuses the text, for `why`)."""
    got, err = kvt_select(top, text, *extra)
    if want is None:
        check(f"{label}: {text!r}", got is None,
              f"MDAnalysis refuses it ({why}); kvt: {err or 'selects ' + str(len(got))}")
        return
    if not want:
        check(f"{label}: {text!r}", got is None and err.endswith("no atom is selected"),
              f"nothing to select; kvt: {err or 'selects ' + str(len(got))}")
        return
    check(f"{label}: {text!r}", got == want,
          f"{len(want)} atoms" if got == want else f"expected {want[:8]}..., kvt {err or got[:8]}")


def fixtures():
    for name in FILES:
        path = os.path.join(topologies, name)
        u = mda.Universe(path)
        ours, theirs = elements(u)
        for text in TEXTS:
            want, why = mda_select(u, text)
            if text.startswith("element"):
                if want is not None:
                    among = [a for a in element_atoms(u, ours, text) if theirs[a]]
                    check(f"{name}: {text!r} where MDAnalysis has elements", among == want,
                          f"{len(want)} atoms")
                want, why = element_atoms(u, ours, text), ""
            compare(name, path, text, want, why)


def insertion_codes():
    """One CA per residue 10, 10A, 10B, 11, 12, 12A."""
    path = os.path.join(work, "icodes.pdb")
    codes = [(10, " "), (10, "A"), (10, "B"), (11, " "), (12, " "), (12, "A")]
    with open(path, "w") as f:
        for i, (resid, code) in enumerate(codes):
            f.write("ATOM  %5d  CA  ALA A%4d%s   %8.3f%8.3f%8.3f  1.00  0.00           C\n"
                    % (i + 1, resid, code, 1.5 * i, 0.0, 0.0))
        f.write("END\n")
    u = mda.Universe(path)
    for text in ["resid 10", "resid 10A", "resid 10A-10B", "resid 10-12", "resid 10A-12",
                 "resid 12-10", "resid 11 to 12A", "resid 10 12A", "resnum 10", "resid 10:12A"]:
        compare("icodes.pdb", path, text, *mda_select(u, text))


def index_groups():
    """Groups of a GROMACS index file against MDAnalysis's groups of the same atoms."""
    path = os.path.join(topologies, "A6PA6_alpha.pdb")
    u = mda.Universe(path)
    groups = {"Alanines": u.select_atoms("resname ALA"), "Oxygens": u.select_atoms("name O*")}
    ndx = os.path.join(work, "groups.ndx")
    with open(ndx, "w") as f:
        for name, group in (("Alanines", groups["Alanines"]), ("the oxygens", groups["Oxygens"])):
            f.write(f"[ {name} ]\n" + " ".join(str(i + 1) for i in group.indices) + "\n")
    for ours, theirs in (("group Alanines", "group Alanines"),
                         ("group \"the oxygens\" and not group Alanines",
                          "group Oxygens and not group Alanines"),
                         ("group Alanines and name C*", "group Alanines and name C*")):
        compare("groups.ndx", path, ours, *mda_select(u, theirs, **groups), "--index", ndx)


def gromacs_layout():
    """`-o` writes a group as GROMACS writes it: gmx make_ndx's C-alpha group, byte for byte."""
    path = os.path.join(topologies, "A6PA6_alpha.pdb")
    made = os.path.join(work, "made.ndx")
    r = subprocess.run(["gmx", "make_ndx", "-f", path, "-o", made], input="q\n", text=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if r.returncode != 0:
        print("gmx make_ndx not available: the index layout is not compared")
        return
    with open(made) as f:
        sections = f.read().split("[ ")
    want = "[ " + next(s for s in sections if s.startswith("C-alpha ]"))
    ours = os.path.join(work, "ours.ndx")
    kvt_select(path, "protein and name CA", "-o", ours, "--name", "C-alpha")
    with open(ours) as f:
        got = f.read()
    check("-o writes GROMACS's layout", got == want, f"{len(got)} bytes")


fixtures()
insertion_codes()
index_groups()
gromacs_layout()
finish()
