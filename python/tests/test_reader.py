import json
import math
import struct

import numpy as np
import pytest

from kavenmap import COMPONENTS, read_map
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
    for fmt, m in maps.items():
        assert m.format == fmt
        assert (m.elen, m.aper, m.keys) == (11.5, 2.0, (1, 1, 0))
        assert m.file_size == m.implied_size()
        # The text formats carry 15 to 16 significant digits.
        for a in ("x", "y", "z", *COMPONENTS):
            np.testing.assert_allclose(getattr(m, a), getattr(m0, a), rtol=1e-14, atol=0, err_msg=a)


# Damaged copies of the example map. Format 0 is taken apart into its record
# payloads here, independently of the reader, and framed again.
def records(data):
    out, pos = [], 0
    while pos < len(data):
        (n,) = struct.unpack_from("<i", data, pos)
        out.append(bytearray(data[pos + 4:pos + 4 + n]))
        pos += n + 8
    return out


def framed(payloads):
    return b"".join(struct.pack("<i", len(p)) + bytes(p) + struct.pack("<i", len(p)) for p in payloads)


def edit_records(change):
    def apply(data):
        r = records(data)
        change(r)
        return framed(r)
    return apply


def swap_x_nodes(r):
    r[2][8:16], r[2][16:24] = r[2][16:24], r[2][8:16]


def set_trailer(data):
    b = bytearray(data)
    b[48 + 4 + 88:48 + 8 + 88] = struct.pack("<i", 96)  # x nodes: 11 reals after byte 48
    return bytes(b)


def text_edit(change):
    def apply(data):
        lines = data.decode().split("\r\n")
        change(lines)
        return "\r\n".join(lines).encode()
    return apply


def replace_token(n, tok):
    def change(lines):
        words = lines[n - 1].split()
        lines[n - 1] = " ".join([tok] + words[1:])
    return change


DAMAGED = [
    # (format of the original, change, what the message says: one text or several)
    (0, lambda d: d[:-100], ("record 11 (Bz) at byte 1120176", "it is truncated")),
    (0, set_trailer, "record 3 (x nodes) at byte 48: the record's length is 88 at its start but 96 at its end"),
    (0, edit_records(lambda r: r[7].__delitem__(slice(0, 8))),
     ("record 8 (Ez)", "holds 223600 bytes, but the counts 11 x 11 x 231 need 8 x 27951 = 223608")),
    (0, edit_records(swap_x_nodes), "record 3 (x nodes) at byte 48: the nodes do not increase"),
    (0, edit_records(lambda r: r.__setitem__(11, struct.pack("<i", -98))), "not the -99 end marker"),
    (0, edit_records(lambda r: r.pop()), "without the -99 end marker"),
    (0, lambda d: d + framed([b"\0" * 4]), "12 bytes follow the -99 end marker"),
    (0, edit_records(lambda r: r[5].__setitem__(slice(0, 8), struct.pack("<d", math.nan))),
     "Ex holds values that are not finite"),
    (1, text_edit(replace_token(100, "1.2.3")), "line 100: '1.2.3' is not a real number"),
    (1, text_edit(lambda ls: ls.__setitem__(9, " ".join(ls[9].split()[:-1]))),
     "are not the nodes and the six fields of any grid"),
    (1, text_edit(lambda ls: ls.__delitem__(-2)), "the last line is not the -99 end marker"),
    (2, text_edit(lambda ls: ls.__delitem__(-2)), "the counts 11 x 11 x 231 need 2 x 27951 = 55902"),
    (2, text_edit(replace_token(7, "x")), "line 7: 'x' is not a real number"),
    (2, text_edit(lambda ls: ls.__setitem__(2, "2.0 0.0 11")), "line 3: the x nodes do not increase"),
    (None, lambda d: b"", "the file is empty"),
    (None, lambda d: b"some notes\nabout a cavity\n", "line 1: not a KAVEN field map"),
]


@pytest.mark.parametrize("fmt, change, message", DAMAGED)
def test_damaged_map_is_refused_with_its_message(example_maps, tmp_path, capsys, fmt, change, message):
    bad = tmp_path / "damaged.map"
    bad.write_bytes(change(example_maps[fmt or 0].read_bytes()))
    assert main(["info", str(bad)]) == 1
    out, err = capsys.readouterr()
    messages = (message,) if isinstance(message, str) else message
    assert err.startswith(f"kaven-map: {bad}") and all(m in err for m in messages)
    assert out == "" or "not finite" in messages[0]


def test_info_json_describes_the_example(example_maps, capsys):
    assert main(["info", "--json", str(example_maps[0])]) == 0
    info = json.loads(capsys.readouterr().out)
    assert (info["format"], info["elen"], info["aper"], info["keys"]) == (0, 11.5, 2.0, [1, 1, 0])
    assert info["nodes"]["z"] | {"step": 0} == {"count": 231, "first": -5.75, "last": 5.75,
                                                "step": 0, "uniform": True}
    assert info["components"]["Ez"]["max"] == pytest.approx(1e4)
    assert info["components"]["By"]["min"] < 0 == info["components"]["Ex"]["max"]
    assert info["axis_Ez_peak"]["value"] == pytest.approx(1e4)
    assert info["file_size"] == info["implied_size"] == 1343804


def test_info_without_an_axis_node_line(tmp_path, capsys):
    from conftest import convert
    # A full cross-section of 10 x 10 nodes has no node at x = 0, y = 0.
    path = convert(tmp_path, 0, ["--out-keys", "0,0,0", "--out-counts", "10,10,21"])
    assert main(["info", "--json", str(path)]) == 0
    assert "axis_Ez_peak" not in json.loads(capsys.readouterr().out)
