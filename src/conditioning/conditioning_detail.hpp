// Internals of the field conditioning shared by its source files and its
// tests; not part of the subsystem's face.
#pragma once

#include <cstddef>

#include "model/run_data.hpp"

namespace wk::conditioning_detail {

// Ez (in the units the arrays hold) on the axis x = y = 0 at height z (cm);
// 0 where the axis lies outside the full grid.
double axis_Ez(const RunData& d, double z);

// --- Maxwell check ---------------------------------------------------------

// What the mean ratio of the Maxwell check leads to.
enum class RatioVerdict { Accept, Warn, Stop };

// |avg_rRL1| > 2 stops the run, > 1.5 warns; both bounds are strict. A mean
// that is not a number means the check could not be made: it stops as well.
RatioVerdict judge_ratio(double avg_rRL1);

// Ratio I_E/I_H of one slice. With I_H = 0 a slice without any current counts
// as +1 or -1 after the sign of the running sign sum, a slice with
// displacement current only as 0.
double slice_ratio(double I_H, double I_E, double running_sRL1);

// Slice line of the Maxwell check, 94 characters:
//   "  iz, zz, I_H, I_E, ratio= " I5, 2X, F14.6, 2X, E14.6, 2X, E14.6, F14.6
inline constexpr std::size_t kSliceLineLength = 94;
// The fields come from io's edit descriptors (number_format.hpp).
void format_slice_line(int iz, double zz, double I_H, double I_E, double ratio, char* dst);

}  // namespace wk::conditioning_detail
