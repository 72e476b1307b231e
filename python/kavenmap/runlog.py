"""Reading what a run leaves beside its map: the log wavecalc_to_kaven.log
and the control file wavecalc_to_kaven.dat."""

from __future__ import annotations

from dataclasses import dataclass, field
from pathlib import Path

import numpy as np

from .reader import KavenMapError, open_regular

LOG_NAME = "wavecalc_to_kaven.log"
CONTROL_NAME = "wavecalc_to_kaven.dat"
STATS = ("avg_sRL1", "avg_rRL1", "max_rRL1", "min_rRL1")
SLICE_PREFIX = "  iz, zz, I_H, I_E, ratio= "


LogError = KavenMapError
# A log of the largest run (8001 slice lines of 80 columns) is below 1 MB.
MAX_LOG_BYTES = 64 << 20
GRID_LINES = {"  Xmin, Xmax, Nox = ": "x", "  Ymin, Ymax, Noy = ": "y", "  Zmin, Zmax, Noz = ": "z"}
LIMIT_LINES = {"  Field X limits = ": "x", "  Field Y limits = ": "y", "  Field Z limits = ": "z"}
ELEN_APER_LINE = "  Element Length & Aperture = "
KEYS_LINE = "  Symmetry Keys: X, Y, Z = "
# The export's largest |E| and largest |Ez| on the axis, before Fnorm, in MV/m.
MAXIMA = (("max_E", "Input Max E-field (MV/m)="), ("max_E_axis", "Input Max E-field on Axis (MV/m)="))


@dataclass
class RunLog:
    path: Path
    frequency: float | None = None
    map_name: str | None = None
    maxwell: dict = field(default_factory=dict)
    sign_reversed: str | None = None
    # One entry per Maxwell slice line: iz, z (cm), I_H (A), I_E (A), ratio.
    slices: np.ndarray = field(default_factory=lambda: np.zeros((0, 5)))
    # The output grid, axis -> (min, max, count), and the closing summary:
    # elen, aper, keys and axis -> (first, last node).
    grid: dict = field(default_factory=dict)
    elen_aper: tuple | None = None
    keys: tuple | None = None
    limits: dict = field(default_factory=dict)
    # The field maxima of MAXIMA, name -> MV/m.
    maxima: dict = field(default_factory=dict)


def _fixed(text: str) -> float:
    """A fixed-width number of the slice line; a field of asterisks (a value
    too wide for it) reads as NaN."""
    t = text.strip()
    if not t or set(t) == {"*"}:
        return float("nan")
    return float(t)


def parse_slice_line(line: str):
    # Fields after the 27-character text: iz in 5 columns, then 2 blanks and
    # 14 columns each for z, I_H and I_E, then 14 columns for the ratio.
    r = line[len(SLICE_PREFIX):]
    return (_fixed(r[0:5]), _fixed(r[7:21]), _fixed(r[23:37]), _fixed(r[39:53]), _fixed(r[53:67]))


def read_log(path) -> RunLog:
    f, size = open_regular(path, "a log")
    path = Path(path)
    with f:
        if size > MAX_LOG_BYTES:
            raise KavenMapError(f"{path}: {size} bytes, far more than the log of the largest run; "
                                "not a log of wavecalc_to_kaven")
        try:
            text = f.read().decode("latin-1")
        except OSError as e:
            raise KavenMapError(f"{path}: cannot read the log: {e.strerror or e}") from None
    log = RunLog(path)
    slices = []
    for number, raw in enumerate(text.splitlines(), 1):
        line = raw.rstrip("\r")
        try:
            if line.startswith(SLICE_PREFIX):
                slices.append(parse_slice_line(line))
                continue
            words = line.split()
            if not words:
                continue
            if words[0] == "freq=":
                log.frequency = float(words[1])
            elif words[0].rstrip("=") in STATS and len(words) > 1:
                log.maxwell[words[0].rstrip("=")] = float(words[1])
            elif line.startswith("  Output field file name = "):
                log.map_name = line[len("  Output field file name = "):].strip() or None
            elif line[:20] in GRID_LINES:
                lo, hi, n = words[-3:]
                log.grid[GRID_LINES[line[:20]]] = (float(lo), float(hi), int(n))
            elif line[:19] in LIMIT_LINES:
                log.limits[LIMIT_LINES[line[:19]]] = (float(words[-2]), float(words[-1]))
            elif line.startswith(ELEN_APER_LINE):
                log.elen_aper = (float(words[-2]), float(words[-1]))
            elif line.startswith(KEYS_LINE):
                log.keys = tuple(int(w) for w in words[-3:])
            elif "-> Switching E-field sign" in line:
                log.sign_reversed = "E"
            elif "-> Switching B-field sign" in line:
                log.sign_reversed = "B"
            else:
                stripped = line.strip()
                for name, text in MAXIMA:
                    if stripped.startswith(text):
                        log.maxima[name] = float(stripped[len(text):].split()[0])
        except (ValueError, IndexError):
            raise KavenMapError(f"{path}, line {number}: cannot read {line.strip()!r}") from None
    if slices:
        log.slices = np.array(slices, dtype=np.float64)
    return log


def frequency_beside(map_path, m=None) -> float:
    """The frequency of the run whose log lies beside the map; with the map
    m, a log of another run is refused."""
    log_path = Path(map_path).resolve().parent / LOG_NAME
    if not log_path.is_file():
        raise KavenMapError(f"no log {LOG_NAME} beside {map_path} to take the frequency from; "
                            "give it with --frequency HZ")
    log = read_log(log_path)
    if log.frequency is None:
        raise KavenMapError(f"{log_path}: no 'freq=' line; give the frequency with --frequency HZ")
    if m is not None:
        wrong = run_mismatch(log, m)
        if wrong:
            raise KavenMapError(f"{log_path} is not the log of {map_path}: {'; '.join(wrong)}; "
                                "give the frequency with --frequency HZ")
    return log.frequency


def case_title(folder) -> str:
    """The first line of the run's control file (free text naming the case), or ''."""
    try:
        with open(Path(folder) / CONTROL_NAME, "rb") as f:
            return f.readline().decode("latin-1").strip()
    except OSError:
        return ""


def _close(a, b):
    # The log writes 15 significant digits; another run differs by far more.
    return abs(a - b) <= 1e-12 * max(1.0, abs(a), abs(b))


def run_mismatch(log: RunLog, m) -> list:
    """What tells that the map m is not the one the run of this log wrote:
    its counts against the log's output grid, its first and last nodes,
    element length, aperture and keys against the log's closing summary."""
    if len(log.grid) < 3 or len(log.limits) < 3 or log.elen_aper is None or log.keys is None:
        return ["the log has no output grid or no closing summary: the run did not finish"]
    out = []
    counts = tuple(log.grid[a][2] for a in "xyz")
    if counts != m.counts:
        out.append("the log's output grid is {} x {} x {} nodes, the map's {} x {} x {}".format(
            *counts, *m.counts))
    for axis, nodes in zip("xyz", (m.x, m.y, m.z)):
        first, last = log.limits[axis]
        if not (_close(first, nodes[0]) and _close(last, nodes[-1])):
            out.append(f"the log's {axis} limits are {first:.15g} to {last:.15g} cm, the map's "
                       f"{nodes[0]:.15g} to {nodes[-1]:.15g} cm")
    if tuple(log.keys) != tuple(m.keys):
        out.append("the log's symmetry keys are {} {} {}, the map's {} {} {}".format(*log.keys, *m.keys))
    elen, aper = log.elen_aper
    # Format 2 stores neither: its elen and aper come from the grid, checked above.
    if m.format != 2 and not (_close(elen, m.elen) and _close(aper, m.aper)):
        out.append(f"the log's element length and aperture are {elen:.15g} and {aper:.15g} cm, "
                   f"the map's {m.elen:.15g} and {m.aper:.15g} cm")
    return out


def run_values(path) -> dict:
    """What a campaign's summary takes from a run's log: the frequency (Hz),
    the map's file name, the export's field maxima (MV/m), avg_rRL1 and the
    field whose sign was reversed ('E', 'B' or None); None where the log
    has no such line (a run that stopped before it)."""
    log = read_log(path)
    values = {"frequency": log.frequency, "map": log.map_name}
    values.update({name: log.maxima.get(name) for name, _ in MAXIMA})
    values["avg_rRL1"] = log.maxwell.get("avg_rRL1")
    values["sign_reversed"] = log.sign_reversed
    return values
