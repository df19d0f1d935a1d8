#!/usr/bin/python3
"""Interrupts kvt compress, convert and expand with SIGINT, SIGTERM and SIGHUP while they work
and checks that each stops within a second with status 128 + the signal's number after one line,
leaving the old output as it was and no temporary file (beside the output or in TMPDIR).

  signals.py KVT SAMPLE.dcd [--at SECONDS,...] [--mpi KVT-MPI --mpirun MPIRUN]
             [--python BUILD/python [--large RUN.dcd]] [--only compress,convert,...]

The input is an album naming SAMPLE many times, long enough to be interrupted. With --mpi, one
rank of a two-rank `kvt-mpi compress` is sent SIGTERM: every rank must end, mpirun with a failure
status, leaving the old output and no temporary. With --python, an interpreter running
kvtraj.compress is sent SIGINT (on the album, and on --large, a trajectory of many atoms whose
blocks take long): KeyboardInterrupt within a second, no thread left, the old output kept, no
temporary; the delay is printed.
"""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

OLD = b"an output written before this run\n"


def commands(kvt, w):
    return {
        "compress": [kvt, "compress", "--album", f"{w}/album", "-o", f"{w}/out.kvt", "--vectors", "4", "--quiet"],
        "convert": [kvt, "convert", "--album", f"{w}/album5", "-o", f"{w}/out.xtc", "--quiet"],
        "expand": [kvt, "expand", "-i", f"{w}/in.kvt", "-o", f"{w}/out.dcd", "--quiet"],
    }


def prepare(output, work):
    """Writes the old output; returns the folder's names before the run."""
    with open(output, "wb") as f:
        f.write(OLD)
    return set(os.listdir(work))


def aftermath(output, work, before):
    """What a stopped run broke: the old output changed, files left behind (removed, so that
    the next run starts clean)."""
    problems = []
    with open(output, "rb") as f:
        if f.read() != OLD:
            problems.append("the old output was changed")
    left = sorted(set(os.listdir(work)) - before) + os.listdir(f"{work}/tmp")
    if left:
        problems.append("left %s" % " ".join(left))
        for name in left:
            path = f"{work}/{name}" if os.path.exists(f"{work}/{name}") else f"{work}/tmp/{name}"
            os.unlink(path)
    return problems


def signal_at(p, at, sig, patience):
    """Sends `sig` to `p` `at` seconds after it started and waits up to `patience` seconds:
    (what broke the rule or None, when the signal went, standard output, standard error)."""
    time.sleep(at)
    if p.poll() is not None:
        return "ended (status %d) before the signal: make the input longer" % p.returncode, 0, "", ""
    sent = time.monotonic()
    p.send_signal(sig)
    try:
        out, err = p.communicate(timeout=patience)
    except subprocess.TimeoutExpired:
        p.kill()
        p.communicate()
        return "still running %.0f s after the signal" % patience, sent, "", ""
    return None, sent, out, err


def interrupt(argv, work, output, sig, at):
    """What broke the rule, or None."""
    before = prepare(output, work)
    env = dict(os.environ, TMPDIR=f"{work}/tmp")
    p = subprocess.Popen(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    fault, sent, _, err = signal_at(p, at, sig, 1.0)
    if fault:
        return fault
    took = time.monotonic() - sent
    lines = err.decode(errors="replace").strip().splitlines()
    problems = []
    if p.returncode != 128 + sig:
        problems.append("status %d, not %d" % (p.returncode, 128 + sig))
    if len(lines) != 1 or signal.Signals(sig).name not in lines[0]:
        problems.append("not one line naming the signal: %s" % lines)
    problems += aftermath(output, work, before)
    if problems:
        return "; ".join(problems)
    print("  %s after %.0f ms: stopped in %.0f ms" % (lines[0], 1000 * at, 1000 * took))
    return None


def ranks_of(parent):
    """The kvt-mpi processes below `parent` (mpirun starts them directly on one machine)."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/stat") as f:
                ppid = int(f.read().rsplit(")", 1)[1].split()[1])
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                argv0 = f.read().split(b"\0")[0]
        except (OSError, IndexError, ValueError):
            continue
        if ppid == parent and argv0.endswith(b"kvt-mpi"):
            found.append(int(pid))
    return sorted(found)


def running(pid):
    """Alive and not a zombie (an ended rank waits to be reaped by whoever inherits it)."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def interrupt_rank(o, work):
    """SIGTERM to the second rank of a two-rank job; what broke the rule, or None."""
    output = f"{work}/out.kvt"
    before = prepare(output, work)
    env = dict(os.environ, TMPDIR=f"{work}/tmp", OMPI_ALLOW_RUN_AS_ROOT="1",
               OMPI_ALLOW_RUN_AS_ROOT_CONFIRM="1")
    job = subprocess.Popen([o.mpirun, "--oversubscribe", "-np", "2", o.mpi, "compress",
                            "--album", f"{work}/album", "-o", output, "--threads", "1",
                            "--quiet"], env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.PIPE)
    deadline = time.monotonic() + 10
    ranks = []
    while len(ranks) < 2 and time.monotonic() < deadline and job.poll() is None:
        time.sleep(0.05)
        ranks = ranks_of(job.pid)
    if len(ranks) < 2:
        job.kill()
        job.communicate()
        return "the two ranks were not seen running"
    time.sleep(0.5)
    os.kill(ranks[1], signal.SIGTERM)
    try:
        _, err = job.communicate(timeout=10)
    except subprocess.TimeoutExpired:
        job.kill()
        job.communicate()
        return "the job still runs 10 s after one rank's SIGTERM"
    problems = []
    if job.returncode == 0:
        problems.append("mpirun ended with status 0")
    if any(running(r) for r in ranks):
        problems.append("a rank is still running")
    problems += aftermath(output, work, before)
    if problems:
        return "; ".join(problems)
    first = err.decode(errors="replace").strip().splitlines()[:1]
    print("  kvt-mpi: status %d, first line %s" % (job.returncode, first))
    return None


PYTHON_RUN = """
import sys, threading, time, kvtraj
print("started", flush=True)
try:
    kvtraj.compress(sys.argv[1], sys.argv[2], album=sys.argv[1].endswith("album"), vectors=4)
except KeyboardInterrupt:
    print("interrupted", time.monotonic(), threading.active_count(), flush=True)
"""


def interrupt_python(o, work, source, at):
    """SIGINT to an interpreter in kvtraj.compress; what broke the rule, or None."""
    output = f"{work}/out.kvt"
    before = prepare(output, work)
    env = dict(os.environ, TMPDIR=f"{work}/tmp", PYTHONPATH=o.python)
    p = subprocess.Popen([sys.executable, "-c", PYTHON_RUN, source, output], env=env,
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if p.stdout.readline() != "started\n":
        p.kill()
        return "did not start: %s" % p.communicate()[1].strip()[-300:]
    fault, sent, out, err = signal_at(p, at, signal.SIGINT, 30.0)
    if fault:
        return fault
    m = re.fullmatch(r"interrupted (\S+) (\d+)\s*", out)
    if not m:
        return "no KeyboardInterrupt (status %d): %s" % (p.returncode, err.strip()[-300:])
    took = float(m.group(1)) - sent
    problems = []
    if took >= 1.0:
        problems.append("KeyboardInterrupt %.0f ms after the signal" % (1000 * took))
    if m.group(2) != "1":
        problems.append("%s threads running" % m.group(2))
    problems += aftermath(output, work, before)
    if problems:
        return "; ".join(problems)
    print("  KeyboardInterrupt %.0f ms after SIGINT" % (1000 * took))
    return None


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("kvt")
    ap.add_argument("sample")
    ap.add_argument("--at", default="0.3", help="seconds after the start, comma-separated")
    ap.add_argument("--copies", type=int, default=100)
    ap.add_argument("--mpi", help="kvt-mpi, to interrupt one rank of two")
    ap.add_argument("--mpirun", default="mpirun")
    ap.add_argument("--python", help="folder holding the kvtraj package (build/python)")
    ap.add_argument("--large", help="a trajectory of many atoms for kvtraj.compress")
    ap.add_argument("--only", default="compress,convert,expand,python,mpi",
                    help="comma-separated: which of compress, convert, expand, python, mpi")
    o = ap.parse_args()
    work = tempfile.mkdtemp(prefix="kvt-signals-")
    bad = 0
    try:
        os.makedirs(f"{work}/tmp")
        # Converting outruns compressing (the album's frames take about 0.25 s): album5 names five
        # times as many, the most an album names.
        for name, copies in (("album", o.copies), ("album5", 5 * o.copies)):
            with open(f"{work}/{name}", "w") as f:
                f.write(f"{o.sample}\n" * copies)
        subprocess.run([o.kvt, "compress", "-i", o.sample, "-o", f"{work}/in.kvt", "--quiet"],
                       check=True, stdout=subprocess.DEVNULL)
        outputs = {"compress": "out.kvt", "convert": "out.xtc", "expand": "out.dcd"}
        chosen = o.only.split(",")
        for name, argv in commands(o.kvt, work).items():
            if name not in chosen:
                continue
            if name == "expand":  # decoding outruns reading: three times the album's frames
                with open(f"{work}/album3", "w") as f:
                    f.write(f"{o.sample}\n" * (3 * o.copies))
                subprocess.run([o.kvt, "compress", "--album", f"{work}/album3", "-o",
                                f"{work}/in.kvt", "--vectors", "20", "--quiet"], check=True,
                               stdout=subprocess.DEVNULL)
            for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
                for at in map(float, o.at.split(",")):
                    fault = interrupt(argv, work, f"{work}/{outputs[name]}", sig, at)
                    print("%s %s at %.2f s: %s" % (name, sig.name, at, fault or "kept the rule"))
                    bad += fault is not None
        if o.python and "python" in chosen:
            sources = [f"{work}/album"] + ([os.path.abspath(o.large)] if o.large else [])
            for source in sources:
                for at in map(float, o.at.split(",")):
                    fault = interrupt_python(o, work, source, at)
                    print("kvtraj.compress of %s, SIGINT at %.2f s: %s" % (
                        os.path.basename(source), at, fault or "kept the rule"))
                    bad += fault is not None
        if o.mpi and "mpi" in chosen:
            fault = interrupt_rank(o, work)
            print("kvt-mpi SIGTERM to one rank: %s" % (fault or "kept the rule"))
            bad += fault is not None
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
