import json
import math
import struct

import numpy as np
import pytest

from conftest import edit_records, framed, put
from kavenmap import COMPONENTS, read_map
from kavenmap.analysis import axis_peak
from kavenmap.cli import main


def test_three_formats_read_back_to_the_same_map(example_maps):
    maps = {fmt: read_map(p) for fmt, p in example_maps.items()}
    m0 = maps[0]
    assert m0.counts == (11, 11, 231) and m0.keys == (1, 1, 0)
    # Index order (x, y, z): Ez on the axis is E0 = 1 MV/m; B circles the
    # axis, so Bx at (0, 2 cm) is -By at (2 cm, 0), and not zero.
    assert m0.x[0] == 0 and m0.y[10] == 2.0
    assert np.allclose(m0.Ez[0, 0, :], 1e4, rtol=1e-12)
    assert m0.Bx[0, 10, 5] == pytest.approx(-m0.By[10, 0, 5]) and abs(m0.Bx[0, 10, 5]) > 1
    assert not m0.Ez.flags.owndata and not m0.Ez.flags.writeable  # a view of the mapped file
    # On-axis Ez is flat: the peak is its first node in every format, not rounding's pick.
    assert [axis_peak(m)[1] for m in maps.values()] == [-5.75] * 3
    for fmt, m in maps.items():
        assert m.format == fmt
        assert (m.elen, m.aper, m.keys) == (11.5, 2.0, (1, 1, 0))
        assert m.file_size == m.implied_size()
        # The text formats carry 15 to 16 significant digits.
        for a in ("x", "y", "z", *COMPONENTS):
            np.testing.assert_allclose(getattr(m, a), getattr(m0, a), rtol=1e-14, atol=0, err_msg=a)


# Damaged copies of the example map. Format 0 is taken apart into its record
# payloads (edit_records), independently of the reader, and framed again; the
# text formats are edited line by line and field by field (24 columns a real).
def swap_x_nodes(r):
    r[2][8:16], r[2][16:24] = r[2][16:24], r[2][8:16]


def x26(r):
    """A consistent map of 26 x 2 x 2 nodes, one beyond the format's 25."""
    r[2:5] = [struct.pack("<26d", *range(26)), struct.pack("<2d", 0, 1), struct.pack("<2d", 0, 1)]
    r[5:11] = [bytes(8 * 26 * 4)] * 6


def set_trailer(data):
    b = bytearray(data)
    b[48 + 4 + 88:48 + 8 + 88] = struct.pack("<i", 96)  # x nodes: 11 reals after byte 48
    return bytes(b)


def lines_edit(change):
    def apply(data):
        lines = data.split(b"\r\n")
        change(lines)
        return b"\r\n".join(lines)
    return apply


def field(line, index, text):
    """Replaces real number index (0, 1, 2) of a line, in its 24 columns."""
    def change(lines):
        t = lines[line - 1]
        lines[line - 1] = t[:24 * index] + text.encode().ljust(24)[:24] + t[24 * index + 24:]
    return lines_edit(change)


def int_field(line, index, text, start):
    def change(lines):
        t = lines[line - 1]
        at = start + 12 * index
        lines[line - 1] = t[:at] + text.encode().rjust(12) + t[at + 12:]
    return lines_edit(change)


def shift_line_end(lines):
    lines[9], lines[10] = lines[9][:-3], lines[10] + b"   "


# The example's format-1 map: lines 1 and 2 the header, x nodes on lines 3
# to 6, y on 7 to 10, z on 11 to 87, the Ex record from line 88 on.
# Format 2: the header on lines 1 to 5, then E and B of each node.
DAMAGED = {
    0: [  # change, what the message says: one text or several
        (lambda d: d[:-100], ("record 11 (Bz) at byte 1120176", "it is truncated")),
        (set_trailer, "record 3 (x nodes) at byte 48: the record's length is 88 at its start but 96"),
        (edit_records(lambda r: r[7].__delitem__(slice(0, 8))),
         ("record 8 (Ez)", "holds 223600 bytes, but the counts 11 x 11 x 231 need 8 x 27951 = 223608")),
        (edit_records(swap_x_nodes), "record 3 (x nodes) at byte 48: the x nodes do not increase"),
        (edit_records(put(3, 5, math.inf)), "record 4 (y nodes) at byte 144: y node 6 is inf, not a finite"),
        (edit_records(x26), "record 3 (x nodes) at byte 48: 26 x nodes, more than the 25 of KAVEN's largest"),
        (edit_records(lambda r: r.__setitem__(11, struct.pack("<i", -98))), "not the -99 end marker"),
        (edit_records(lambda r: r.pop()), "without the -99 end marker"),
        (lambda d: d + framed([b"\0" * 4]), "12 bytes follow the -99 end marker"),
        (edit_records(put(5, 0, math.nan)), "Ex at node (1, 1, 1), (0, 0, -5.75) cm, is nan: the field holds"),
        (edit_records(put(10, 2000, -math.inf)), "Bz at node (10, 6, 17), (1.8, 1, -4.95) cm, is -inf"),
        (edit_records(put(0, 0, math.inf)), "the element length is inf, not a finite length"),
        (edit_records(put(0, 1, math.nan)), "the aperture is nan, not a finite length"),
    ],
    1: [
        (field(100, 1, "   1.2.3000000000000"), "line 100: the Ex record: '   1.2.3000000000000    ' at column 25"),
        (field(100, 2, "  NaN"), "line 100: the Ex record: 'NaN' at column 49 is not a finite value"),
        (field(5, 0, "   1.23457"), "line 5: the x nodes: '   1.23457"),
        (field(1, 0, " Infinity"), "line 1: elen and aper: 'Infinity' at column 1 is not a finite value"),
        (lines_edit(lambda ls: ls.__delitem__(-2)), "the last line is not the -99 end marker"),
        (lambda d: d[:-20], "the last line is not the -99 end marker"),
        (lines_edit(lambda ls: ls.insert(50, ls[50])), "bytes are not the nodes and the six fields of any grid"),
        (int_field(2, 1, "x", 0), "line 2: expected the three symmetry keys in columns of 12"),
    ],
    2: [
        (lambda d: d[:-1], "4136985 bytes, but a point table of 11 x 11 x 231 nodes"),
        (lambda d: d[:-20], "takes 4136986; the file is truncated"),
        (lambda d: d + b"  0.0\r\n", "the file is longer than its header says"),
        (int_field(5, 0, "400000000", 48), "line 5: 400000000 z nodes, more than the 8001 of KAVEN's largest"),
        (int_field(3, 0, "-4", 48), "line 3: -4 x node(s): an axis needs at least 2"),
        (field(5, 1, " Infinity"), "line 5: zmin and zmax: 'Infinity' at column 25 is not a finite value"),
        (lines_edit(lambda ls: ls.__setitem__(4, b" -1.000000000000000E+308  1.000000000000000E+308"
                                              + ls[4][48:])), "line 5: the z range from -1e+308 to 1e+308 overflows a double"),
        (field(3, 0, "   3.00000000000000"), "line 3: the x nodes do not increase (xmin 3.0, xmax 2.0)"),
        (field(7, 2, "   1.2345"), "line 7: a line of E or B: '   1.2345"),
        (lines_edit(shift_line_end), "line 10: a line of E or B: the line is not 72 columns long"),
    ],
    None: [
        (lambda d: b"", "the file is empty"),
        (lambda d: b"some notes\nabout a cavity\n", "line 1: not a KAVEN field map"),
        (lambda d: b"\0" * 4096, "line 1: not a KAVEN field map"),
    ],
}


@pytest.mark.filterwarnings("error")  # a numpy warning is a fault too
@pytest.mark.parametrize("fmt, change, message", [(f, *case) for f, cases in DAMAGED.items() for case in cases])
def test_damaged_map_is_refused_with_one_line(example_maps, tmp_path, capsys, fmt, change, message):
    bad = tmp_path / "damaged.map"
    bad.write_bytes(change(example_maps[fmt or 0].read_bytes()))
    assert main(["info", str(bad)]) == 1
    out, err = capsys.readouterr()
    messages = (message,) if isinstance(message, str) else message
    assert out == "" and err.count("\n") == 1 and err.startswith(f"kaven-map: {bad}"), err
    assert all(m in err for m in messages), err


def test_info_json_describes_the_example(example_maps, capsys):
    assert main(["info", "--json", str(example_maps[0])]) == 0
    info = json.loads(capsys.readouterr().out)
    assert (info["format"], info["elen"], info["aper"], info["keys"]) == (0, 11.5, 2.0, [1, 1, 0])
    assert info["nodes"]["z"] | {"step": 0} == {"count": 231, "first": -5.75, "last": 5.75,
                                                "step": 0, "uniform": True}
    assert info["components"]["Ez"]["max"] == pytest.approx(1e4)
    assert info["components"]["By"]["min"] < 0 == info["components"]["Ex"]["max"]
    assert info["units"] == {"length": "cm", "E": "V/cm", "B": "gauss"}
    by = info["components"]["By"]
    assert (by["unit"], by["min_at"], by["min_at_cm"]) == ("gauss", [10, 0, 0], [2.0, 0.0, -5.75])
    assert info["axis_Ez_peak"]["value"] == pytest.approx(1e4)
    assert info["file_size"] == info["implied_size"] == 1343804


def test_info_without_an_axis_node_line(small_map, capsys):
    assert main(["info", "--json", str(small_map)]) == 0
    assert "axis_Ez_peak" not in json.loads(capsys.readouterr().out)
