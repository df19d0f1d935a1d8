"""Comparisons of two sets of vectors: the KVT files' eigenvectors, or arrays of them shaped
(K, N, 3) or (K, 3N) as MDAnalysis's p_components.T is."""
import numpy as np

from kvtraj import _core
from kvtraj.kvt import KVT


def _vectors(x):
    v = x.eigenvectors if isinstance(x, KVT) else x
    return np.asarray(v, dtype=np.float32)


def overlap(a, b):
    """The matrix |a_i . b_j| (Ka, Kb) of every vector of `a` with every vector of `b`."""
    return _core.overlap(_vectors(a), _vectors(b))


def rmsip(a, b, k):
    """The root mean square inner product of the first k vectors of `a` and of `b` (Amadei
    1999): 1 for the same subspace, 0 for orthogonal ones."""
    return _core.rmsip(_vectors(a), _vectors(b), k)


# Boltzmann's constant in kJ/(mol K).
BOLTZMANN = 0.0083144626


def free_energy(x, y, temperature=300.0, bins=50):
    """The free-energy landscape of points (x, y): -kT ln P of their 2-D histogram (kJ/mol),
    the most populated bin at 0 and empty bins NaN; returns it with the bin edges, as gmx sham
    maps projections on two vectors."""
    if not temperature > 0:
        raise ValueError("temperature must be above 0 K")
    counts, xedges, yedges = np.histogram2d(np.asarray(x, np.float64), np.asarray(y, np.float64),
                                            bins=bins)
    g = np.full(counts.shape, np.nan)
    filled = counts > 0
    g[filled] = -BOLTZMANN * temperature * np.log(counts[filled] / counts.max())
    return g, xedges, yedges


def residue_magnitudes(kvt, vectors=3):
    """Per residue (in the order the atoms meet them), the mean length of each of the first
    `vectors` eigenvectors over its atoms: the labels ("A:ALA12") and an (R, V) array. Needs the
    file's atom records."""
    atoms = kvt.atoms
    if atoms is None:
        raise ValueError(f"{kvt.path} holds no atom records: per-residue magnitudes need them")
    keys = list(zip(atoms.chain, atoms.resnum, atoms.resname))
    order = list(dict.fromkeys(keys))
    where = np.array([order.index(key) for key in keys])
    count = np.bincount(where, minlength=len(order))
    out = np.array([np.bincount(where, weights=kvt.fluctuation(v), minlength=len(order)) / count
                    for v in range(min(vectors, kvt.nvecs))]).T.reshape(len(order), -1)
    labels = [f"{c.strip() + ':' if c.strip() else ''}{name}{num}" for c, num, name in order]
    return labels, out
