"""python3 -m kvtraj plot RUN.kvt -o RUN.png [--vectors K]"""
import argparse
import sys

import kvtraj


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m kvtraj", description="kvtraj tools")
    commands = parser.add_subparsers(dest="command", required=True)
    plot = commands.add_parser("plot", help="draw a KVT file's spectrum, projections and vectors")
    plot.add_argument("kvt", help="the KVT file")
    plot.add_argument("-o", "--output", required=True, help="picture file: .png, .svg or .pdf")
    plot.add_argument("--vectors", type=int, default=3, help="eigenvectors drawn per atom (3)")
    args = parser.parse_args(argv)
    try:
        kvtraj.plot(args.kvt, args.output, args.vectors)
    except (kvtraj.Error, OSError, ValueError) as e:
        print(f"python3 -m kvtraj: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
