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
import os
import re
import stat
from dataclasses import dataclass, field
from pathlib import Path

import numpy as np

from .textnum import WIDTH, parse_fields

COMPONENTS = ("Ex", "Ey", "Ez", "Bx", "By", "Bz")
UNITS = {"E": "V/cm", "B": "gauss"}
# The largest grid KAVEN reads, x, y, z; a format-1 map does not store its
# counts, so they are found among the grids up to this size.
MAX_COUNTS = (25, 25, 8001)
MAX_TRANSVERSE = MAX_COUNTS[0]
FORMAT_NAMES = {0: "binary records", 1: "records as text", 2: "point table"}


class KavenMapError(Exception):
    """The toolkit's one error: a map, log or argument it cannot use. The
    message names the file (and record or line) and what is wrong."""


MapError = KavenMapError


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
        return implied_size(self.format, self.counts)


def _text_record(k, eol=2):
    """Bytes of k reals written three to a line."""
    return WIDTH * k + eol * ((k + 2) // 3)


def implied_size(fmt, counts, eol=2) -> int:
    """Bytes of a map of these counts in this format; text lines end with
    CR LF (eol 2) as the converter writes them, reals take 24 columns,
    integers 12."""
    nx, ny, nz = counts
    n = nx * ny * nz
    if fmt == 0:
        return 84 + 8 * (nx + ny + nz) + 6 * (8 + 8 * n)
    if fmt == 1:
        rec = _text_record
        return (60 + eol) + (36 + eol) + rec(nx, eol) + rec(ny, eol) + rec(nz, eol) + \
            6 * rec(n, eol) + (12 + eol)
    return (12 + eol) + (36 + eol) + 3 * (60 + eol) + n * 2 * (72 + eol)



_KINDS = ((stat.S_ISDIR, "a folder"), (stat.S_ISFIFO, "a FIFO (named pipe)"),
          (stat.S_ISCHR, "a character device"), (stat.S_ISBLK, "a block device"),
          (stat.S_ISSOCK, "a socket"))


def open_regular(path, what="a field map"):
    """An open binary file and its size; anything but a regular file (a
    folder, FIFO or device, which could block or never end) is refused by
    what it is, before a byte is read."""
    if str(path) == "":
        raise KavenMapError(f"an empty file name; give the path of {what}")
    try:
        # Not blocking, so that opening a FIFO without a writer returns at once.
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC)
    except OSError as e:
        raise KavenMapError(f"{path}: cannot open {what}: {e.strerror or e}") from None
    st = os.fstat(fd)
    if not stat.S_ISREG(st.st_mode):
        os.close(fd)
        kind = next((name for test, name in _KINDS if test(st.st_mode)), "not a regular file")
        raise KavenMapError(f"{path}: is {kind}, not {what}")
    os.set_blocking(fd, True)
    return os.fdopen(fd, "rb", buffering=0), st.st_size


def read_map(path) -> FieldMap:
    """Reads a field map of format 0, 1 or 2, told apart by its content, and
    refuses it whole, with one message, unless every item is sound: records
    and lines as the converter writes them, at most 25 x 25 x 8001 nodes,
    nodes that increase, finite values."""
    f, size = open_regular(path)
    path = Path(path)
    with f:
        if size == 0:
            raise KavenMapError(f"{path}: the file is empty")
        head = _pread(path, f, 0, min(size, 128))
        if head[:4] == (20).to_bytes(4, "little"):
            m = _read_format0(path, f, size)
        else:
            first = head.split(b"\n", 1)[0]
            eol = 2 if first.endswith(b"\r") else 1
            words = first.split() if b"\n" in head else []
            if words == [b"2"]:
                m = _read_format2(path, f, size, eol)
            elif len(words) == 3:
                m = _read_format1(path, f, size, eol)
            else:
                raise KavenMapError(
                    f"{path}, line 1: not a KAVEN field map: format 0 starts with a record of 20 "
                    "bytes, format 1 with the line 'elen aper 0', format 2 with the line '2'")
    _check_values(m)
    return m


def _pread(path, f, offset, n) -> bytes:
    try:
        data = os.pread(f.fileno(), n, offset)
    except OSError as e:
        raise KavenMapError(f"{path}: cannot read: {e.strerror or e}") from None
    if len(data) != n:
        raise KavenMapError(f"{path}: the file ended while it was read; it changed or is truncated")
    return data


def _check_count(n, axis, fail):
    limit = MAX_COUNTS["xyz".index(axis)]
    if n < 2:
        fail(f"{n} {axis} node(s): an axis needs at least 2")
    if n > limit:
        fail(f"{n} {axis} nodes, more than the {limit} of KAVEN's largest grid "
             f"({' x '.join(map(str, MAX_COUNTS))})")


def _check_nodes(v, axis, fail):
    _check_count(len(v), axis, fail)
    bad = np.flatnonzero(~np.isfinite(v))
    if bad.size:
        fail(f"{axis} node {bad[0] + 1} is {v[bad[0]]!r}, not a finite coordinate")
    bad = np.flatnonzero(~(np.diff(v) > 0))
    if bad.size:
        i = int(bad[0])
        fail(f"the {axis} nodes do not increase: node {i + 1} is {v[i]!r}, node {i + 2} is {v[i + 1]!r}")


def _check_values(m: FieldMap):
    """The checks every format shares: finite elen and aper, finite fields."""
    for name, v in (("element length", m.elen), ("aperture", m.aper)):
        if not np.isfinite(v):
            raise KavenMapError(f"{m.path}: the {name} is {v!r}, not a finite length")
    for name in COMPONENTS:
        a = m.component(name)
        flat = np.ravel(a.T)  # as stored, x fastest: no copy for formats 0 and 1
        if not np.isfinite(flat).all():
            k, j, i = np.unravel_index(int(np.argmin(np.isfinite(flat))), a.T.shape)
            raise KavenMapError(
                f"{m.path}: {name} at node ({i + 1}, {j + 1}, {k + 1}), ({m.x[i]:.6g}, {m.y[j]:.6g}, "
                f"{m.z[k]:.6g}) cm, is {a[i, j, k]!r}: the field holds values that are not finite")


# ---------------------------------------------------------------- format 0

_RECORDS = ("elen, aper, 0", "symmetry keys", "x nodes", "y nodes", "z nodes",
            *COMPONENTS, "end marker")


def _read_format0(path: Path, f, size: int) -> FieldMap:
    mm = mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ)
    buf = memoryview(mm)
    pos = 0
    counts = []

    def fail(rec, at, what):
        raise KavenMapError(f"{path}: record {rec} ({_RECORDS[rec - 1]}) at byte {at}: {what}")

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
    for rec, axis in zip((3, 4, 5), "xyz"):
        at, n = record(rec)
        if n % 8 != 0:
            fail(rec, at - 4, f"the record holds {n} bytes, not a whole number of 8-byte reals")
        v = np.frombuffer(buf, "<f8", n // 8, at).copy()
        _check_nodes(v, axis, lambda what, r=rec, a=at: fail(r, a - 4, what))
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


# ---------------------------------------------------------------- text

_INT_FIELD = re.compile(rb" *-?[0-9]{1,10}")
_LINES_PER_BLOCK = 1 << 16  # of the value lines parsed at once: a few MB


class _Text:
    """A text map read by byte offsets: every line of the converter's list
    writes has a known length, so a line number gives its offset."""

    def __init__(self, path, f, size, eol):
        self.path, self.f, self.size, self.eol = path, f, size, eol
        self.end = b"\r\n" if eol == 2 else b"\n"

    def fail(self, line, what):
        raise KavenMapError(f"{self.path}, line {line}: {what}")

    def line(self, offset, number, width) -> bytes:
        """The line at offset, which must hold width columns before its end."""
        data = _pread(self.path, self.f, offset, min(width + self.eol, self.size - offset))
        if len(data) < width + self.eol or data[width:] != self.end:
            text = data.split(b"\n", 1)[0].rstrip(b"\r")
            self.fail(number, f"{len(text)} columns, not the {width} of the converter's line"
                      + ("; the file is truncated" if offset + len(data) >= self.size else ""))
        return data[:width]

    def integers(self, text, number, what):
        fields = [text[i:i + 12] for i in range(0, len(text), 12)]
        if not all(_INT_FIELD.fullmatch(t) for t in fields):
            self.fail(number, f"expected {what} in columns of 12, found {text.decode('latin-1')!r}")
        return [int(t) for t in fields]

    def reals(self, text, number, what):
        fields = np.frombuffer(text, np.uint8).reshape(-1, WIDTH)
        values, bad = parse_fields(fields)
        if bad >= 0:
            self._bad_field(fields[bad], number, bad * WIDTH + 1, what)
        return values

    def _bad_field(self, field_bytes, number, column, what):
        t = field_bytes.tobytes().decode("latin-1")
        try:
            value = float(t)
        except ValueError:
            value = None
        if value is not None and not np.isfinite(value):
            self.fail(number, f"{what}: {t.strip()!r} at column {column} is not a finite value")
        self.fail(number, f"{what}: {t!r} at column {column} is not a real in the converter's "
                          "24-column layout (15 significant digits, or 16 and a 3-digit exponent)")

    def _read_into(self, chunk, offset):
        view, got = memoryview(chunk), 0
        try:
            while got < len(view):
                r = os.preadv(self.f.fileno(), [view[got:]], offset + got)
                if r == 0:
                    break
                got += r
        except OSError as e:
            raise KavenMapError(f"{self.path}: cannot read: {e.strerror or e}") from None
        return got

    def block(self, offset, first_line, count, per_line, out, what):
        """count values written per_line to a line from offset on, into the
        1-D array out; returns the offset after them."""
        width = WIDTH * per_line
        stride = width + self.eol
        full, rest = divmod(count, per_line)
        buf = np.empty(min(full, _LINES_PER_BLOCK) * stride, np.uint8)
        done = 0
        while done < full:
            k = min(full - done, _LINES_PER_BLOCK)
            chunk = buf[:k * stride]
            got = self._read_into(chunk, offset)
            if got != len(chunk):
                self.fail(first_line + done + got // stride, "the file ended; it is truncated")
            lines = chunk.reshape(k, stride)
            ends = lines[:, width:] != np.frombuffer(self.end, np.uint8)
            if ends.any():
                i = int(np.argmax(ends.any(axis=1)))
                self.fail(first_line + done + i, f"{what}: the line is not {width} columns long")
            values, bad = parse_fields(lines[:, :width].reshape(k, per_line, WIDTH))
            if bad >= 0:
                self._bad_field(lines[bad // per_line, (bad % per_line) * WIDTH:][:WIDTH],
                                first_line + done + bad // per_line, (bad % per_line) * WIDTH + 1, what)
            out[done * per_line:(done + k) * per_line] = values
            offset += k * stride
            done += k
        if rest:
            text = self.line(offset, first_line + full, WIDTH * rest)
            out[full * per_line:] = self.reals(text, first_line + full, what)
            offset += WIDTH * rest + self.eol
        return offset


def _read_format2(path: Path, f, size: int, eol: int) -> FieldMap:
    t = _Text(path, f, size, eol)
    pos = 12 + eol
    t.line(0, 1, 12)
    keys = tuple(t.integers(t.line(pos, 2, 36), 2, "the three symmetry keys"))
    pos += 36 + eol
    nodes, counts, highs = [], [], []
    for number, axis in zip((3, 4, 5), "xyz"):
        text = t.line(pos, number, 60)
        pos += 60 + eol
        lo, hi = t.reals(text[:48], number, f"{axis}min and {axis}max").tolist()
        (n,) = t.integers(text[48:], number, f"the {axis} count")
        _check_count(n, axis, lambda what, k=number: t.fail(k, what))
        if not hi > lo:
            t.fail(number, f"the {axis} nodes do not increase ({axis}min {lo!r}, {axis}max {hi!r})")
        with np.errstate(over="ignore"):
            span = hi - lo
        if not np.isfinite(span):
            t.fail(number, f"the {axis} range from {lo!r} to {hi!r} overflows a double")
        # The converter's node formula: (i - 1) * step + min.
        v = np.arange(n, dtype=np.float64) * (span / (n - 1)) + lo
        _check_nodes(v, axis, lambda what, k=number: t.fail(k, f"{what} ({axis}min {lo!r}, "
                                                            f"{axis}max {hi!r}, {n} nodes)"))
        nodes.append(v)
        counts.append(n)
        highs.append(hi)
    nx, ny, nz = counts
    n = nx * ny * nz
    want = implied_size(2, counts, eol)
    if size != want:
        raise KavenMapError(
            f"{path}: {size} bytes, but a point table of {nx} x {ny} x {nz} nodes (a line of E and "
            f"a line of B per node) takes {want}; the file is "
            + ("truncated" if size < want else "longer than its header says"))
    # Lines run x slowest, z fastest, E then B: (x, y, z, component).
    table = np.empty((nx, ny, nz, 6))
    t.block(pos, 6, 6 * n, 3, table.reshape(-1), "a line of E or B")
    arrays = []
    for c in range(6):
        a = table[..., c]
        a.flags.writeable = False
        arrays.append(a)
    # Format 2 stores no elen and aper: the grid ends at x = aper and z = elen/2.
    return FieldMap(path, 2, 2 * highs[2], highs[0], keys, *nodes, *arrays, file_size=size)


def _format1_grids(size, eol):
    """The counts whose format-1 map has this size: for each nx and ny the
    size grows with nz, so one nz at most fits."""
    rec = _text_record
    for nx in range(2, MAX_COUNTS[0] + 1):
        for ny in range(2, MAX_COUNTS[1] + 1):
            lo, hi = 2, MAX_COUNTS[2]
            while lo <= hi:
                nz = (lo + hi) // 2
                s = implied_size(1, (nx, ny, nz), eol)
                if s == size:
                    yield nx, ny, nz
                    break
                lo, hi = (nz + 1, hi) if s < size else (lo, nz - 1)


def _read_format1(path: Path, f, size: int, eol: int) -> FieldMap:
    t = _Text(path, f, size, eol)
    head = t.line(0, 1, 60)
    elen, aper = t.reals(head[:48], 1, "elen and aper").tolist()
    if t.integers(head[48:], 1, "the integer 0") != [0]:
        t.fail(1, f"the item after elen and aper is {head[48:].strip().decode('latin-1')!r}, not 0")
    keys = tuple(t.integers(t.line(60 + eol, 2, 36), 2, "the three symmetry keys"))
    tail = _pread(path, f, size - min(size, 12 + eol), min(size, 12 + eol))
    if tail != b"         -99" + t.end:
        raise KavenMapError(f"{path}: the last line is not the -99 end marker; the file is "
                            "truncated or damaged")
    # The counts are not stored: the size tells them, up to a few grids whose
    # node records start and end on the lines the converter would write and
    # hold increasing nodes.
    found, grids = [], list(_format1_grids(size, eol))
    for counts in grids:
        try:
            axes, pos = [], 96 + 2 * eol
            line = 3
            for k, axis in zip(counts, "xyz"):
                v = np.empty(k)
                pos = t.block(pos, line, k, 3, v, f"the {axis} nodes")
                line += (k + 2) // 3
                _check_nodes(v, axis, lambda what: t.fail(line, what))
                axes.append(v)
            found.append((counts, axes, pos, line))
        except KavenMapError:
            if len(grids) == 1:  # the one grid of this size: what is wrong with it
                raise
            continue
    if not found:
        raise KavenMapError(
            f"{path}: {size} bytes are not the nodes and the six fields of any grid up to "
            f"{' x '.join(map(str, MAX_COUNTS))} with increasing nodes, written as the converter "
            "writes them; the file is truncated, has extra lines or its nodes do not increase")
    if len(found) > 1:
        grids = ", ".join("{} x {} x {}".format(*g[0]) for g in found)
        raise KavenMapError(f"{path}: the file fits several grids ({grids}); the counts cannot be told")
    (nx, ny, nz), axes, pos, line = found[0]
    n = nx * ny * nz
    fields = np.empty((6, nz, ny, nx))
    for c, name in enumerate(COMPONENTS):
        pos = t.block(pos, line, n, 3, fields[c].reshape(-1), f"the {name} record")
        line += (n + 2) // 3
    arrays = []
    for c in range(6):
        a = fields[c].T
        a.flags.writeable = False
        arrays.append(a)
    return FieldMap(path, 1, elen, aper, keys, *axes, *arrays, file_size=size)
