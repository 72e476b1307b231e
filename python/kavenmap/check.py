"""Faraday's and Ampere's laws over the whole map.

The map holds E at its peak and B a quarter period later: E(t) = E cos(w t),
B(t) = B sin(w t). Maxwell's equations then ask, node by node,

    curl E = -w B           (Faraday)
    curl B = -(w / c^2) E   (Ampere, in vacuum)

and a map whose B was written a quarter period *before* E satisfies both with
the opposite sign. Both laws are tested at every interior node with central
differences, and each is reduced to one correlation between the two sides,
c = <curl, rhs> / (|curl| |rhs|) over all interior nodes and components
(-1 for the map's convention, +1 for B reversed), and a relative residual
|curl + rhs| / |rhs| (small for the map's convention at the right frequency).
"""

from __future__ import annotations

import math

import numpy as np

from .analysis import C_LIGHT
from .reader import FieldMap, MapError

# With lengths in cm, E in V/cm and B in gauss:
#   curl E [V/cm^2] = -w [1/s] B [gauss] * FARADAY,  1 gauss = 1e-4 T, 1 V/cm^2 = 1e4 V/m^2
#   curl B [gauss/cm] = -w / c^2 [s/m^2] E [V/cm] * AMPERE
FARADAY = 1e-8
AMPERE = 1e4
# A law is clear when |c| reaches this; the README gives the measurements.
CLEAR = 0.9
# z slices per block: bounds the memory of the differences on long maps.
BLOCK = 256

VERDICT_OK = "B a quarter period after E"
VERDICT_REVERSED = "B reversed"
FIGURE = "maxwell_residual.png"


def z_span(m: FieldMap) -> int:
    """Nodes on either side of the z differences: a span close to the
    transverse step, so that the rounding noise of a finely sampled z axis
    is not differentiated over a tiny step."""
    h = min(float(np.min(np.diff(m.x))), float(np.min(np.diff(m.y))))
    hz = float(np.max(np.diff(m.z)))
    return max(1, min(int(round(h / hz)), (m.counts[2] - 1) // 2))


def _curl(fx, fy, fz, x, y, z, s):
    """Central-difference curl at the interior nodes of a block (nx, ny, nz):
    nodes 1 .. n-2 along x and y, s .. nz-1-s along z, the z differences taken
    between the nodes s apart on either side."""
    dx = (x[2:] - x[:-2])[:, None, None]
    dy = (y[2:] - y[:-2])[None, :, None]
    dz = (z[2 * s:] - z[:-2 * s])[None, None, :]
    zi = slice(s, len(z) - s)

    def d_dx(f):
        return (f[2:, 1:-1, zi] - f[:-2, 1:-1, zi]) / dx

    def d_dy(f):
        return (f[1:-1, 2:, zi] - f[1:-1, :-2, zi]) / dy

    def d_dz(f):
        return (f[1:-1, 1:-1, 2 * s:] - f[1:-1, 1:-1, :-2 * s]) / dz

    return (d_dy(fz) - d_dz(fy), d_dz(fx) - d_dx(fz), d_dx(fy) - d_dy(fx))


def _slice_sums(curl, rhs):
    """Per z slice: <curl, rhs>, |curl|^2, |rhs|^2 over the slice's interior nodes."""
    dot = sum(np.sum(c * r, axis=(0, 1)) for c, r in zip(curl, rhs))
    cc = sum(np.sum(c * c, axis=(0, 1)) for c in curl)
    rr = sum(np.sum(r * r, axis=(0, 1)) for r in rhs)
    return np.array([dot, cc, rr])


def _law(sums):
    """Correlation, relative residual and the least-squares factor a of
    curl = -a rhs (1 at the map's frequency), from the per-slice sums (3, slices)."""
    dot, cc, rr = (float(v) for v in sums.sum(axis=1))
    c = dot / math.sqrt(cc * rr) if cc > 0 and rr > 0 else float("nan")
    residual = math.sqrt(max(cc + 2 * dot + rr, 0.0) / rr) if rr > 0 else float("nan")
    factor = -dot / rr if rr > 0 else float("nan")
    return {"c": c, "residual": residual, "factor": factor}


def maxwell_check(m: FieldMap, frequency: float) -> dict:
    """Faraday's and Ampere's laws over the interior nodes of the map, for the
    given RF frequency (Hz)."""
    if not (math.isfinite(frequency) and frequency > 0):
        raise ValueError(f"the frequency must be a positive number of Hz, not {frequency!r}")
    if min(m.counts) < 3:
        raise MapError("{}: {} x {} x {} nodes: the curl needs at least 3 nodes along each "
                       "axis".format(m.path, *m.counts))
    omega = 2.0 * math.pi * frequency
    nz = m.counts[2]
    s = z_span(m)
    faraday, ampere = [], []
    for k0 in range(s, nz - s, BLOCK):
        k1 = min(k0 + BLOCK, nz - s)
        cut = slice(k0 - s, k1 + s)
        e = [np.asarray(m.component(n)[:, :, cut], dtype=np.float64) for n in ("Ex", "Ey", "Ez")]
        b = [np.asarray(m.component(n)[:, :, cut], dtype=np.float64) for n in ("Bx", "By", "Bz")]
        zz = m.z[cut]
        inner = (slice(1, -1), slice(1, -1), slice(s, len(zz) - s))
        faraday.append(_slice_sums(_curl(*e, m.x, m.y, zz, s),
                                   [FARADAY * omega * f[inner] for f in b]))
        ampere.append(_slice_sums(_curl(*b, m.x, m.y, zz, s),
                                  [AMPERE * omega / C_LIGHT**2 * f[inner] for f in e]))
    faraday, ampere = np.concatenate(faraday, axis=1), np.concatenate(ampere, axis=1)
    result = {"frequency": frequency, "faraday": _law(faraday), "ampere": _law(ampere),
              "z": m.z[s:nz - s].copy(), "z_span": s}
    # The map's own frequency: the two factors scale as 1/w each and reverse
    # together with B, so their product gives w without the sign of B.
    both = result["faraday"]["factor"] * result["ampere"]["factor"]
    result["map_frequency"] = frequency * math.sqrt(both) if both > 0 else None
    # Per slice, |curl + rhs| over the root mean square of |rhs| per slice.
    for name, sums in (("faraday", faraday), ("ampere", ampere)):
        scale = math.sqrt(float(np.mean(sums[2])))
        result[name]["slices"] = np.sqrt(np.maximum(sums[1] + 2 * sums[0] + sums[2], 0.0)) / scale \
            if scale > 0 else np.full(sums.shape[1], np.nan)
    result["verdict"] = verdict(result["faraday"]["c"], result["ampere"]["c"])
    return result


def verdict(c_faraday: float, c_ampere: float) -> str:
    if c_faraday <= -CLEAR and c_ampere <= -CLEAR:
        return VERDICT_OK
    if c_faraday >= CLEAR and c_ampere >= CLEAR:
        return VERDICT_REVERSED
    def text(c):
        return f"{round(c, 3) + 0.0:+.3f}"  # no -0.000
    return f"not a Maxwell field (c = {text(c_faraday)} Faraday, {text(c_ampere)} Ampere)"


def plot_residual(ax, r: dict) -> None:
    """Draws the residual of both laws per z slice into the axes ax."""
    for name, label in (("faraday", "Faraday: |curl E + w B|"), ("ampere", "Ampere: |curl B + w E / c^2|")):
        law = r[name]
        ax.semilogy(r["z"], law["slices"], ".", ms=3,
                    label=f"{label} (c = {law['c']:+.4f}, residual {law['residual']:.3g})")
    ax.set_xlabel("z (cm)")
    ax.set_ylabel("per slice, over the rms of the right side")
    ax.grid(alpha=0.3, which="both")
    ax.legend(fontsize=8, loc="best")


def save_residual(m: FieldMap, r: dict, out) -> None:
    from matplotlib.figure import Figure

    from .export import write_atomically
    fig = Figure(figsize=(7, 4), layout="constrained")
    plot_residual(fig.add_subplot(), r)
    fig.suptitle(f"Maxwell's laws over the map, f = {r['frequency']:.9g} Hz: {r['verdict']}\n"
                 f"{m.path.name}", fontsize=10)
    write_atomically(out, lambda tmp: fig.savefig(tmp, dpi=110, format="png"))


def check_text(m: FieldMap, r: dict, source: str) -> str:
    lines = [f"{m.path}: {m.counts[0]} x {m.counts[1]} x {m.counts[2]} nodes, "
             f"f = {r['frequency']:.9g} Hz ({source}); z differences over +-{r['z_span']} nodes"]
    for name, law, rhs in (("faraday", "Faraday", "curl E = -w B"),
                           ("ampere", "Ampere ", "curl B = -w E / c^2")):
        x = r[name]
        lines.append(f"  {law} {rhs:21} correlation c = {x['c']:+.6f}, "
                     f"relative residual {x['residual']:.3g}")
    mf = r["map_frequency"]
    lines.append("  frequency the map implies: " + (f"{mf:.6g} Hz" if mf else "none (the laws disagree)"))
    lines.append(r["verdict"])
    return "\n".join(lines)
