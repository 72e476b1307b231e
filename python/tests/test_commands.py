import math
import os
import shutil
import subprocess
import sys

import numpy as np
import pytest

from conftest import edit_records, put, report_json
from kavenmap.cli import main
from kavenmap.report import colour_scale


@pytest.fixture(scope="module")
def others(example_maps, small_map, tmp_path_factory):
    base = tmp_path_factory.mktemp("diff")

    def patched(name, change):
        (base / name).write_bytes(edit_records(change)(example_maps[0].read_bytes()))
        return base / name

    return {
        "format 1": example_maps[1],
        # Ez is record 8 (r[7]), the aperture the second real of record 1 (r[0]); node
        # (i, j, k) = (3, 4, 100) of the 11 x 11 x 231 example is at (0.6, 0.8, -0.75) cm.
        "Ez x (1 + 1e-6)": patched("ez.map", put(7, 3 + 11 * (4 + 11 * 100), lambda v: v * (1 + 1e-6))),
        "aper 2.5": patched("aper.map", put(0, 1, 2.5)),
        "10 x 10 x 21": small_map,
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
    r = report_json(example_maps[0].parent, out)
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


def run(argv):
    """main as the user runs it: argparse's exits become statuses."""
    try:
        return main([str(a) for a in argv])
    except SystemExit as e:
        return e.code


# (format of the example map A, the arguments, status, what stderr says). A
# is a copy of the map in the folder DIR, beside a file EARLIER and, where
# the arguments name them, a hard link LINK to A and a FIFO without a writer
# (a reader that opened it would wait for ever); OUT is a file to be written.
ARGUMENTS = [
    (0, ["diff", "A", "A", "--rtol", "-1"], 2, "usage: kaven-map diff"),
    (0, ["diff", "A", "A", "--rtol", "nan"], 2, "argument --rtol: 'nan': the tolerance must be a finite number >= 0"),
    (0, ["diff", "A", "A", "--atol", "inf"], 2, "usage: kaven-map diff"),
    (0, ["diff", "A", "OUT"], 2, "kaven-map: {OUT}: cannot open a field map"),  # trouble, not 'differ'
    (0, ["export", "A"], 2, "usage: kaven-map export"),
    *[(0, ["export", "A", "--openpmd", "OUT", f"--frequency={f}"], 2, "the frequency must be a finite number > 0")
      for f in ("nan", "0", "inf", "-1.3e9")],
    (0, ["export", "A", "--frequency", "x", "--vti", "OUT"], 2, "argument --frequency: 'x' is not a number"),
    (0, ["export", "A", "--vti", "A"], 2, "--vti {A} is the map being exported"),
    (1, ["export", "A", "--openpmd", "A", "--frequency", "1e9"], 2, "is the map being exported"),
    (0, ["export", "A", "--vti", "LINK"], 2, "is the map being exported"),
    (0, ["export", "A", "--vti", "EARLIER", "--openpmd", "EARLIER"], 2, "name the same file"),
    (0, ["export", "A", "--vti", "DIR"], 2, "exists and is not a regular file"),
    # No log beside the map: the frequency is missing before the VTI is written.
    (2, ["export", "A", "--vti", "OUT", "--openpmd", "OUT.h5"], 1, "no log wavecalc_to_kaven.log beside"),
    (0, ["info"], 2, "usage: kaven-map info"),
    # What is not a file is refused by name.
    (0, ["info", "FIFO"], 1, "is a FIFO (named pipe), not a field map"),
    (0, ["info", "DIR"], 1, "is a folder"),
    (0, ["info", "/dev/zero"], 1, "is a character device"),
    (0, ["info", ""], 1, "an empty file name"),
    (0, ["info", "OUT"], 1, "cannot open a field map: No such file"),
    (0, ["batch", "DIR", "--jobs", "0"], 2, "--jobs needs a number of 1 or more"),
    (0, ["batch", "DIR", "--summary", "out.txt"], 2, "must end in .csv or .json"),
    (0, ["batch", "DIR", "--chunk", "2"], 2, "--chunk only with --slurm"),
    (0, ["batch", "DIR", "--converter", "/nonexistent/converter"], 2, "no converter: /nonexistent/converter"),
]


@pytest.mark.parametrize("fmt, argv, status, says", ARGUMENTS)
def test_arguments_are_checked_before_anything_is_written(example_maps, tmp_path, capsys, fmt, argv, status, says):
    names = {"A": tmp_path / "eh_VRQ.#01", "DIR": tmp_path, "EARLIER": tmp_path / "earlier",
             "FIFO": tmp_path / "fifo", "LINK": tmp_path / "link", "OUT": tmp_path / "out",
             "OUT.h5": tmp_path / "out.h5"}
    shutil.copy(example_maps[fmt], names["A"])
    if "LINK" in argv:
        os.link(names["A"], names["LINK"])
    if "FIFO" in argv:
        os.mkfifo(names["FIFO"])
    names["EARLIER"].write_bytes(b"an earlier output")
    before = {p: p.read_bytes() for p in tmp_path.iterdir() if p.is_file()}
    assert run([names.get(a, a) for a in argv]) == status
    err = capsys.readouterr().err
    assert says.format(**names) in err and "Traceback" not in err
    assert {p: p.read_bytes() for p in tmp_path.iterdir() if p.is_file()} == before


def test_version_and_a_closed_pipe(example_maps, capsys):
    assert run(["--version"]) == 0
    assert capsys.readouterr().out == "kaven-map 0.1.0\n"
    # The reader of the output is gone before the first line: no message, status 0.
    p = subprocess.Popen([sys.executable, "-m", "kavenmap", "info", example_maps[1]],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    p.stdout.close()
    assert (p.wait(), p.stderr.read()) == (0, b"")


def test_report_refuses_a_map_of_another_run(example_maps, others, tmp_path, capsys):
    folder = tmp_path / "run"
    shutil.copytree(example_maps[0].parent, folder)
    shutil.copy(others["10 x 10 x 21"], folder / "eh_VRQ.#01")
    assert main(["report", str(folder)]) == 1
    err = capsys.readouterr().err
    assert err.startswith(f"kaven-map: {folder}: the log and the map are not of one run: the log's output "
                          "grid is 11 x 11 x 231 nodes, the map's 10 x 10 x 21; the log's x limits are "
                          "0 to 2 cm, the map's -2 to 2 cm") and "symmetry keys are 1 1 0, the map's 0 0 0" in err
    assert not (folder / "report.json").exists()


@pytest.mark.parametrize("values, magnitude, scale", [
    ([9260.0, 10000.0], False, ("viridis", 9260.0, 10000.0)),  # one sign: the fall-off is the range
    ([-3.0, 1.0], False, ("RdBu_r", -3.0, 3.0)),               # changes sign: symmetric about 0
    ([0.0, 0.0], True, ("viridis", 0.0, 1.0)),                 # a zero magnitude stays at 0
    ([2e-5, 4e-5], True, ("viridis", 0.0, 4e-5)),
])
def test_colour_scales_follow_the_data(values, magnitude, scale):
    assert colour_scale(np.array(values), magnitude) == scale
