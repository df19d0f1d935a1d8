#!/usr/bin/python3
"""Writes NAME.ref beside each good topology fixture here: what MDAnalysis reads from it, for
tests/topology/reference_test.cpp to compare with our readers. Run from anywhere with Debian's
interpreter (python3-mdanalysis 2.4.2); the output is committed, so that the test suite does not
need MDAnalysis.

Each .ref is tab-separated text:
  atoms N
  cell a b c alpha beta gamma      (or "cell none")
  has ATTR...                      the optional attributes MDAnalysis gives (charges, icodes,
                                   chains, positions)
  atom name type element mass charge resid resname icode segid chain x y z   (N lines)
  bonds K                          (or "bonds none"), then K lines "bond i j", 0-based, i < j

The element column is MDAnalysis's element where it reads one (PDB columns 77-78, PRMTOP
ATOMIC_NUMBER). Where it reads none, and for PDB atoms whose element it leaves empty, it is
MDAnalysis's guess_atom_element of the name, capitalised, or empty when that is no element.

1a2c_ins_code_cut.psf: MDAnalysis 2.4.2 refuses residue numbers with insertion codes ("1H");
from 2.8 it reads their leading digits (lib.util.atoi). Its reference is made with that change
applied to 2.4.2's PSF parser and nothing else.
"""
import inspect
import itertools
import os
import sys
import textwrap
import warnings

import MDAnalysis as mda
from MDAnalysis.topology import PSFParser
from MDAnalysis.topology.guessers import guess_atom_element
from MDAnalysis.topology.tables import SYMB2Z

HERE = os.path.dirname(os.path.abspath(__file__))
FIXTURES = [
    "A6PA6_alpha.pdb", "namd_cgenff.pdb", "elements.pdb", "conect_parsing.pdb", "nucl_res.pdb",
    "gmx_resid_wrap.pdb",
    "residwrap.gro", "two_water_gro_widebox.gro", "huge_box.gro", "sameresid_diffresname.gro",
    "parmed_ala3.psf", "namd_cgenff.psf", "1a2c_ins_code_cut.psf",
    "ace_mbondi3.parm7", "ace_mbondi3_noz.parm7", "chitosan.prmtop",
]


def leading_int(text):
    """MDAnalysis 2.8's lib.util.atoi: the leading digits of the stripped text, or 0."""
    digits = "".join(itertools.takewhile(str.isdigit, text.strip()))
    return int(digits) if digits else 0


def read_resids_as_later_versions():
    source = textwrap.dedent(inspect.getsource(PSFParser.PSFParser._parseatoms))
    if source.count("int(x[2])") != 1:
        sys.exit("make_refs.py: this MDAnalysis's PSF parser is not the one expected")
    namespace = dict(vars(PSFParser), leading_int=leading_int)
    exec(source.replace("int(x[2])", "leading_int(x[2])"), namespace)
    PSFParser.PSFParser._parseatoms = namespace["_parseatoms"]


def guessed_element(name):
    element = guess_atom_element(name).capitalize()
    return element if element in SYMB2Z else ""


def number(value):
    return "%.9g" % value


def dump(name):
    u = mda.Universe(os.path.join(HERE, name))
    atoms = u.atoms
    has = [attr for attr, present in (("charges", hasattr(atoms, "charges")),
                                       ("icodes", hasattr(atoms, "icodes")),
                                       ("chains", hasattr(atoms, "chainIDs")),
                                       ("positions", hasattr(u, "trajectory")))
           if present]
    lines = ["# What MDAnalysis %s reads from %s; written by make_refs.py, do not edit"
             % (mda.__version__, name), "atoms\t%d" % len(atoms)]
    cell = u.dimensions if hasattr(u, "trajectory") else None
    lines.append("cell\tnone" if cell is None else "cell\t" + "\t".join(map(number, cell)))
    lines.append("\t".join(["has"] + has))
    elements = atoms.elements if hasattr(atoms, "elements") else [""] * len(atoms)
    pdb = name.endswith(".pdb")
    for i, atom in enumerate(atoms):
        element = elements[i]
        if not hasattr(atoms, "elements") or (pdb and element == ""):
            element = guessed_element(atom.name)
        row = [atom.name, atom.type, element, number(atom.mass),
               number(atom.charge) if "charges" in has else "", str(atom.resid), atom.resname,
               atom.icode if "icodes" in has else "", atom.segid,
               atom.chainID if "chains" in has else ""]
        row += [number(v) for v in atom.position] if "positions" in has else ["", "", ""]
        lines.append("\t".join(["atom"] + row))
    if hasattr(u, "bonds"):
        pairs = sorted({tuple(sorted(map(int, b))) for b in u.bonds.indices})
        lines.append("bonds\t%d" % len(pairs))
        lines += ["bond\t%d\t%d" % p for p in pairs]
    else:
        lines.append("bonds\tnone")
    with open(os.path.join(HERE, name + ".ref"), "w") as out:
        out.write("\n".join(lines) + "\n")


def main():
    warnings.simplefilter("ignore")
    read_resids_as_later_versions()
    for name in FIXTURES:
        dump(name)


if __name__ == "__main__":
    main()
