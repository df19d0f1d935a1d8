"""kvtraj.compress: a trajectory stored in principal-component form, as `kvt compress` does it,
or with max_error every coordinate coded within that error (KVT7). The engine streams the frames
block by block, pass after pass; it never holds them all."""
import os
import sys
import time
from dataclasses import dataclass

from kvtraj import _core


@dataclass(frozen=True)
class Summary:
    """What compress wrote: counts, the variance held, the expected RMS error per atom (Å),
    the file's size, and how the engine got there; for a KVT7 file also the maximum error
    asked, the largest deviation found when every block was checked, and how many blocks were
    predicted from the vectors."""

    natoms: int
    nframes: int
    nvecs: int
    percent: float
    expected_rmsd: float
    bytes: int
    solver: str
    fit_rounds: int
    passes: int
    file_atoms: int = 0  # atoms per frame in the input, selected or not
    pbc: str = "none"    # the periodic-image repair that ran
    max_error: float = 0.0
    max_deviation: float = 0.0
    blocks: int = 0
    model_blocks: int = 0


class _TextBar:
    """Progress on sys.stderr: the pass, frames done, rate and time left."""

    def __init__(self, stream=None):
        self.stream = stream or sys.stderr
        self.started = {}

    def __call__(self, step, done, total):
        now = time.monotonic()
        start = self.started.setdefault(step, now)
        if total <= 0:
            self.stream.write(f"\r{step}...")
        else:
            rate = done / (now - start) if now > start else 0.0
            left = f", {(total - done) / rate:.0f} s left" if 0 < done < total and rate else ""
            self.stream.write(f"\r{step}: {done}/{total} frames ({rate:.0f}/s{left})   ")
            if done >= total:
                self.stream.write("\n")
        self.stream.flush()


def compress(source, output, vectors=None, quality=None, rmsd=None, kvt6=False, fit=True,
             solver="auto", progress=None, natoms=None, album=False, title="", threads=2,
             memory=0, top=None, select=None, fit_select=None, pbc=None, index=None, ref=None,
             max_error=None, solvent=None):
    """Compresses `source` (a trajectory name with an optional selection such as
    "run.dcd(1:500:2)", or with album=True a list file) into the KVT file `output`, which
    appears only when complete, and returns a Summary.

    Keep `vectors` eigenvectors, or the fewest holding `quality` % of the variance (default 90),
    or the fewest whose discarded variance gives an expected RMS error of at most `rmsd` Å.
    `solver` is "exact", "randomized" or "auto"; `memory` the budget in MB for the exact
    solver's matrix (0: a quarter of the RAM). `threads` threads each read and work through their
    own part of the frames. `progress` is a callable taking (step, done, total), or True for a
    text bar on sys.stderr; the engine's threads call it one at a time, and an exception it
    raises stops the run.

    With a topology `top` (PDB, GRO, PSF, PRMTOP), `select` stores only some atoms (the
    language of MDAnalysis's select_atoms; `index` names an .ndx file for its groups), and the
    file keeps their names. `pbc` repairs periodic images ("none", "whole", "nojump"; by
    default nojump when a topology is given and the frames carry cells). `fit_select` names the
    atoms the fit is computed on (among the stored ones); `ref` (PDB or GRO of the topology's
    atoms) fits every frame once onto that structure instead of the iterated average.

    With `max_error` (Å) the file is KVT7: every coordinate of every frame comes back within
    that error, and the number of vectors (or `vectors`, if given) is the one that makes the
    smallest file; `solvent` selects the atoms coded from their own past, molecule by molecule
    (by default a topology's water and ions)."""
    if progress is True:
        progress = _TextBar()
    path = lambda p: os.fspath(p) if p else ""  # noqa: E731
    summary = _core.compress(os.fspath(source), os.fspath(output), vectors, quality, rmsd, kvt6,
                             fit, solver, natoms, album, title, threads, memory,
                             progress or None, path(top), path(index), select or "", pbc,
                             fit_select or "", path(ref), max_error, solvent)
    return Summary(**summary)
