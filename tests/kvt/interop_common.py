"""What the interop scripts share: their arguments (KVT DATA_DIR WORK_DIR), running kvt, and
checks that print one line each and are counted. A script ends with `finish()`: status 1 when a
check failed. Peers are imported through `require`, which skips the script (status 77) when one
is not installed."""
import importlib
import os
import subprocess
import sys

failures = []
_kvt = "kvt"


def require(*names):
    """The modules named, imported; exits 77 (skipped) when one is missing."""
    try:
        return [importlib.import_module(name) for name in names]
    except ImportError:
        sys.exit(77)


(np,) = require("numpy")


def arguments():
    """The data directory, the work directory (created) and the peptide's PDB; kvt is kept for
    `run` and `snapshot_nm`."""
    global _kvt
    _kvt, data, work = sys.argv[1:4]
    os.makedirs(work, exist_ok=True)
    return data, work, os.path.join(data, "peptide.pdb")


def run(*args):
    """Runs a kvt command quietly; a failure raises."""
    subprocess.run([_kvt, *args, "--quiet"], check=True, stdout=subprocess.DEVNULL)


def snapshot_nm(kvtfile, i):
    """Snapshot i of a KVT file as `kvt query --snap` prints it, in nm, one row per atom."""
    text = subprocess.run([_kvt, "query", "-i", kvtfile, "--snap", str(i)], check=True,
                          stdout=subprocess.PIPE, text=True).stdout
    return np.array(text.split(), dtype=np.float32).reshape(-1, 3) / 10


def check(name, ok, detail=""):
    print(f"{name}: {detail} ({'ok' if ok else 'FAILED'})")
    if not ok:
        failures.append(name)


def close(name, got, want, tolerance):
    """Checks that `got` has the shape of `want` and differs from it by at most `tolerance`."""
    got, want = np.asarray(got), np.asarray(want)
    err = float(np.max(np.abs(got - want))) if got.shape == want.shape else float("inf")
    check(name, err <= tolerance, f"shape {got.shape}, max difference {err:.2e}")


def finish():
    sys.exit(1 if failures else 0)
