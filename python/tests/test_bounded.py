"""KVT7 files from Python: kvtraj.open gives the coded frames (exact within the file's maximum
error, bit for bit what kvt expand writes), the vectors on request, and the MDAnalysis reader
reads the coded frames."""
import numpy as np
import pytest

import kvtraj
from conftest import DATA, reference_coords


def test_coded_frames_are_the_golden_frames_within_the_error():
    k = kvtraj.open(DATA / "peptide10_bounded.kvt")
    assert k.version == "KVT7" and k.max_error == pytest.approx(0.01)
    golden = np.fromfile(DATA / "peptide10_bounded.f32", dtype=np.float32).reshape(10, 200, 3)
    assert np.array_equal(k.snapshots(), golden)
    assert np.array_equal(k[-1], golden[9]) and np.array_equal(k[2:5], golden[2:5])
    assert np.array_equal(np.stack(list(k)), golden)
    assert np.abs(k.snapshots() - reference_coords()).max() <= 0.01
    # With vectors asked for, the principal-component rebuild (no vectors: the average).
    assert np.array_equal(k.snapshot(3, vectors=0), k.average)
    with pytest.raises(IndexError):
        k.snapshot(10)


def test_mdanalysis_reads_the_coded_frames():
    mda = pytest.importorskip("MDAnalysis")
    import kvtraj.mdanalysis  # noqa: F401  (registers the reader)
    u = mda.Universe(str(DATA / "peptide.pdb"), str(DATA / "peptide10_bounded.kvt"))
    golden = np.fromfile(DATA / "peptide10_bounded.f32", dtype=np.float32).reshape(10, 200, 3)
    assert len(u.trajectory) == 10
    for ts in u.trajectory[::3]:
        assert np.array_equal(ts.positions, golden[ts.frame])
