"""Reading what a run leaves beside its map: the log wavecalc_to_kaven.log
and the control file wavecalc_to_kaven.dat."""

from __future__ import annotations

from dataclasses import dataclass, field
from pathlib import Path

import numpy as np

LOG_NAME = "wavecalc_to_kaven.log"
CONTROL_NAME = "wavecalc_to_kaven.dat"
STATS = ("avg_sRL1", "avg_rRL1", "max_rRL1", "min_rRL1")
SLICE_PREFIX = "  iz, zz, I_H, I_E, ratio= "


class LogError(Exception):
    pass


@dataclass
class RunLog:
    path: Path
    frequency: float | None = None
    map_name: str | None = None
    maxwell: dict = field(default_factory=dict)
    sign_reversed: str | None = None
    # One entry per Maxwell slice line: iz, z (cm), I_H (A), I_E (A), ratio.
    slices: np.ndarray = field(default_factory=lambda: np.zeros((0, 5)))


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
    path = Path(path)
    try:
        text = path.read_bytes().decode("latin-1")
    except OSError as e:
        raise LogError(f"{path}: cannot read the log: {e.strerror or e}") from None
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
            elif "-> Switching E-field sign" in line:
                log.sign_reversed = "E"
            elif "-> Switching B-field sign" in line:
                log.sign_reversed = "B"
        except (ValueError, IndexError):
            raise LogError(f"{path}, line {number}: cannot read {line.strip()!r}") from None
    if slices:
        log.slices = np.array(slices, dtype=np.float64)
    return log


def frequency_beside(map_path) -> float:
    """The frequency of the run whose log lies beside the map."""
    log_path = Path(map_path).resolve().parent / LOG_NAME
    if not log_path.is_file():
        raise LogError(f"no log {LOG_NAME} beside {map_path} to take the frequency from; "
                       "give it with --frequency HZ")
    freq = read_log(log_path).frequency
    if freq is None:
        raise LogError(f"{log_path}: no 'freq=' line; give the frequency with --frequency HZ")
    return freq


def case_title(folder) -> str:
    """The first line of the run's control file (free text naming the case), or ''."""
    try:
        with open(Path(folder) / CONTROL_NAME, "rb") as f:
            return f.readline().decode("latin-1").strip()
    except OSError:
        return ""


# The export's largest |E| and largest |Ez| on the axis, before Fnorm, in MV/m.
MAXIMA = (("max_E", "Input Max E-field (MV/m)="), ("max_E_axis", "Input Max E-field on Axis (MV/m)="))


def run_values(path) -> dict:
    """What a campaign's summary takes from a run's log: the frequency (Hz),
    the map's file name, the export's field maxima (MV/m), avg_rRL1 and the
    field whose sign was reversed ('E', 'B' or None); None where the log
    has no such line (a run that stopped before it)."""
    log = read_log(path)
    values = {"frequency": log.frequency, "map": log.map_name}
    values.update(dict.fromkeys(name for name, _ in MAXIMA))
    for line in Path(path).read_bytes().decode("latin-1").splitlines():
        for name, text in MAXIMA:
            words = line.strip()
            if words.startswith(text):
                try:
                    values[name] = float(words[len(text):].split()[0])
                except (ValueError, IndexError):
                    raise LogError(f"{path}: cannot read {words!r}") from None
    values["avg_rRL1"] = log.maxwell.get("avg_rRL1")
    values["sign_reversed"] = log.sign_reversed
    return values
