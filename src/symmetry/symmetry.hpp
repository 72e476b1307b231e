// Symmetry completion: the field of a half, quarter or eighth of the
// structure mirrored onto the full grid, z centred, full-grid coordinates.
#pragma once

#include "io/list_writer.hpp"
#include "model/run_data.hpp"

namespace wk {

void complete_symmetry(RunData& d, ListWriter& log);

}  // namespace wk
