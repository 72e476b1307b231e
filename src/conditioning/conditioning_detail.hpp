// Internals of the field conditioning shared by its source files and its
// tests; not part of the subsystem's face.
#pragma once

#include <cstddef>

#include "model/run_data.hpp"

namespace wk::detail {

// The block separator of the log.
inline constexpr const char* kDashes = " ------------------------------ ";

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
void format_slice_line(int iz, double zz, double I_H, double I_E, double ratio, char* dst);

// Fortran-style numeric fields, right-aligned, filled with asterisks when the
// value does not fit. A minus sign is written only for values below zero (so
// -0.0 looks like 0.0, while -1e-9 is -0.000000 in F14.6). A NaN is written
// as "NaN", an infinity as "Infinity" or "-Infinity", right-aligned.
void format_I5(int v, char* dst);          // 5 characters
void format_F14_6(double v, char* dst);    // 14 characters, 6 decimals
// 14 characters: mantissa 0.dddddd, then E and a signed 2-digit exponent, or,
// for exponents beyond two digits, the signed 3-digit exponent without the E.
void format_E14_6(double v, char* dst);

}  // namespace wk::detail
