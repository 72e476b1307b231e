"""kaven-map check and the beam figures of report, on pillbox maps of each
family as the converter writes them (B a quarter period after E), with B
reversed (as maps of dipole and TE modes written before the converter
reversed B for them), and with B of another mode."""

import dataclasses
import math

import numpy as np
import pytest

from conftest import convert, edit_records, report_json
from kavenmap import beam_figures, read_map
from kavenmap.analysis import C_LIGHT, line_voltages
from kavenmap.cli import main
from kavenmap.runlog import frequency_beside

# Each family on the full cross-section, 21 x 21 x 231 nodes, the axis a node
# line and the 2 mm step the same along x and y.
FULL = ["--out-keys", "0,0,0", "--out-counts", "21,21,231"]
FAMILIES = {"TM010": [], "TM011": ["--p", "1"], "TM110": ["--mode", "TM110"],
            "TM110y": ["--mode", "TM110y"], "TE111": ["--mode", "TE111", "--p", "1"],
            # A solver's rounding noise of 1e-3 of the largest component.
            "TM110 noisy": ["--mode", "TM110", "--noise", "1e-3"]}


@pytest.fixture(scope="module")
def families(tmp_path_factory):
    """{family: (map path, frequency, map)}: the maps as the converter writes
    them, B a quarter period after E."""
    base = tmp_path_factory.mktemp("families")
    out = {}
    for name, opts in FAMILIES.items():
        path = convert(base / name, 0, [*FULL, *opts])
        out[name] = (path, frequency_beside(path), read_map(path))
    return out


def b_of(m, sign=1):
    """B of m, times sign."""
    return {n: sign * getattr(m, n) for n in ("Bx", "By", "Bz")}


def with_b(path, b):
    """The format-0 map at path, its B records replaced by b ({name: array})."""
    def change(r):
        r[8:11] = [np.ascontiguousarray(np.asarray(b[n], "<f8").T).tobytes() for n in ("Bx", "By", "Bz")]
    return edit_records(change)(path.read_bytes())


OK, REVERSED = "B a quarter period after E", "B reversed"
NOT_MAXWELL = "not a Maxwell field (c = +0.000 Faraday, +0.000 Ampere)"
CHECKS = [
    # (family, B of the map: "after" or "before" E, or of another family; verdict)
    *((f, "after", OK) for f in FAMILIES),
    *((f, "before", REVERSED) for f in FAMILIES),
    ("TM010", "TM011", NOT_MAXWELL),
    ("TM110", "TM110y", NOT_MAXWELL),
]


@pytest.mark.parametrize("family, b, verdict", CHECKS)
def test_check_verdict(families, tmp_path, capsys, family, b, verdict):
    path, f, _ = families[family]
    sign = -1 if b == "before" else 1
    other = families[family if b in ("after", "before") else b][2]
    copy = tmp_path / "eh_VRQ.#01"
    copy.write_bytes(with_b(path, b_of(other, sign)))
    assert main(["check", str(copy), "--frequency", repr(f)]) == (0 if verdict == OK else 1)
    assert capsys.readouterr().out.splitlines()[-1] == verdict


@pytest.mark.parametrize("fmt", [0, 1, 2])
def test_check_of_the_example_in_each_format(example_maps, tmp_path, capsys, fmt):
    assert main(["check", str(example_maps[fmt]), "--plot", str(tmp_path)]) == 0
    out = capsys.readouterr().out
    assert "from the log beside the map" in out and out.endswith(f"\n{OK}\n")
    # At the log's frequency both laws hold to the differences' truncation error.
    assert all(float(line.split()[-1]) < 0.01 for line in out.splitlines() if "residual" in line)
    assert (tmp_path / "maxwell_residual.png").read_bytes()[:4] == b"\x89PNG"


def pillbox_gain(e0, a, k, length):
    """|integral of e0 cos(a z) exp(i k z) dz| over 0..length, a = p pi / length."""
    if a == 0:
        return abs(e0 * length * math.sin(k * length / 2) / (k * length / 2))
    return abs(2 * e0 * math.cos(k * length / 2) * k / (k * k - a * a))


E0, L = 1e6, 0.115


@pytest.mark.parametrize("family, v0, gain, crest, kick, direction", [
    # Ez = E0 cos(p pi z / L) on the axis: V0 = E0 L for p = 0, 2 E0 L / pi otherwise.
    ("TM010", E0 * L, lambda k: pillbox_gain(E0, 0, k, L), 0.0, 0, None),
    ("TM011", 2 * E0 * L / math.pi, lambda k: pillbox_gain(E0, math.pi / L, k, L), math.pi / 2, 0, None),
    # Ez = E0 J1(kc r) cos(phi), kc = k: the kick (c / w) |grad Vz| = (E0 / 2) L |sin(x) / x|.
    ("TM110", 0, None, None, lambda k: pillbox_gain(E0 / 2, 0, k, L), "x"),
    ("TM110y", 0, None, None, lambda k: pillbox_gain(E0 / 2, 0, k, L), "y"),
    # The noise on the axis is no accelerating field.
    ("TM110 noisy", None, None, None, lambda k: pillbox_gain(E0 / 2, 0, k, L), "x"),
    # No Ez: the electric and magnetic kicks cancel (to 1e-5 of either alone).
    ("TE111", 0, None, None, lambda k: 0, "y"),
])
def test_beam_figures(families, family, v0, gain, crest, kick, direction):
    _, f, m = families[family]
    k = 2 * math.pi * f / C_LIGHT
    r = beam_figures(m, f)
    assert list(r) == ["V0", "W", "T", "crest_phase", "kick", "kick_direction"]
    if v0 is not None:
        assert r["V0"] == pytest.approx(v0, rel=1e-4)
    # The trapezoid rule on 0.5 mm steps is off by about (k h)^2 / 12 = 3e-5.
    if gain is None:
        assert r["W"] < 1e-3 * E0 * L and (r["T"], r["crest_phase"]) == (None, None)
    else:
        assert r["W"] == pytest.approx(gain(k), rel=1e-4) and r["T"] == pytest.approx(r["W"] / r["V0"])
        assert r["crest_phase"] == pytest.approx(crest, abs=1e-9)
    kick = kick(k) if callable(kick) else kick
    assert r["kick"] == pytest.approx(kick, rel=1e-3, abs=1e-5 * E0 * L)
    assert r["kick_direction"] == direction


@pytest.mark.parametrize("family, x", [("TM010", 0.8), ("TM011", 0.8), ("TM110", 0), ("TM110y", 0),
                                       ("TE111", 0), ("TM110 noisy", 0)])
def test_kick_obeys_panofsky_wenzel_only_with_b_a_quarter_period_after_e(families, family, x):
    # K = (i c / w) grad Vz along any line through the cavity, the transverse
    # E vanishing on its end plates; central differences over the 2 mm step.
    _, f, m = families[family]
    h = 0.2

    def vz(dx, dy):
        return line_voltages(m, f, x + dx, dy)[0]

    grad = np.array([vz(h, 0) - vz(-h, 0), vz(0, h) - vz(0, -h)]) / (2 * h / 100)
    expected = 1j * C_LIGHT / (2 * math.pi * f) * grad
    right = np.array(line_voltages(m, f, x, 0)[1:])
    wrong = np.array(line_voltages(dataclasses.replace(m, **b_of(m, -1)), f, x, 0)[1:])
    scale = max(np.abs(right).max(), np.abs(wrong).max())
    # The map interpolates the export's 7.3 mm steps: 1.3 % on TM110.
    assert np.abs(right - expected).max() < 0.03 * scale
    assert np.abs(wrong - expected).max() > 0.5 * scale


def test_report_of_a_dipole_map(families, tmp_path, capsys):
    path = families["TM110"][0]
    r = report_json(path.parent, tmp_path)
    assert (r["T"], r["crest_phase"], r["axis_Ez_peak"], r["kick_direction"]) == (None, None, None, "x")
    out = capsys.readouterr().out
    assert "on-axis Ez peak        none: Ez on the axis is zero or noise" in out
    assert "transverse kick        13676.5 V along x" in out
    assert main(["info", str(path)]) == 0
    assert "on-axis Ez peak: none, Ez on the axis is zero or noise" in capsys.readouterr().out
