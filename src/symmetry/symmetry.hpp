// Symmetry completion: the field of a half, quarter or eighth of the
// structure mirrored onto the full grid, z centred, full-grid coordinates.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "io/list_writer.hpp"
#include "model/run_data.hpp"

namespace wk {

// Completes the field on the full grid; warns (d.warnings) of a symmetry key
// that the exported field contradicts.
void complete_symmetry(RunData& d, ListWriter& log);

// What the check of the symmetry keys needs of the exported field, gathered
// by the completion's pass over it. Components Ex, Ey, Ez, Hx, Hy, Hz.
struct ExportedPlanes {
  double peak[6] = {};         // largest |value| of each component
  double on_plane[3][6] = {};  // largest |value| on the plane x, y, z = 0 (on_plane())
};

// Offset of the first of n nodes from min to max from the plane a = 0, in
// node steps (0 for a single node).
inline double plane_offset(double min, double max, int n) {
  const double step = n > 1 ? (max - min) / (n - 1) : 0.0;
  return step > 0 ? min / step : 0.0;
}

// |value| on the plane a = 0 by linear extrapolation from the values v1 and
// v2 of the first two node planes, the first `offset` steps off the plane.
// A component that changes sign across a symmetry plane vanishes on it.
inline double on_plane(double v1, double v2, double offset) { return std::fabs(v1 - offset * (v2 - v1)); }

// The warnings, one per axis at most, about symmetry keys that the exported
// field contradicts: a key 1 or 2 whose reversed components do not vanish on
// the plane, or a key 0 on an x or y export that starts on a plane across
// which the field is mirror-symmetric. d holds the input grid's counts,
// ranges and keys.
std::vector<std::string> symmetry_plane_warnings(const RunData& d, const ExportedPlanes& seen);

}  // namespace wk
