// Field input: the grid scan of the E export and the reading pass of both exports.
#pragma once

#include "io/list_writer.hpp"
#include "model/run_data.hpp"

namespace wk {

// Scans the E export for its loop order, counts, ranges and steps, refuses
// exports that cannot be converted, and writes the " Input Grid parameters " block.
void scan_input_grid(RunData& d, ListWriter& log);

// Reads the E and H exports in step into the input-grid arrays and keeps the
// largest |Ez| as read.
void read_exports(RunData& d);

}  // namespace wk
