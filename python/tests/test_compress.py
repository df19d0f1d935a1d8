"""kvtraj.compress against kvt compress on the same input, its progress reports, and its
failures: a raised callback, Ctrl-C or a bad input leaves no output file."""
import os
import signal
import subprocess
import sys
import textwrap
import time

import numpy as np
import pytest

import kvtraj
from conftest import PEPTIDE_ATOMS, PEPTIDE_FRAMES, kvt, reference_coords


def test_same_file_as_kvt_compress(data, tmp_path):
    source = data / "peptide10.dcd"
    ours = tmp_path / "ours.kvt"
    summary = kvtraj.compress(source, ours, vectors=4, solver="exact")
    theirs = tmp_path / "theirs.kvt"
    kvt("compress", "-i", source, "-o", theirs, "--vectors", 4, "--solver", "exact", "--quiet")
    assert (summary.natoms, summary.nframes, summary.nvecs) == (PEPTIDE_ATOMS, PEPTIDE_FRAMES, 4)
    assert summary.bytes == ours.stat().st_size
    a, b = kvtraj.open(ours), kvtraj.open(theirs)
    np.testing.assert_array_equal(a.eigenvalues, b.eigenvalues)
    np.testing.assert_array_equal(a.average, b.average)
    assert a.title.startswith("kvtraj.compress of")


def test_max_error_codes_every_coordinate_within_it_as_kvt_compress_does(data, tmp_path):
    source = data / "peptide10.dcd"
    ours, theirs = tmp_path / "ours.kvt", tmp_path / "theirs.kvt"
    summary = kvtraj.compress(source, ours, max_error=0.01, threads=1)
    kvt("compress", "-i", source, "-o", theirs, "--max-error", 0.01, "--threads", 1, "--quiet")
    a, b = kvtraj.open(ours), kvtraj.open(theirs)
    assert a.version == "KVT7" and a.max_error == 0.01
    np.testing.assert_array_equal(a.snapshots(), b.snapshots())
    worst = np.abs(a.snapshots().astype(np.float64) - reference_coords()).max()
    assert 0 < worst <= 0.01 and summary.max_deviation == pytest.approx(worst)
    assert (summary.max_error, summary.blocks, summary.bytes) == (0.01, 1, ours.stat().st_size)
    # The topology's water coded molecule by molecule, frames as the reader gives them.
    water = str(data / "water" / "dodecahedron")
    out = tmp_path / "water.kvt"
    summary = kvtraj.compress(water + ".xtc", out, top=water + ".gro", pbc="none", max_error=0.05)
    frames, _ = kvtraj.read(water + ".xtc", top=water + ".gro", pbc="none")
    assert np.abs(kvtraj.open(out).snapshots() - frames).max() <= 0.05
    assert summary.natoms == frames.shape[1] and summary.nframes == len(frames)


def test_max_error_refuses_what_it_cannot_honour(data, tmp_path):
    source, out = data / "peptide10.dcd", tmp_path / "x.kvt"
    for bad in (0.0, -0.01, float("nan"), float("inf")):
        with pytest.raises(ValueError, match="positive distance"):
            kvtraj.compress(source, out, max_error=bad)
    with pytest.raises(ValueError, match="give no quality"):
        kvtraj.compress(source, out, max_error=0.01, quality=90)
    with pytest.raises(ValueError, match="solvent needs max_error"):
        kvtraj.compress(source, out, solvent="resname SOL")
    with pytest.raises(ValueError, match="needs a topology"):
        kvtraj.compress(source, out, max_error=0.01, solvent="resname SOL")
    with pytest.raises(kvtraj.Error, match="too small"):  # float32 cannot resolve it at 10^4 Å
        kvtraj.compress(data / "mdtraj_wide.xtc", out, max_error=1e-7)
    assert list(tmp_path.iterdir()) == []


def test_progress_reports_every_pass(data, tmp_path):
    seen = []
    summary = kvtraj.compress(data / "peptide10.dcd", tmp_path / "p.kvt", quality=80,
                              progress=lambda step, done, total: seen.append((step, done, total)))
    finished = [s for s in seen if s[2] > 0 and s[1] == s[2]]
    assert len(finished) >= summary.passes >= 2
    assert all(0 <= done <= total for _, done, total in seen if total > 0)


def test_failures_leave_no_output(data, tmp_path):
    out = tmp_path / "x.kvt"

    def interrupt(step, done, total):
        raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        kvtraj.compress(data / "peptide10.dcd", out, progress=interrupt)
    with pytest.raises(kvtraj.Error, match="only contains 10 frames"):
        kvtraj.compress(str(data / "peptide10.dcd") + "(20:)", out)
    with pytest.raises(ValueError):
        kvtraj.compress(data / "peptide10.dcd", out, vectors=3, quality=90)
    with pytest.raises(ValueError, match="too large"):  # MB to bytes would overflow
        kvtraj.compress(data / "peptide10.dcd", out, memory=2**62)
    assert list(tmp_path.iterdir()) == []


def test_ctrl_c_raises_keyboard_interrupt_within_a_second(data, tmp_path):
    """A real SIGINT to an interpreter compressing a long album: KeyboardInterrupt, no thread
    left, no output and no temporary copy left."""
    sample = data.parents[1] / "data" / "sample.dcd"
    album = tmp_path / "album"
    album.write_text(f"{sample}\n" * 100)
    (tmp_path / "tmp").mkdir()
    script = textwrap.dedent(f"""
        import threading, time, kvtraj
        print("started", flush=True)
        try:
            kvtraj.compress({str(album)!r}, {str(tmp_path / "out.kvt")!r}, album=True, vectors=4)
        except KeyboardInterrupt:
            print("interrupted", time.monotonic(), threading.active_count(), flush=True)
    """)
    env = dict(os.environ, TMPDIR=str(tmp_path / "tmp"))
    child = subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE, text=True,
                             env=env)
    assert child.stdout.readline() == "started\n"
    time.sleep(0.5)
    sent = time.monotonic()
    child.send_signal(signal.SIGINT)
    out, _ = child.communicate(timeout=30)
    word, caught, threads = out.split()
    assert word == "interrupted"
    assert float(caught) - sent < 1.0
    assert threads == "1"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["album", "tmp"]
    assert list((tmp_path / "tmp").iterdir()) == []
