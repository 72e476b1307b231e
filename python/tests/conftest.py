"""Maps for the tests, written by the converter from pillbox exports of the
generator, both taken from the build folder (KAVENMAP_BUILD_DIR, by default
build/ of the checkout)."""

import json
import os
import struct
import subprocess
from pathlib import Path

import pytest

from kavenmap.cli import main

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("KAVENMAP_BUILD_DIR", ROOT / "build"))
CONVERTER = BUILD / "src" / "wavecalc_to_kaven"
GENERATOR = BUILD / "tools" / "pillbox" / "pillbox_export"

# The README's example: TM010 of a pillbox of radius 88 mm and length 115 mm,
# a quarter export of 7 x 7 x 201 points, an 11 x 11 x 231 map over x, y from
# 0 to the 2 cm aperture and z over the 11.5 cm cell.
EXAMPLE = ["--Rc", "88", "--Lc", "115", "--p", "0", "--E0", "1e6", "--quarter",
           "--nx", "7", "--ny", "7", "--nz", "201", "--order", "321", "--columns", "9",
           "--fnum", "1", "--out-keys", "1,1,0", "--out-counts", "11,11,231",
           "--fnorm", "1", "--aper", "2.0", "--elen", "11.5"]


def convert(folder: Path, fmt: int, options=()) -> Path:
    """Generates the example case (options override it) in folder, converts
    it with output format fmt and returns the map's path."""
    for tool in (CONVERTER, GENERATOR):
        if not os.access(tool, os.X_OK):
            pytest.fail(f"{tool} is not built (build the project, or set KAVENMAP_BUILD_DIR)")
    folder.mkdir(parents=True, exist_ok=True)
    subprocess.run([GENERATOR, "--dir", folder, *EXAMPLE, "--fmt", str(fmt), *options],
                   check=True, capture_output=True)
    subprocess.run([CONVERTER], cwd=folder, check=True, capture_output=True)
    return folder / "eh_VRQ.#01"


def framed(payloads):
    """Records of a format-0 map: each payload between two copies of its length."""
    return b"".join(struct.pack("<i", len(p)) + bytes(p) + struct.pack("<i", len(p)) for p in payloads)


def records(data):
    """The payloads of a format-0 map's records, read here independently of the reader."""
    out, pos = [], 0
    while pos < len(data):
        (n,) = struct.unpack_from("<i", data, pos)
        out.append(bytearray(data[pos + 4:pos + 4 + n]))
        pos += n + 8
    return out


def edit_records(change):
    """A function of a format-0 map's bytes: its records, changed in place by change, framed again."""
    def apply(data):
        r = records(data)
        change(r)
        return framed(r)
    return apply


def put(record, index, value):
    """A change of records: real number index of a record set to value, or
    to value(the old one) where value is a function."""
    def change(r):
        (old,) = struct.unpack_from("<d", r[record], 8 * index)
        struct.pack_into("<d", r[record], 8 * index, value(old) if callable(value) else value)
    return change


def report_json(folder, out):
    """Runs report on the run in folder, writing to out; its report.json, in
    which a NaN or an infinity is a fault."""
    assert main(["report", str(folder), "--out", str(out)]) == 0

    def no_nan(c):
        raise ValueError(f"{c} in report.json")

    return json.loads((out / "report.json").read_text(), parse_constant=no_nan)


@pytest.fixture(scope="session")
def example_maps(tmp_path_factory):
    """The example map in the three formats: {format: path}."""
    base = tmp_path_factory.mktemp("example")
    return {fmt: convert(base / f"fmt{fmt}", fmt) for fmt in (0, 1, 2)}


@pytest.fixture(scope="session")
def small_map(tmp_path_factory):
    """A full cross-section of 10 x 10 x 21 nodes: no node at x = 0, y = 0."""
    return convert(tmp_path_factory.mktemp("small"), 0, ["--out-keys", "0,0,0", "--out-counts", "10,10,21"])
