"""Pictures of a KVT file with matplotlib: the eigenvalue spectrum with the cumulative share of
the variance, the snapshots on the first two vectors coloured by frame index, and the length of
the leading eigenvectors at every atom. Draws on a bare Figure, so no display is needed."""
import numpy as np
from matplotlib.figure import Figure
from matplotlib.ticker import MaxNLocator

import kvtraj.kvt


def plot(kvt, output=None, vectors=3):
    """Draws `kvt` (a KVT object or a path) and returns the Figure; with `output` it is also
    saved there, as PNG, SVG or PDF by the file's extension."""
    k = kvt if isinstance(kvt, kvtraj.kvt.KVT) else kvtraj.kvt.KVT(kvt)
    fig = Figure(figsize=(15, 4.5), layout="constrained")
    scree, scatter, fluc = fig.subplots(1, 3)
    _scree(scree, k)
    _projections(fig, scatter, k)
    _fluctuations(fluc, k, min(vectors, k.nvecs))
    fig.suptitle(k.title or k.path)
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
