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
// With evidence on the axis, a mean ratio below this in magnitude warns: E
// and B differ in scale (an H export in other units than A/m).
inline constexpr double kSmallRatio = 0.5;

// Ratio I_E/I_H of one slice. With I_H = 0 a slice without any current counts
// as +1 or -1 after the sign of the running sign sum, a slice with
// displacement current only as 0.
double slice_ratio(double I_H, double I_E, double running_sRL1);

// --- Faraday's law over the whole grid -----------------------------------

// Correlation of curl E with omega B over the interior nodes of the full
// grid, its relative residual, and the largest component of E.
// Reads the normalised full-grid arrays only.
RunData::Faraday check_faraday(const RunData& d);

// |c| from this bound on says clearly whether B is a quarter period after E
// (c <= -bound) or before it (c >= bound); c not a number says that there
// was nothing to compare (no interior node, no curl of E or no B).
inline constexpr double kFaradayClear = 0.9;
enum class FaradayVerdict { Compatible, Reversed, Unclear, NotMade };
FaradayVerdict judge_faraday(double c);

// --- Evidence on the axis and the choice of signs ---------------------------

// A slice of the axial check that compares both currents carries a real
// field when its on-axis |Ez| reaches this share of the largest component of
// E on the full grid; below it, Ez on the axis is a solver's noise (the
// ratio of that slice then compares noise with noise).
inline constexpr double kAxisFieldLevel = 1e-2;
bool slice_has_field(double Ez0, double E_max);

// What the sign correction does, and whether the axial and the whole-grid
// check clearly disagree. With evidence on the axis the axial check decides
// (a negative avg_sRL1 reverses E or B after the first Ez peak); without it
// a clear whole-grid verdict of reversed signs reverses B.
struct SignDecision {
  RunData::SignCorrection correction;
  bool disagree;
};
SignDecision decide_signs(bool evidence, double avg_sRL1, FaradayVerdict grid);

// Slice line of the Maxwell check, 94 characters:
//   "  iz, zz, I_H, I_E, ratio= " I5, 2X, F14.6, 2X, E14.6, 2X, E14.6, F14.6
inline constexpr std::size_t kSliceLineLength = 94;
// The fields come from io's edit descriptors (number_format.hpp).
void format_slice_line(int iz, double zz, double I_H, double I_E, double ratio, char* dst);

}  // namespace wk::conditioning_detail
