"""Shared fixtures: the kvt program (KVT), the committed reader fixtures (KVTRAJ_TEST_DATA) and
KVT files that `kvt compress` makes from the 10-frame peptide trajectory."""
import os
import pathlib
import subprocess

import numpy as np
import pytest

DATA = pathlib.Path(os.environ.get("KVTRAJ_TEST_DATA",
                                   pathlib.Path(__file__).resolve().parents[2] / "tests" / "data"))
PEPTIDE_ATOMS = 200
PEPTIDE_FRAMES = 10


def kvt(*args):
    """Runs the kvt program and returns its standard output."""
    program = os.environ.get("KVT")
    if not program:
        pytest.skip("KVT (the kvt program) is not set; run through ctest")
    return subprocess.run([program, *map(str, args)], check=True, capture_output=True,
                          text=True).stdout


def reference_coords():
    """The peptide's 10 frames as MDAnalysis read them (float32, Å)."""
    return np.fromfile(DATA / "peptide10.ref.f32", dtype=np.float32).reshape(
        PEPTIDE_FRAMES, PEPTIDE_ATOMS, 3)


@pytest.fixture(scope="session")
def data():
    return DATA


@pytest.fixture(scope="session", params=["KVT4", "KVT6"])
def kvt_path(request, tmp_path_factory):
    """A 4-vector KVT file of the peptide in both binary layouts."""
    path = tmp_path_factory.mktemp("kvt") / f"peptide.{request.param}.kvt"
    extra = ["--kvt6"] if request.param == "KVT6" else []
    kvt("compress", "-i", DATA / "peptide10.dcd", "-o", path, "--vectors", 4, "--quiet", *extra)
    return path
