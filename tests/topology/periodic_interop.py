"""The periodic-image code on the solvated GROMACS fixtures (tests/data/water), against
MDAnalysis and a float64 numpy reference.

usage: periodic_interop.py PERIODIC_DRIVER WATER_DATA_DIR WORK_DIR
Per box (dodecahedron with its PSF, truncated octahedron with its PRMTOP):
- make_whole, with the bonds of the topology, on the frames as mdrun wrote them and on a copy
  with every atom wrapped into the box on its own (MDAnalysis `wrap(compound="atoms")`): every
  bond vector equals the one after MDAnalysis's `unwrap` transformation, and is shorter than half
  the shortest box vector;
- guess_bonds on a frame, with the types MDAnalysis guesses from the GRO names: the bonds of
  MDAnalysis's guess_bonds on the same coordinates and box (over its all-pairs search), and
  those of the topology but the disulfide bond, too long for the rule;
- nojump over the changing box: equal to u += minimum image under the current box of
  w_t - w_(t-1) in float64, and no atom moves by more than 8 Å between frames.
MDAnalysis 2.4 has no NoJump transformation to compare with.
"""
import functools
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "kvt"))
from interop_common import check, close, finish, require  # noqa: E402

np, mda = require("numpy", "MDAnalysis")
from MDAnalysis.lib import distances  # noqa: E402
from MDAnalysis.topology.guessers import guess_bonds  # noqa: E402
from MDAnalysis.transformations import unwrap  # noqa: E402

SYSTEMS = (("dodecahedron", "psf"), ("octahedron", "prmtop"))


def driver(*args):
    subprocess.run([DRIVER, *args], check=True, stdout=subprocess.DEVNULL)


def frames(path, natoms):
    return np.fromfile(path, dtype="<f4").reshape(-1, natoms, 3)


def bond_vectors(x, bonds):
    return x[:, bonds[:, 1]] - x[:, bonds[:, 0]]


def check_whole(name, top, xtc, bonds):
    """Our whole molecules against MDAnalysis's unwrap, frame by frame."""
    out = os.path.join(WORK, os.path.basename(xtc)[:-len(".xtc")] + "_whole.f32")
    driver("whole", xtc, BONDS, out)
    u = mda.Universe(top, xtc)
    raw = np.array([u.atoms.positions for _ in u.trajectory])
    half = min(min(ts.dimensions[:3]) for ts in u.trajectory) / 2
    u.trajectory.add_transformations(unwrap(u.atoms))
    theirs = np.array([u.atoms.positions for _ in u.trajectory])
    ours = frames(out, len(u.atoms))
    split = int((np.linalg.norm(bond_vectors(raw, bonds), axis=2) > half).sum())
    close(f"{name}: bond vectors as MDAnalysis unwraps them ({split} split before)",
          bond_vectors(ours, bonds), bond_vectors(theirs, bonds), 2e-3)
    longest = float(np.linalg.norm(bond_vectors(ours, bonds), axis=2).max())
    check(f"{name}: every bond shorter than half the box", longest < half,
          f"longest {longest:.2f} Å, half box {half:.2f} Å")
    return split


def wrap_atoms(top, xtc, out):
    """A copy of the trajectory with every atom put into the box on its own."""
    u = mda.Universe(top, xtc)
    with mda.Writer(out, len(u.atoms)) as w:
        for _ in u.trajectory:
            u.atoms.wrap(compound="atoms")
            w.write(u.atoms)


def mdanalysis_guess(atoms, positions, box, method):
    """MDAnalysis's guess_bonds with its pair search forced to `method` (None: its own choice).
    In 2.4 it picks its grid search (nsgrid) here, which misses pairs in the truncated
    octahedron, even unsplit O-H bonds; the all-pairs search finds them."""
    original = distances.self_capped_distance
    if method is not None:
        distances.self_capped_distance = functools.partial(original, method=method)
    try:
        return {tuple(sorted(p)) for p in guess_bonds(atoms, positions, box=box)}
    finally:
        distances.self_capped_distance = original


def check_guess(name, gro, xtc, bonds):
    g = mda.Universe(gro)  # types guessed from the atom names
    types = os.path.join(WORK, name + ".types")
    with open(types, "w") as f:
        f.write("\n".join(g.atoms.types) + "\n")
    out = os.path.join(WORK, name + "_guessed.txt")
    frame = 7
    driver("guess", xtc, str(frame), types, out)
    ours = {tuple(p) for p in np.loadtxt(out, dtype=np.int64).reshape(-1, 2)}
    u = mda.Universe(gro, xtc)
    ts = u.trajectory[frame - 1]
    theirs = mdanalysis_guess(g.atoms, ts.positions, ts.dimensions, "bruteforce")
    check(f"{name}: guess_bonds as MDAnalysis guesses them", ours == theirs,
          f"{len(ours)} bonds, {len(ours - theirs)} not in MDAnalysis's, "
          f"{len(theirs - ours)} missing")
    grid = mdanalysis_guess(g.atoms, ts.positions, ts.dimensions, None)
    print(f"{name}: (MDAnalysis's guess_bonds with its default pair search:"
          f" {len(theirs - grid)} of these bonds missing, {len(grid - theirs)} others)")
    # The disulfide bond (S-S, 2.05 Å) is longer than 0.55 (1.8 + 1.8) = 1.98 Å: MDAnalysis's
    # rule misses it; every other bond of the topology is found.
    listed = {tuple(sorted(p)) for p in bonds.tolist()}
    missing = [(g.atoms[i].type, g.atoms[j].type) for i, j in listed - ours]
    check(f"{name}: guess_bonds gives the bonds of the topology but the disulfide",
          not ours - listed and missing == [("S", "S")],
          f"{len(listed)} listed, {len(ours - listed)} extra, missing {missing}")


def minimum_image(d, rows):
    """Shortest images of the rows of d under the box rows: rounding, then the 27 neighbours."""
    d = d - np.round(d @ np.linalg.inv(rows)) @ rows
    best = d.copy()
    for i in (-1, 0, 1):
        for j in (-1, 0, 1):
            for k in (-1, 0, 1):
                c = d - np.array([i, j, k], dtype=np.float64) @ rows
                nearer = (c * c).sum(axis=1) < (best * best).sum(axis=1)
                best[nearer] = c[nearer]
    return best


def check_nojump(name, top, xtc):
    out = os.path.join(WORK, name + "_nojump.f32")
    driver("nojump", xtc, out)
    u = mda.Universe(top, xtc)
    raw = np.array([u.atoms.positions for _ in u.trajectory], dtype=np.float64)
    rows = np.array([ts.triclinic_dimensions for ts in u.trajectory], dtype=np.float64)
    ref = [raw[0]]
    for t in range(1, len(raw)):
        ref.append(ref[-1] + minimum_image(raw[t] - raw[t - 1], rows[t]))
    ours = frames(out, len(u.atoms))
    jumps = int((np.linalg.norm(np.diff(raw, axis=0), axis=2) > 10).sum())
    check(f"{name}: atoms jump in the frames as read", jumps > 0, f"{jumps} jumps over 10 Å")
    close(f"{name}: nojump equals the float64 reference", ours, np.array(ref), 1e-3)
    # TIP3P waters move by up to about 6 Å in the 0.5 ps between frames; a jump is a box vector.
    step = float(np.linalg.norm(np.diff(ours, axis=0), axis=2).max())
    check(f"{name}: no atom moves more than 8 Å between frames", step < 8.0, f"{step:.2f} Å")


def main():
    global DRIVER, WORK, BONDS
    DRIVER, data, WORK = sys.argv[1:4]
    os.makedirs(WORK, exist_ok=True)
    for name, fmt in SYSTEMS:
        top = os.path.join(data, f"{name}.{fmt}")
        # A copy: MDAnalysis leaves an offsets file beside each XTC file it reads.
        xtc = os.path.join(WORK, name + ".xtc")
        shutil.copy(os.path.join(data, name + ".xtc"), xtc)
        bonds = mda.Universe(top).bonds.indices
        BONDS = os.path.join(WORK, name + ".bonds")
        np.savetxt(BONDS, bonds, fmt="%d")
        split = check_whole(name, top, xtc, bonds)
        check(f"{name}: the peptide is split in the frames as written", split > 0, f"{split}")
        # The readers take the format from the text after the first "." of the name.
        wrapped = os.path.join(WORK, name + "_wrapped.xtc")
        wrap_atoms(top, xtc, wrapped)
        check_whole(name + " wrapped atom by atom", top, wrapped, bonds)
        check_guess(name, os.path.join(data, name + ".gro"), xtc, bonds)
        check_nojump(name, top, xtc)
    finish()


if __name__ == "__main__":
    main()
