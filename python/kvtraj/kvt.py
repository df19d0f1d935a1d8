"""KVT files: a trajectory stored as an average structure, eigenvectors with their eigenvalues
and the projection of every snapshot on every eigenvector.

Indices here follow Python (0-based, negative from the end, slices); the C++ module underneath
counts from 1. The array attributes are read-only views of the file's arrays in memory: they
copy nothing and keep the file's data alive after the KVT object is gone."""
import numbers
import os

import numpy as np

from kvtraj import _core


def open(path):
    """Reads the whole KVT file at `path` (any version: KVT0, KVT2, KVT4, KVT5, KVT6, KVT7)."""
    return KVT(path)


class KVT:
    def __init__(self, path):
        self.path = os.fspath(path)
        self._file = _core.kvtopen(self.path)
        # KVT7: snapshots without `vectors` are the coded frames, exact within max_error.
        self._coded = _core.coded_frames(self._file) if self._file.magic == "KVT7" else None

    natoms = property(lambda self: self._file.natoms)
    nframes = property(lambda self: self._file.nframes)
    nvecs = property(lambda self: self._file.nvecs)
    title = property(lambda self: self._file.title)
    # The layout's magic: "KVT0", "KVT2", "KVT4", "KVT5", "KVT6" or "KVT7".
    version = property(lambda self: self._file.magic)
    # The total variance of the trajectory when the file records it, else the stored value (0).
    quality = property(lambda self: self._file.quality)

    # KVT7: the maximum error (Å) of every coordinate of the coded frames; None otherwise.
    max_error = property(lambda self: self._coded.max_error if self._coded else None)

    # (N, 3), (K,), (K, N, 3) and (F, K) float32, read-only.
    average = property(lambda self: self._file.average)
    eigenvalues = property(lambda self: self._file.eigenvalues)
    eigenvectors = property(lambda self: self._file.eigenvectors)
    projections = property(lambda self: self._file.projections)

    @property
    def atoms(self):
        """The file's atom records as a numpy record array (number, name, resnum, resname,
        chain), one per atom; None when the file holds none. `number` is the atom's 1-based
        position in the system it was selected from."""
        records = self._file.atoms
        if records is None:
            return None
        return np.rec.fromarrays(
            [records[0], np.asarray(records[1], dtype="U4"), records[2],
             np.asarray(records[3], dtype="U3"), np.asarray(records[4], dtype="U1")],
            names="number,name,resnum,resname,chain")

    def __len__(self):
        return self.nframes

    def __iter__(self):
        out = np.empty((self.natoms, 3), dtype=np.float32)
        for i in range(self.nframes):
            self.snapshot_into(i, out)
            yield out.copy()

    def __getitem__(self, index):
        if isinstance(index, numbers.Integral):
            return self.snapshot(index)
        return self.snapshots(index)

    def __repr__(self):
        return (f"<KVT {self.path!r}: {self.natoms} atoms, {self.nframes} frames, "
                f"{self.nvecs} vectors>")

    def snapshot(self, i, vectors=None):
        """Snapshot i (N, 3) rebuilt from `vectors`: None for all, K for the first K, or a
        slice of vector indices (step 1). For KVT7 files, None gives the coded frame."""
        return self.snapshots([self._frame(i)], vectors)[0]

    def snapshots(self, frames=slice(None), vectors=None):
        """The snapshots picked by `frames` (a slice or a sequence of indices) as (F', N, 3),
        rebuilt in C++ from `vectors` (as for snapshot)."""
        if isinstance(frames, slice):
            picked = range(self.nframes)[frames]
        else:
            picked = [self._frame(i) for i in np.asarray(frames, dtype=np.int64).ravel()]
        if self._coded and vectors is None:
            return self._coded.read([i + 1 for i in picked])
        first, last = self._vector_range(vectors)
        return self._file.snapshots([i + 1 for i in picked], first, last)

    def snapshot_into(self, i, out, vectors=None):
        """Snapshot i written into `out`, a writeable C-contiguous float32 array of N x 3."""
        if self._coded and vectors is None:
            return self._coded.read_into(self._frame(i) + 1, out)
        first, last = self._vector_range(vectors)
        self._file.snapshot_into(self._frame(i) + 1, out, first, last)

    def scores(self, i):
        """The projections of snapshot i on every vector (K,)."""
        return self._file.scores(self._frame(i) + 1)

    def mahalanobis(self, nv):
        """The Mahalanobis distance of every snapshot over the first `nv` vectors (F,)."""
        return self._file.mahalanobis(nv)

    def fluctuation(self, k):
        """The length of eigenvector k at every atom (N,)."""
        return self._file.fluctuation(_index(k, self.nvecs, "vector") + 1)

    def _frame(self, i):
        return _index(i, self.nframes, "frame")

    def _vector_range(self, vectors):
        if vectors is None:
            return None, None
        if isinstance(vectors, numbers.Integral):
            if not 0 <= vectors <= self.nvecs:
                raise IndexError(f"vector count {vectors} outside 0..{self.nvecs}")
            return 1, int(vectors)
        if isinstance(vectors, slice):
            chosen = range(self.nvecs)[vectors]
            if chosen.step != 1:
                raise ValueError("vectors must be a contiguous range (slice step 1)")
            return chosen.start + 1, chosen.stop
        raise TypeError("vectors must be None, a count or a slice")


def _index(i, count, what):
    if not isinstance(i, numbers.Integral):
        raise TypeError(f"{what} index must be an integer, not {type(i).__name__}")
    j = int(i) + count if i < 0 else int(i)
    if not 0 <= j < count:
        raise IndexError(f"{what} index {i} outside the {count} {what}s")
    return j
