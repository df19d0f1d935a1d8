#!/usr/bin/python3
"""The kvtraj Python package side by side with its peers, one run, ratios printed:

  1. kvtraj.open(...).projections of a ~200 MB KVT4 file against `kvt query --evals` of the
     same file (the program's own kvtopen, plus a process start and 1,400 short lines);
  2. iterating an MDAnalysis Universe over a KVT file of the shared peptide against the same
     Universe over the DCD that `kvt expand` writes from it (MDAnalysis's C DCD reader);
  3. kvtraj.read of a DCD against mdtraj.load_dcd of the same file (the shared peptide, and a
     synthetic 2,000-atom, 5,000-frame DCD).

Each pair alternates its two sides and keeps the fastest of each. The page cache holds the
files after the first round, so both sides read from memory.

usage: PYTHONPATH=BUILD/python bench/python/compare.py BUILD   (needs MDAnalysis and MDTraj)
"""
import os
import pathlib
import subprocess
import sys
import tempfile
import time
import warnings

import numpy as np

if len(sys.argv) != 2:
    sys.exit(__doc__)
BUILD = pathlib.Path(sys.argv[1])
KVT = BUILD / "apps" / "kvt" / "kvt"
SHARED = pathlib.Path(__file__).resolve().parents[3] / "shared" / "data"
if not SHARED.is_dir():
    SHARED = pathlib.Path("/work/shared/data")
import kvtraj  # noqa: E402
import kvtraj.mdanalysis  # noqa: E402,F401
import MDAnalysis as mda  # noqa: E402
import mdtraj as md  # noqa: E402

warnings.simplefilter("ignore")  # after the imports: MDAnalysis sets its own filters


def fastest(a, b, rounds):
    """Best times in seconds of a() and b(), called alternately."""
    best_a = best_b = float("inf")
    for _ in range(rounds):
        t = time.perf_counter()
        a()
        best_a = min(best_a, time.perf_counter() - t)
        t = time.perf_counter()
        b()
        best_b = min(best_b, time.perf_counter() - t)
    return best_a, best_b


def report(what, ours, theirs, peer, per=1, unit="ms"):
    scale = 1e3 if unit == "ms" else 1e6
    print(f"{what}: kvtraj {ours / per * scale:.3f} {unit}, {peer} {theirs / per * scale:.3f} "
          f"{unit}, ratio {peer}/kvtraj = {theirs / ours:.2f}")


def write_kvt4(path, natoms=10000, nframes=5000, nvecs=1400):
    """A KVT4 file of random vectors (~196 MB), written block by block."""
    rng = np.random.default_rng(7)
    header = np.zeros(1, dtype=[("magic", "S4"), ("title", "S80"), ("counts", "<i4", 3),
                                ("quality", "<f4"), ("reserved", "<i4", 4)])
    header["magic"], header["title"] = b"KVT4", b"bench".ljust(80)
    header["counts"] = (natoms, nframes, nvecs)
    with open(path, "wb") as f:
        f.write(header.tobytes())
        f.write(rng.standard_normal(3 * natoms, dtype=np.float32).tobytes())
        for k in range(nvecs):
            f.write(rng.standard_normal(3 * natoms, dtype=np.float32).tobytes())
            f.write(np.float32(1.0 / (k + 1)).tobytes())
            f.write(rng.standard_normal(nframes, dtype=np.float32).tobytes())


def bench_projections(work):
    path = work / "big.kvt"
    write_kvt4(path)
    size = path.stat().st_size / 1e6
    ours = kvtraj.open(path).projections
    assert ours.shape == (5000, 1400) and ours[3, 2] != 0
    t_ours, t_kvt = fastest(lambda: kvtraj.open(path).projections,
                            lambda: subprocess.run([KVT, "query", "-i", path, "--evals"],
                                                   check=True, stdout=subprocess.DEVNULL), 5)
    report(f"open + projections, {size:.0f} MB KVT4", t_ours, t_kvt, "kvt query")
    print(f"  kvtraj / kvt = {t_ours / t_kvt:.2f} (target: at most 1.3)")


def bench_mdanalysis(work):
    kvt_file, dcd = work / "peptide.kvt", work / "peptide_expanded.dcd"
    subprocess.run([KVT, "compress", "-i", SHARED / "peptide.dcd", "-o", kvt_file, "--quiet"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run([KVT, "expand", "-i", kvt_file, "-o", dcd], check=True,
                   stdout=subprocess.DEVNULL)
    pdb = str(SHARED / "peptide.pdb")
    u_kvt, u_dcd = mda.Universe(pdb, str(kvt_file)), mda.Universe(pdb, str(dcd))
    frames = u_kvt.trajectory.n_frames
    a = np.stack([ts.positions.copy() for ts in u_kvt.trajectory])
    b = np.stack([ts.positions.copy() for ts in u_dcd.trajectory])
    assert np.array_equal(a, b), "the two Universes disagree"

    def iterate(u):
        return lambda: [ts.positions for _ in range(20) for ts in u.trajectory]

    t_kvt, t_dcd = fastest(iterate(u_kvt), iterate(u_dcd), 5)
    report(f"MDAnalysis iteration, peptide ({frames} frames, {u_kvt.atoms.n_atoms} atoms, "
           f"{kvtraj.open(kvt_file).nvecs} vectors)", t_kvt, t_dcd, "DCD", per=20 * frames,
           unit="us")


def synthetic_dcd(path, natoms=2000, nframes=5000):
    rng = np.random.default_rng(3)
    top = md.Topology()
    residue = top.add_residue("GLY", top.add_chain())
    for i in range(natoms):
        top.add_atom(f"C{i % 1000}", md.element.carbon, residue)
    xyz = (rng.standard_normal((nframes, natoms, 3)) + 5).astype(np.float32)
    md.Trajectory(xyz, top).save_dcd(str(path))
    return top


def bench_read(work):
    big = work / "synthetic.dcd"
    top_big = synthetic_dcd(big)
    # Topologies are loaded once, so that load_dcd times the reading alone.
    top_peptide = md.load_topology(str(SHARED / "peptide.pdb"))
    cases = [(SHARED / "peptide.dcd", top_peptide, 20), (big, top_big, 5)]
    for path, top, rounds in cases:
        coords, _ = kvtraj.read(path)
        ref = md.load_dcd(str(path), top=top)
        np.testing.assert_allclose(coords / 10, ref.xyz, rtol=1e-6)
        t_ours, t_md = fastest(lambda: kvtraj.read(path), lambda: md.load_dcd(str(path), top=top),
                               rounds)
        mb = path.stat().st_size / 1e6
        report(f"read {path.name} ({mb:.1f} MB, {coords.shape[0]} frames)", t_ours, t_md,
               "mdtraj.load_dcd")


with tempfile.TemporaryDirectory(dir=os.environ.get("KVTRAJ_BENCH_DIR")) as tmp:
    work = pathlib.Path(tmp)
    bench_projections(work)
    bench_mdanalysis(work)
    bench_read(work)
