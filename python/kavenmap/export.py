"""Writing a map for other programs: VTK XML image data (ParaView) and an
openPMD HDF5 file with the BeamPhysics extension's external field mesh."""

from __future__ import annotations

import base64
import numpy as np

from .analysis import axis_summary
from .reader import FieldMap, MapError


def _uniform_grid(m: FieldMap, what: str):
    origin, spacing = [], []
    for axis, nodes in zip("xyz", (m.x, m.y, m.z)):
        s = axis_summary(nodes)
        if not s["uniform"]:
            raise MapError(f"{m.path}: the {axis} steps are not uniform; {what} needs a regular grid")
        origin.append(s["first"])
        spacing.append(s["step"])
    return origin, spacing


def _vti_array(name: str, a: tuple) -> bytes:
    """A 3-component point array as inline base64 binary: a UInt64 byte
    count, then the little-endian Float64 tuples, x fastest."""
    data = np.stack([np.ravel(c.T) for c in a], axis=1).astype("<f8", copy=False)
    raw = data.tobytes()
    encoded = base64.b64encode(np.uint64(len(raw)).astype("<u8").tobytes() + raw)
    return (f'        <DataArray type="Float64" Name="{name}" NumberOfComponents="3" '
            f'format="binary">\n').encode() + encoded + b"\n        </DataArray>\n"


def write_vti(m: FieldMap, out) -> None:
    """E and B as 3-component point arrays on the map's grid, lengths in cm."""
    origin, spacing = _uniform_grid(m, "VTK image data")
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
        f.write(_vti_array("E (V/cm)", (m.Ex, m.Ey, m.Ez)))
        f.write(_vti_array("B (gauss)", (m.Bx, m.By, m.Bz)))
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
    import h5py

    _, spacing = _uniform_grid(m, "an openPMD field mesh")
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
