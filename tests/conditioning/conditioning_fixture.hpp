// Small full grids with hand-made fields, and a log captured as lines.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "io/error.hpp"
#include "io/list_writer.hpp"
#include "model/run_data.hpp"

namespace wk::test {

// One axis of a full grid: n nodes from first in steps of step.
struct Axis {
  int n;
  double first;
  double step;
};

// Sizes the six full-grid arrays (all zero) and sets counts, node
// coordinates and limits.
void make_grid(RunData& d, Axis x, Axis y, Axis z);

// The run constants for a frequency of freq Hz, computed as the control-file
// phase computes them.
void set_constants(RunData& d, double freq);

// Sets every node of a to f(x, y, z).
void fill(FieldArray& a, const RunData& d, const std::function<double(double, double, double)>& f);

// The log written by body, split into lines without their CR LF, and the
// stop or error that ended body, if any.
struct Captured {
  std::vector<std::string> lines;
  std::optional<RunError> error;
};
Captured capture_log(const std::function<void(ListWriter&)>& body);

}  // namespace wk::test
