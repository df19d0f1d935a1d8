#!/usr/bin/python3
"""The analyses of kvt against independent references: RMSIP, cumulative overlap and cosine
content against MDAnalysis, the overlap matrix and covariance overlap against numpy, projections
of another run against a float64 numpy fit, the motion along a vector read back by MDAnalysis,
and the exported GROMACS files through `gmx anaeig` (skipped without gmx). Bad inputs end with
one line, status 1 and no output file. Exits 77 (skipped) without MDAnalysis.
Usage: interop_analyses.py KVT DATA_DIR WORK_DIR"""
import io
import os
import shutil
import sys
import subprocess

from interop_common import arguments, check, close, finish, require, run

np, mda, mpca, dcd = require("numpy", "MDAnalysis", "MDAnalysis.analysis.pca",
                             "MDAnalysis.coordinates.DCD")
data, work, pdb = arguments()
kvt = sys.argv[1]
sample = os.path.join(data, "..", "..", "data", "sample.dcd")
K = 6


def out(*args):
    return subprocess.run([kvt, *args], check=True, stdout=subprocess.PIPE, text=True).stdout


def numbers(*args):
    return np.array(out(*args).split(), dtype=np.float64)


def w(name):
    return os.path.join(work, name)


def vectors(kvtfile):
    """The first K eigenvectors as rows (K, 3N), as MDAnalysis's functions take them."""
    return np.array([numbers("query", "-i", kvtfile, "--evec", str(k)) for k in range(1, K + 1)])


def table(path):
    """A CSV table written by kvt: the row numbers, then one column per vector."""
    rows = np.loadtxt(path, delimiter=",", skiprows=1, ndmin=2)
    return rows[:, 0], rows[:, 1:]


def frames(path):
    with dcd.DCDReader(path) as r:
        return np.array([ts.positions.astype(np.float64) for ts in r])


for name, part in (("a", "(1:250)"), ("b", "(251:500)"), ("all", "")):
    run("compress", "-i", sample + part, "-o", w(name + ".kvt"), "--vectors", str(K))

# Subspaces.
a, b = vectors(w("a.kvt")), vectors(w("b.kvt"))
report = out("compare", w("a.kvt"), w("b.kvt")).splitlines()
close("rmsip = MDAnalysis rmsip", float(report[0].split()[1]), mpca.rmsip(a, b, K), 1e-5)
close("overlap matrix = numpy |a b^T|", np.loadtxt(report[2:2 + K]), np.abs(a @ b.T), 2e-6)
cumulative = [mpca.cumulative_overlap(a, b, i, K) for i in range(K)]
close("cumulative = MDAnalysis cumulative_overlap", np.array(report[2 + K].split()[1:], float),
      cumulative, 2e-6)
# The tables of compare load as its usage text says: numpy for xvg, pandas for csv.
xvg = np.loadtxt(io.StringIO(out("compare", w("a.kvt"), w("b.kvt"), "--xvg")),
                 comments=["#", "@"])
close("compare --xvg rows = overlap matrix and cumulative overlaps", xvg[:, 1:],
      np.column_stack([np.abs(a @ b.T), cumulative]), 2e-6)
try:
    import pandas
    text = out("compare", w("a.kvt"), w("b.kvt"), "--csv")
    frame = pandas.read_csv(io.StringIO(text), comment="#")
    close("compare --csv read by pandas = overlap matrix", frame.iloc[:, 1:K + 1].to_numpy(),
          np.abs(a @ b.T), 2e-6)
    close("compare --csv rmsip note = MDAnalysis rmsip", float(text.split()[2]),
          mpca.rmsip(a, b, K), 1e-5)
except ImportError:
    print("pandas not found: the csv check is skipped")
la, lb = (numbers("query", "-i", w(name), "--evals") for name in ("a.kvt", "b.kvt"))
cross = np.sum(np.sqrt(np.outer(la, lb)) * (a @ b.T) ** 2)
hess = 1 - np.sqrt(max(la.sum() + lb.sum() - 2 * cross, 0) / (la.sum() + lb.sum()))
close("covariance overlap = numpy (Hess 2000)", float(report[-1].split()[-1]), hess, 1e-5)

# Cosine content of each stored projection.
proj = np.array([numbers("query", "-i", w("all.kvt"), "--proj", str(k)) for k in range(1, K + 1)]).T
ours = [float(out("query", "-i", w("all.kvt"), "--cosine", str(k))) for k in range(1, K + 1)]
close("cosine content = MDAnalysis cosine_content", ours,
      [mpca.cosine_content(proj, k) for k in range(K)], 1e-5)

# Projections: the file's own frames, and another run against a float64 fit.
run("project", "-i", w("all.kvt"), "-t", sample, "-o", w("own.csv"))
rows, own = table(w("own.csv"))
check("project numbers the frames", np.array_equal(rows, np.arange(1, 501)))
close("own frames = stored projections", own, proj, 1e-4 * np.abs(proj).max())
run("project", "-i", w("a.kvt"), "-t", sample + "(251:500)", "--vectors", "2:4", "-o",
    w("other.csv"))
avg = numbers("query", "-i", w("a.kvt"), "--avg").reshape(-1, 3)
reference = []
for x in frames(sample)[250:]:
    p, q = x - x.mean(axis=0), avg - avg.mean(axis=0)
    u, _, vt = np.linalg.svd(p.T @ q)
    d = np.sign(np.linalg.det(u @ vt))
    r = u @ np.diag([1, 1, d]) @ vt
    fitted = p @ r + avg.mean(axis=0)
    reference.append(a[1:4] @ (fitted - avg).ravel())
close("another run = numpy float64 fit and dot product", table(w("other.csv"))[1],
      np.array(reference), 2e-3)

# The motion along vector 2: average + p(i) v, from the smallest to the largest projection.
out("modes", "-i", w("all.kvt"), "--vector", "2", "--frames", "7", "-o", w("mode.dcd"))
motion = frames(w("mode.dcd"))
avg = numbers("query", "-i", w("all.kvt"), "--avg").reshape(-1, 3)
v2 = numbers("query", "-i", w("all.kvt"), "--evec", "2").reshape(-1, 3)
steps = np.linspace(proj[:, 1].min(), proj[:, 1].max(), 7)
along = np.concatenate([steps, steps[-2:0:-1]])
check("the motion loops", motion.shape[0] == 12, f"{motion.shape[0]} frames")
close("frame i = average + p(i) v", motion, avg + along[:, None, None] * v2, 1e-4)

# GROMACS: gmx anaeig on the exported files gives our projections (nm).
gmx = shutil.which("gmx")
if gmx:
    out("export", "-i", w("all.kvt"), "--gromacs", w("pca"))
    run("convert", "-i", sample, "-o", w("sample.trr"))
    subprocess.run([gmx, "-quiet", "anaeig", "-v", w("pca.trr"), "-eig", w("pca.xvg"), "-f",
                    w("sample.trr"), "-s", os.path.abspath(pdb), "-first", "1", "-last", "3",
                    "-proj", w("anaeig.xvg")], input="0\n0\n", text=True, check=True, cwd=work,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    sets, current = [], []
    for line in open(w("anaeig.xvg")):
        if line.startswith("&"):
            sets.append(current)
            current = []
        elif line.strip() and line[0] not in "#@":
            current.append(float(line.split()[1]))
    sets.append(current)
    anaeig = np.array([s for s in sets if s]).T * 10
    close("gmx anaeig -proj = kvt projections (Å)", anaeig, proj[:, :3],
          1e-3 * np.abs(proj).max())
else:
    print("gmx not found: the GROMACS check is skipped")

# Bad input: one line on standard error, status 1, no output file.
run("convert", "-i", os.path.join(data, "mdtraj_9atom.xtc"), "-o", w("nine.dcd"))
run("compress", "-i", w("nine.dcd"), "-o", w("nine.kvt"), "--vectors", "1")
for name, args, made in (
        ("compare of other atoms", ["compare", w("all.kvt"), w("nine.kvt")], None),
        ("project of other atoms", ["project", "-i", w("all.kvt"), "-t", w("nine.dcd"), "-o",
                                    w("bad.csv")], w("bad.csv")),
        ("project onto a vector outside", ["project", "-i", w("all.kvt"), "-t", sample,
                                           "--vectors", "5:9", "-o", w("bad2.csv")],
         w("bad2.csv")),
        ("modes of a vector outside", ["modes", "-i", w("all.kvt"), "--vector", "7", "-o",
                                       w("bad.dcd")], w("bad.dcd"))):
    r = subprocess.run([kvt, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    lines = r.stderr.splitlines()
    check(name, r.returncode == 1 and len(lines) == 1 and lines[0].startswith("kvt: ")
          and not r.stdout and (made is None or not os.path.exists(made)),
          f"status {r.returncode}, {lines}")

finish()
