"""kvtraj.read and kvtraj.frames against MDAnalysis's reading of the same files."""
import numpy as np
import pytest

import kvtraj
from conftest import reference_coords


def test_read_matches_mdanalysis(data):
    ref = reference_coords()
    for name, natoms in (("peptide10.dcd", None), ("peptide10.binpos", None),
                         ("peptide10.mdcrd", 200)):
        coords, boxes = kvtraj.read(data / name, natoms=natoms)
        assert coords.dtype == np.float32 and boxes.shape == (10, 6)
        tolerance = 5e-4 if name.endswith("mdcrd") else 0  # %8.3f text
        np.testing.assert_allclose(coords, ref, rtol=0, atol=tolerance)
    # The DCD's records hold a, cos(gamma), b, cos(beta), cos(alpha), c; read gives the cell.
    _, boxes = kvtraj.read(data / "peptide10_box.dcd")
    raw = np.fromfile(data / "peptide10_box.ref.f32", dtype=np.float32).reshape(10, 6)
    angles = np.degrees(np.arccos(raw[:, [4, 3, 1]].astype(np.float64)))
    np.testing.assert_allclose(boxes, np.column_stack([raw[:, [0, 2, 5]], angles]), rtol=1e-6)


def test_selections_albums_and_streams(data, tmp_path):
    ref = reference_coords()
    coords, _ = kvtraj.read(f"{data / 'peptide10.dcd'}(2:9:3)")
    assert np.array_equal(coords, ref[1:9:3])
    album = tmp_path / "album.txt"
    album.write_text(f"{data / 'peptide10.dcd'}(8:)\n{data / 'peptide10.binpos'}(1:2)\n")
    coords, _ = kvtraj.read(album, album=True)
    assert np.array_equal(coords, np.concatenate([ref[7:], ref[:2]]))
    with kvtraj.frames(f"{data / 'peptide10.dcd'}(::4)") as stream:
        assert len(stream) == 3 and stream.natoms == 200
        assert np.array_equal(np.stack(list(stream)), ref[::4])
    stream = kvtraj.frames(data / "peptide10_box.dcd")
    next(stream)
    stream.close()
    assert list(stream) == []


def test_errors_release_the_readers(data):
    # The process has 50 reader handles: failures after a file was opened must give theirs back.
    for _ in range(60):
        with pytest.raises(kvtraj.Error, match="only contains 10 frames"):
            kvtraj.read(f"{data / 'peptide10.dcd'}(11:)")
    with pytest.raises(kvtraj.Error, match="no such file"):
        kvtraj.read(data / "missing.dcd")
    with pytest.raises(kvtraj.Error, match="syntax error"):
        kvtraj.read(f"{data / 'peptide10.dcd'}(1:x)")
    with pytest.raises(kvtraj.Error, match="number of atoms"):
        kvtraj.read(data / "peptide10.mdcrd")
    assert kvtraj.read(data / "peptide10.dcd")[0].shape == (10, 200, 3)
