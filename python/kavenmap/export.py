"""Writing a map for other programs: VTK XML image data (ParaView) and an
openPMD HDF5 file with the BeamPhysics extension's external field mesh."""

from __future__ import annotations

import base64
import math
import os
import re
import stat
import tempfile
from pathlib import Path

import numpy as np

from .analysis import axis_summary
from .reader import FieldMap, KavenMapError
from .runlog import frequency_beside


def _uniform_grid(m: FieldMap, what: str):
    origin, spacing = [], []
    for axis, nodes in zip("xyz", (m.x, m.y, m.z)):
        s = axis_summary(nodes)
        if not s["uniform"]:
            raise KavenMapError(f"{m.path}: the {axis} steps are not uniform; {what} needs a regular grid")
        origin.append(s["first"])
        spacing.append(s["step"])
    return origin, spacing


def _same_file(a, b) -> bool:
    if os.path.realpath(a) == os.path.realpath(b):
        return True
    try:
        return os.path.samefile(a, b)
    except OSError:
        return False


def check_targets(source, targets: dict) -> None:
    """Refuses, before anything is written, an output that would replace the
    map it is made from or another output of the same command, or that
    names something other than a file; targets maps an option to its path."""
    given = [(opt, path) for opt, path in targets.items() if path is not None]
    for n, (opt, path) in enumerate(given):
        if str(path) == "":
            raise KavenMapError(f"{opt}: an empty file name")
        if _same_file(path, source):
            raise KavenMapError(f"{opt} {path} is the map being exported; give another name")
        for other, earlier in given[:n]:
            if _same_file(path, earlier):
                raise KavenMapError(f"{opt} {path} and {other} {earlier} name the same file; "
                                    "give each output its own name")
        try:
            mode = os.stat(path).st_mode
        except FileNotFoundError:
            mode = None
        except OSError as e:
            raise KavenMapError(f"{opt} {path}: {e.strerror or e}") from None
        if mode is not None and not stat.S_ISREG(mode):
            raise KavenMapError(f"{opt} {path} exists and is not a regular file")
        folder = Path(path).parent
        if not folder.is_dir():
            raise KavenMapError(f"{opt} {path}: no folder {folder}")


def check_frequency(freq: float, source: str) -> float:
    if not (math.isfinite(freq) and freq > 0):
        raise KavenMapError(f"the frequency {freq!r} Hz ({source}) is not a finite positive number")
    return freq


def _reason(e: BaseException) -> str:
    """What went wrong, in words, from an OSError or an HDF5 error."""
    text = getattr(e, "strerror", None) or str(e)
    found = re.search(r"error message = '([^']*)'", text)
    if found:
        return found.group(1)
    return re.sub(r"\s*\(.*", "", text).strip() or type(e).__name__


def write_atomically(target, write) -> None:
    """Calls write(path) on a new temporary file in the target's folder and
    renames it over the target only when write returned: an earlier file of
    that name survives any failure, and no one sees a half-written output."""
    target = Path(target)
    try:
        fd, tmp = tempfile.mkstemp(prefix=f".{target.name}.", suffix=".tmp", dir=target.parent)
    except OSError as e:
        raise KavenMapError(f"{target}: cannot create a file in {target.parent}: {_reason(e)}") from None
    try:
        umask = os.umask(0)
        os.umask(umask)
        os.fchmod(fd, 0o666 & ~umask)
        os.close(fd)
        write(tmp)
        with open(tmp, "rb") as f:
            os.fsync(f.fileno())
        os.replace(tmp, target)
    except BaseException as e:
        try:
            os.unlink(tmp)
        except OSError:
            pass
        if isinstance(e, KavenMapError) or not isinstance(e, Exception):
            raise
        raise KavenMapError(f"{target}: cannot write: {_reason(e)}; nothing was changed there") from None


def _write_vti_array(f, name: str, a: tuple) -> None:
    """A 3-component point array as inline base64 binary: a UInt64 byte
    count, then the little-endian Float64 tuples, x fastest. Encoded a few
    z planes at a time, so that no copy of the whole array is made."""
    nx, ny, nz = a[0].shape
    f.write((f'        <DataArray type="Float64" Name="{name}" NumberOfComponents="3" '
             f'format="binary">\n').encode())
    planes = max(1, (1 << 20) // (nx * ny))
    carry = np.uint64(nx * ny * nz * 3 * 8).astype("<u8").tobytes()
    for k in range(0, nz, planes):
        block = np.stack([np.ravel(c[:, :, k:k + planes].T) for c in a], axis=1).astype("<f8", copy=False)
        data = carry + block.tobytes()
        # Whole groups of 3 bytes encode alone: the rest waits for the next block.
        cut = len(data) - len(data) % 3
        f.write(base64.b64encode(data[:cut]))
        carry = data[cut:]
    f.write(base64.b64encode(carry) + b"\n        </DataArray>\n")


def export_map(m: FieldMap, vti=None, openpmd=None, frequency=None):
    """Writes the outputs asked for, once everything they need is known to
    be there (a regular grid, a frequency): returns the frequency used."""
    if vti is not None:
        _uniform_grid(m, "VTK image data")
    if openpmd is not None:
        _uniform_grid(m, "an openPMD field mesh")
        if frequency is None:
            frequency = frequency_beside(m.path, m)
        check_frequency(frequency, "for openPMD")
    if vti is not None:
        write_vti(m, vti)
    if openpmd is not None:
        write_openpmd(m, openpmd, frequency)
    return frequency


def write_vti(m: FieldMap, out) -> None:
    """E and B as 3-component point arrays on the map's grid, lengths in cm."""
    origin, spacing = _uniform_grid(m, "VTK image data")
    write_atomically(out, lambda tmp: _write_vti(m, tmp, origin, spacing))


def _write_vti(m: FieldMap, out, origin, spacing) -> None:
    nx, ny, nz = m.counts
    extent = f"0 {nx - 1} 0 {ny - 1} 0 {nz - 1}"
    head = (
        '<?xml version="1.0"?>\n'
        '<VTKFile type="ImageData" version="1.0" byte_order="LittleEndian" header_type="UInt64">\n'
        f'  <ImageData WholeExtent="{extent}" Origin="{" ".join(map(repr, origin))}" '
        f'Spacing="{" ".join(map(repr, spacing))}">\n'
        f'    <Piece Extent="{extent}">\n'
        '      <PointData Vectors="E (V/cm)">\n'
    )
    tail = "      </PointData>\n      <CellData>\n      </CellData>\n    </Piece>\n  </ImageData>\n</VTKFile>\n"
    with open(out, "wb") as f:
        f.write(head.encode())
        _write_vti_array(f, "E (V/cm)", (m.Ex, m.Ey, m.Ez))
        _write_vti_array(f, "B (gauss)", (m.Bx, m.By, m.Bz))
        f.write(tail.encode())


# Factors from the map's units to SI, and the SI dimensions (length, mass,
# time, current, temperature, amount, luminous intensity).
E_UNIT_SI = 100.0   # V/cm -> V/m
B_UNIT_SI = 1e-4    # gauss -> T
E_DIMENSION = (1.0, 1.0, -3.0, -1.0, 0.0, 0.0, 0.0)
B_DIMENSION = (0.0, 1.0, -2.0, -1.0, 0.0, 0.0, 0.0)
# The map holds E at its crest and B a quarter period after it. With a field
# Re(Z exp(-2 pi i f t)), E = Re(Z_E) at t = 0 and B(T/4) = Re(-i Z_B) = Im(Z_B):
# Z_B = B_map * i puts the map's B at the quarter period, so that
# curl Z_E = 2 pi i f Z_B (Faraday's law in this convention).
B_PHASE = 1j


def write_openpmd(m: FieldMap, out, frequency: float) -> None:
    _, spacing = _uniform_grid(m, "an openPMD field mesh")
    check_frequency(frequency, "for openPMD")
    write_atomically(out, lambda tmp: _in_child(lambda: _write_openpmd(m, tmp, frequency, spacing)))


def _in_child(work) -> None:
    """Runs work() in a forked process. After a failed write (a full disk)
    the HDF5 library keeps the file open and crashes the process that ends
    with it; the child ends without the library's exit handlers, and its
    reason comes back through a pipe."""
    r, w = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.close(r)
        status = 0
        try:
            work()
        except BaseException as e:
            os.write(w, _reason(e).encode("utf-8", "replace")[:4096])
            status = 1
        os._exit(status)
    os.close(w)
    with os.fdopen(r, "rb") as f:
        reason = f.read().decode("utf-8", "replace")
    _, status = os.waitpid(pid, 0)
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        raise OSError(reason or f"the HDF5 writer ended with status {code}")


def _write_openpmd(m: FieldMap, out, frequency: float, spacing) -> None:
    import h5py

    origin = [float(m.x[0]), float(m.y[0]), float(m.z[0])]
    nx, ny, nz = m.counts
    # Texts are fixed-length ASCII strings, which C and Fortran readers of HDF5 expect.
    text = np.bytes_
    with h5py.File(out, "w") as f:
        f.attrs["openPMD"] = text("2.0.0")
        f.attrs["openPMDextension"] = text("BeamPhysics")
        f.attrs["dataType"] = text("openPMD")
        f.attrs["externalFieldPath"] = text("/ExternalFieldMesh/")
        g = f.create_group("ExternalFieldMesh")
        g.attrs["eleAnchorPt"] = text("center")
        g.attrs["gridGeometry"] = text("rectangular")
        # Datasets are stored as the map lies in memory, x fastest: (z, y, x).
        g.attrs["axisLabels"] = np.array([b"z", b"y", b"x"])
        g.attrs["gridSize"] = np.array([nx, ny, nz], dtype=np.int64)
        g.attrs["gridSpacing"] = np.array(spacing, dtype=np.float64) / 100.0
        g.attrs["gridOriginOffset"] = np.array(origin, dtype=np.float64) / 100.0
        g.attrs["gridLowerBound"] = np.zeros(3, dtype=np.int64)
        g.attrs["harmonic"] = np.int64(1)
        g.attrs["fundamentalFrequency"] = np.float64(frequency)
        g.attrs["RFphase"] = np.float64(0.0)
        g.attrs["fieldScale"] = np.float64(1.0)
        for record, comps, unit, dim, phase in (
                ("electricField", (m.Ex, m.Ey, m.Ez), E_UNIT_SI, E_DIMENSION, 1.0),
                ("magneticField", (m.Bx, m.By, m.Bz), B_UNIT_SI, B_DIMENSION, B_PHASE)):
            r = g.create_group(record)
            r.attrs["unitDimension"] = np.array(dim)
            for axis, a in zip("xyz", comps):
                d = r.create_dataset(axis, data=np.ascontiguousarray(a.T) * np.complex128(phase))
                d.attrs["unitSI"] = np.float64(unit)
                d.attrs["unitDimension"] = np.array(dim)
