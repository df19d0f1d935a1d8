"""The analyses of a stored PCA from Python: projections of a trajectory or an array, cosine
content, RMSF, RMSIP and overlaps (against MDAnalysis where it is installed), the free-energy
map and the per-residue magnitudes, and the plots drawn from them."""
import numpy as np
import pytest

import kvtraj
from conftest import DATA
from kvtraj.analyses import BOLTZMANN, free_energy, residue_magnitudes

SAMPLE = DATA.parents[1] / "data" / "sample.dcd"


@pytest.fixture(scope="module")
def halves(tmp_path_factory):
    """Two 4-vector KVT files with atom records, of the sample's first and second 200 frames."""
    work = tmp_path_factory.mktemp("analyses")
    paths = []
    for name, part in (("a", "(1:200)"), ("b", "(201:400)")):
        path = work / f"{name}.kvt"
        kvtraj.compress(f"{SAMPLE}{part}", path, vectors=4, top=DATA / "peptide.pdb")
        paths.append(kvtraj.open(path))
    return paths


def test_projections_of_a_trajectory_and_of_an_array(halves):
    a, _ = halves
    own = a.project(f"{SAMPLE}(1:200)", top=DATA / "peptide.pdb")
    assert own.shape == (200, 4)
    np.testing.assert_allclose(own, a.projections, atol=1e-4 * np.abs(a.projections).max())
    coords, _ = kvtraj.read(f"{SAMPLE}(201:400)")
    from_array = a.project(coords, vectors=slice(1, 3), threads=1)
    from_file = a.project(f"{SAMPLE}(201:400)", vectors=slice(1, 3))
    assert from_array.shape == (200, 2)
    np.testing.assert_allclose(from_array, from_file, atol=1e-5)
    with pytest.raises(kvtraj.Error, match="but .*a.kvt holds 200"):
        a.project(coords[:, :50])
    with pytest.raises(TypeError):
        a.project(coords, top=DATA / "peptide.pdb")


def test_rmsf_is_the_fluctuation_of_the_rebuilt_snapshots(halves):
    a, _ = halves
    moved = a.snapshots() - a.average
    direct = np.sqrt((moved.astype(np.float64) ** 2).sum(axis=2).mean(axis=0))
    np.testing.assert_allclose(a.rmsf(), direct, rtol=1e-3)


def test_comparisons_against_mdanalysis(halves):
    mpca = pytest.importorskip("MDAnalysis.analysis.pca")
    a, b = halves
    va, vb = (k.eigenvectors.reshape(k.nvecs, -1).astype(np.float64) for k in halves)
    assert kvtraj.rmsip(a, b, 3) == pytest.approx(mpca.rmsip(va, vb, 3), abs=1e-5)
    assert kvtraj.rmsip(va, vb, 4) == pytest.approx(mpca.rmsip(va, vb, 4), abs=1e-5)
    np.testing.assert_allclose(kvtraj.overlap(a, b), np.abs(va @ vb.T), atol=1e-6)
    proj = a.projections.astype(np.float64)
    for k in range(a.nvecs):
        assert a.cosine_content(k) == pytest.approx(mpca.cosine_content(proj, k), abs=1e-5)
    with pytest.raises(ValueError):
        kvtraj.rmsip(a, b, 5)
    with pytest.raises(IndexError):
        a.cosine_content(4)


def test_free_energy_of_known_counts():
    g, xedges, yedges = free_energy([0, 0, 0, 0, 1], [0, 0, 0, 0, 1], temperature=310, bins=2)
    assert g[0, 0] == 0
    assert g[1, 1] == pytest.approx(BOLTZMANN * 310 * np.log(4))
    assert np.isnan(g[0, 1]) and np.isnan(g[1, 0])
    np.testing.assert_allclose(xedges, [0, 0.5, 1])
    with pytest.raises(ValueError):
        free_energy([0, 1], [0, 1], temperature=0)


def test_residue_magnitudes_average_the_atoms_of_each_residue(halves, kvt_path):
    a, _ = halves
    labels, values = residue_magnitudes(a, vectors=2)
    assert len(labels) == 13 and values.shape == (13, 2)
    first = a.atoms.resnum == a.atoms.resnum[0]
    assert values[0, 1] == pytest.approx(a.fluctuation(1)[first].mean(), rel=1e-6)
    with pytest.raises(ValueError, match="no atom records"):
        residue_magnitudes(kvtraj.open(kvt_path))


def test_landscape_and_residue_plots(halves, tmp_path):
    pytest.importorskip("matplotlib")
    from kvtraj.__main__ import main

    a, _ = halves
    for kind in ("landscape", "residues"):
        assert main(["plot", a.path, "-o", str(tmp_path / f"{kind}.png"), "--kind", kind]) == 0
        assert (tmp_path / f"{kind}.png").stat().st_size > 0
    assert main(["plot", a.path, "-o", str(tmp_path / "x.png"), "--kind", "landscape",
                 "--temperature", "0"]) == 1
