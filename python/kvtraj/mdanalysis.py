"""A coordinate reader for MDAnalysis: importing this module registers it for the format "KVT",
so that `MDAnalysis.Universe("top.pdb", "run.kvt")` reads the snapshots rebuilt from a KVT file.

A KVT file holds no times: the step between frames is 1 ps unless the Universe is given dt=
(e.g. `Universe(top, "run.kvt", dt=10.0)`). Positions are in Å, as MDAnalysis expects; the file
keeps no unit cell, so dimensions are None."""
from MDAnalysis.coordinates import base
from MDAnalysis.lib.util import store_init_arguments

import kvtraj.kvt


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
