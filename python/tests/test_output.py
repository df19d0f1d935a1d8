"""Nothing reaches standard output unless asked; the plots render without a display."""
import os
import subprocess
import sys

import pytest

import kvtraj


def test_modules_are_silent_unless_verbose(capfd, data, kvt_path):
    kvtraj.read(data / "peptide10.dcd")
    kvtraj.open(kvt_path)
    with pytest.raises(kvtraj.Error):
        kvtraj.read(f"{data / 'peptide10.dcd'}(11:)")
    assert capfd.readouterr() == ("", "")
    kvtraj.set_verbose(True)
    try:
        kvtraj.read(f"{data / 'peptide10.dcd'}(5:20)")
    finally:
        kvtraj.set_verbose(False)
    out, err = capfd.readouterr()
    assert out == ""
    assert "file type is dcd" in err and "only contains 10 frames" in err


def test_plot_files(kvt_path, tmp_path):
    pytest.importorskip("matplotlib")
    fig = kvtraj.plot(kvtraj.open(kvt_path), tmp_path / "k.svg", vectors=2)
    assert len(fig.axes) == 5  # three panels, the cumulative axis and the colour bar
    assert b"<svg" in (tmp_path / "k.svg").read_bytes()[:500]
    env = dict(os.environ, MPLBACKEND="Agg")
    run = subprocess.run([sys.executable, "-m", "kvtraj", "plot", str(kvt_path), "-o",
                          str(tmp_path / "k.png")], env=env, capture_output=True, text=True)
    assert run.returncode == 0 and run.stdout == ""
    png = (tmp_path / "k.png").read_bytes()
    assert png.startswith(b"\x89PNG\r\n\x1a\n") and len(png) > 20000
    bad = subprocess.run([sys.executable, "-m", "kvtraj", "plot", str(tmp_path / "none.kvt"),
                          "-o", str(tmp_path / "n.png")], env=env, capture_output=True, text=True)
    assert bad.returncode == 1 and "no such file" in bad.stderr
    assert not (tmp_path / "n.png").exists()
