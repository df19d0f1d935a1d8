#!/usr/bin/python3
"""One run of the kvtraj package for the fault sweep: compress a trajectory, or open a KVT file
and read its arrays and frames, then print what was computed (so that a retried fault can be
seen to give the same result). A failed system call must come as kvtraj.Error (a RuntimeError)
naming the file and the system's reason, a failed allocation as MemoryError; the interpreter
lives on, so the line is printed here, and the status is 1 (3 when a thread of the engine is
left running).

  python_run.py compress IN.dcd OUT.kvt [THREADS]
  python_run.py open IN.kvt
"""
import sys
import threading

import kvtraj


def digest(array):
    return "%s %.6g" % (array.shape, float(array.astype("float64").sum()))


def compress(source, output, threads="2"):
    s = kvtraj.compress(source, output, vectors=4, threads=int(threads))
    print(s.natoms, s.nframes, s.nvecs, s.bytes, s.solver, s.passes)


def read(path):
    k = kvtraj.open(path)
    print(k.natoms, k.nframes, k.nvecs, k.version, repr(k.title))
    for array in (k.average, k.eigenvalues, k.eigenvectors, k.projections, k.snapshot(-1),
                  k.snapshots(slice(0, None, 2), vectors=2)):
        print(digest(array))


def main():
    try:
        {"compress": compress, "open": read}[sys.argv[1]](*sys.argv[2:])
    except (kvtraj.Error, MemoryError) as e:
        name = "kvtraj.Error" if isinstance(e, kvtraj.Error) else type(e).__name__
        print("%s: %s" % (name, e), file=sys.stderr)
        return 1 if threading.active_count() == 1 else 3
    return 0


if __name__ == "__main__":
    sys.exit(main())
