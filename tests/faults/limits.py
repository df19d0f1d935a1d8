#!/usr/bin/python3
"""kvt compress under an address-space limit (ulimit -v) too small for the job: one line
"out of memory: ..." with the size asked, status 1, within the timeout (OpenBLAS would spin
forever), no output and no temporary left.

  limits.py KVT SAMPLE.dcd
"""
import os
import re
import resource
import subprocess
import sys
import tempfile

LIMIT = 200 << 20


def limited():
    resource.setrlimit(resource.RLIMIT_AS, (LIMIT, LIMIT))


def main():
    kvt, sample = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory(prefix="kvt-limits-") as work:
        problems = []
        for solver in ("exact", "randomized"):
            argv = [kvt, "compress", "-i", sample, "-o", f"{work}/out.kvt", "--solver", solver,
                    "--quiet"]
            try:
                p = subprocess.run(argv, capture_output=True, text=True, timeout=60,
                                   preexec_fn=limited, env=dict(os.environ, TMPDIR=work))
            except subprocess.TimeoutExpired:
                problems.append(f"{solver}: no end within 60 s")
                continue
            lines = p.stderr.strip().splitlines()
            print(f"{solver}: status {p.returncode}: {lines}")
            if p.returncode != 1 or len(lines) != 1:
                problems.append(f"{solver}: status {p.returncode}, {len(lines)} lines")
            elif not re.match(r"kvt: out of memory: \d+ MiB .* limit of 200 MiB", lines[0]):
                problems.append(f"{solver}: {lines[0]}")
            if os.listdir(work):
                problems.append(f"{solver}: left {os.listdir(work)}")
    for p in problems:
        print("FAULT", p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
