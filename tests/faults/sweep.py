#!/usr/bin/python3
"""Fails the N-th I/O call (or allocation) of kvtraj's programs for each N in turn and checks
that every run keeps the rule of docs/faults.md:

- EINTR and short counts are retried: status 0, the same output and standard output as a run
  without faults;
- any other failure: status 1 and one line on standard error naming a file of the run and the
  system's reason, the previous output byte-identical, no temporary file left;
- never a signal (crash) or a hang.

Each run works in a fresh folder holding its inputs, an old output and TMPDIR; only calls on
files in that folder count. A first run without faults counts the calls of each kind; then all N
are tried (--sample 0) or a spread sample of them.

  sweep.py --preload libfault_inject.so --kvt build/apps/kvt/kvt --data tests/data [--sample K]

Exit status: 0 when every run kept the rule, 1 otherwise, 77 when the interposer cannot load.
"""
import argparse
import errno
import fnmatch
import os
import shutil
import subprocess
import sys
import tempfile

IO_CALLS = ["open", "read", "pread", "write", "pwrite", "fsync", "rename", "close", "ftruncate"]
TRANSFERS = ["read", "pread", "write", "pwrite"]
FAILURES = {"EIO": errno.EIO, "ENOSPC": errno.ENOSPC}
RETRIED = ["EINTR", "short"]
OLD_OUTPUT = b"an output written before this run\n"
# The dynamic loader allocates a thread's thread-local storage of a library loaded at run time
# (libstdc++ under the Python interpreter) when the thread first uses it, and aborts the process
# when that fails ("cannot allocate memory for thread-local data"): the C library's limit.
LOADER = ("ld-linux",)
TIMEOUT = 60


class Scenario:
    """One command: the inputs copied into the folder, the arguments (with {w} the folder) and
    the output it writes (None when its result is standard output)."""

    def __init__(self, name, program, args, inputs, output=None, also=(), own_messages=False,
                 env=None, runtime=()):
        self.name, self.program, self.args = name, program, args
        self.env = env or {}  # added to the run's environment
        self.inputs, self.output = inputs, output
        self.also = list(also)  # further outputs, made old beforehand too
        # The node programs keep the messages and statuses they were specified with (several
        # lines, on either stream; status 255 for some): the reason must still be among them.
        self.own_messages = own_messages
        # A runtime whose own allocations the injector also fails (Open MPI's, inside a
        # collective or MPI_Finalize), which then ends the job its own way (MPI_ERR_INTERN, a
        # crash): named by its libraries' names' beginnings, such a run is reported apart when
        # nothing was lost.
        self.runtime = runtime

    def argv(self, work):
        return [self.program] + [a.format(w=work) for a in self.args]


def scenarios(o):
    d = o.data
    dcd = [(f"{d}/peptide10.dcd", "in.dcd")]
    kvt_in = [(f"{d}/peptide10.dcd", "in.dcd")]  # compressed by the setup below
    out = []
    for solver in ["exact", "randomized"]:
        out.append(Scenario(f"compress-{solver}", o.kvt,
                            ["compress", "-i", "{w}/in.dcd", "-o", "{w}/out.kvt", "--solver",
                             solver, "--vectors", "4", "--quiet"], dcd, "out.kvt"))
    out.append(Scenario("compress-threads", o.kvt,
                        ["compress", "-i", "{w}/in.dcd", "-o", "{w}/out.kvt", "--threads", "2",
                         "--vectors", "4", "--quiet"], dcd, "out.kvt"))
    out.append(Scenario("compress-amber-text", o.kvt,
                        ["compress", "-i", "{w}/in.crd", "--natoms", "200", "-o",
                         "{w}/out.kvt", "--vectors", "4", "--quiet"],
                        [(f"{d}/peptide10.mdcrd", "in.crd")], "out.kvt"))
    for ext in o.formats:
        out.append(Scenario(f"convert-{ext}", o.kvt,
                            ["convert", "-i", "{w}/in.dcd", "-o", "{w}/out." + ext, "--quiet"],
                            dcd, "out." + ext))
        out.append(Scenario(f"expand-{ext}", o.kvt,
                            ["expand", "-i", "{w}/in.kvt", "-o", "{w}/out." + ext, "--quiet"],
                            kvt_in, "out." + ext))
    out.append(Scenario("convert-xtc-input", o.kvt,
                        ["convert", "-i", "{w}/in.xtc", "-o", "{w}/out.dcd", "--quiet"],
                        [(f"{d}/gmx_peptide10.xtc", "in.xtc")], "out.dcd"))
    nc = [(f"{d}/peptide10_mdtraj.nc", "in.nc")]
    out.append(Scenario("compress-nc-input", o.kvt,
                        ["compress", "-i", "{w}/in.nc", "-o", "{w}/out.kvt", "--vectors", "4",
                         "--quiet"], nc, "out.kvt"))
    out.append(Scenario("convert-nc-input", o.kvt,
                        ["convert", "-i", "{w}/in.nc", "-o", "{w}/out.dcd", "--quiet"], nc,
                        "out.dcd"))
    out.append(Scenario("info-nc", o.kvt, ["info", "{w}/in.nc"], nc))
    out.append(Scenario("info-dcd", o.kvt, ["info", "{w}/in.dcd"], dcd))
    out.append(Scenario("info-kvt", o.kvt, ["info", "{w}/in.kvt"], kvt_in))
    out.append(Scenario("query", o.kvt, ["query", "-i", "{w}/in.kvt", "--snap", "3"], kvt_in))
    if o.tools:
        t, td = o.tools, f"{d}/tools"
        out.append(Scenario("blobgrid", f"{t}/blobgrid",
                            ["2", "2", "2", "{w}/out.nodes", "{w}/out.topology"], [],
                            "out.topology", also=["out.nodes"], own_messages=True))
        for prog, ext, src in [("blobcrd", "crd", "nodes_state"), ("blobxyz", "xyz", "nodes_plain"),
                               ("blobpdb", "pdb", "nodes_plain")]:
            out.append(Scenario(prog, f"{t}/{prog}", ["{w}/in.txt", "{w}/out." + ext],
                                [(f"{td}/{src}.txt", "in.txt")], "out." + ext,
                                own_messages=True))
    out += mpi_scenarios(o, dcd) + python_scenarios(o, dcd, kvt_in)
    return [s for s in out if any(fnmatch.fnmatch(s.name, p) for p in o.only)
            and not any(fnmatch.fnmatch(s.name, p) for p in o.skip)]


def mpi_scenarios(o, dcd):
    """kvt-mpi compress on two ranks, the calls of one rank failed at a time: rank 0 alone
    writes the output, rank 1 only reads, and its failure must reach rank 0, which prints it.
    (Failing the N-th call of both ranks at once would mix two unlike calls in one run.) Open
    MPI keeps its session files outside the folder, so that only kvt-mpi's own calls count;
    mpirun --quiet leaves out its own notice of a failed rank, so that the rule is the same."""
    if not o.mpi:
        return []
    env = {"OMPI_MCA_orte_tmpdir_base": o.scratch, "OMPI_ALLOW_RUN_AS_ROOT": "1",
           "OMPI_ALLOW_RUN_AS_ROOT_CONFIRM": "1"}
    return [Scenario(f"mpi-compress-rank{rank}", o.mpirun,
                     ["--quiet", "--oversubscribe", "-np", "2", o.mpi, "compress", "-i",
                      "{w}/in.dcd", "-o", "{w}/out.kvt", "--vectors", "4", "--threads", "1",
                      "--quiet"], dcd,
                     "out.kvt", env=dict(env, KVT_FAULT_RANK=str(rank)),
                     runtime=("libmpi", "libopen-", "libpmix", "libevent", "libhwloc", "mca_"))
            for rank in (0, 1)]


def python_scenarios(o, dcd, kvt_in):
    """kvtraj.compress, and kvtraj.open with reads of its arrays and frames (python_run.py)."""
    if not o.python:
        return []
    run = [os.path.join(os.path.dirname(os.path.abspath(__file__)), "python_run.py")]
    # The interpreter's own allocations are its own: it may crash when one fails (python-open:
    # a segfault in the interpreter after a failed allocation it asked for itself).
    env, interpreter = {"PYTHONPATH": o.python}, ("python3", "libpython")
    return [Scenario("python-compress", sys.executable,
                     run + ["compress", "{w}/in.dcd", "{w}/out.kvt"], dcd, "out.kvt", env=env,
                     runtime=interpreter),
            Scenario("python-open", sys.executable, run + ["open", "{w}/in.kvt"], kvt_in,
                     env=env, runtime=interpreter)]


class Run:
    def __init__(self, status, stdout, stderr, report, output, leftovers, alive):
        self.status, self.stdout, self.stderr = status, stdout, stderr
        self.report, self.output, self.leftovers = report, output, leftovers
        self.alive = alive  # processes of the run left running


def prepare(o, s, work):
    os.makedirs(f"{work}/tmp")
    for src, dest in s.inputs:
        shutil.copyfile(src, f"{work}/{dest}")
    if any(a.endswith("/in.kvt") for a in s.args):
        subprocess.run([o.kvt, "compress", "-i", f"{work}/in.dcd", "-o", f"{work}/in.kvt",
                        "--vectors", "4", "--quiet"], check=True, stdout=subprocess.DEVNULL)
    for name in ([s.output] if s.output else []) + s.also:
        with open(f"{work}/{name}", "wb") as f:
            f.write(OLD_OUTPUT)
    return set(os.listdir(work))


def run(o, s, call=None, n=0, error="EIO"):
    # A short name: titles in the outputs hold the input's path, cut to 80 characters.
    work = tempfile.mkdtemp(prefix="run-", dir=o.scratch)
    try:
        before = prepare(o, s, work)
        report = f"{o.scratch}/report-{os.getpid()}"
        env = dict(os.environ, LD_PRELOAD=o.preload, KVT_FAULT_DIR=work, TMPDIR=f"{work}/tmp",
                   KVT_FAULT_REPORT=report, KVT_FAULT_CALL=call or "", KVT_FAULT_N=str(n),
                   KVT_FAULT_ERROR=error, **s.env)
        try:
            p = subprocess.run(s.argv(work), env=env, capture_output=True, timeout=TIMEOUT)
            # The folder's name differs from run to run: results are compared without it.
            status, stdout = p.returncode, p.stdout.replace(work.encode(), b"{w}")
            stderr = p.stderr.decode(errors="replace")
        except subprocess.TimeoutExpired:
            status, stdout, stderr = "hang", b"", ""
        counts = read_report(report)
        alive = still_running(work)
        output = None
        if s.output and os.path.exists(f"{work}/{s.output}"):
            with open(f"{work}/{s.output}", "rb") as f:
                output = f.read().replace(work.encode(), b"{w}")  # titles name the input
        left = sorted(set(os.listdir(work)) - before) + sorted(os.listdir(f"{work}/tmp"))
        return Run(status, stdout, stderr, counts, output, left, alive)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def still_running(work):
    """Processes of the run still alive once it has ended (an MPI rank the launcher left),
    which are then ended."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if work.encode() not in f.read():
                    continue
            with open(f"/proc/{pid}/stat") as f:
                if f.read().rsplit(")", 1)[1].split()[0] == "Z":
                    continue  # ended, waiting to be reaped
        except (OSError, IndexError):
            continue
        found.append(int(pid))
        os.kill(int(pid), 9)
    return found


def read_report(path):
    counts = {}
    if os.path.exists(path):
        with open(path) as f:
            for line in f:
                words = line.split()
                if words[0] == "fired":
                    counts["fired"] = words[1]
                    counts["by"] = words[4] if len(words) > 4 else ""  # who asked (malloc)
                else:
                    counts[words[0]] = int(words[1])
        os.unlink(path)
    return counts


def spread(total, sample):
    """All of 1..total, or `sample` of them spread evenly, first and last included."""
    if sample <= 0 or total <= sample:
        return list(range(1, total + 1))
    if sample == 1:
        return [total]
    return sorted({1 + round(i * (total - 1) / (sample - 1)) for i in range(sample)})


def judge(s, r, ref, error, o):
    """What broke the rule, or None; KNOWN for the limits of Open MPI, the interpreter and the
    loader."""
    if r.status == "hang":
        return "no end within %d s" % TIMEOUT
    if (error == "ENOMEM" and r.report.get("by", "").startswith(s.runtime + LOADER)
            and r.status != 0 and r.output in (ref.output, OLD_OUTPUT) and not r.leftovers
            and not r.alive):
        return "KNOWN"  # the runtime's own allocation failed, and it ended the job; nothing lost
    if r.status < 0:
        return "killed by signal %d; stderr: %s" % (-r.status, r.stderr.strip()[-300:])
    if r.leftovers:
        return "left %s" % " ".join(r.leftovers)
    if r.alive:
        return "left running: %s" % " ".join(map(str, r.alive))
    if "AddressSanitizer" in r.stderr or "runtime error" in r.stderr:
        return "sanitizer report"
    if error in RETRIED or r.status == 0:
        if r.status != 0:
            return "status %d, not retried: %s" % (r.status, r.stderr.strip())
        if r.output != ref.output or r.stdout != ref.stdout:
            return "status 0 with a different output"
        return None
    reason = os.strerror(FAILURES[error]) if error in FAILURES else "memory"
    if s.own_messages:
        text = r.stderr + r.stdout.decode(errors="replace")
        # Their "could not open" lines were specified without a reason; memory is no file's.
        if r.status not in (1, 255) or (error != "ENOMEM" and reason not in text):
            return "status %d without the reason: %s" % (r.status, text.strip())
        return None if r.output == OLD_OUTPUT else "old output not kept"
    if r.status != 1:
        return "status %d: %s" % (r.status, r.stderr.strip())
    lines = r.stderr.strip().splitlines()
    if len(lines) != 1:
        return "%d lines: %s" % (len(lines), " | ".join(lines))
    if reason.lower() not in lines[0].lower():
        return "no reason (%s): %s" % (reason, lines[0])
    if error != "ENOMEM" and "/" not in lines[0]:
        return "no file named: %s" % lines[0]
    if s.output and r.output != OLD_OUTPUT:
        return "old output not kept: %s" % lines[0]
    return None


def sweep(o, s):
    ref = run(o, s)
    if ref.status != 0:
        print(f"{s.name}: the run without faults fails: {ref.stderr.strip()}")
        return 1
    bad = runs = known = failed_allocations = 0
    plan = [(c, e) for c in IO_CALLS for e in list(FAILURES) + RETRIED
            if (e != "ENOSPC" or c in ("write", "pwrite", "fsync", "ftruncate"))
            and (e != "short" or c in TRANSFERS) and c in o.calls and e in o.errors]
    if o.malloc:
        plan.append(("malloc", "ENOMEM"))
    for call, error in plan:
        total = ref.report.get(call, 0)
        sample = o.malloc if call == "malloc" else o.sample
        for n in spread(total, sample):
            r = run(o, s, call, n, error)
            runs += 1
            if "fired" not in r.report:
                continue  # fewer calls in this run (threads): nothing was failed
            failed_allocations += call == "malloc"
            fault = judge(s, r, ref, error, o)
            if fault == "KNOWN":
                known += 1
            elif fault:
                bad += 1
                by = f" (asked by {r.report['by']})" if r.report.get("by") else ""
                print(f"FAULT {s.name}: {call} #{n}/{total} {error}{by}: {fault}")
    calls = " ".join(f"{c} {ref.report.get(c, 0)}" for c in IO_CALLS + ["malloc"])
    limits = "the runtime's or the loader's" if s.runtime else "the loader's"
    library = f", {known} met {limits} limits" if known else ""
    print(f"{s.name}: {runs} runs, {bad} broke the rule{library}, {failed_allocations} "
          f"allocations failed ({calls})")
    return bad


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--preload", required=True)
    ap.add_argument("--kvt", required=True)
    ap.add_argument("--tools", help="folder of blobgrid, blobcrd, blobxyz, blobpdb")
    ap.add_argument("--data", required=True, help="tests/data")
    ap.add_argument("--mpi", help="kvt-mpi, run on two ranks")
    ap.add_argument("--mpirun", default="mpirun")
    ap.add_argument("--python", help="folder holding the kvtraj package (build/python)")
    ap.add_argument("--formats", default="dcd,binpos,crd,xtc,nc")
    ap.add_argument("--sample", type=int, default=0, help="N per call and error (0: all)")
    ap.add_argument("--malloc", type=int, default=20, help="allocations failed per command")
    ap.add_argument("--only", default="*", help="comma-separated name patterns")
    ap.add_argument("--skip", default="", help="comma-separated name patterns left out")
    ap.add_argument("--calls", default=",".join(IO_CALLS), help="comma-separated I/O calls")
    ap.add_argument("--errors", default=",".join(list(FAILURES) + RETRIED),
                    help="comma-separated errors of the I/O calls")
    ap.add_argument("--scratch", default=None)
    o = ap.parse_args()
    o.formats = o.formats.split(",")
    o.only = o.only.split(",")
    o.skip = [p for p in o.skip.split(",") if p]
    o.calls, o.errors = o.calls.split(","), o.errors.split(",")
    o.preload = os.path.abspath(o.preload)
    o.scratch = tempfile.mkdtemp(prefix="kvt-sweep-", dir=o.scratch)
    try:
        probe = subprocess.run([o.kvt, "--help"], capture_output=True,
                               env=dict(os.environ, LD_PRELOAD=o.preload))
        if probe.returncode != 0 or probe.stderr:
            print("the interposer cannot load here (sanitizer build?):", probe.stderr[:200])
            return 77
        bad = sum(sweep(o, s) for s in scenarios(o))
    finally:
        shutil.rmtree(o.scratch, ignore_errors=True)
    print("every run kept the rule" if bad == 0 else f"{bad} runs broke the rule")
    return 0 if bad == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
