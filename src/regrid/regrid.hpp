// Regridding: second-order interpolation of the full-grid field and the
// output grid.
#pragma once

#include "io/list_writer.hpp"
#include "model/run_data.hpp"

namespace wk {

// E and B at the point (x, y, z) (cm) by second-order interpolation in the
// full-grid arrays of d; zero vectors outside the full grid. Needs at least
// three nodes on every axis of the full grid.
void EB3D_APPR(const RunData& d, double x, double y, double z, double E[3], double B[3]);

// Builds and logs the output grid and fills the output arrays, by copy when
// the output grid is the full grid, otherwise through EB3D_APPR.
void build_output_grid(RunData& d, ListWriter& log);

}  // namespace wk
