"""What the commands compute from a map: its summary, the field on the axis
and in the plane y = 0, the figures of merit of the on-axis field, and the
comparison of two maps."""

from __future__ import annotations

import math

import numpy as np

from .reader import COMPONENTS, FORMAT_NAMES, FieldMap, unit_of

C_LIGHT = 299792458.0  # m/s
# A node lies on a plane when it is closer to it than this share of the axis span.
ON_PLANE = 1e-9
# Steps of an axis count as uniform when they differ by less than this share of the mean step.
UNIFORM = 1e-9


def node_weights(nodes: np.ndarray, v: float):
    """Linear interpolation of an axis at v: [(index, weight), ...], or None outside."""
    span = nodes[-1] - nodes[0]
    near = int(np.argmin(np.abs(nodes - v)))
    if abs(nodes[near] - v) <= ON_PLANE * span:
        return [(near, 1.0)]
    if not nodes[0] < v < nodes[-1]:
        return None
    i = int(np.searchsorted(nodes, v)) - 1
    t = (v - nodes[i]) / (nodes[i + 1] - nodes[i])
    return [(i, 1.0 - t), (i + 1, t)]


def _combine(parts):
    out = None
    for w, a in parts:
        term = np.asarray(a, dtype=np.float64) * w if w != 1.0 else np.array(a, dtype=np.float64)
        out = term if out is None else out + term
    return out


def on_axis(m: FieldMap, name: str, x: float = 0.0, y: float = 0.0):
    """The component along the axis x = y = 0 (or the line (x, y) parallel to
    it), an array over z, or None when the line lies outside the grid
    (bilinear between the nearest nodes when it is not a node line)."""
    wx, wy = node_weights(m.x, x), node_weights(m.y, y)
    if wx is None or wy is None:
        return None
    a = m.component(name)
    return _combine([(px * py, a[i, j, :]) for i, px in wx for j, py in wy])


def axis_is_node_line(m: FieldMap) -> bool:
    wx, wy = node_weights(m.x, 0.0), node_weights(m.y, 0.0)
    return wx is not None and wy is not None and len(wx) == 1 and len(wy) == 1


def in_plane_y0(m: FieldMap, name: str):
    """The component over (x, z) at y = 0, or None when y = 0 is outside the grid."""
    wy = node_weights(m.y, 0.0)
    if wy is None:
        return None
    a = m.component(name)
    return _combine([(w, a[:, j, :]) for j, w in wy])


# On-axis |Ez| within this share of its largest value counts as the peak:
# the first such node is taken, so that rounding (1e-15 between the formats
# of one run) cannot move the peak along a flat field.
PEAK_TOLERANCE = 1e-9


def axis_peak(m: FieldMap):
    """(value, z, index) of the first node of the largest |Ez| on the axis
    (within PEAK_TOLERANCE), or None."""
    ez = on_axis(m, "Ez")
    if ez is None:
        return None
    mag = np.abs(ez)
    k = int(np.argmax(mag >= mag.max() * (1 - PEAK_TOLERANCE)))
    return float(ez[k]), float(m.z[k]), k


def axis_summary(nodes: np.ndarray) -> dict:
    steps = np.diff(nodes)
    mean = (nodes[-1] - nodes[0]) / (len(nodes) - 1)
    uniform = bool(np.max(np.abs(steps - mean)) <= UNIFORM * abs(mean))
    return {"count": len(nodes), "first": float(nodes[0]), "last": float(nodes[-1]),
            "step": float(mean), "uniform": uniform}


def _extremes(a: np.ndarray):
    """Min and max with their node (i, j, k), in one pass each over the data
    as it lies in memory (x fastest)."""
    flat = np.ravel(a.T)  # no copy for a memory-mapped format-0 array
    out = []
    for pick in (np.argmin, np.argmax):
        f = int(pick(flat))
        k, j, i = np.unravel_index(f, a.T.shape)
        out.append((float(flat[f]), (int(i), int(j), int(k))))
    return out


def summary(m: FieldMap) -> dict:
    """The map's description, as `kaven-map info --json` prints it; the
    inconsistencies found are listed under 'problems'."""
    info = {
        "file": str(m.path), "format": m.format, "elen": m.elen, "aper": m.aper,
        # Node indices count from 0, as in m.Ez[i, j, k].
        "units": {"length": "cm", "E": "V/cm", "B": "gauss"},
        "keys": [int(k) for k in m.keys],
        "nodes": {a: axis_summary(v) for a, v in zip("xyz", (m.x, m.y, m.z))},
        "components": {},
        "file_size": m.file_size, "implied_size": m.implied_size(),
    }
    problems = []
    for name in COMPONENTS:
        (lo, at_lo), (hi, at_hi) = _extremes(m.component(name))
        info["components"][name] = {"min": lo, "max": hi, "unit": unit_of(name),
                                    "min_at": list(at_lo), "max_at": list(at_hi),
                                    "min_at_cm": _node(m, at_lo[::-1]), "max_at_cm": _node(m, at_hi[::-1])}
        if not (math.isfinite(lo) and math.isfinite(hi)):
            problems.append(f"{name} holds values that are not finite")
    if axis_is_node_line(m):
        # null where Ez on the axis is zero or noise (a dipole or TE mode):
        # a peak of rounding noise is no peak.
        peak = axis_peak(m)
        info["axis_Ez_peak"] = {"value": peak[0], "z": peak[1]} if axis_has_Ez(m, on_axis(m, "Ez")) else None
    problems += _grid_problems(m)
    info["problems"] = problems
    return info


def _grid_problems(m: FieldMap):
    """Disagreements of the grid with elen, aper and the symmetry keys: the
    converter's maps run x and y from -aper (0 with a key) to aper and z from
    -elen/2 (0 with a key) to elen/2."""
    out = []
    if m.format == 2:
        return out  # elen and aper were taken from the grid
    tol = 1e-6
    for axis, nodes, key, half in (("x", m.x, m.keys[0], m.aper), ("y", m.y, m.keys[1], m.aper),
                                   ("z", m.z, m.keys[2], m.elen / 2)):
        lo = 0.0 if key else -half
        if abs(nodes[0] - lo) > tol or abs(nodes[-1] - half) > tol:
            out.append(f"the {axis} nodes run from {nodes[0]:g} to {nodes[-1]:g} cm, but elen "
                       f"{m.elen:g} cm, aper {m.aper:g} cm and the {axis} key {key} ask for "
                       f"{lo:g} to {half:g} cm")
    return out


def _trapezoid(y: np.ndarray, x: np.ndarray):
    return np.sum((y[1:] + y[:-1]) * np.diff(x)) / 2


def line_voltages(m: FieldMap, frequency: float, x: float = 0.0, y: float = 0.0):
    """The complex voltages (V) along the line (x, y) parallel to z for a
    particle at the speed of light, or None when the line lies outside the
    grid: (Vz, Kx, Ky) with

        Vz = integral Ez exp(i k z) dz,
        K  = integral (E_t + c z x B~_t) exp(i k z) dz,   B~ = -i B,  k = w / c,

    so that a particle passing z = 0 at the RF phase phi (the map's E being
    E cos(w t), its B being B sin(w t)) gains Re(exp(i phi) Vz) and is
    kicked by Re(exp(i phi) K)."""
    if on_axis(m, "Ez", x, y) is None:
        return None
    z = np.asarray(m.z, dtype=np.float64) / 100.0  # m
    phase = np.exp(1j * (2.0 * math.pi * frequency / C_LIGHT) * z)
    e = {n: on_axis(m, n, x, y) * 100.0 for n in ("Ex", "Ey", "Ez")}  # V/m
    cb = {n: on_axis(m, n, x, y) * (1e-4 * C_LIGHT) for n in ("Bx", "By")}  # c B in V/m
    # z x B = (-By, Bx); with B~ = -i B: c z x B~ = (i c By, -i c Bx).
    return (complex(_trapezoid(e["Ez"] * phase, z)),
            complex(_trapezoid((e["Ex"] + 1j * cb["By"]) * phase, z)),
            complex(_trapezoid((e["Ey"] - 1j * cb["Bx"]) * phase, z)))


def _largest(m: FieldMap, names) -> float:
    return max(float(np.max(np.abs(m.component(n)))) for n in names)


def _direction(theta: float) -> str:
    """A line through the axis at theta (degrees, 0 <= theta < 180) from x."""
    if theta < 0.5 or theta > 179.5:
        return "x"
    if abs(theta - 90.0) < 0.5:
        return "y"
    return f"{theta:.1f} deg from x"


def _kick(kx: complex, ky: complex):
    """The largest transverse kick over the RF phase and the line it acts
    along (an angle in [0, 180) degrees from x): V(phi) = a cos(phi) -
    b sin(phi), a = Re K, b = Im K, traces an ellipse whose half major axis
    is the kick."""
    a = np.array([kx.real, ky.real])
    b = np.array([kx.imag, ky.imag])
    aa, bb, ab = float(a @ a), float(b @ b), float(a @ b)
    phi = 0.5 * math.atan2(-2.0 * ab, aa - bb)
    u = a * math.cos(phi) - b * math.sin(phi)
    return float(np.hypot(*u)), math.degrees(math.atan2(u[1], u[0])) % 180.0


C_B = 1e-6 * C_LIGHT  # c B in V/cm for B in gauss
# A field counts as present on the axis when its largest value there exceeds
# this share of the map's largest value (E components, resp. E and c B): a
# solver's rounding noise of 1e-3 leaves up to 1.5e-3 on the axis of the
# pillbox maps, the fields of their modes are 1 (README).
ON_AXIS = 1e-2


def beam_figures(m: FieldMap, frequency) -> dict:
    """Figures of merit on the axis for a particle at the speed of light, in V
    and rad, each None where it does not exist:

    V0 = integral |Ez| dz; W = |Vz|, the energy gain on crest; T = W / V0;
    crest_phase = -arg Vz, the RF phase (E = E cos(w t)) at which the particle
    passes z = 0 on crest; kick, the largest transverse kick over the phase,
    and kick_direction, the line it acts along ("x", "y" or "30.0 deg from x").
    T and crest_phase exist when the axis carries Ez, kick_direction when it
    carries transverse E or B."""
    out = dict.fromkeys(("V0", "W", "T", "crest_phase", "kick", "kick_direction"))
    ez = on_axis(m, "Ez")
    if ez is None:
        return out
    e_scale = _largest(m, ("Ex", "Ey", "Ez"))
    out["V0"] = float(_trapezoid(np.abs(ez) * 100.0, np.asarray(m.z) / 100.0))
    if frequency is None:
        return out
    vz, kx, ky = line_voltages(m, frequency)
    out["W"] = abs(vz)
    if axis_has_Ez(m, ez):
        out["T"] = out["W"] / out["V0"]
        out["crest_phase"] = -math.atan2(vz.imag, vz.real)
    out["kick"], theta = _kick(kx, ky)
    scale = max(e_scale, C_B * _largest(m, ("Bx", "By", "Bz")))
    if out["kick"] > 0 and np.max(axis_transverse(m)) > ON_AXIS * scale:
        out["kick_direction"] = _direction(theta)
    return out


def axis_has_Ez(m: FieldMap, ez) -> bool:
    """Whether Ez on the axis (the array over z) is a field rather than zero
    or noise, by its size against the map's largest E component."""
    return float(np.max(np.abs(ez))) > ON_AXIS * _largest(m, ("Ex", "Ey", "Ez"))


def axis_transverse(m: FieldMap) -> np.ndarray:
    """|(Ex, Ey, c Bx, c By)| on the axis over z, in V/cm."""
    parts = (("Ex", 1.0), ("Ey", 1.0), ("Bx", C_B), ("By", C_B))
    return np.sqrt(sum((on_axis(m, n) * f) ** 2 for n, f in parts))


def compare(a: FieldMap, b: FieldMap, rtol: float, atol: float) -> dict:
    """Headers, grids and, when the grids agree in their counts, per component
    the largest absolute and relative differences. A value pair is within
    tolerance when |A - B| <= atol + rtol * max(|A|, |B|)."""
    header = []
    for what, va, vb in (("element length (cm)", a.elen, b.elen), ("aperture (cm)", a.aper, b.aper)):
        if not math.isclose(va, vb, rel_tol=1e-12, abs_tol=1e-9):
            header.append(f"{what}: {va!r} against {vb!r}")
    if tuple(a.keys) != tuple(b.keys):
        header.append(f"symmetry keys: {' '.join(map(str, a.keys))} against {' '.join(map(str, b.keys))}")
    grid = []
    if a.counts != b.counts:
        grid.append("nodes: {} x {} x {} against {} x {} x {}".format(*a.counts, *b.counts))
    else:
        for axis, na, nb in zip("xyz", (a.x, a.y, a.z), (b.x, b.y, b.z)):
            d = np.abs(na - nb)
            i = int(np.argmax(d))
            if d[i] > 1e-6:
                grid.append(f"{axis} nodes differ by up to {d[i]:.3g} cm (node {i + 1}: {na[i]!r} "
                            f"against {nb[i]!r})")
    result = {"header": header, "grid": grid, "components": {}, "within": not (header or grid)}
    if a.counts != b.counts:
        return result
    for name in COMPONENTS:
        fa = np.ravel(a.component(name).T)
        fb = np.ravel(b.component(name).T)
        diff = np.abs(fa - fb)
        scale = np.maximum(np.abs(fa), np.abs(fb))
        f_abs = int(np.argmax(diff))
        with np.errstate(invalid="ignore", divide="ignore"):
            rel = np.where(scale > 0, diff / scale, 0.0)
        f_rel = int(np.argmax(rel))
        ok = bool(np.all(diff <= atol + rtol * scale))
        shape = a.component(name).T.shape
        result["components"][name] = {
            "max_abs": float(diff[f_abs]), "abs_at": _node(a, np.unravel_index(f_abs, shape)),
            "max_rel": float(rel[f_rel]), "rel_at": _node(a, np.unravel_index(f_rel, shape)),
            "within": ok,
        }
        result["within"] &= ok
    return result


def _node(m: FieldMap, kji):
    k, j, i = (int(v) for v in kji)
    return [float(m.x[i]), float(m.y[j]), float(m.z[k])]


def format_name(m: FieldMap) -> str:
    return f"format {m.format} ({FORMAT_NAMES[m.format]})"


__all__ = ["summary", "compare", "beam_figures", "line_voltages", "on_axis", "in_plane_y0", "axis_peak",
           "node_weights", "unit_of"]
