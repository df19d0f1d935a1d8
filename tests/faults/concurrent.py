#!/usr/bin/python3
"""Two kvt processes writing the same output at once: afterwards the file is one complete output
of one of them, byte for byte, and no temporary is left.

  concurrent.py KVT DATA_DIR [--rounds N]
"""
import argparse
import os
import subprocess
import sys
import tempfile


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("kvt")
    ap.add_argument("data")
    ap.add_argument("--rounds", type=int, default=20)
    o = ap.parse_args()
    sources = [f"{o.data}/peptide10.dcd", f"{o.data}/peptide10_box.dcd"]
    bad = 0
    with tempfile.TemporaryDirectory(prefix="kvt-concurrent-") as work:
        expected = []
        for i, source in enumerate(sources):
            alone = f"{work}/alone{i}.xtc"
            subprocess.run([o.kvt, "convert", "-i", source, "-o", alone, "--quiet"], check=True)
            with open(alone, "rb") as f:
                expected.append(f.read())
            os.unlink(alone)
        assert expected[0] != expected[1]
        out = f"{work}/out.xtc"
        seen = set()
        for _ in range(o.rounds):
            runs = [subprocess.Popen([o.kvt, "convert", "-i", s, "-o", out, "--quiet"])
                    for s in sources]
            statuses = [r.wait() for r in runs]
            with open(out, "rb") as f:
                result = f.read()
            left = sorted(set(os.listdir(work)) - {"out.xtc"})
            if statuses != [0, 0] or result not in expected or left:
                bad += 1
                print("statuses %s, %s, left %s" % (
                    statuses, "one of the outputs" if result in expected else "a mixed file",
                    left))
            else:
                seen.add(expected.index(result))
    print("%d rounds, %d broke the rule; the last writer was each of %s" % (
        o.rounds, bad, sorted(seen)))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
