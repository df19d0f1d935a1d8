#!/usr/bin/python3
"""Side-by-side timings of the periodic-image code against MDAnalysis and numpy.

Tiles the first two frames of the dodecahedron fixture (tests/data/water: 3,038 atoms, peptide
in TIP3P) 4 x 3 x 3 times along its box vectors into one 109,368-atom system in a box 4 x 3 x 3
times as large, writes it into WORK_DIR, runs periodic_bench of a build directory on it and times
the peers on the same data in the same run:

| ours | against |
|---|---|
| guess_bonds, frame 1 | MDAnalysis 2.4 `guess_bonds(atoms, positions, box)` |
| make_whole of frame 1 with every atom wrapped into the box on its own | MDAnalysis `make_whole` of each fragment (what its `unwrap` transformation runs per frame) |
| step_unwrapped, frame 1 to 2 (each wrapped atom by atom), all atoms | numpy float64: rounding in fractional coordinates, then the 27 neighbouring images |

The results are checked first: the number of bonds, the longest bond after make_whole and the
largest step must agree. Prints the times and the ratios (above 1: ours is faster).

usage: bench/topology/periodic_compare.py BUILD_DIR [WORK_DIR]
Needs Debian's python3-mdanalysis (hence /usr/bin/python3).
"""
import os
import shutil
import sys

import numpy as np
import MDAnalysis as mda
from MDAnalysis.lib.distances import apply_PBC
from MDAnalysis.lib.mdamath import make_whole, triclinic_vectors
from MDAnalysis.topology.guessers import guess_bonds

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "fmtreaders"))
from common import best_of, run_benchmark, seconds  # noqa: E402

sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "topology"))
from periodic_interop import minimum_image  # noqa: E402  (the tests' float64 reference)

if len(sys.argv) not in (2, 3):
    sys.exit(__doc__)
BUILD = os.path.abspath(sys.argv[1])
WORK = os.path.abspath(sys.argv[2] if len(sys.argv) == 3 else "/tmp/kvtraj-periodic-bench")
WATER = os.path.join(HERE, "..", "..", "tests", "data", "water")
TILES = (4, 3, 3)


def tiled(positions, rows):
    shifts = [i * rows[0] + j * rows[1] + k * rows[2]
              for i in range(TILES[0]) for j in range(TILES[1]) for k in range(TILES[2])]
    return np.concatenate([positions + s for s in shifts]).astype(np.float32)


def make_inputs():
    os.makedirs(WORK, exist_ok=True)
    # A copy: MDAnalysis leaves an offsets file beside each XTC file it reads.
    xtc = os.path.join(WORK, "dodecahedron.xtc")
    shutil.copy(os.path.join(WATER, "dodecahedron.xtc"), xtc)
    u = mda.Universe(os.path.join(WATER, "dodecahedron.psf"), xtc)
    types = mda.Universe(os.path.join(WATER, "dodecahedron.gro")).atoms.types
    n, copies = len(u.atoms), int(np.prod(TILES))
    frames, cells, first = [], [], None
    for ts in u.trajectory[:2]:
        rows = ts.triclinic_dimensions.astype(np.float64)
        x = ts.positions.astype(np.float64)
        if first is None:
            first = x
        else:  # no jumps between the two frames of the small box: they could not be undone
            x = first + minimum_image(x - first, rows)
        frames.append(tiled(x, rows))
        cells.append(np.concatenate([ts.dimensions[:3] * TILES, ts.dimensions[3:]]))
    cells = np.array(cells, dtype=np.float32)
    bonds = np.concatenate([u.bonds.indices + c * n for c in range(copies)]).astype(np.int32)
    # As mdrun would write the large system: every atom in the box on its own.
    wrapped = apply_PBC(frames[0], cells[0])
    frames[1] = apply_PBC(frames[1], cells[1])
    with open(os.path.join(WORK, "types.txt"), "w") as f:
        f.write("\n".join(np.tile(types, copies)) + "\n")
    frames[0].tofile(os.path.join(WORK, "coords.f32"))
    frames[1].tofile(os.path.join(WORK, "next.f32"))
    wrapped.tofile(os.path.join(WORK, "wrapped.f32"))
    bonds.tofile(os.path.join(WORK, "bonds.i32"))
    cells.tofile(os.path.join(WORK, "cells.f32"))
    return np.tile(types, copies), frames, cells, bonds, wrapped


def main():
    types, frames, cells, bonds, wrapped = make_inputs()
    natoms = len(types)
    rows = run_benchmark(os.path.join(BUILD, "bench", "topology", "periodic_bench"), WORK,
                         "1", 3)
    ours = seconds(rows)

    u = mda.Universe.empty(natoms, trajectory=True)
    u.add_TopologyAttr("types", types)
    u.add_TopologyAttr("bonds", [tuple(b) for b in bonds])
    u.dimensions = cells[0]
    theirs_bonds = guess_bonds(u.atoms, frames[0], box=cells[0])
    u.atoms.positions = wrapped
    fragments = u.atoms.fragments

    def peer_whole():
        u.atoms.positions = wrapped
        for frag in fragments:
            make_whole(frag)

    peer_whole()
    whole = u.atoms.positions.astype(np.float64)
    longest = float(np.linalg.norm(whole[bonds[:, 1]] - whole[bonds[:, 0]], axis=1).max())
    next_rows = triclinic_vectors(cells[1]).astype(np.float64)

    def peer_step():
        return wrapped + minimum_image(frames[1].astype(np.float64) - wrapped, next_rows)

    largest = float(np.abs(peer_step() - wrapped).max())

    checks = [("bonds", rows["BM_guess_bonds"]["bonds"], float(len(theirs_bonds)), 0),
              ("longest bond after make_whole (Å)", rows["BM_make_whole"]["longest_bond"],
               longest, 1e-3),
              ("largest nojump step (Å)", rows["BM_step_unwrapped"]["largest_step"], largest,
               1e-3)]
    for what, got, want, tol in checks:
        print(f"check {what}: ours {got:.6g}, peer {want:.6g}")
        if abs(got - want) > tol:
            sys.exit(f"results differ: {what}")

    peers = {
        "BM_guess_bonds": ("MDAnalysis guess_bonds",
                           best_of(lambda: guess_bonds(u.atoms, frames[0], box=cells[0]), 3)),
        "BM_make_whole": ("MDAnalysis make_whole per fragment", best_of(peer_whole, 3)),
        "BM_step_unwrapped": ("numpy minimum-image step", best_of(peer_step, 5)),
    }
    print(f"{natoms} atoms, {len(bonds)} bonds, {len(fragments)} molecules")
    for name, (peer, peer_s) in peers.items():
        mine = ours[name]
        print(f"{name}: ours {mine * 1e3:.1f} ms, {peer} {peer_s * 1e3:.1f} ms,"
              f" ratio {peer_s / mine:.1f}")


if __name__ == "__main__":
    main()
