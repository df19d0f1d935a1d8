"""Topologies read by the kvtraj readers (PDB, GRO, PSF, PRMTOP), with GROMACS index groups,
and atom selections in the language of MDAnalysis's select_atoms (as `kvt --select` takes it).

    top = kvtraj.Topology("system.gro", index="index.ndx")
    ca = top.select("protein and name CA")       # 0-based atom indices
    top.names[ca], top.resids[ca]
"""
import os

import numpy as np

from kvtraj import _core


class Topology:
    """The atoms of a topology file: per-atom arrays and selections. Masses and elements the
    format lacks are guessed from the names and types, as MDAnalysis guesses them."""

    def __init__(self, path, index=None):
        self.path = os.fspath(path)
        self._file = _core.TopologyFile(self.path, os.fspath(index) if index else "")
        self._columns = {}

    natoms = property(lambda self: self._file.natoms)
    format = property(lambda self: self._file.format)
    masses = property(lambda self: self._file.masses)      # (N,) float32, amu
    charges = property(lambda self: self._file.charges)    # (N,) float32 (e), or None
    resids = property(lambda self: self._file.resids)      # (N,) int32
    bonds = property(lambda self: self._file.bonds)        # (M, 2) int32, 0-based
    cell = property(lambda self: self._file.cell)          # a, b, c, alpha, beta, gamma or None

    @property
    def coordinates(self):
        """(N, 3) float32 positions in Å when the file holds them, else None."""
        xyz = self._file.coordinates
        return None if xyz is None else xyz.reshape(-1, 3)

    @property
    def icodes(self):
        return np.array(list(self._file.icodes), dtype="U1")

    def _column(self, name):
        if name not in self._columns:
            values, indices = self._file.column(name)
            self._columns[name] = np.asarray(values, dtype=str)[indices]
        return self._columns[name]

    names = property(lambda self: self._column("names"))
    types = property(lambda self: self._column("types"))
    elements = property(lambda self: self._column("elements"))
    resnames = property(lambda self: self._column("resnames"))
    chains = property(lambda self: self._column("chains"))
    segids = property(lambda self: self._column("segids"))

    def __len__(self):
        return self.natoms

    def __repr__(self):
        return f"<Topology {self.path!r}: {self.natoms} atoms ({self.format})>"

    def select(self, text):
        """The atoms `text` selects, as ascending 0-based indices (int64). A syntax error, an
        unknown keyword or group, or a selection of no atom raises kvtraj.Error."""
        return self._file.select(text).astype(np.int64)


__all__ = ["Topology"]
