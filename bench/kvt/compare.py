#!/usr/bin/python3
"""kvt compress and kvt convert side by side with their peers, on one synthetic trajectory.

Makes a trajectory of ATOMS atoms and FRAMES frames (a random structure moved along a few
collective modes, with noise and a random rigid motion per frame), then times in one run:
  - kvt compress, GROMACS gmx covar and MDAnalysis AlignTraj + PCA, with the ratios;
  - the top ten eigenvalues of kvt against a float64 numpy reference (same iterative fit);
  - the peak memory of kvt compress next to the diagonalised matrix (the frames are streamed);
  - kvt convert DCD -> DCD next to cp of the same file.
Usage: compare.py KVT [--atoms 1000] [--frames 5000] [--work DIR]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

import numpy as np


def make_trajectory(atoms, frames, seed=1):
    rng = np.random.default_rng(seed)
    base = rng.normal(scale=12.0, size=(atoms, 3))
    modes = rng.normal(size=(8, atoms, 3))
    amplitude = np.array([3.0, 2.0, 1.5, 1.0, 0.7, 0.5, 0.3, 0.2])
    xyz = np.empty((frames, atoms, 3), dtype=np.float32)
    for f in range(frames):
        shape = base + np.tensordot(amplitude * rng.normal(size=8), modes, axes=1)
        shape += rng.normal(scale=0.3, size=(atoms, 3))
        q = rng.normal(size=4)
        q /= np.linalg.norm(q)
        a, b, c, d = q
        rot = np.array([[a*a+b*b-c*c-d*d, 2*(b*c-a*d), 2*(b*d+a*c)],
                        [2*(b*c+a*d), a*a-b*b+c*c-d*d, 2*(c*d-a*b)],
                        [2*(b*d-a*c), 2*(c*d+a*b), a*a-b*b-c*c+d*d]])
        xyz[f] = shape @ rot.T + rng.normal(scale=5.0, size=3)
    return xyz


def write_inputs(xyz, work):
    import mdtraj as md
    top = md.Topology()
    chain = top.add_chain()
    for i in range(xyz.shape[1]):
        res = top.add_residue("ALA", chain)
        top.add_atom("CA", md.element.carbon, res)
    traj = md.Trajectory(xyz / 10.0, top)  # mdtraj works in nm
    paths = {k: os.path.join(work, "synthetic." + k) for k in ("dcd", "pdb", "trr")}
    traj.save_dcd(paths["dcd"])
    traj[0].save_pdb(paths["pdb"])
    traj.save_trr(paths["trr"])
    return paths


def timed(cmd, **kw):
    start = time.perf_counter()
    subprocess.run(cmd, check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)
    return time.perf_counter() - start


def peak_rss_mib(cmd):
    # GNU time reports the peak resident set of exactly this child.
    out = subprocess.run(["/usr/bin/time", "-v"] + cmd, check=True, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, text=True).stderr
    for line in out.splitlines():
        if "Maximum resident set size" in line:
            return int(line.split(":")[1]) / 1024.0
    return float("nan")


def kabsch(mobile, ref):
    mc, rc = mobile.mean(0), ref.mean(0)
    h = (mobile - mc).T @ (ref - rc)
    u, _, vt = np.linalg.svd(h)
    d = np.sign(np.linalg.det(vt.T @ u.T))
    rot = vt.T @ np.diag([1.0, 1.0, d]) @ u.T
    return (mobile - mc) @ rot.T + rc


def reference_eigenvalues(xyz, top=10):
    x = xyz.astype(np.float64)
    ref = x[0].copy()
    for _ in range(10):
        fitted = np.array([kabsch(f, ref) for f in x])
        avg = fitted.mean(0)
        moved = np.sqrt(((avg - ref) ** 2).sum() / len(ref))
        ref = avg
        if moved < 1e-4:
            break
    dev = (fitted - fitted.mean(0)).reshape(len(x), -1)
    if dev.shape[0] < dev.shape[1]:
        w = np.linalg.eigvalsh(dev @ dev.T / len(x))
    else:
        w = np.linalg.eigvalsh(dev.T @ dev / len(x))
    return np.sort(w)[::-1][:top]


def mdanalysis_pca(pdb, dcd):
    import MDAnalysis as mda
    from MDAnalysis.analysis import align, pca
    u = mda.Universe(pdb, dcd)
    align.AlignTraj(u, u, select="all", in_memory=True).run()
    pca.PCA(u, select="all").run()


def best_of(n, fn):
    return min(fn() for _ in range(n))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("kvt")
    ap.add_argument("--atoms", type=int, default=1000)
    ap.add_argument("--frames", type=int, default=5000)
    ap.add_argument("--work")
    args = ap.parse_args()
    work = args.work or tempfile.mkdtemp(prefix="kvt-bench-")
    os.makedirs(work, exist_ok=True)
    kvt = os.path.abspath(args.kvt)

    xyz = make_trajectory(args.atoms, args.frames)
    paths = write_inputs(xyz, work)
    n3, frames = 3 * args.atoms, args.frames
    print(f"trajectory: {args.atoms} atoms x {frames} frames, "
          f"{os.path.getsize(paths['dcd']) / 2**20:.1f} MiB DCD")

    out = os.path.join(work, "synthetic.kvt")
    t_kvt = timed([kvt, "compress", "-i", paths["dcd"], "-o", out, "--vectors", "10",
                      "--quiet"])
    t_gmx = timed(["gmx", "-quiet", "covar", "-nice", "0", "-f", paths["trr"], "-s", paths["pdb"],
                      "-o", "eigenval.xvg", "-v", "eigenvec.trr", "-l", "covar.log",
                      "-last", "10"], input=b"0\n0\n", cwd=work)
    start = time.perf_counter()
    mdanalysis_pca(paths["pdb"], paths["dcd"])
    t_mda = time.perf_counter() - start
    print(f"kvt compress        {t_kvt:8.2f} s")
    print(f"gmx covar           {t_gmx:8.2f} s   ratio gmx/kvt {t_gmx / t_kvt:6.2f} (target > 1)")
    print(f"MDAnalysis align+PCA{t_mda:8.2f} s   ratio mda/kvt {t_mda / t_kvt:6.2f} (target >= 5)")

    got = np.array([float(v) for v in subprocess.run(
        [kvt, "query", "-i", out, "--evals"], check=True, stdout=subprocess.PIPE,
        text=True).stdout.split()])
    want = reference_eigenvalues(xyz)
    rel = np.abs(got[:10] - want) / want
    print(f"top-10 eigenvalues vs float64 numpy: max relative difference {rel.max():.2e} "
          f"(target <= 1e-3)")

    peak = peak_rss_mib([kvt, "compress", "-i", paths["dcd"], "-o", out, "--vectors", "10",
                         "--quiet"])
    frames_mib = n3 * frames * 4 / 2**20
    order = min(n3, frames)
    matrix_mib = order * order * 4 / 2**20
    print(f"peak memory {peak:.1f} MiB; selected frames {frames_mib:.1f} MiB (streamed), matrix "
          f"{order}x{order} {matrix_mib:.1f} MiB; ratio to the matrix "
          f"{peak / matrix_mib:.2f} (target <= 1.5)")

    copy = os.path.join(work, "copy.dcd")
    t_cp = best_of(3, lambda: timed(["cp", paths["dcd"], copy]))
    t_conv = best_of(3, lambda: timed([kvt, "convert", "-i", paths["dcd"], "-o", copy,
                                       "--quiet"]))
    print(f"cp {t_cp:.3f} s, kvt convert DCD->DCD {t_conv:.3f} s: speed ratio "
          f"{t_cp / t_conv:.2f} of cp (target >= 0.5)")
    if not args.work:
        shutil.rmtree(work)


if __name__ == "__main__":
    sys.exit(main())
