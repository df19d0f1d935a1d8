"""kvtraj.open: the arrays and queries against `kvt query` (whose %.9g text is exact for
float32), Python indexing, the no-copy views, and the errors."""
import gc

import numpy as np
import pytest

import kvtraj
from conftest import kvt


def query(path, *args):
    return np.loadtxt(kvt("query", "-i", path, *args).splitlines(), dtype=np.float64,
                      ndmin=1).astype(np.float32)


def test_arrays_equal_kvt_query(kvt_path):
    k = kvtraj.open(kvt_path)
    assert (k.natoms, k.nframes, k.nvecs) == (200, 10, 4)
    assert k.version == kvt_path.suffixes[0][1:]
    assert np.array_equal(k.average, query(kvt_path, "--avg"))
    assert np.array_equal(k.eigenvalues, query(kvt_path, "--evals"))
    for v in range(k.nvecs):
        assert np.array_equal(k.eigenvectors[v], query(kvt_path, "--evec", v + 1))
        assert np.array_equal(k.projections[:, v], query(kvt_path, "--proj", v + 1))
        assert np.array_equal(k.fluctuation(v), query(kvt_path, "--fluc", v + 1))
    for nv in (0, 2, 4):
        assert np.array_equal(k.mahalanobis(nv), query(kvt_path, "--maha", nv))
    assert np.array_equal(k.scores(-1), query(kvt_path, "--scores", 10))


def test_snapshots_equal_kvt_query(kvt_path):
    k = kvtraj.open(kvt_path)
    assert np.array_equal(k.snapshot(3), query(kvt_path, "--snap", 4))
    assert np.array_equal(k.snapshot(3, vectors=slice(1, 3)),
                          query(kvt_path, "--snap", 4, "--vectors", "2:3"))
    assert np.array_equal(k.snapshot(3, vectors=0), k.average)
    every = k.snapshots()
    assert every.shape == (10, 200, 3) and every.dtype == np.float32
    assert np.array_equal(k.snapshots(slice(-1, None, -3)), every[::-3])
    assert np.array_equal(k.snapshots([9, -10]), every[[9, 0]])
    assert np.array_equal(k[2:4], every[2:4])
    assert np.array_equal(np.stack(list(k)), every)
    out = np.empty((200, 3), np.float32)
    k.snapshot_into(-2, out, vectors=2)
    assert np.array_equal(out, k.snapshot(8, vectors=2))


def test_views_share_the_handle_and_refuse_writes(kvt_path):
    k = kvtraj.open(kvt_path)
    proj = k.projections
    assert proj.shape == (10, 4) and proj.strides == (4, 40)
    assert np.shares_memory(proj, k.projections)
    assert np.shares_memory(k.eigenvectors[1], k.eigenvectors)
    for view in (k.average, k.eigenvalues, k.eigenvectors, proj):
        with pytest.raises(ValueError):
            view[0] = 1.0
    copy = proj.copy()
    del k
    gc.collect()
    assert np.array_equal(proj, copy)  # the view kept the file's arrays alive


def test_errors(tmp_path, kvt_path):
    with pytest.raises(kvtraj.Error, match="no such file"):
        kvtraj.open(tmp_path / "missing.kvt")
    (tmp_path / "bad.kvt").write_bytes(b"KVT9" + bytes(200))
    with pytest.raises(kvtraj.Error, match="unrecognised kvt file format"):
        kvtraj.open(tmp_path / "bad.kvt")
    (tmp_path / "cut.kvt").write_bytes(kvt_path.read_bytes()[:-100])
    with pytest.raises(kvtraj.Error, match="incomplete"):
        kvtraj.open(tmp_path / "cut.kvt")
    k = kvtraj.open(kvt_path)
    for bad in (lambda: k.snapshot(10), lambda: k.scores(-11), lambda: k.fluctuation(4),
                lambda: k.snapshots([0, 10]), lambda: k.snapshot(0, vectors=5)):
        with pytest.raises(IndexError):
            bad()
    with pytest.raises(kvtraj.Error, match="vector count 5 outside 0..4"):
        k.mahalanobis(5)
    with pytest.raises(ValueError):
        k.snapshot_into(0, np.empty((199, 3), np.float32))
