#!/usr/bin/python3
"""kvt-mpi on 2 ranks against 1 rank, one thread each, in the same run, and the bytes reduced.

Generates (once, cached under WORK) the DCD file of bench/pca/compare.py -- frames moving along a
random basis with a slowly decaying spectrum -- at ATOMS x FRAMES, then times
  mpirun -np 1 kvt-mpi compress --threads 1 ...   and   mpirun -np 2 ... (same options)
and prints the ratio, beside the most these cores allow: both halves of the frames compressed at
once by two separate one-rank runs. With --verbose, kvt-mpi lists the bytes of every reduction; they are
compared with the cost model of docs/scaling.md.
Usage: scaling.py KVT_MPI [--atoms 5000] [--frames 20000] [--vectors 20] [--work DIR]
                  [--repeat 3]
"""
import argparse
import importlib.util
import os
import statistics
import subprocess
import time

HERE = os.path.dirname(os.path.abspath(__file__))
spec = importlib.util.spec_from_file_location("pca_compare", os.path.join(HERE, "..", "pca",
                                                                         "compare.py"))
pca_compare = importlib.util.module_from_spec(spec)
spec.loader.exec_module(pca_compare)

ENV = dict(os.environ, OMPI_ALLOW_RUN_AS_ROOT="1", OMPI_ALLOW_RUN_AS_ROOT_CONFIRM="1",
           OMP_NUM_THREADS="1", OPENBLAS_NUM_THREADS="1")


def compress(kvt_mpi, ranks, dcd, out, vectors):
    cmd = ["mpirun", "--oversubscribe", "--bind-to", "none", "-np", str(ranks), kvt_mpi,
           "compress", "-i", dcd, "-o", out, "--vectors", str(vectors), "--solver", "randomized",
           "--threads", "1", "--quiet", "--verbose"]
    start = time.perf_counter()
    p = subprocess.run(cmd, check=True, env=ENV, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                       text=True)
    wall = time.perf_counter() - start
    summary = p.stdout.strip()
    reductions = [ln for ln in p.stderr.splitlines() if ln.startswith("kvt-mpi:")][-1]
    sizes = [int(v) for v in reductions.split(":", 2)[2].split()]
    return wall, summary, sizes


def check_model(sizes, ranks, atoms, vectors, oversampling=10):
    """The reductions against the cost model: the frame count (2 doubles), with several ranks the
    first frame (3N floats), one 3N + 1 doubles per fit round, then per Krylov pass 3N x w floats with w = K + p
    on the first pass and at most that later, plus the total variance (1 double) on the first."""
    n, block = 3 * atoms, vectors + oversampling
    head = [16, 4 * n] if ranks > 1 else [16]
    rounds = 0
    while len(head) + rounds < len(sizes) and sizes[len(head) + rounds] == 8 * (n + 1):
        rounds += 1
    krylov = sizes[len(head) + rounds:]
    widths = [s // (4 * n) for s in krylov if s != 8]
    ok = (sizes[:len(head)] == head and len(krylov) >= 2 and krylov[1] == 8 and
          widths[0] == block and all(0 < w <= block for w in widths) and
          all(s == 8 or s % (4 * n) == 0 for s in krylov))
    return rounds, widths, ok


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("kvt_mpi")
    ap.add_argument("--atoms", type=int, default=5000)
    ap.add_argument("--frames", type=int, default=20000)
    ap.add_argument("--vectors", type=int, default=20)
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--work", default=os.environ.get("TMPDIR", "/work/bench-data"))
    args = ap.parse_args()
    os.makedirs(args.work, exist_ok=True)
    dcd = os.path.join(args.work, f"spectrum_{args.atoms}x{args.frames}.dcd")
    if not os.path.exists(dcd):
        pca_compare.write_dcd(dcd, args.atoms, args.frames)
    subprocess.run(["cat", dcd], check=True, stdout=subprocess.DEVNULL)  # into the page cache

    print(f"kvt-mpi compress, {args.atoms} atoms x {args.frames} frames, randomized solver, "
          f"K = {args.vectors}, one thread per rank")
    walls = {1: [], 2: [], "halves": []}
    half = args.frames // 2
    for attempt in range(args.repeat):
        for ranks in (1, 2):
            out = os.path.join(args.work, f"mpi_{ranks}.kvt")
            wall, summary, sizes = compress(args.kvt_mpi, ranks, dcd, out, args.vectors)
            walls[ranks].append(wall)
            os.remove(out)
            if attempt > 0:
                continue
            passes = int(summary.split(" passes")[0].split()[-1])
            print(f"  -np {ranks}: {summary.split(': ', 1)[1]}")
            rounds, widths, ok = check_model(sizes, ranks, args.atoms, args.vectors)
            print(f"         {len(sizes)} reductions in {passes} passes, {sum(sizes)} bytes: "
                  f"{rounds} fit rounds x {8 * (3 * args.atoms + 1)} B, Krylov widths {widths} x "
                  f"3N x 4 B; cost model {'matches' if ok else 'DOES NOT MATCH'}")
        # What the two cores allow: each half of the frames compressed by its own one-rank run,
        # both at once, with no communication at all.
        start = time.perf_counter()
        runs = [subprocess.Popen(["mpirun", "--oversubscribe", "--bind-to", "none", "-np", "1",
                                  args.kvt_mpi, "compress", "-i", f"{dcd}({first}:{last})", "-o",
                                  os.path.join(args.work, f"half_{first}.kvt"), "--vectors",
                                  str(args.vectors), "--solver", "randomized", "--threads", "1",
                                  "--quiet"], env=ENV, stdout=subprocess.DEVNULL)
                for first, last in ((1, half), (half + 1, args.frames))]
        if any(run.wait() != 0 for run in runs):
            raise SystemExit("a half run failed")
        walls["halves"].append(time.perf_counter() - start)
        for first in (1, half + 1):
            os.remove(os.path.join(args.work, f"half_{first}.kvt"))
    one, two, halves = (statistics.median(walls[key]) for key in (1, 2, "halves"))
    print(f"  median of {args.repeat} alternating runs (this machine's speed drifts):")
    print(f"  -np 1: {one:8.2f} s")
    print(f"  -np 2: {two:8.2f} s   speed-up -np 2 / -np 1: {one / two:.2f}x (target >= 1.7x)")
    print(f"  two halves at once, -np 1 each: {halves:8.2f} s: these 2 cores allow "
          f"{one / halves:.2f}x; -np 2 reaches {halves / two * 100:.0f} % of that")

if __name__ == "__main__":
    main()
