"""Read, check, compare, plot and export the KAVEN field maps that
wavecalc_to_kaven writes.

    from kavenmap import read_map
    m = read_map("scratch/example/eh_VRQ.#01")
    m.z, m.Ez[i, j, k]      # cm; V/cm at (m.x[i], m.y[j], m.z[k])
"""

from .reader import COMPONENTS, FieldMap, KavenMapError, MapError, read_map
from .runlog import RunLog, read_log
from .analysis import beam_figures, compare, on_axis, summary

__all__ = ["COMPONENTS", "FieldMap", "KavenMapError", "MapError", "read_map", "RunLog", "read_log",
           "compare", "beam_figures", "on_axis", "summary"]
