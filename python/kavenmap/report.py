"""The report of a run folder: figures of the map and of the log's Maxwell
check, figures of merit of the on-axis field, and report.json."""

from __future__ import annotations

import json
import textwrap
from pathlib import Path

import numpy as np
from matplotlib.figure import Figure

from .analysis import axis_has_Ez, axis_peak, axis_transverse, beam_figures, in_plane_y0, on_axis
from .export import write_atomically
from .reader import FieldMap, KavenMapError, read_map
from .runlog import LOG_NAME, case_title, read_log, run_mismatch

FIGURES = ("axis_Ez.png", "maxwell_ratio.png", "Ez_xz.png", "transverse.png")


def _title(fig: Figure, what: str, name: str, case: str) -> None:
    sub = f"{name}: {case}" if case else name
    width = int(fig.get_figwidth() * 11)  # characters that fit a line at this font size
    fig.suptitle(what + "\n" + textwrap.fill(sub, width), fontsize=11)


def colour_scale(values, magnitude=False):
    """Colour map and limits from the data: a diverging scale symmetric
    about 0 only for a field that changes sign, a sequential one over the
    field's own range otherwise (from 0 for a magnitude)."""
    lo, hi = float(np.min(values)), float(np.max(values))
    if magnitude:
        return "viridis", 0.0, hi if hi > 0 else 1.0
    if lo < 0 < hi:
        v = max(-lo, hi)
        return "RdBu_r", -v, v
    if lo == hi:  # one value everywhere: a range around it
        d = abs(lo) * 1e-6 or 1.0
        return "viridis", lo - d, hi + d
    return "viridis", lo, hi


def _mesh(ax, a, b, values, label, magnitude=False):
    """values over the nodes a (across) and b (up), each cell centred on its
    node and the view cut at the grid's ends."""
    cmap, vmin, vmax = colour_scale(values, magnitude)
    pc = ax.pcolormesh(a, b, values, shading="nearest", cmap=cmap, vmin=vmin, vmax=vmax)
    ax.set_xlim(a[0], a[-1])
    ax.set_ylim(b[0], b[-1])
    ax.figure.colorbar(pc, ax=ax, label=label)
    return pc


AXIS_PEAK = "first node of the on-axis |Ez| peak"


def transverse_plane(m, ez):
    """The z node of the transverse figure and what it is: the on-axis Ez
    peak, or where the axis carries no Ez, the largest transverse field on
    the axis, or else the middle of the map."""
    if axis_has_Ez(m, ez):
        return axis_peak(m)[2], AXIS_PEAK
    t = axis_transverse(m)
    if np.max(t) > 0:
        return int(np.argmax(t)), "largest transverse field on the axis"
    return len(m.z) // 2, "middle of the map, no field on the axis"


def _finite(v):
    """The report with None for every value that is not a finite number."""
    if isinstance(v, dict):
        return {k: _finite(x) for k, x in v.items()}
    if isinstance(v, (list, tuple)):
        return [_finite(x) for x in v]
    if isinstance(v, float) and not np.isfinite(v):
        return None
    return v


def draw_axis(ax, m, ez):
    ax.plot(m.z, ez, color="tab:blue")
    ax.axhline(0, color="0.6", lw=0.8)
    ax.set_xlabel("z (cm)")
    ax.set_ylabel("Ez on axis (V/cm)")
    ax.grid(alpha=0.3)


def draw_maxwell(ax, log):
    """The slice ratios as the log has them: taken before the sign
    correction, so a run that then reverses E or B shows them negative."""
    s = log.slices
    # A ratio too wide for its columns is logged as asterisks, read as NaN.
    if len(s) and np.isfinite(s[:, 4]).any():
        z, ratio = s[:, 1], s[:, 4]
        mean = float(np.nanmean(ratio))
        side = -1.0 if mean < 0 else 1.0
        ax.plot(z, ratio, ".", ms=4, label="slice ratio I_E / I_H, as logged")
        ax.axhline(mean, color="tab:green", lw=1, ls=":",
                   label=f"mean over the {np.count_nonzero(np.isfinite(ratio))} slices: {mean:.5g}")
        ax.axhline(side * 1.5, color="tab:orange", ls="--", label="warning limit |ratio| = 1.5")
        ax.axhline(side * 2.0, color="tab:red", ls="--", label="stop limit |ratio| = 2")
        lo, hi = sorted((0.0, side * 2.2))
        ax.set_ylim(min(lo, np.nanmin(ratio)), max(hi, np.nanmax(ratio)))
        ax.legend(fontsize=8, loc="best")
    else:
        ax.text(0.5, 0.5, "the log has no readable slice ratio", ha="center", transform=ax.transAxes)
    avg = log.maxwell.get("avg_rRL1")
    notes = ["ratios before the sign correction"]
    if log.sign_reversed:
        notes.append(f"the run then reversed {log.sign_reversed}")
    if avg is not None:
        # The log's average sums the slices' ratios but divides by every z
        # node of the input grid, the two end nodes without a slice included.
        notes.append(f"avg_rRL1 = {avg:.6g} (the log's): the ratios' sum over all {len(s) + 2} z nodes, "
                     "the 2 end nodes without a slice included")
    ax.set_title("\n".join(["; ".join(notes[:2]), *notes[2:]]), fontsize=8)
    ax.set_xlabel("z of the slice (cm)")
    ax.set_ylabel("displacement current / circulation of H")
    ax.grid(alpha=0.3)


def draw_xz(ax, m):
    ez = in_plane_y0(m, "Ez")
    if ez is None:
        ax.text(0.5, 0.5, "y = 0 lies outside the grid", ha="center", transform=ax.transAxes)
    else:
        _mesh(ax, m.z, m.x, ez, "Ez (V/cm)")
    ax.set_xlabel("z (cm)")
    ax.set_ylabel("x (cm)")


# A panel whose largest value is below this share of the field's peak over
# the whole map shows rounding or interpolation noise: it says so.
NOISE_SHARE = 1e-3


def draw_transverse(axes, m, k):
    """Ez, |E transverse| and |B transverse| over (x, y) at z node k."""
    X, Y = np.meshgrid(m.x, m.y, indexing="ij")
    peak = {"E": max(float(np.max(np.abs(m.component(c)))) for c in ("Ex", "Ey", "Ez")),
            "B": max(float(np.max(np.abs(m.component(c)))) for c in ("Bx", "By", "Bz"))}
    panels = (
        ("Ez", "V/cm", np.asarray(m.Ez[:, :, k]), None),
        ("|E transverse|", "V/cm", np.hypot(m.Ex[:, :, k], m.Ey[:, :, k]), (m.Ex, m.Ey)),
        ("|B transverse|", "gauss", np.hypot(m.Bx[:, :, k], m.By[:, :, k]), (m.Bx, m.By)),
    )
    for ax, (label, unit, value, arrows) in zip(axes, panels):
        _mesh(ax, m.x, m.y, value.T, f"{label} ({unit})", magnitude=arrows is not None)
        top = float(np.max(np.abs(value)))
        field_peak = peak["E" if unit == "V/cm" else "B"]
        if top == 0:
            ax.text(0.5, 0.5, "zero in this plane", ha="center", transform=ax.transAxes)
        elif top < NOISE_SHARE * field_peak:
            ax.text(0.5, 0.5, f"at most {top:.2g} {unit},\n{top / field_peak:.1e} of the map's peak:\n"
                    "noise level, no arrows", ha="center", va="center", fontsize=8,
                    transform=ax.transAxes, bbox=dict(facecolor="white", alpha=0.8))
        elif arrows is not None:
            u, w = (np.asarray(c[:, :, k]) for c in arrows)
            ax.quiver(X, Y, u, w, color="white", edgecolor="black", linewidth=0.4, pivot="mid")
        ax.set_aspect("equal")
        ax.set_xlabel("x (cm)")
        ax.set_ylabel("y (cm)")
        ax.set_title(label, fontsize=10)


def _save(fig, what, name, case, out):
    _title(fig, what, name, case)
    write_atomically(out, lambda tmp: fig.savefig(tmp, dpi=110, format="png"))


def save_figures(m, log, ez, k, plane, name, case, out):
    """The four figures of FIGURES into the folder out."""
    def figure(size=(7, 4), panels=1):
        fig = Figure(figsize=size, layout="constrained")
        axes = [fig.add_subplot(1, panels, n) for n in range(1, panels + 1)]
        return fig, axes if panels > 1 else axes[0]

    fig, ax = figure()
    draw_axis(ax, m, ez)
    what = "On-axis Ez(z)" if axis_has_Ez(m, ez) else \
        "On-axis Ez(z): zero or noise, no accelerating field on the axis"
    _save(fig, what, name, case, out / FIGURES[0])
    fig, ax = figure()
    draw_maxwell(ax, log)
    _save(fig, "Maxwell check: slice ratio", name, case, out / FIGURES[1])
    fig, ax = figure()
    draw_xz(ax, m)
    _save(fig, "Ez over (x, z) at y = 0", name, case, out / FIGURES[2])
    fig, axes = figure((12, 4.2), 3)
    draw_transverse(axes, m, k)
    _save(fig, f"Transverse plane at z = {m.z[k]:.4g} cm ({plane})", name, case, out / FIGURES[3])


def make_report(folder, out=None) -> dict:
    folder = Path(folder)
    out = Path(out) if out else folder
    log_path = folder / LOG_NAME
    if not log_path.is_file():
        raise KavenMapError(f"{folder}: no log {LOG_NAME}; give the folder of a run")
    log = read_log(log_path)
    if log.map_name is None:
        raise KavenMapError(f"{log_path}: the log names no field map (no 'Output field file name' line); "
                       "the run did not reach its output")
    if log.frequency is None:
        raise KavenMapError(f"{log_path}: no 'freq=' line")
    m: FieldMap = read_map(folder / log.map_name)
    wrong = run_mismatch(log, m)
    if wrong:
        raise KavenMapError(f"{folder}: the log and the map are not of one run: {'; '.join(wrong)}")
    case = case_title(folder)
    name = log.map_name
    ez = on_axis(m, "Ez")
    if ez is None:
        raise KavenMapError(f"{m.path}: the axis x = y = 0 lies outside the grid; no on-axis field")
    k, plane = transverse_plane(m, ez)
    out.mkdir(parents=True, exist_ok=True)
    save_figures(m, log, ez, k, plane, name, case, out)
    report = {
        "map": str(m.path), "case": case, "frequency": log.frequency,
        **beam_figures(m, log.frequency),
        "axis_Ez_peak": {"value": float(ez[k]), "z": float(m.z[k])} if plane == AXIS_PEAK else None,
        "maxwell": {s: log.maxwell.get(s) for s in ("avg_sRL1", "avg_rRL1", "max_rRL1", "min_rRL1")},
        "sign_reversed": log.sign_reversed,
        "figures": list(FIGURES),
    }
    text = json.dumps(_finite(report), indent=2, allow_nan=False) + "\n"
    write_atomically(out / "report.json", lambda tmp: Path(tmp).write_text(text))
    return report


def _value(v, fmt, unit=""):
    return "none" if v is None else f"{v:{fmt}}{unit}"


def summary_text(r: dict, out) -> str:
    mx = r["maxwell"]
    sign = {"E": "E reversed", "B": "B reversed", None: "no sign reversed"}[r["sign_reversed"]]
    peak = r["axis_Ez_peak"]
    kick = _value(r["kick"], ".6g", " V")
    crest = None if r["crest_phase"] is None else round(r["crest_phase"], 4) + 0.0  # no -0.0000
    if r["kick_direction"]:
        kick += f" along {r['kick_direction']}"
    lines = [
        f"{r['map']}" + (f": {r['case']}" if r["case"] else ""),
        f"  frequency              {r['frequency']:.9g} Hz",
        "  on-axis Ez peak        " + (f"{peak['value']:.6g} V/cm at z = {peak['z']:.6g} cm" if peak
                                     else "none: Ez on the axis is zero or noise"),
        f"  V0 = integral |Ez| dz  {_value(r['V0'], '.6g', ' V')}",
        f"  energy gain on crest W {_value(r['W'], '.6g', ' V')} (particle at the speed of light), "
        f"crest phase {_value(crest, '.4f', ' rad')}",
        f"  transit-time factor T  {_value(r['T'], '.6f')} (W / V0)",
        f"  transverse kick        {kick} (on the axis, largest over the RF phase)",
        f"  Maxwell check          avg_rRL1 {mx['avg_rRL1']}, max_rRL1 {mx['max_rRL1']}, {sign}",
        f"  wrote {', '.join(r['figures'])} and report.json into {out}",
    ]
    return "\n".join(lines)
