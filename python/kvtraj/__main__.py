"""python3 -m kvtraj plot RUN.kvt -o RUN.png [--kind summary|landscape|residues] [--vectors K]
                                      [--temperature T] [--bins B]"""
import argparse
import sys

import kvtraj


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m kvtraj", description="kvtraj tools")
    commands = parser.add_subparsers(dest="command", required=True)
    plot = commands.add_parser("plot", help="draw a KVT file's spectrum, projections and vectors")
    plot.add_argument("kvt", help="the KVT file")
    plot.add_argument("-o", "--output", required=True, help="picture file: .png, .svg or .pdf")
    plot.add_argument("--kind", choices=("summary", "landscape", "residues"), default="summary",
                      help="summary (spectrum, PC1-PC2, per atom), the free-energy landscape on "
                           "PC1-PC2, or per-residue magnitudes")
    plot.add_argument("--vectors", type=int, default=3,
                      help="eigenvectors drawn per atom or residue (3)")
    plot.add_argument("--temperature", type=float, default=300.0,
                      help="of the landscape, K (300)")
    plot.add_argument("--bins", type=int, default=50, help="of the landscape, per axis (50)")
    args = parser.parse_args(argv)
    try:
        if args.kind == "summary":
            kvtraj.plot(args.kvt, args.output, args.vectors)
        else:
            import kvtraj.plots as plots  # matplotlib only when asked for

            if args.kind == "landscape":
                plots.landscape(args.kvt, args.output, temperature=args.temperature,
                                bins=args.bins)
            else:
                plots.residues(args.kvt, args.output, args.vectors)
    except (kvtraj.Error, OSError, ValueError) as e:
        print(f"python3 -m kvtraj: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
