"""kvtraj in Python: KVT files as numpy arrays, trajectories read by the kvtraj readers.

    import kvtraj
    k = kvtraj.open("run.kvt")             # k.projections, k.eigenvalues, k.snapshot(0), ...
    p = k.project("other.dcd")             # other frames on k's vectors; k.rmsf(), ...
    kvtraj.rmsip(k, kvtraj.open("b.kvt"), 5)
    coords, boxes = kvtraj.read("run.dcd(1:500:2)")
    summary = kvtraj.compress("run.dcd", "run.kvt", quality=90, progress=True)
    top = kvtraj.Topology("system.gro"); top.select("protein and name CA")
    kvtraj.compress("md.xtc", "prot.kvt", top="system.gro", select="protein")

Every fatal condition of the C++ modules raises kvtraj.Error; the modules print nothing unless
kvtraj.set_verbose(True), and then on sys.stderr. `import kvtraj.mdanalysis` registers the KVT
coordinate reader with MDAnalysis; kvtraj.mdtraj.load reads a KVT file as an mdtraj.Trajectory.
"""
from kvtraj._core import Error, set_verbose
from kvtraj.analyses import overlap, rmsip
from kvtraj.compression import Summary, compress
from kvtraj.kvt import KVT, open
from kvtraj.topology import Topology
from kvtraj.trajectories import frames, read


def plot(kvt, output=None, vectors=3):
    """Spectrum, PC1-PC2 projections and per-atom vector lengths of a KVT file (kvtraj.plots)."""
    from kvtraj.plots import plot as draw  # matplotlib only when asked for

    return draw(kvt, output, vectors)


__all__ = ["Error", "KVT", "Summary", "Topology", "compress", "frames", "open", "overlap", "plot",
           "read", "rmsip", "set_verbose"]
