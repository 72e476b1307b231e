import json
import math
import struct

import pytest

from conftest import convert
from kavenmap.cli import main


def patched(src, dst, offset, change):
    """A copy of a format-0 map with the double at offset changed."""
    data = bytearray(src.read_bytes())
    (value,) = struct.unpack_from("<d", data, offset)
    data[offset:offset + 8] = struct.pack("<d", change(value))
    dst.write_bytes(bytes(data))
    return dst


# Ez sits in the third field record; node (i, j, k) = (3, 4, 100) of the
# 11 x 11 x 231 example is at (0.6, 0.8, -0.75) cm.
N = 11 * 11 * 231
EZ_AT = 84 - 12 + 8 * (11 + 11 + 231) + 2 * (8 + 8 * N) + 4 + 8 * (3 + 11 * (4 + 11 * 100))
APER_AT = 12


@pytest.fixture(scope="module")
def others(example_maps, tmp_path_factory):
    base = tmp_path_factory.mktemp("diff")
    m0 = example_maps[0]
    return {
        "format 1": example_maps[1],
        "Ez x (1 + 1e-6)": patched(m0, base / "ez.map", EZ_AT, lambda v: v * (1 + 1e-6)),
        "aper 2.5": patched(m0, base / "aper.map", APER_AT, lambda v: 2.5),
        "10 x 10 x 21": convert(base / "small", 0, ["--out-keys", "0,0,0", "--out-counts", "10,10,21"]),
    }


@pytest.mark.parametrize("other, args, status, says", [
    ("format 1", [], 0, "headers and grids agree"),
    ("Ez x (1 + 1e-6)", [], 1, "Ez: max |A-B| 0.00981 V/cm at (0.6, 0.8, -0.75) cm, max relative 1e-06"),
    ("Ez x (1 + 1e-6)", ["--rtol", "1e-5"], 0, "agree within tolerance (rtol 1e-05, atol 0)"),
    ("Ez x (1 + 1e-6)", ["--atol", "0.01"], 0, "agree within tolerance"),
    ("aper 2.5", [], 1, "differ: aperture (cm): 2.0 against 2.5"),
    ("10 x 10 x 21", [], 1, "differ: nodes: 11 x 11 x 231 against 10 x 10 x 21"),
])
def test_diff(example_maps, others, capsys, other, args, status, says):
    assert main(["diff", str(example_maps[0]), str(others[other]), *args]) == status
    assert says in capsys.readouterr().out


def test_report_on_the_example_gives_the_pillbox_figures_of_merit(example_maps, tmp_path, capsys):
    out = tmp_path / "report"
    assert main(["report", str(example_maps[0].parent), "--out", str(out)]) == 0
    r = json.loads((out / "report.json").read_text())
    f, length, e0 = r["frequency"], 0.115, 1e6
    # Ez is E0 along the whole 11.5 cm cell: V0 = E0 L exactly, up to rounding.
    assert r["V0"] == pytest.approx(e0 * length, rel=1e-9)
    # T = sin(x)/x, x = w L / 2c. The trapezoid rule on 231 nodes is off by
    # about (w h / c)^2 / 12 = 1.6e-5 (h = 0.5 mm); 1e-4 leaves room for it.
    x = math.pi * f * length / 299792458.0
    assert r["T"] == pytest.approx(math.sin(x) / x, rel=1e-4)
    # The cell is half a wavelength to 4e-4, so T is 2/pi to 1e-3.
    assert r["T"] == pytest.approx(2 / math.pi, rel=1e-3)
    assert round(r["W"] / 1e3, 1) == 73.2 and r["W"] == pytest.approx(r["V0"] * r["T"])
    assert (r["crest_phase"], r["kick"], r["kick_direction"]) == (pytest.approx(0), 0, None)
    assert r["axis_Ez_peak"]["value"] == pytest.approx(1e4)
    assert r["maxwell"]["avg_sRL1"] == pytest.approx(-199 / 201)
    assert r["maxwell"]["max_rRL1"] == pytest.approx(1.0099, abs=1e-3)
    assert r["sign_reversed"] == "B"
    for name in r["figures"]:
        assert (out / name).read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    assert "transit-time factor T  0.63639" in capsys.readouterr().out
