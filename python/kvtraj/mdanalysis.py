"""A coordinate reader for MDAnalysis: importing this module registers it for the format "KVT",
so that `MDAnalysis.Universe("top.pdb", "run.kvt")` reads the snapshots rebuilt from a KVT file.
A KVT file that holds atom records is its own topology too: `MDAnalysis.Universe("run.kvt")`
(names, residues and chains from the records; masses and types guessed from the names).

A KVT file holds no times: the step between frames is 1 ps unless the Universe is given dt=
(e.g. `Universe(top, "run.kvt", dt=10.0)`). Positions are in Å, as MDAnalysis expects; the file
keeps no unit cell, so dimensions are None."""
import numpy as np
from MDAnalysis.coordinates import base
from MDAnalysis.core.topology import Topology
from MDAnalysis.core.topologyattrs import (Atomids, Atomnames, Atomtypes, ChainIDs, Masses,
                                           Resids, Resnames, Resnums, Segids)
from MDAnalysis.lib.util import store_init_arguments
from MDAnalysis.topology.base import TopologyReaderBase, change_squash
from MDAnalysis.topology.guessers import guess_masses, guess_types

import kvtraj.kvt


class KVTParser(TopologyReaderBase):
    """The atoms of a KVT file's records: one residue for each run of atoms with the same residue
    number, name and chain; one segment for each chain."""

    format = "KVT"

    def parse(self, **kwargs):
        atoms = kvtraj.kvt.KVT(self.filename).atoms
        if atoms is None:
            raise ValueError(f"{self.filename} holds no atom records: give a topology file")
        names = atoms.name.astype(object)
        chains = atoms.chain.astype(object)
        types = guess_types(names)
        attrs = [Atomids(atoms.number.astype(np.int32)), Atomnames(names),
                 Atomtypes(types, guessed=True), Masses(guess_masses(types), guessed=True),
                 ChainIDs(chains)]
        resids = atoms.resnum.astype(np.int32)
        resnames = atoms.resname.astype(object)
        residx, (resids, resnames, segids) = change_squash(
            (resids, resnames, chains), (resids, resnames, chains))
        attrs += [Resids(resids), Resnums(resids.copy()), Resnames(resnames)]
        segidx, (segids,) = change_squash((segids,), (segids,))
        attrs.append(Segids(segids))
        return Topology(len(names), len(resids), len(segids), attrs=attrs, atom_resindex=residx,
                        residue_segindex=segidx)


class KVTReader(base.ReaderBase):
    format = "KVT"
    units = {"time": "ps", "length": "Angstrom"}

    @store_init_arguments
    def __init__(self, filename, vectors=None, **kwargs):
        kwargs.setdefault("dt", 1.0)
        super().__init__(filename, **kwargs)
        self._vectors = vectors
        self._kvt = kvtraj.kvt.KVT(self.filename)
        self.ts = self._Timestep(self.n_atoms, **self._ts_kwargs)
        self._read_frame(0)

    @staticmethod
    def parse_n_atoms(filename, **kwargs):
        return kvtraj.kvt.KVT(filename).natoms

    @property
    def n_atoms(self):
        return self._kvt.natoms

    @property
    def n_frames(self):
        return self._kvt.nframes

    def _read_frame(self, frame):
        return self._fill(self.ts, frame)

    def _read_next_timestep(self, ts=None):
        ts = self.ts if ts is None else ts
        frame = ts.frame + 1
        if frame >= self.n_frames:
            raise EOFError("end of the KVT file")
        return self._fill(ts, frame)

    def _fill(self, ts, frame):
        # Rebuilt straight into the Timestep's own array: no allocation per frame.
        self._kvt.snapshot_into(frame, ts.positions, self._vectors)
        ts.frame = frame
        return ts

    def _reopen(self):
        self.ts.frame = -1

    def close(self):
        pass  # the whole file is in memory; it goes with the reader

    def __getstate__(self):
        state = self.__dict__.copy()
        del state["_kvt"]  # the C++ handle is reopened from the file
        return state

    def __setstate__(self, state):
        state["_kvt"] = kvtraj.kvt.KVT(state["filename"])
        super().__setstate__(state)
