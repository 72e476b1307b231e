import base64
import math
import os
import resource
import signal
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET

import h5py
import numpy as np
import pytest

from kavenmap import read_map
from kavenmap.cli import main


def test_openpmd_export(example_maps, tmp_path):
    path = example_maps[0]
    out = tmp_path / "map.h5"
    assert main(["export", str(path), "--openpmd", str(out)]) == 0  # frequency from the log
    m = read_map(path)
    with h5py.File(out, "r") as f:
        assert {k: f.attrs[k] for k in ("openPMD", "openPMDextension", "dataType", "externalFieldPath")} == {
            "openPMD": b"2.0.0", "openPMDextension": b"BeamPhysics", "dataType": b"openPMD",
            "externalFieldPath": b"/ExternalFieldMesh/"}
        g = f["ExternalFieldMesh"]
        a = g.attrs
        assert (a["eleAnchorPt"], a["gridGeometry"]) == (b"center", b"rectangular")
        assert list(a["axisLabels"]) == [b"z", b"y", b"x"]
        assert list(a["gridSize"]) == [11, 11, 231] and list(a["gridLowerBound"]) == [0, 0, 0]
        np.testing.assert_allclose(a["gridSpacing"], [0.002, 0.002, 0.0005], rtol=1e-12)
        np.testing.assert_allclose(a["gridOriginOffset"], [0, 0, -0.0575], rtol=1e-12)
        assert (a["harmonic"], a["RFphase"], a["fieldScale"]) == (1, 0, 1)
        f_rf = a["fundamentalFrequency"]
        assert f_rf == pytest.approx(1303892361.76375)
        fields = {}
        for record, unit, dim in (("electricField", 100.0, [1, 1, -3, -1, 0, 0, 0]),
                                  ("magneticField", 1e-4, [0, 1, -2, -1, 0, 0, 0])):
            assert list(g[record].attrs["unitDimension"]) == dim
            for axis in "xyz":
                d = g[record][axis]
                assert d.shape == (231, 11, 11) and d.dtype == np.complex128
                assert d.attrs["unitSI"] == unit and list(d.attrs["unitDimension"]) == dim
                fields[record[0].upper().replace("M", "B") + axis] = d[()] * d.attrs["unitSI"]
        # Storage order (z, y, x): element [k, j, i] is the map's node (i, j, k).
        assert fields["Ez"][100, 4, 3].real == m.Ez[3, 4, 100] * 100
        assert fields["Ey"].imag.max() == 0 and fields["By"].real.max() == 0
        # Faraday's law for Re(Z exp(-2 pi i f t)): curl Z_E = 2 pi i f Z_B.
        # The curl of the TM010 map, by central differences in SI units.
        dx, dy, dz = a["gridSpacing"]
        grad = {c: np.gradient(fields[c], dz, dy, dx) for c in ("Ex", "Ey", "Ez")}  # d/dz, d/dy, d/dx
        curl = np.stack([grad["Ez"][1] - grad["Ey"][0],
                         grad["Ex"][0] - grad["Ez"][2],
                         grad["Ey"][2] - grad["Ex"][1]])
        rhs = 2j * math.pi * f_rf * np.stack([fields["Bx"], fields["By"], fields["Bz"]])
        inner = (slice(None), slice(1, -1), slice(1, -1), slice(1, -1))  # central differences only
        error = np.linalg.norm(curl[inner] - rhs[inner]) / np.linalg.norm(rhs[inner])
        assert error < 0.02  # 0.004; the opposite sign would give 2, a real B 1.4


def vti_array(piece, name):
    """An independent decoder of the VTK XML image data: inline base64 of a
    UInt64 byte count and little-endian Float64 tuples."""
    (el,) = [a for a in piece.iter("DataArray") if a.get("Name") == name]
    assert (el.get("type"), el.get("format"), el.get("NumberOfComponents")) == ("Float64", "binary", "3")
    raw = base64.b64decode("".join(el.text.split()))
    (size,) = struct.unpack("<Q", raw[:8])
    assert size == len(raw) - 8
    return struct.unpack(f"<{size // 8}d", raw[8:])


def test_vti_export(example_maps, tmp_path):
    m = read_map(example_maps[2])  # exported from the point table; compared with the binary map
    out = tmp_path / "map.vti"
    assert main(["export", str(example_maps[2]), "--vti", str(out)]) == 0
    root = ET.parse(out).getroot()
    assert (root.get("type"), root.get("byte_order"), root.get("header_type")) == (
        "ImageData", "LittleEndian", "UInt64")
    image = root.find("ImageData")
    assert image.get("WholeExtent") == "0 10 0 10 0 230"
    assert [float(v) for v in image.get("Origin").split()] == [0.0, 0.0, -5.75]
    assert [float(v) for v in image.get("Spacing").split()] == pytest.approx([0.2, 0.2, 0.05])
    piece = image.find("Piece")
    e, b = vti_array(piece, "E (V/cm)"), vti_array(piece, "B (gauss)")
    ref = read_map(example_maps[0])
    assert len(e) == len(b) == 3 * 11 * 11 * 231
    for i, j, k in [(0, 0, 0), (3, 4, 100), (10, 0, 230), (0, 10, 5)]:
        p = i + 11 * (j + 11 * k)  # VTK points run x fastest
        assert e[3 * p:3 * p + 3] == pytest.approx([ref.Ex[i, j, k], ref.Ey[i, j, k], ref.Ez[i, j, k]], rel=1e-14)
        assert b[3 * p:3 * p + 3] == pytest.approx([ref.Bx[i, j, k], ref.By[i, j, k], ref.Bz[i, j, k]], rel=1e-14)
    assert m.counts == ref.counts


@pytest.mark.parametrize("option, name", [("--vti", "out.vti"), ("--openpmd", "out.h5")])
def test_a_failed_write_leaves_the_earlier_output(example_maps, tmp_path, option, name):
    out = tmp_path / name
    out.write_bytes(b"an earlier output")

    def small_files():  # writes beyond 64 kB fail with EFBIG
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 16, resource.RLIM_INFINITY))

    r = subprocess.run([sys.executable, "-m", "kavenmap", "export", example_maps[0], option, out],
                       preexec_fn=small_files, capture_output=True, text=True)
    assert r.returncode == 1 and r.stdout == ""
    assert r.stderr == f"kaven-map: {out}: cannot write: File too large; nothing was changed there\n"
    assert out.read_bytes() == b"an earlier output" and os.listdir(tmp_path) == [name]
