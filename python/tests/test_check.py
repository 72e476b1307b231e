"""kaven-map check and the beam figures of report, on pillbox maps of each
family as the converter writes them, with B reversed (as maps written before
the converter reversed B for every mode), and with B of another mode."""

import dataclasses
import math
import struct

import numpy as np
import pytest

from conftest import convert
from kavenmap import beam_figures, read_map
from kavenmap.analysis import C_LIGHT, line_voltages
from kavenmap.cli import main
from kavenmap.runlog import frequency_beside

# Families: generator options added to the example's (same grid for all).
FAMILIES = {"TM010": [], "TM011": ["--p", "1"]}


@pytest.fixture(scope="module")
def family_maps(example_maps, tmp_path_factory):
    base = tmp_path_factory.mktemp("families")
    return {name: example_maps[0] if not opts else convert(base / name, 0, opts)
            for name, opts in FAMILIES.items()}


def write_map0(path, m, **fields):
    """m as a format-0 map, with the arrays given in fields replacing its own."""
    def rec(b):
        return struct.pack("<i", len(b)) + b + struct.pack("<i", len(b))
    parts = [struct.pack("<ddi", m.elen, m.aper, 0), struct.pack("<3i", *m.keys),
             *(np.asarray(v, "<f8").tobytes() for v in (m.x, m.y, m.z)),
             *(np.ascontiguousarray(np.asarray(fields.get(n, getattr(m, n)), "<f8").T).tobytes()
               for n in ("Ex", "Ey", "Ez", "Bx", "By", "Bz")),
             struct.pack("<i", -99)]
    path.write_bytes(b"".join(rec(p) for p in parts))
    return path


def reversed_b(m, other):
    return {n: -getattr(m, n) for n in ("Bx", "By", "Bz")}


def b_of(family):
    return lambda m, other: {n: getattr(other[family], n) for n in ("Bx", "By", "Bz")}


OK, REVERSED = "B a quarter period after E", "B reversed"
CHECKS = [
    # (family, format, change of the map, verdict, exit status)
    ("TM010", 0, None, OK, 0),
    ("TM010", 1, None, OK, 0),
    ("TM010", 2, None, OK, 0),
    ("TM011", 0, None, OK, 0),
    ("TM010", 0, reversed_b, REVERSED, 1),
    ("TM011", 0, reversed_b, REVERSED, 1),
    ("TM010", 0, b_of("TM011"), "not a Maxwell field (c = +0.000 Faraday, +0.000 Ampere)", 1),
]


@pytest.mark.parametrize("family, fmt, change, verdict, status", CHECKS)
def test_check_verdict(example_maps, family_maps, tmp_path, capsys, family, fmt, change, verdict, status):
    path = example_maps[fmt] if family == "TM010" else family_maps[family]
    args = []
    if change is not None:
        m = read_map(path)
        others = {f: read_map(p) for f, p in family_maps.items()}
        args = ["--frequency", repr(frequency_beside(path))]
        path = write_map0(tmp_path / "changed.map", m, **change(m, others))
    assert main(["check", str(path), "--plot", str(tmp_path), *args]) == status
    out = capsys.readouterr().out
    assert out.splitlines()[-1] == verdict
    assert (tmp_path / "maxwell_residual.png").read_bytes()[:4] == b"\x89PNG"
    if change is None:
        # At the log's frequency the laws hold to the differences' truncation error.
        assert "from the log beside the map" in out
        assert all(float(line.split()[-1]) < 0.01 for line in out.splitlines() if "residual" in line)


def kz_integral(e0, a, k, length):
    """|integral of e0 cos(a z) exp(i k z) dz| over 0..length, a = p pi / length."""
    if a == 0:
        return abs(e0 * length * math.sin(k * length / 2) / (k * length / 2))
    return abs(2 * e0 * math.cos(k * length / 2) * k / (k * k - a * a))


@pytest.mark.parametrize("family, p, crest", [("TM010", 0, 0.0), ("TM011", 1, math.pi / 2)])
def test_beam_figures_of_a_pillbox_mode(family_maps, family, p, crest):
    path = family_maps[family]
    f = frequency_beside(path)
    r = beam_figures(read_map(path), f)
    assert set(r) == {"V0", "W", "T", "crest_phase", "kick", "kick_direction"}
    e0, length, k = 1e6, 0.115, 2 * math.pi * f / C_LIGHT
    # Ez = E0 cos(p pi z / L) on the axis: V0 = E0 L for p = 0, 2 E0 L / pi otherwise.
    assert r["V0"] == pytest.approx(e0 * length * (1 if p == 0 else 2 / math.pi), rel=1e-4)
    # The trapezoid rule on 0.5 mm steps is off by about (k h)^2 / 12 = 3e-5.
    assert r["W"] == pytest.approx(kz_integral(e0, p * math.pi / length, k, length), rel=1e-4)
    assert r["T"] == pytest.approx(r["W"] / r["V0"])
    assert r["crest_phase"] == pytest.approx(crest, abs=1e-9)
    # No transverse field on the axis of a monopole.
    assert r["kick"] == pytest.approx(0, abs=1e-6 * r["W"]) and r["kick_direction"] is None


@pytest.mark.parametrize("family, x, sign, holds", [
    ("TM010", 0.8, 1, True), ("TM011", 0.8, 1, True), ("TM010", 0.8, -1, False),
])
def test_kick_obeys_panofsky_wenzel_only_with_b_a_quarter_period_after_e(family_maps, family, x, sign,
                                                                          holds):
    # K = (i c / w) grad Vz along any line through the cavity, the fields
    # vanishing on its end plates; central differences over the 2 mm x step.
    m = read_map(family_maps[family])
    if sign < 0:
        m = dataclasses.replace(m, **reversed_b(m, None))
    f = frequency_beside(family_maps[family])
    h = 0.2
    _, kx, ky = line_voltages(m, f, x, 0.0)
    grad = (line_voltages(m, f, x + h, 0.0)[0] - line_voltages(m, f, x - h, 0.0)[0]) / (2 * h / 100)
    expected = 1j * C_LIGHT / (2 * math.pi * f) * grad
    assert abs(ky) < 1e-9 * abs(kx)
    assert (abs(kx - expected) < 0.01 * abs(expected)) == holds

