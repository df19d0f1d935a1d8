#!/usr/bin/python3
"""kvt compress --max-error side by side with its peers, in one run, ratios against float32.

Inputs (bench/codec/make_inputs.sh makes them with GROMACS under WORK, once; not committed):
  peptide   the shared 200-atom peptide, 250 frames 0.2 ps apart
  vac       the same peptide in vacuum, the first FRAMES frames 0.2 ps apart (mdrun's TRR, whole)
  vac5ps    the same run, every 25th frame (5 ps apart)
  helix5ps  the A6PA6 helix of the shared topologies in vacuum, 10 ns, every 25th frame
  crambin5ps  crambin (PDB 1CRN, 46 residues: a folded protein), vacuum, 10 ns, every 25th frame
  water     the peptide in TIP3P water, NPT, the whole system as mdrun wrote it (XTC, 0.5 ps);
            once without and once with its topology (water+top: the solvent coded by molecule)
For each input and maximum error E (0.005, 0.05, 0.5 Å) it prints the ratio of float32 bytes to
the KVT7 file, the largest |rebuilt - input| over every coordinate (kvt expand, read back by
MDTraj) and the vectors chosen; the same with --vectors 0 (the codec without principal
components); XTC at 1000/nm (our writer; for water also mdrun's own file) with its error; the
"script" row (fit onto the first frame, grid of step 2E, time differences, xz, with the fits'
floats); and the SZ3 figures quoted by the request (not installable here). Then codec_bench on
the vac frames: encoding and decoding MB/s on one thread beside our XTC reader's frames/s, and
kvt expand --frames I:I+10 of a 100,000-frame file in ms.
Usage: compare.py KVT CODEC_BENCH [--work /work/bench-codec] [--frames 2000] [--skip-big]
"""
import argparse
import json
import lzma
import os
import subprocess
import sys
import tempfile
import time

import numpy as np
import mdtraj as md

ERRORS = [0.005, 0.05, 0.5]
SZ3 = {"peptide": [4.73, 9.16, 24.7], "water": [3.77, 6.19, 14.4]}


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          text=True, **kw)


def read_dcd(path):
    with md.formats.DCDTrajectoryFile(path) as f:
        return f.read()[0].astype(np.float32)


def gmx_whole(work, trr, out):
    """mdrun's TRR with the molecule made whole (frames as far as the file is complete)."""
    if not os.path.exists(out) or os.path.getmtime(out) < os.path.getmtime(trr):
        subprocess.run(["gmx", "-quiet", "-nobackup", "trjconv", "-s", os.path.join(work, "vac/md.tpr"),
                        "-f", trr, "-o", out, "-pbc", "mol"], input="0\n", text=True, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return out


def gmx_copy(src, out):
    """Whole frames of an XTC that mdrun may still be writing."""
    if not os.path.exists(out) or os.path.getmtime(out) < os.path.getmtime(src):
        subprocess.run(["gmx", "-quiet", "-nobackup", "trjconv", "-f", src, "-o", out],
                       input="0\n", text=True, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
    return out


def script_row(x, e):
    """Fit onto the first frame, grid of step 2E, time differences, xz; bytes and max error."""
    step = 2 * e
    ref = x[0].astype(np.float64)
    rc = ref.mean(0)
    fitted = np.empty_like(x, dtype=np.float64)
    fits = []
    for t, frame in enumerate(x.astype(np.float64)):
        c = frame.mean(0)
        u, _, vt = np.linalg.svd((frame - c).T @ (ref - rc))
        d = np.sign(np.linalg.det(u @ vt))
        r = u @ np.diag([1, 1, d]) @ vt
        fitted[t] = (frame - c) @ r + rc
        fits.append(np.concatenate([r.ravel(), c]).astype(np.float32))
    q = np.round(fitted / step).astype(np.int32)
    diff = np.concatenate([q[:1], np.diff(q, axis=0)])
    payload = diff.tobytes() + np.array(fits).tobytes()
    size = len(lzma.compress(payload, preset=9 | lzma.PRESET_EXTREME))
    back = np.empty_like(fitted)
    for t in range(len(x)):
        f = np.array(fits[t], dtype=np.float64)
        r, c = f[:9].reshape(3, 3), f[9:]
        back[t] = (q[t] * step - rc) @ r.T + c
    return size, float(np.abs(back.astype(np.float32) - x).max())


def xtc_error(kvt, dcd, xtc, x):
    run([kvt, "convert", "-i", dcd, "-o", xtc, "--precision", "1000", "--quiet"])
    y = md.formats.XTCTrajectoryFile(xtc).read()[0] * 10.0
    return os.path.getsize(xtc), float(np.abs(y - x).max())


def compress(kvt, dcd, out, e, extra=()):
    start = time.perf_counter()
    p = run([kvt, "compress", "-i", dcd, "-o", out, "--max-error", str(e), "--quiet", *extra])
    seconds = time.perf_counter() - start
    vectors = int(p.stdout.split(" vectors kept")[0].split()[-1])
    return os.path.getsize(out), vectors, seconds


def bound(kvt, kvtfile, x, tmp):
    back = os.path.join(tmp, "back.dcd")
    run([kvt, "expand", "-i", kvtfile, "-o", back, "--quiet"])
    return float(np.abs(read_dcd(back) - x).max())


def case(kvt, name, source, tmp, peer_xtc=None, top=()):
    dcd = os.path.join(tmp, name + ".dcd")
    run([kvt, "convert", "-i", source, "-o", dcd, "--quiet"])
    x = read_dcd(dcd)
    raw = x.size * 4
    print(f"\n{name}: {x.shape[1]} atoms, {x.shape[0]} frames, float32 {raw} bytes")
    print(f"  {'E (Å)':>7} {'kvt7':>8} {'max err':>10} {'K':>3} {'no PCA':>8} {'PCA gain':>8}"
          f" {'script':>8} {'its err':>9} {'SZ3':>6} {'s':>6}")
    rows = {}
    for i, e in enumerate(ERRORS):
        out = os.path.join(tmp, f"{name}_{e}.kvt")
        size, k, seconds = compress(kvt, dcd, out, e, top)
        err = bound(kvt, out, x, tmp)
        flat, _, _ = compress(kvt, dcd, out + ".flat", e, ["--vectors", "0", *top])
        s_size, s_err = script_row(x, e)
        sz3 = SZ3.get("water" if name.startswith("water") else "peptide")[i]
        rows[e] = raw / size
        print(f"  {e:7.3f} {raw / size:8.2f} {err:10.7f} {k:3d} {raw / flat:8.2f} {flat / size:8.2f}"
              f" {raw / s_size:8.2f} {s_err:9.5f} {sz3:6.2f} {seconds:6.1f}"
              f"  {'bound holds' if err <= e else 'BOUND BROKEN'}")
    xsize, xerr = xtc_error(kvt, dcd, os.path.join(tmp, name + ".xtc"), x)
    print(f"  XTC 1000/nm (our writer): {raw / xsize:.2f} x, max error {xerr:.5f} Å;"
          f" kvt7 at 0.005 Å is {xsize / (raw / rows[0.005]):.2f} x smaller")
    if peer_xtc:
        t = md.formats.XTCTrajectoryFile(peer_xtc).read()[0]
        per_frame = os.path.getsize(peer_xtc) / len(t)
        mdrun = per_frame * x.shape[0]
        print(f"  mdrun's own XTC: {raw / mdrun:.2f} x; kvt7 at 0.005 Å is"
              f" {mdrun / (raw / rows[0.005]):.2f} x smaller")
    return dcd, x


def speed(kvt, bench, dcd, x, tmp):
    d = os.path.join(tmp, "speed")
    os.makedirs(d, exist_ok=True)
    x.tofile(os.path.join(d, "traj.f32"))
    with open(os.path.join(d, "traj.natoms"), "w") as f:
        f.write(str(x.shape[1]))
    run([kvt, "convert", "-i", dcd, "-o", os.path.join(d, "traj.xtc"), "--quiet"])
    # The bench's console report goes to its standard output; the JSON one to a file.
    out = os.path.join(d, "bench.json")
    run([bench, "--benchmark_min_time=1", "--benchmark_out=" + out, "--benchmark_out_format=json"],
        env=dict(os.environ, KVTRAJ_BENCH_DIR=d))
    with open(out) as f:
        res = {b["name"].split("/min_time")[0]: b for b in json.load(f)["benchmarks"]}
    xtc = res["XtcRead"]["frames_per_s"]
    print(f"\nspeed, one thread, {x.shape[0]} frames of {x.shape[1]} atoms (CPU-time rates):")
    print(f"  our XTC reader: {xtc:,.0f} frames/s ({res['XtcRead']['MB_per_s']:.0f} MB/s of float32)")
    for e in (5, 50, 500):
        enc, dec = res[f"Encode/{e}"], res[f"Decode/{e}"]
        print(f"  E {e / 1000:5.3f} Å: encode {enc['MB_per_s']:7.1f} MB/s, decode {dec['MB_per_s']:7.1f}"
              f" MB/s, {dec['frames_per_s']:,.0f} frames/s = {dec['frames_per_s'] / xtc:.2f} x the XTC reader")


def big_expand(kvt, tmp, frames=100000, atoms=200):
    rng = np.random.default_rng(1)
    x = (rng.normal(scale=8.0, size=(atoms, 3)) + np.cumsum(
        rng.normal(scale=0.05, size=(frames, atoms, 3)).astype(np.float32), axis=0)).astype(np.float32)
    dcd = os.path.join(tmp, "big.dcd")
    with md.formats.DCDTrajectoryFile(dcd, "w") as f:
        f.write(x)
    del x
    out = os.path.join(tmp, "big.kvt")
    compress(kvt, dcd, out, 0.05, ["--vectors", "0"])
    best = 1e9
    for _ in range(5):
        start = time.perf_counter()
        run([kvt, "expand", "-i", out, "-o", os.path.join(tmp, "ten.dcd"), "--frames", "50000:50010",
             "--quiet"])
        best = min(best, time.perf_counter() - start)
    print(f"\nkvt expand --frames 50000:50010 of a {frames}-frame KVT7 file: {1000 * best:.1f} ms"
          f" (best of 5, whole process)")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("kvt")
    ap.add_argument("codec_bench")
    ap.add_argument("--work", default="/work/bench-codec")
    ap.add_argument("--frames", type=int, default=2000)
    ap.add_argument("--skip-big", action="store_true")
    ap.add_argument("--cases", default="peptide,vac,vac5ps,helix5ps,crambin5ps,water,speed",
                    help="comma-separated: peptide, vac, vac5ps, helix5ps, crambin5ps, water, speed")
    a = ap.parse_args()
    here = os.path.dirname(os.path.abspath(__file__))
    # Makes only the inputs that are missing.
    subprocess.run(["bash", os.path.join(here, "make_inputs.sh"), a.work], check=True)
    shared = os.path.join(here, "../../../shared/data/peptide.dcd")
    if not os.path.exists(shared):
        shared = "/work/shared/data/peptide.dcd"
    cases = a.cases.split(",")
    with tempfile.TemporaryDirectory() as tmp:
        if "peptide" in cases:
            case(a.kvt, "peptide", shared, tmp)
        trr = os.path.join(a.work, "vac/md_whole.trr")
        if not os.path.exists(trr):
            trr = gmx_whole(a.work, os.path.join(a.work, "vac/md.trr"), os.path.join(a.work, "vac_whole.trr"))
        if "vac" in cases or "speed" in cases:
            vac, x = case(a.kvt, "vac", f"{trr}(1:{a.frames})", tmp)
        if "vac5ps" in cases:
            case(a.kvt, "vac5ps", f"{trr}(1::25)", tmp)
        for run in ("helix", "crambin"):
            if run + "5ps" in cases:
                case(a.kvt, run + "5ps", os.path.join(a.work, run, "md_whole.trr") + "(1::25)", tmp)
        if "water" in cases:
            water = gmx_copy(os.path.join(a.work, "water/md.xtc"), os.path.join(a.work, "water_whole.xtc"))
            case(a.kvt, "water", water, tmp, peer_xtc=water)
            # With the topology: water and ions coded from their own past, frames as mdrun wrote
            # them (no repair), the atoms' records in the file.
            gro = os.path.join(a.work, "water/conf.gro")
            case(a.kvt, "water+top", water, tmp, peer_xtc=water, top=("--top", gro, "--pbc", "none"))
        if "speed" in cases:
            speed(a.kvt, a.codec_bench, vac, x, tmp)
        if not a.skip_big:
            big_expand(a.kvt, tmp)


if __name__ == "__main__":
    sys.exit(main())
