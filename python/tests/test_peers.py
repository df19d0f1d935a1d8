"""The MDAnalysis reader and the MDTraj loader give the frames `kvt expand` writes, and the
MDAnalysis analyses run on the reader."""
import warnings

import numpy as np
import pytest

from conftest import kvt

mda = pytest.importorskip("MDAnalysis")
md = pytest.importorskip("mdtraj")
import kvtraj.mdanalysis  # noqa: E402,F401  (registers the reader)
import kvtraj.mdtraj  # noqa: E402


@pytest.fixture()
def expanded(kvt_path, tmp_path):
    """The snapshots as `kvt expand` writes them, read back by MDAnalysis's own DCD reader."""
    out = tmp_path / "expanded.dcd"
    kvt("expand", "-i", kvt_path, "-o", out)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return mda.coordinates.DCD.DCDReader(str(out)).timeseries(order="fac")


def test_mdanalysis_universe(data, kvt_path, expanded):
    u = mda.Universe(str(data / "peptide.pdb"), str(kvt_path))
    reader = u.trajectory
    assert isinstance(reader, kvtraj.mdanalysis.KVTReader)
    assert (reader.n_frames, reader.n_atoms, reader.dt) == (10, 200, 1.0)
    assert np.array_equal(np.stack([ts.positions.copy() for ts in reader]), expanded)
    assert [ts.frame for ts in reader[7:2:-2]] == [7, 5, 3]
    assert np.array_equal(reader[-3].positions, expanded[7])
    assert [ts.frame for ts in reader[[4, 1]]] == [4, 1]
    assert mda.Universe(str(data / "peptide.pdb"), str(kvt_path), dt=10.0).trajectory.time == 0
    assert mda.Universe(str(data / "peptide.pdb"), str(kvt_path), dt=10.0).trajectory[3].time \
        == 30.0


def test_mdanalysis_analyses(data, kvt_path, expanded, tmp_path):
    from MDAnalysis.analysis import align, pca, rms

    u = mda.Universe(str(data / "peptide.pdb"), str(kvt_path))
    ref = mda.Universe(str(data / "peptide.pdb"), expanded[:1],
                       format=mda.coordinates.memory.MemoryReader)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        rmsd = rms.RMSD(u, ref, select="name CA").run().results.rmsd
        aligned = align.AlignTraj(u, ref, select="name CA",
                                  filename=str(tmp_path / "fit.dcd")).run()
        components = pca.PCA(u, select="name CA", align=False).run()
    assert rmsd.shape == (10, 3) and rmsd[0, 2] == pytest.approx(0, abs=1e-4)
    assert np.all(rmsd[1:, 2] > 0)
    assert aligned.results.rmsd[0] == pytest.approx(0, abs=1e-4)
    # The KVT file keeps 4 vectors of an already fitted trajectory: the CA covariance of its
    # snapshots has rank 4 at most.
    variance = components.results.variance
    assert variance[3] > 1e-3 and variance[4] < 1e-6 * variance[0]


def test_mdtraj_load(data, kvt_path, expanded):
    t = kvtraj.mdtraj.load(kvt_path, top=data / "peptide.pdb")
    assert t.n_frames == 10 and t.xyz.dtype == np.float32
    np.testing.assert_array_max_ulp(t.xyz, expanded / np.float32(10), maxulp=1)
    part = kvtraj.mdtraj.load(kvt_path, top=t.topology, frames=slice(2, 8, 3))
    assert np.array_equal(part.xyz, t.xyz[2:8:3])
    with pytest.raises(ValueError, match="atoms"):
        kvtraj.mdtraj.load(kvt_path, top=t.atom_slice(range(10)))
