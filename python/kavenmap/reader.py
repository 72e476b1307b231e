"""Reading KAVEN 3D field maps in their three layouts.

Format 0 is a sequence of binary records, each framed by its 4-byte
little-endian length before and after the data: (elen, aper, 0), the three
symmetry keys, the x, y and z nodes, the six field arrays Ex, Ey, Ez, Bx, By,
Bz (x fastest, then y, then z) and the end marker -99. Format 1 holds the same
items as text, each record starting on a new line, three reals per line.
Format 2 is a point table: the line 2, the keys, (min, max, count) per axis,
then per node (x slowest, z fastest) a line of E and a line of B; it stores
no elen and aper, which the reader takes from the grid (x ends at aper, z at
elen/2).

Every field array of a FieldMap has the shape (Nox, Noy, Noz): ``m.Ez[i, j, k]``
is Ez at ``(m.x[i], m.y[j], m.z[k])``. Lengths are in cm, E in V/cm and B in
gauss, both times the run's ``Fnorm``. The arrays of a format-0 map are
read-only views of the memory-mapped file: nothing is copied when it opens.
"""

from __future__ import annotations

import mmap
from dataclasses import dataclass, field
from pathlib import Path

import numpy as np

COMPONENTS = ("Ex", "Ey", "Ez", "Bx", "By", "Bz")
UNITS = {"E": "V/cm", "B": "gauss"}
# The largest grid KAVEN reads; a format-1 map does not store its counts, so
# they are found among the grids up to this size.
MAX_TRANSVERSE = 25
FORMAT_NAMES = {0: "binary records", 1: "records as text", 2: "point table"}


class MapError(Exception):
    """A field map that cannot be read: the message names the file, the
    record or line, and what is wrong."""


def unit_of(component: str) -> str:
    return UNITS[component[0]]


@dataclass(eq=False)
class FieldMap:
    path: Path
    format: int
    elen: float
    aper: float
    keys: tuple
    x: np.ndarray
    y: np.ndarray
    z: np.ndarray
    Ex: np.ndarray
    Ey: np.ndarray
    Ez: np.ndarray
    Bx: np.ndarray
    By: np.ndarray
    Bz: np.ndarray
    file_size: int = 0
    _keepalive: object = field(default=None, repr=False)

    @property
    def counts(self) -> tuple:
        return (len(self.x), len(self.y), len(self.z))

    def component(self, name: str) -> np.ndarray:
        if name not in COMPONENTS:
            raise KeyError(f"no field component {name!r}; the components are {', '.join(COMPONENTS)}")
        return getattr(self, name)

    def implied_size(self) -> int:
        """Bytes of the file the converter writes for these counts in this format."""
        nx, ny, nz = self.counts
        n = nx * ny * nz
        if self.format == 0:
            return 84 + 8 * (nx + ny + nz) + 6 * (8 + 8 * n)
        # Text lines end with CR LF; reals take 24 columns, integers 12.
        if self.format == 1:
            def record(k):
                return 24 * k + 2 * ((k + 2) // 3)
            return (60 + 2) + (36 + 2) + record(nx) + record(ny) + record(nz) + 6 * record(n) + (12 + 2)
        return (12 + 2) + (36 + 2) + 3 * (60 + 2) + n * 2 * (72 + 2)


def read_map(path) -> FieldMap:
    """Reads a field map of format 0, 1 or 2, told apart by its content."""
    path = Path(path)
    try:
        size = path.stat().st_size
        if path.is_dir():
            raise MapError(f"{path}: is a folder, not a field map")
        with open(path, "rb") as f:
            head = f.read(4)
    except OSError as e:
        raise MapError(f"{path}: cannot read: {e.strerror or e}") from None
    if size == 0:
        raise MapError(f"{path}: the file is empty")
    if head == (20).to_bytes(4, "little"):
        return _read_format0(path, size)
    try:
        text = path.read_bytes().decode("ascii")
    except UnicodeDecodeError as e:
        raise MapError(f"{path}: not a KAVEN field map: it starts with neither the 20-byte record of "
                       f"format 0 nor text (byte {e.start} is not ASCII)") from None
    lines = text.splitlines()
    first = lines[0].split() if lines else []
    if first == ["2"]:
        return _read_format2(path, size, lines)
    if len(first) == 3:
        return _read_format1(path, size, lines)
    raise MapError(f"{path}, line 1: not a KAVEN field map: format 0 starts with a record of 20 bytes, "
                   f"format 1 with the line 'elen aper 0', format 2 with the line '2'")


# ---------------------------------------------------------------- format 0

_RECORDS = ("elen, aper, 0", "symmetry keys", "x nodes", "y nodes", "z nodes",
            *COMPONENTS, "end marker")


def _read_format0(path: Path, size: int) -> FieldMap:
    with open(path, "rb") as f:
        mm = mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ)
    buf = memoryview(mm)
    pos = 0
    counts = []

    def fail(rec, at, what):
        raise MapError(f"{path}: record {rec} ({_RECORDS[rec - 1]}) at byte {at}: {what}")

    def int32(at):
        return int.from_bytes(buf[at:at + 4], "little", signed=True)

    def record(rec, want=None):
        nonlocal pos
        start = pos
        if size - pos < 4:
            if rec == 12 and size == pos:
                fail(rec, start, "the file ends after the Bz record, without the -99 end marker; "
                                 "it is truncated")
            fail(rec, start, f"the file ends inside the record's length ({size - pos} of 4 bytes); "
                             "it is truncated")
        n = int32(pos)
        if n < 0:
            fail(rec, start, f"negative record length {n}")
        if size - pos - 4 < n + 4:
            fail(rec, start, f"the record of {n} bytes needs {n + 8} bytes with its lengths, the file "
                             f"has {size - pos} left; it is truncated")
        trailer = int32(pos + 4 + n)
        if trailer != n:
            fail(rec, start, f"the record's length is {n} at its start but {trailer} at its end")
        if want is not None and n != want:
            fail(rec, start, want_message(rec, n, want))
        pos += n + 8
        return start + 4, n

    def want_message(rec, n, want):
        if rec <= 2 or rec == 12:
            return f"the record holds {n} bytes, not {want}"
        nx, ny, nz = counts
        return (f"the record holds {n} bytes, but the counts {nx} x {ny} x {nz} need "
                f"8 x {nx * ny * nz} = {want}")

    at, _ = record(1, 20)
    elen, aper = np.frombuffer(buf, "<f8", 2, at).tolist()
    if int32(at + 16) != 0:
        fail(1, at - 4, f"the integer after elen and aper is {int32(at + 16)}, not 0")
    at, _ = record(2, 12)
    keys = tuple(np.frombuffer(buf, "<i4", 3, at).tolist())
    nodes = []
    for rec in (3, 4, 5):
        at, n = record(rec)
        if n % 8 != 0:
            fail(rec, at - 4, f"the record holds {n} bytes, not a whole number of 8-byte reals")
        v = np.frombuffer(buf, "<f8", n // 8, at).copy()
        _check_nodes(v, lambda what, r=rec, a=at: fail(r, a - 4, what))
        nodes.append(v)
        counts.append(len(v))
    nx, ny, nz = counts
    arrays = []
    for rec in range(6, 12):
        at, n = record(rec, 8 * nx * ny * nz)
        # Stored x fastest: a C array (z, y, x); its transpose is (x, y, z).
        arrays.append(np.ndarray((nz, ny, nx), "<f8", buf, at).T)
    at, _ = record(12, 4)
    if int32(at) != -99:
        fail(12, at - 4, f"the end record holds {int32(at)}, not the -99 end marker")
    if pos != size:
        fail(12, at - 4, f"{size - pos} bytes follow the -99 end marker")
    return FieldMap(path, 0, elen, aper, keys, *nodes, *arrays, file_size=size, _keepalive=mm)


def _check_nodes(v, fail):
    if len(v) < 2:
        fail(f"{len(v)} node(s): an axis needs at least 2")
    bad = np.flatnonzero(~(np.diff(v) > 0))
    if bad.size:
        i = int(bad[0])
        fail(f"the nodes do not increase: node {i + 1} is {v[i]!r}, node {i + 2} is {v[i + 1]!r}")


# ---------------------------------------------------------------- text

def _tokens(path, lines, first, last):
    """Reals of lines first..last (1-based, inclusive): values, the line of each value."""
    split = [lines[i].split() for i in range(first - 1, last)]
    per_line = np.fromiter((len(t) for t in split), dtype=np.int64, count=len(split))
    flat = [t for toks in split for t in toks]
    try:
        values = np.array(flat, dtype=np.float64)
    except ValueError:
        for i, toks in enumerate(split):
            for t in toks:
                try:
                    float(t)
                except ValueError:
                    raise MapError(f"{path}, line {first + i}: {t!r} is not a real number") from None
        raise
    return values, per_line


def _ints(path, lines, line, n, what):
    toks = lines[line - 1].split() if line <= len(lines) else []
    if len(toks) != n:
        raise MapError(f"{path}, line {line}: expected {what} ({n} items), found {len(toks)} items")
    try:
        return [int(t) for t in toks]
    except ValueError:
        raise MapError(f"{path}, line {line}: expected {what}, found {' '.join(toks)!r}: "
                       "not integers") from None


def _real(path, line, tok):
    try:
        return float(tok)
    except ValueError:
        raise MapError(f"{path}, line {line}: {tok!r} is not a real number") from None


def _last_line(lines):
    n = len(lines)
    while n > 0 and not lines[n - 1].strip():
        n -= 1
    return n


def _read_format1(path: Path, size: int, lines) -> FieldMap:
    head = lines[0].split()
    elen, aper = _real(path, 1, head[0]), _real(path, 1, head[1])
    if head[2] != "0":
        raise MapError(f"{path}, line 1: the item after elen and aper is {head[2]!r}, not the integer 0")
    keys = tuple(_ints(path, lines, 2, 3, "the three symmetry keys"))
    last = _last_line(lines)
    if last < 3 or lines[last - 1].split() != ["-99"]:
        raise MapError(f"{path}, line {last}: the last line is not the -99 end marker; "
                       "the file is truncated or damaged")
    values, per_line = _tokens(path, lines, 3, last - 1)
    starts = set(np.concatenate(([0], np.cumsum(per_line))).tolist())
    total = len(values)
    found = []
    # The counts are not stored: find the grids whose records fill the values
    # exactly, start on new lines and have increasing nodes.
    for nx in range(2, MAX_TRANSVERSE + 1):
        for ny in range(2, MAX_TRANSVERSE + 1):
            rest = total - nx - ny
            step = 1 + 6 * nx * ny
            if rest < 2 * step or rest % step:
                continue
            nz = rest // step
            n = nx * ny * nz
            bounds = [0, nx, nx + ny, nx + ny + nz] + [nx + ny + nz + c * n for c in range(1, 7)]
            if not all(b in starts for b in bounds):
                continue
            axes = [values[bounds[a]:bounds[a + 1]] for a in range(3)]
            if all(np.all(np.diff(v) > 0) for v in axes):
                found.append((nx, ny, nz, bounds, axes))
    if not found:
        raise MapError(f"{path}, lines 3 to {last - 1}: {total} reals are not the nodes and the six "
                       f"fields of any grid up to {MAX_TRANSVERSE} x {MAX_TRANSVERSE} x N with "
                       "increasing nodes, each record on lines of its own; the file is truncated, "
                       "has extra values or its nodes do not increase")
    if len(found) > 1:
        grids = ", ".join(f"{g[0]} x {g[1]} x {g[2]}" for g in found)
        raise MapError(f"{path}: the values fit several grids ({grids}); the counts cannot be told")
    nx, ny, nz, bounds, axes = found[0]
    arrays = []
    for c in range(6):
        a = values[bounds[3 + c]:bounds[4 + c]].reshape(nz, ny, nx).T
        a.flags.writeable = False
        arrays.append(a)
    return FieldMap(path, 1, elen, aper, keys, *axes, *arrays, file_size=size)


def _read_format2(path: Path, size: int, lines) -> FieldMap:
    keys = tuple(_ints(path, lines, 2, 3, "the three symmetry keys"))
    nodes, counts, highs = [], [], []
    for line, axis in zip((3, 4, 5), "xyz"):
        toks = lines[line - 1].split() if line <= len(lines) else []
        if len(toks) != 3:
            raise MapError(f"{path}, line {line}: expected {axis}min, {axis}max and the {axis} count, "
                           f"found {len(toks)} items")
        lo, hi = _real(path, line, toks[0]), _real(path, line, toks[1])
        try:
            n = int(toks[2])
        except ValueError:
            raise MapError(f"{path}, line {line}: the {axis} count {toks[2]!r} is not an integer") from None
        if n < 2:
            raise MapError(f"{path}, line {line}: {n} {axis} node(s): an axis needs at least 2")
        if not hi > lo:
            raise MapError(f"{path}, line {line}: the {axis} nodes do not increase "
                           f"({axis}min {lo!r}, {axis}max {hi!r})")
        # The converter's node formula: (i - 1) * step + min.
        step = (hi - lo) / (n - 1)
        nodes.append(np.arange(n, dtype=np.float64) * step + lo)
        counts.append(n)
        highs.append(hi)
    nx, ny, nz = counts
    n = nx * ny * nz
    last = _last_line(lines)
    if last - 5 != 2 * n:
        raise MapError(f"{path}: {last - 5} lines follow the header (line 5), but the counts "
                       f"{nx} x {ny} x {nz} need 2 x {n} = {2 * n} (a line of E and a line of B per "
                       "node); the file is truncated or has extra lines")
    values, per_line = _tokens(path, lines, 6, last)
    bad = np.flatnonzero(per_line != 3)
    if bad.size:
        i = int(bad[0])
        raise MapError(f"{path}, line {6 + i}: {per_line[i]} values, not 3")
    # Lines run x slowest, z fastest: (x, y, z, component).
    table = values.reshape(nx, ny, nz, 6)
    arrays = []
    for c in range(6):
        a = table[..., c]
        a.flags.writeable = False
        arrays.append(a)
    # Format 2 stores no elen and aper: the grid ends at x = aper and z = elen/2.
    return FieldMap(path, 2, 2 * highs[2], highs[0], keys, *nodes, *arrays, file_size=size)
