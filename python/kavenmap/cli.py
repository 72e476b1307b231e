"""kaven-map: read, check, compare, plot and export KAVEN field maps."""

from __future__ import annotations

import argparse
import json
import os
import sys

from .analysis import compare, format_name, summary
from .reader import COMPONENTS, MapError, read_map, unit_of
from .runlog import LogError, frequency_beside

PROG = "kaven-map"


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
        peak = s.get("axis_Ez_peak")
        if peak:
            print(f"  on-axis Ez peak: {peak['value']:.6g} V/cm at z = {peak['z']:.6g} cm")
        else:
            print("  on-axis Ez peak: x = 0, y = 0 is not a node line of the grid")
        agree = "as the counts imply" if s["file_size"] == s["implied_size"] else \
            f"the counts imply {s['implied_size']} as the converter writes them"
        print(f"  file size {s['file_size']} bytes, {agree}")
    for p in s["problems"]:
        print(f"{PROG}: {m.path}: {p}", file=sys.stderr)
    return 1 if s["problems"] else 0


def cmd_diff(args) -> int:
    a, b = read_map(args.a), read_map(args.b)
    r = compare(a, b, args.rtol, args.atol)
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
        return 0
    if r["header"] or r["grid"]:
        print("the maps' headers or grids differ")
    else:
        print(f"the maps differ beyond tolerance ({tol})")
    return 1


def cmd_report(args) -> int:
    from .report import make_report, summary_text
    r = make_report(args.dir, args.out)
    print(summary_text(r, args.out or args.dir))
    return 0


def cmd_export(args) -> int:
    from .export import write_openpmd, write_vti
    m = read_map(args.file)
    if args.vti:
        write_vti(m, args.vti)
        print(f"wrote {args.vti}: VTK image data, point arrays 'E (V/cm)' and 'B (gauss)', lengths in cm")
    if args.openpmd:
        freq = args.frequency if args.frequency is not None else frequency_beside(m.path)
        write_openpmd(m, args.openpmd, freq)
        print(f"wrote {args.openpmd}: openPMD BeamPhysics external field mesh, f = {freq:.9g} Hz")
    return 0


def parser() -> argparse.ArgumentParser:
    p = argparse.ArgumentParser(prog=PROG, description=__doc__)
    sub = p.add_subparsers(dest="command", required=True, metavar="SUBCOMMAND")

    s = sub.add_parser("info", help="describe a map; exit 1 when it is damaged or inconsistent")
    s.add_argument("file")
    s.add_argument("--json", action="store_true", help="print the description as one JSON object")
    s.set_defaults(run=cmd_info)

    s = sub.add_parser("diff", help="compare two maps; exit 1 beyond tolerance or on different grids")
    s.add_argument("a")
    s.add_argument("b")
    s.add_argument("--rtol", type=float, default=1e-9,
                   help="relative tolerance, of the larger magnitude of each pair (1e-9)")
    s.add_argument("--atol", type=float, default=0.0,
                   help="absolute tolerance in V/cm and gauss (0)")
    s.set_defaults(run=cmd_diff)

    s = sub.add_parser("report", help="figures, figures of merit and report.json of a run folder")
    s.add_argument("dir", help="folder of a run: control file, log and map")
    s.add_argument("--out", help="folder for the figures and report.json (DIR)")
    s.set_defaults(run=cmd_report)

    s = sub.add_parser("export", help="write the map as VTK image data and/or openPMD")
    s.add_argument("file")
    s.add_argument("--vti", metavar="OUT.vti", help="VTK XML image data for ParaView")
    s.add_argument("--openpmd", metavar="OUT.h5",
                   help="openPMD HDF5 file, BeamPhysics extension external field mesh")
    s.add_argument("--frequency", type=float, metavar="HZ",
                   help="RF frequency for openPMD (from the log beside the map)")
    s.set_defaults(run=cmd_export)

    from . import batch
    batch.add_arguments(sub.add_parser(
        "batch", help="convert many case folders, here or as a Slurm array job, with one summary"))
    return p


def main(argv=None) -> int:
    args = parser().parse_args(argv)
    if args.command == "export" and not (args.vti or args.openpmd):
        parser().error("export needs --vti OUT.vti and/or --openpmd OUT.h5")
    try:
        return args.run(args)
    except (MapError, LogError) as e:
        print(f"{PROG}: {e}", file=sys.stderr)
        return 1
    except BrokenPipeError:
        # The reader of the output left early (| head): nothing more to say.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
    except OSError as e:
        print(f"{PROG}: {e.filename or ''}: {e.strerror or e}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
