"""Topologies, selections and periodic images of a solvated constant-pressure GROMACS run,
against MDAnalysis and a float64 numpy reference."""
import shutil
import warnings

import numpy as np
import pytest

import kvtraj

mda = pytest.importorskip("MDAnalysis")
from MDAnalysis import transformations  # noqa: E402

import kvtraj.mdanalysis  # noqa: E402,F401  (registers the KVT reader and topology)


def water(data, extension):
    return str(data / "water" / f"dodecahedron{extension}")


def universe(*paths):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return mda.Universe(*paths)


def fit(x, ref, mask):
    """x fitted onto ref by least squares on the atoms of mask (Kabsch), in float64."""
    xc, rc = x[mask].mean(0), ref[mask].mean(0)
    u, _, vt = np.linalg.svd((x[mask] - xc).T @ (ref[mask] - rc))
    d = np.sign(np.linalg.det(vt.T @ u.T))
    rot = vt.T @ np.diag([1.0, 1.0, d]) @ u.T
    return (x - xc) @ rot.T + rc


def reference_eigenvalues(frames, mask):
    """Fitted onto the first frame, then onto the average until it settles; the covariance's
    eigenvalues, largest first."""
    ref = frames[0]
    for _ in range(10):
        fitted = np.array([fit(x, ref, mask) for x in frames])
        average = fitted.mean(0)
        moved = np.sqrt(((average - ref)[mask] ** 2).sum(1).mean())
        ref = average
        if moved < 1e-4:
            break
    fitted = np.array([fit(x, ref, mask) for x in frames])
    y = (fitted - fitted.mean(0)).reshape(len(frames), -1)
    return np.linalg.eigvalsh(y.T @ y / len(frames))[::-1]


@pytest.mark.parametrize("fit_select", [None, "name CA"])
def test_protein_pca_equals_the_reference_on_unwrapped_frames(data, tmp_path, fit_select):
    # A copy: MDAnalysis leaves an offsets file beside the trajectory it reads.
    xtc = tmp_path / "run.xtc"
    shutil.copy(water(data, ".xtc"), xtc)
    u = universe(water(data, ".psf"), str(xtc))
    protein = u.select_atoms("protein")
    u.trajectory.add_transformations(transformations.unwrap(u.atoms))
    frames = np.array([protein.positions.astype(np.float64) for _ in u.trajectory])
    mask = np.isin(protein.indices, u.select_atoms(fit_select or "protein").indices)
    expected = reference_eigenvalues(frames, mask)[:10]
    out = tmp_path / "protein.kvt"
    summary = kvtraj.compress(water(data, ".xtc"), out, top=water(data, ".psf"), select="protein",
                              fit_select=fit_select, vectors=10, solver="exact")
    assert (summary.natoms, summary.file_atoms, summary.pbc) == (200, 3038, "nojump")
    np.testing.assert_allclose(kvtraj.open(out).eigenvalues, expected, rtol=1e-3)


def test_topology_selections_and_records_match_mdanalysis(data, tmp_path):
    top = kvtraj.Topology(water(data, ".psf"))
    u = universe(water(data, ".psf"))
    assert top.natoms == len(u.atoms)
    assert list(top.names) == list(u.atoms.names)
    np.testing.assert_allclose(top.masses, u.atoms.masses, rtol=1e-6)
    np.testing.assert_array_equal(top.bonds, np.sort(u.atoms.bonds.indices, axis=1))
    for text in ("protein and name CA", "backbone or resname SOL and name OW", "not protein"):
        np.testing.assert_array_equal(top.select(text), u.select_atoms(text).indices)
    with pytest.raises(kvtraj.Error, match="no atom is selected"):
        top.select("name XX")

    out = tmp_path / "ca.kvt"
    kvtraj.compress(water(data, ".xtc"), out, top=water(data, ".gro"),
                    select="protein and name CA", vectors=2)
    atoms = kvtraj.open(out).atoms
    ca = u.select_atoms("protein and name CA")
    np.testing.assert_array_equal(atoms.number, ca.indices + 1)
    assert list(atoms.name) == list(ca.names)
    # The file is its own topology for MDAnalysis.
    own = universe(str(out))
    assert list(own.atoms.names) == list(ca.names)
    np.testing.assert_array_equal(own.residues.resids, ca.residues.resids)
    assert own.trajectory.n_frames == 20


def test_read_repairs_periodic_images(data):
    raw, boxes = kvtraj.read(water(data, ".xtc"), top=water(data, ".psf"), select="resname SOL")
    kept, _ = kvtraj.read(water(data, ".xtc"), top=water(data, ".psf"), select="resname SOL",
                          pbc="nojump")
    assert np.abs(np.diff(raw, axis=0)).max() > boxes[:, 0].min() / 2  # water crosses the edges
    assert np.abs(np.diff(kept, axis=0)).max() < 6.0
    with pytest.raises(ValueError, match="pbc must be"):
        kvtraj.read(water(data, ".xtc"), top=water(data, ".psf"), pbc="wrap")
