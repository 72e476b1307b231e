"""kaven-map: read, check, compare, plot and export KAVEN field maps."""

from __future__ import annotations

import argparse
import json
import math
import os
import sys

import numpy as np

from .analysis import compare, format_name, summary
from .reader import KavenMapError, read_map, unit_of

PROG = "kaven-map"


def _version() -> str:
    try:
        from importlib.metadata import version
        return version("kavenmap")
    except Exception:  # run from the source tree without being installed
        return "(not installed)"


def _real(minimum, strict, what):
    """An argparse type: a finite real >= minimum (> with strict)."""
    def parse(text):
        try:
            v = float(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"{text!r} is not a number") from None
        if not math.isfinite(v) or v < minimum or (strict and v == minimum):
            raise argparse.ArgumentTypeError(f"{text!r}: {what}")
        return v
    return parse


def _node_text(m, ijk):
    i, j, k = ijk
    return f"({m.x[i]:.4g}, {m.y[j]:.4g}, {m.z[k]:.4g}) cm"


def cmd_info(args) -> int:
    m = read_map(args.file)
    s = summary(m)
    if args.json:
        print(json.dumps(s, indent=2))
    else:
        print(f"{m.path}: KAVEN field map, {format_name(m)}")
        note = " (taken from the grid)" if m.format == 2 else ""
        print(f"  element length {m.elen:g} cm, aperture {m.aper:g} cm{note}, "
              f"symmetry keys {' '.join(map(str, m.keys))}")
        for axis, a in s["nodes"].items():
            steps = "uniform" if a["uniform"] else "NOT uniform"
            print(f"  {axis}: {a['count']:5d} nodes from {a['first']:.6g} to {a['last']:.6g} cm, "
                  f"step {a['step']:.6g} cm ({steps})")
        for name, c in s["components"].items():
            u = unit_of(name)
            print(f"  {name}: min {c['min']:13.6g} {u:5} at {_node_text(m, c['min_at'])}, "
                  f"max {c['max']:13.6g} {u:5} at {_node_text(m, c['max_at'])}")
        if "axis_Ez_peak" not in s:
            print("  on-axis Ez peak: x = 0, y = 0 is not a node line of the grid")
        elif s["axis_Ez_peak"] is None:
            print("  on-axis Ez peak: none, Ez on the axis is zero or noise")
        else:
            peak = s["axis_Ez_peak"]
            print(f"  on-axis Ez peak: {peak['value']:.6g} V/cm at z = {peak['z']:.6g} cm")
        agree = "as the counts imply" if s["file_size"] == s["implied_size"] else \
            f"the counts imply {s['implied_size']} as the converter writes them"
        print(f"  file size {s['file_size']} bytes, {agree}")
    sys.stdout.flush()
    for p in s["problems"]:
        print(f"{PROG}: {m.path}: {p}", file=sys.stderr)
    return 1 if s["problems"] else 0


def add_info(sub):
    s = sub.add_parser("info", help="describe a map; exit 1 when it is damaged or inconsistent")
    s.add_argument("file")
    s.add_argument("--json", action="store_true",
                   help="print the description as one JSON object (lengths in cm)")
    s.set_defaults(run=cmd_info)


def cmd_diff(args) -> int:
    a, b = read_map(args.a), read_map(args.b)
    r = compare(a, b, args.rtol, args.atol)
    # Decided before printing: a reader that leaves early does not change it.
    args.status = 0 if r["within"] else 1
    print(f"A: {a.path}, {format_name(a)}, " + "{} x {} x {} nodes".format(*a.counts))
    print(f"B: {b.path}, {format_name(b)}, " + "{} x {} x {} nodes".format(*b.counts))
    if r["header"] or r["grid"]:
        for line in r["header"] + r["grid"]:
            print(f"  differ: {line}")
    else:
        print("  headers and grids agree")
    for name, c in r["components"].items():
        u = unit_of(name)
        verdict = "within" if c["within"] else "BEYOND"
        at_abs = "({:.4g}, {:.4g}, {:.4g}) cm".format(*c["abs_at"])
        at_rel = "({:.4g}, {:.4g}, {:.4g}) cm".format(*c["rel_at"])
        print(f"  {name}: max |A-B| {c['max_abs']:.3g} {u} at {at_abs}, "
              f"max relative {c['max_rel']:.3g} at {at_rel}: {verdict}")
    tol = f"rtol {args.rtol:g}, atol {args.atol:g}"
    if r["within"]:
        print(f"the maps agree within tolerance ({tol})")
    elif r["header"] or r["grid"]:
        print("the maps' headers or grids differ")
    else:
        print(f"the maps differ beyond tolerance ({tol})")
    return args.status


def add_diff(sub):
    s = sub.add_parser("diff", help="compare two maps; exit 0 alike, 1 different, 2 trouble")
    s.add_argument("a")
    s.add_argument("b")
    s.add_argument("--rtol", type=_real(0.0, False, "the tolerance must be a finite number >= 0"),
                   default=1e-9, help="relative tolerance, of the larger magnitude of each pair (1e-9)")
    s.add_argument("--atol", type=_real(0.0, False, "the tolerance must be a finite number >= 0"),
                   default=0.0, help="absolute tolerance in V/cm and gauss (0)")
    # Trouble (a map that cannot be read) is 2, as for diff and cmp: 1 means the maps differ.
    s.set_defaults(run=cmd_diff, trouble=2)


def cmd_report(args) -> int:
    from .report import make_report, summary_text
    r = make_report(args.dir, args.out)
    print(summary_text(r, args.out or args.dir))
    return 0


def add_report(sub):
    s = sub.add_parser("report", help="figures, figures of merit and report.json of a run folder")
    s.add_argument("dir", help="folder of a run: control file, log and map")
    s.add_argument("--out", help="folder for the figures and report.json (DIR)")
    s.set_defaults(run=cmd_report)


def cmd_export(args) -> int:
    from .export import check_targets, export_map
    if not (args.vti or args.openpmd):
        args.usage("give --vti OUT.vti and/or --openpmd OUT.h5")
    try:
        check_targets(args.file, {"--vti": args.vti, "--openpmd": args.openpmd})
    except KavenMapError as e:
        args.usage(str(e))
    m = read_map(args.file)
    freq = export_map(m, args.vti, args.openpmd, args.frequency)
    if args.vti:
        print(f"wrote {args.vti}: VTK image data, point arrays 'E (V/cm)' and 'B (gauss)', lengths in cm")
    if args.openpmd:
        print(f"wrote {args.openpmd}: openPMD BeamPhysics external field mesh, f = {freq:.9g} Hz")
    return 0


def add_export(sub):
    s = sub.add_parser("export", help="write the map as VTK image data and/or openPMD")
    s.add_argument("file")
    s.add_argument("--vti", metavar="OUT.vti", help="VTK XML image data for ParaView")
    s.add_argument("--openpmd", metavar="OUT.h5",
                   help="openPMD HDF5 file, BeamPhysics extension external field mesh")
    s.add_argument("--frequency", metavar="HZ",
                   type=_real(0.0, True, "the frequency must be a finite number > 0"),
                   help="RF frequency for openPMD (from the log beside the map)")
    s.set_defaults(run=cmd_export)


def cmd_check(args) -> int:
    from .check import FIGURE, VERDICT_OK, check_text, maxwell_check, save_residual
    from .runlog import frequency_beside
    m = read_map(args.file)
    if args.frequency is not None:
        freq, source = args.frequency, "--frequency"
    else:
        freq, source = frequency_beside(m.path), "from the log beside the map"
    try:
        r = maxwell_check(m, freq)
    except ValueError as e:
        print(f"{PROG}: {e}", file=sys.stderr)
        return 1
    if args.plot:
        os.makedirs(args.plot, exist_ok=True)
        save_residual(m, r, os.path.join(args.plot, FIGURE))
    print(check_text(m, r, source))
    return 0 if r["verdict"] == VERDICT_OK else 1


def add_check(sub):
    s = sub.add_parser("check", help="Faraday's and Ampere's laws over the whole map; exit 0 only "
                                     "when B is a quarter period after E")
    s.add_argument("file")
    s.add_argument("--frequency", metavar="HZ",
                   type=_real(0.0, True, "the frequency must be a finite number > 0"),
                   help="RF frequency (from the log beside the map)")
    s.add_argument("--plot", metavar="DIR", help="write the residual per z slice as a figure into DIR")
    s.set_defaults(run=cmd_check)


def add_batch(sub):
    from . import batch
    batch.add_arguments(sub.add_parser(
        "batch", help="convert many case folders, here or as a Slurm array job, with one summary"))


SUBCOMMANDS = (add_info, add_diff, add_report, add_check, add_export, add_batch)


def parser() -> argparse.ArgumentParser:
    p = argparse.ArgumentParser(prog=PROG, description=__doc__)
    p.add_argument("--version", action="version", version=f"{PROG} {_version()}")
    sub = p.add_subparsers(dest="command", required=True, metavar="SUBCOMMAND")
    for add in SUBCOMMANDS:
        add(sub)
    for s in sub.choices.values():
        # A subcommand's own usage on its own errors, exit status 2.
        s.set_defaults(usage=s.error)
    return p


def main(argv=None) -> int:
    args = parser().parse_args(argv)
    try:
        with np.errstate(all="ignore"):
            return args.run(args)
    except KavenMapError as e:
        print(f"{PROG}: {e}", file=sys.stderr)
        return getattr(args, "trouble", 1)
    except BrokenPipeError:
        # The reader of the output left early (| head): end quietly with the
        # status the command had decided on.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return getattr(args, "status", 0)
    except OSError as e:
        where = f"{e.filename}: " if e.filename else ""
        print(f"{PROG}: {where}{e.strerror or e}", file=sys.stderr)
        return getattr(args, "trouble", 1)
    except KeyboardInterrupt:
        return 130


if __name__ == "__main__":
    sys.exit(main())
