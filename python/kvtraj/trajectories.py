"""Trajectories read through the kvtraj readers (DCD, AMBER crd/crdbox, binpos, XTC, TRR,
NetCDF), with frame selections in the name: "run.dcd(1:500:2)" keeps frames 1, 3, ..., 499
(first, last, stride counted from 1, as in the kvt program). With a topology (`top`), `select`
keeps some atoms (the language of MDAnalysis's select_atoms; `index` names an .ndx file whose
groups it may use) and `pbc` repairs periodic images: "whole" makes every molecule that holds a
selected atom whole in every frame, "nojump" also keeps atoms from jumping between frames."""
import os

from kvtraj import _core


def _input(top, index, select, pbc):
    return dict(top=os.fspath(top) if top else "", index=os.fspath(index) if index else "",
                select=select or "", pbc=pbc)


def read(name, natoms=None, album=False, top=None, select=None, pbc=None, index=None):
    """All selected snapshots as (coords (F, N, 3), boxes (F, 6)) float32 arrays, in Å.

    `name` is a trajectory with an optional selection, or with album=True a list file naming
    one trajectory per line. `natoms` is needed only for AMBER files, which do not hold it.
    Boxes are a, b, c (Å), alpha, beta, gamma (degrees); zeros when the format holds none.
    `top`, `select`, `pbc` ("none" by default, "whole", "nojump") and `index` as above."""
    return _core.read(os.fspath(name), natoms, album, **_input(top, index, select, pbc))


def frames(name, natoms=None, album=False, top=None, select=None, pbc=None, index=None):
    """A stream of (N, 3) float32 arrays, one per selected snapshot, read as they are asked
    for; `len()` is the snapshot count and `.box` the cell of the last one delivered. Use it in
    a `with` block, or call close(), to release the reader at once. Arguments as for read."""
    return _core.FrameStream(os.fspath(name), natoms, album, **_input(top, index, select, pbc))
