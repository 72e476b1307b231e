// Symmetry completion: the field of a half, quarter or eighth of the
// structure mirrored onto the full grid, z centred, full-grid coordinates.
#pragma once

#include <string>
#include <vector>

#include "io/list_writer.hpp"
#include "model/run_data.hpp"

namespace wk {

// Completes the field on the full grid; warns (d.warnings) of a symmetry key
// that the exported field contradicts.
void complete_symmetry(RunData& d, ListWriter& log);

// The warnings, one per axis at most, about symmetry keys that the exported
// field (d's input-grid arrays and ranges) contradicts: a key 1 or 2 whose
// reversed components do not vanish on the plane, or a key 0 on an x or y
// export that starts on a plane across which the field is mirror-symmetric.
// peak[0] and peak[1] are the largest |E| and |H| component of the export.
// Reads two node planes per axis.
std::vector<std::string> symmetry_plane_warnings(const RunData& d, const double peak[2]);

}  // namespace wk
