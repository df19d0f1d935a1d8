"""Trajectories read through the kvtraj readers (DCD, AMBER crd/crdbox, binpos and whatever
trajsrc opens), with frame selections in the name: "run.dcd(1:500:2)" keeps frames 1, 3, ...,
499 (first, last, stride counted from 1, as in the kvt program)."""
import os

from kvtraj import _core


def read(name, natoms=None, album=False):
    """All selected snapshots as (coords (F, N, 3), boxes (F, 6)) float32 arrays, in Å.

    `name` is a trajectory with an optional selection, or with album=True a list file naming
    one trajectory per line. `natoms` is needed only for AMBER files, which do not hold it.
    Boxes are a, b, c, alpha, beta, gamma (zeros when the format holds none)."""
    return _core.read(os.fspath(name), natoms, album)


def frames(name, natoms=None, album=False):
    """A stream of (N, 3) float32 arrays, one per selected snapshot, read as they are asked
    for; `len()` is the snapshot count and `.box` the box of the last one delivered. Use it in
    a `with` block, or call close(), to release the reader at once."""
    return _core.FrameStream(os.fspath(name), natoms, album)
