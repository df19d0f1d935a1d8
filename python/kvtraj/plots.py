"""Pictures of a KVT file with matplotlib: the eigenvalue spectrum with the cumulative share of
the variance, the snapshots on the first two vectors coloured by frame index, and the length of
the leading eigenvectors at every atom; the free-energy landscape on two vectors; the leading
eigenvectors' magnitude per residue. Draws on a bare Figure, so no display is needed."""
import numpy as np
from matplotlib.figure import Figure
from matplotlib.ticker import MaxNLocator

import kvtraj.kvt
from kvtraj.analyses import free_energy, residue_magnitudes


def plot(kvt, output=None, vectors=3):
    """Draws `kvt` (a KVT object or a path) and returns the Figure; with `output` it is also
    saved there, as PNG, SVG or PDF by the file's extension."""
    k = _opened(kvt)
    fig = Figure(figsize=(15, 4.5), layout="constrained")
    scree, scatter, fluc = fig.subplots(1, 3)
    _scree(scree, k)
    _projections(fig, scatter, k)
    _fluctuations(fluc, k, min(vectors, k.nvecs))
    fig.suptitle(k.title or k.path)
    if output is not None:
        fig.savefig(output)
    return fig


def _opened(kvt):
    return kvt if isinstance(kvt, kvtraj.kvt.KVT) else kvtraj.kvt.KVT(kvt)


def landscape(kvt, output=None, vectors=(0, 1), temperature=300.0, bins=50):
    """The free-energy landscape (-kT ln P, kJ/mol) of the snapshots on two vectors (0-based)
    at `temperature` K, as gmx sham draws it; returns the Figure, saved to `output` if given."""
    k = _opened(kvt)
    i, j = vectors
    if not (0 <= i < k.nvecs and 0 <= j < k.nvecs and i != j):
        raise ValueError(f"the landscape needs two different vectors of 0..{k.nvecs - 1}")
    g, xedges, yedges = free_energy(k.projections[:, i], k.projections[:, j], temperature, bins)
    fig = Figure(figsize=(6.5, 5), layout="constrained")
    ax = fig.subplots()
    mesh = ax.pcolormesh(xedges, yedges, g.T, cmap="viridis", shading="flat")
    fig.colorbar(mesh, ax=ax, label="free energy (kJ/mol)")
    ax.set_xlabel(f"PC{i + 1} (Å)")
    ax.set_ylabel(f"PC{j + 1} (Å)")
    ax.set_title(f"{k.title or k.path}, {temperature:g} K")
    if output is not None:
        fig.savefig(output)
    return fig


def residues(kvt, output=None, vectors=3):
    """The mean length of the leading eigenvectors per residue (needs the file's atom records);
    returns the Figure, saved to `output` if given."""
    k = _opened(kvt)
    labels, values = residue_magnitudes(k, vectors)
    fig = Figure(figsize=(max(6.0, 0.25 * len(labels)), 4.5), layout="constrained")
    ax = fig.subplots()
    at = np.arange(len(labels))
    for v in range(values.shape[1]):
        ax.plot(at, values[:, v], marker=".", label=f"vector {v + 1}")
    ax.set_xticks(at, labels, rotation=90, fontsize=7)
    ax.set_ylabel("mean eigenvector length")
    ax.set_title(f"{k.title or k.path}: per residue")
    if values.shape[1]:
        ax.legend()
    if output is not None:
        fig.savefig(output)
    return fig


def _scree(ax, k):
    evals = np.asarray(k.eigenvalues, dtype=np.float64)
    # The file records the trajectory's total variance when it was written with one; otherwise
    # the shares are of the stored vectors' variance.
    total = k.quality if k.quality > 0 else evals.sum()
    share = 100.0 * evals / total if total > 0 else np.zeros_like(evals)
    index = np.arange(1, len(evals) + 1)
    ax.bar(index, share, color="tab:blue")
    ax.set_xlabel("vector")
    ax.xaxis.set_major_locator(MaxNLocator(integer=True))
    ax.set_ylabel("% of the variance" if k.quality > 0 else "% of the stored variance")
    ax.set_title("eigenvalues")
    cumulative = ax.twinx()
    cumulative.plot(index, np.cumsum(share), color="tab:red", marker=".")
    cumulative.set_ylim(0, 100)
    cumulative.set_ylabel("cumulative %", color="tab:red")


def _projections(fig, ax, k):
    proj = k.projections
    frames = np.arange(k.nframes)
    ax.set_title("projections")
    if k.nvecs == 0:
        ax.text(0.5, 0.5, "no vectors", ha="center", va="center", transform=ax.transAxes)
        return
    x, y, ylabel = (proj[:, 0], proj[:, 1], "PC2") if k.nvecs > 1 else (frames, proj[:, 0], "PC1")
    points = ax.scatter(x, y, c=frames, cmap="viridis", s=8)
    ax.set_xlabel("PC1 (Å)" if k.nvecs > 1 else "frame")
    ax.set_ylabel(f"{ylabel} (Å)")
    fig.colorbar(points, ax=ax, label="frame")


def _fluctuations(ax, k, count):
    atoms = np.arange(1, k.natoms + 1)
    for v in range(count):
        ax.plot(atoms, k.fluctuation(v), label=f"vector {v + 1}")
    ax.set_xlabel("atom")
    ax.set_ylabel("eigenvector length")
    ax.set_title("per-atom magnitude")
    if count:
        ax.legend()
