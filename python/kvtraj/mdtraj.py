"""KVT files as MDTraj trajectories: the rebuilt snapshots in nm, as MDTraj expects."""
import mdtraj

import kvtraj.kvt

ANGSTROM_PER_NM = 10.0


def load(path, top, frames=slice(None), vectors=None):
    """An mdtraj.Trajectory of the snapshots of the KVT file `path` picked by `frames` (a slice
    or a sequence of indices), rebuilt from `vectors` (None, a count or a slice); `top` is
    anything mdtraj accepts as a topology (a PDB file, an mdtraj.Topology, a Trajectory)."""
    k = kvtraj.kvt.KVT(path)
    topology = _topology(top)
    if topology.n_atoms != k.natoms:
        raise ValueError(f"{path} has {k.natoms} atoms, the topology {topology.n_atoms}")
    xyz = k.snapshots(frames, vectors)
    xyz /= ANGSTROM_PER_NM
    return mdtraj.Trajectory(xyz, topology)


def _topology(top):
    if isinstance(top, mdtraj.Topology):
        return top
    if isinstance(top, mdtraj.Trajectory):
        return top.topology
    return mdtraj.load_topology(top)
