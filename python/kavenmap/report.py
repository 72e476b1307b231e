"""The report of a run folder: figures of the map and of the log's Maxwell
check, figures of merit of the on-axis field, and report.json."""

from __future__ import annotations

import json
import textwrap
from pathlib import Path

import numpy as np
from matplotlib.figure import Figure

from .analysis import axis_peak, figures_of_merit, in_plane_y0, on_axis
from .reader import FieldMap, KavenMapError, read_map
from .runlog import LOG_NAME, case_title, read_log, run_mismatch

FIGURES = ("axis_Ez.png", "maxwell_ratio.png", "Ez_xz.png", "transverse.png")


def _title(fig: Figure, what: str, name: str, case: str) -> None:
    sub = f"{name}: {case}" if case else name
    width = int(fig.get_figwidth() * 10)  # characters that fit at this font size
    fig.suptitle(what + "\n" + textwrap.shorten(sub, width, placeholder=" ..."), fontsize=11)


def _figure():
    fig = Figure(figsize=(7, 4), layout="constrained")
    return fig, fig.add_subplot()


def _finish(fig, ax, labels, what, name, case, out, grid=True):
    ax.set_xlabel(labels[0])
    ax.set_ylabel(labels[1])
    if grid:
        ax.grid(alpha=0.3)
    _title(fig, what, name, case)
    fig.savefig(out, dpi=110)


def plot_axis(m, ez, name, case, out):
    fig, ax = _figure()
    ax.plot(m.z, ez, color="tab:blue")
    ax.axhline(0, color="0.6", lw=0.8)
    _finish(fig, ax, ("z (cm)", "Ez on axis (V/cm)"), "On-axis Ez(z)", name, case, out)


def plot_maxwell(log, name, case, out):
    fig, ax = _figure()
    s = log.slices
    if len(s):
        z, ratio = s[:, 1], s[:, 4]
        mean = float(np.nanmean(ratio))
        side = -1.0 if mean < 0 else 1.0
        ax.axhline(mean, color="tab:green", lw=1, ls=":", label=f"mean of the slices {mean:.5g}")
        ax.plot(z, ratio, ".", ms=4, label="slice ratio I_E / I_H")
        ax.axhline(side * 1.5, color="tab:orange", ls="--", label="warning limit |ratio| = 1.5")
        ax.axhline(side * 2.0, color="tab:red", ls="--", label="stop limit |ratio| = 2")
        lo, hi = sorted((0.0, side * 2.2))
        ax.set_ylim(min(lo, np.nanmin(ratio)), max(hi, np.nanmax(ratio)))
        ax.legend(fontsize=8, loc="best")
    else:
        ax.text(0.5, 0.5, "the log has no slice lines", ha="center", transform=ax.transAxes)
    avg = log.maxwell.get("avg_rRL1")
    if avg is not None:
        ax.set_title(f"avg_rRL1 = {avg:.6g} (divided by all z nodes)", fontsize=9)
    _finish(fig, ax, ("z of the slice (cm)", "displacement current / circulation of H"),
            "Maxwell check: slice ratio", name, case, out)


def plot_xz(m, name, case, out):
    fig, ax = _figure()
    ez = in_plane_y0(m, "Ez")
    if ez is None:
        ax.text(0.5, 0.5, "y = 0 lies outside the grid", ha="center", transform=ax.transAxes)
    else:
        pc = ax.pcolormesh(m.z, m.x, ez, shading="nearest", cmap="RdBu_r",
                           vmin=-np.max(np.abs(ez)), vmax=np.max(np.abs(ez)))
        fig.colorbar(pc, ax=ax, label="Ez (V/cm)")
    _finish(fig, ax, ("z (cm)", "x (cm)"), "Ez over (x, z) at y = 0", name, case, out, grid=False)


def plot_transverse(m, k, name, case, out):
    fig = Figure(figsize=(12, 4), layout="constrained")
    X, Y = np.meshgrid(m.x, m.y, indexing="ij")
    panels = (
        ("Ez (V/cm)", m.Ez[:, :, k], None, "RdBu_r"),
        ("|E transverse| (V/cm)", np.hypot(m.Ex[:, :, k], m.Ey[:, :, k]), (m.Ex, m.Ey), "viridis"),
        ("|B transverse| (gauss)", np.hypot(m.Bx[:, :, k], m.By[:, :, k]), (m.Bx, m.By), "viridis"),
    )
    for n, (label, value, arrows, cmap) in enumerate(panels, 1):
        ax = fig.add_subplot(1, 3, n)
        value = np.asarray(value)
        if cmap == "RdBu_r":
            v = np.max(np.abs(value)) or 1.0
            pc = ax.pcolormesh(m.x, m.y, value.T, shading="nearest", cmap=cmap, vmin=-v, vmax=v)
        else:
            pc = ax.pcolormesh(m.x, m.y, value.T, shading="nearest", cmap=cmap)
        if arrows is not None and np.max(value) > 0:
            u, w = (np.asarray(c[:, :, k]) for c in arrows)
            ax.quiver(X, Y, u, w, color="white", pivot="mid")
        elif np.max(np.abs(value)) == 0:
            ax.text(0.5, 0.5, "zero in this plane", ha="center", color="white", transform=ax.transAxes)
        fig.colorbar(pc, ax=ax, label=label)
        ax.set_aspect("equal")
        ax.set_xlabel("x (cm)")
        ax.set_ylabel("y (cm)")
        ax.set_title(label.split(" (")[0], fontsize=10)
    _title(fig, f"Transverse plane at z = {m.z[k]:.4g} cm (on-axis Ez peak)", name, case)
    fig.savefig(out, dpi=110)


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
    _, z_peak, k = axis_peak(m)
    out.mkdir(parents=True, exist_ok=True)
    plot_axis(m, ez, name, case, out / FIGURES[0])
    plot_maxwell(log, name, case, out / FIGURES[1])
    plot_xz(m, name, case, out / FIGURES[2])
    plot_transverse(m, k, name, case, out / FIGURES[3])
    merit = figures_of_merit(m.z, ez, log.frequency)
    report = {
        "map": str(m.path), "case": case, "frequency": log.frequency, **merit,
        "axis_Ez_peak": {"value": float(ez[k]), "z": z_peak},
        "maxwell": {s: log.maxwell.get(s) for s in ("avg_sRL1", "avg_rRL1", "max_rRL1", "min_rRL1")},
        "sign_reversed": log.sign_reversed,
        "figures": list(FIGURES),
    }
    with open(out / "report.json", "w") as f:
        json.dump(report, f, indent=2)
        f.write("\n")
    return report


def summary_text(r: dict, out) -> str:
    mx = r["maxwell"]
    sign = {"E": "E reversed", "B": "B reversed", None: "no sign reversed"}[r["sign_reversed"]]
    lines = [
        f"{r['map']}" + (f": {r['case']}" if r["case"] else ""),
        f"  frequency              {r['frequency']:.9g} Hz",
        f"  on-axis Ez peak        {r['axis_Ez_peak']['value']:.6g} V/cm at z = {r['axis_Ez_peak']['z']:.6g} cm",
        f"  V0 = integral Ez dz    {r['V0']:.6g} V",
        f"  transit-time factor T  {r['transit_time_factor']:.6f} (particle at the speed of light)",
        f"  energy gain on crest   {r['energy_gain_on_crest']:.6g} V (V0 T)",
        f"  Maxwell check          avg_rRL1 {mx['avg_rRL1']}, max_rRL1 {mx['max_rRL1']}, {sign}",
        f"  wrote {', '.join(r['figures'])} and report.json into {out}",
    ]
    return "\n".join(lines)
