// The refusals of the grid scan: grids that cannot be converted into a
// correct field map, and a scale factor that would make them so.
#include <cmath>
#include <cstdint>
#include <string>

#include "field/export_grid.hpp"
#include "field/grid_scan.hpp"
#include "io/error.hpp"

namespace wk::field_detail {

namespace {

std::string grid_text(const long* n) {
  return std::to_string(n[0]) + " x " + std::to_string(n[1]) + " x " + std::to_string(n[2]);
}

// Nodes of the full grid along an axis: a mirrored axis (key 1 or 2) gains
// the mirror image of every input node but the one on the plane.
long full_count(long input_count, std::int32_t key) { return key != 0 ? 2 * input_count - 1 : input_count; }

}  // namespace

// The log block has been written already, so the user sees what was found.
void refuse_unusable_grid(const RunData& d, const ScanResult& r) {
  const std::string name = field_detail::export_name('E', d.Efile);
  const std::string file = name + ": ";
  if (r.iord == 0) {
    refuse(file + "lines 1 and 2 have the same coordinates " + field_detail::message_triple(r.first) +
           ", so the order of its points cannot be found");
  }
  // A line that is not a point ends the points (a footer may follow them);
  // a point after it means that the line is a point written wrong.
  const std::string end_line = "line " + std::to_string(r.end_line);
  if (r.point_after != 0) {
    refuse(name + ", line " + std::to_string(r.point_after) + ": a point follows " + end_line +
           ", which does not hold three numbers and so ended the points of the export; only a footer may follow "
           "them: correct " +
           end_line + " or remove it");
  }
  const char* fast = kAxisName[r.fast];
  if (r.plane_points % r.row_points != 0) {
    refuse(file + "its first plane (lines 1 to " + std::to_string(r.plane_points) + ") holds " +
           std::to_string(r.plane_points) + " points, not a whole number of rows of " + std::to_string(r.row_points) +
           " points along " + fast + "; the points do not form a regular grid");
  }
  const std::string planes = " a whole number of planes of " + std::to_string(r.plane_points) + " points (" +
                             std::to_string(r.count[r.mid]) + " rows of " + std::to_string(r.row_points) +
                             " points along " + fast + ")";
  if (r.points % r.plane_points != 0 && r.end_line != 0) {
    refuse(name + ", " + end_line + ": the line does not hold three numbers, and the " + std::to_string(r.points) +
           " points before it are not" + planes +
           ", so it is no footer: a point is written wrong there, or the "
           "export is truncated");
  }
  if (r.points % r.plane_points != 0) {
    refuse(file + std::to_string(r.points) + " data lines are not" + planes +
           "; the export is truncated or has extra lines");
  }
  // Every row ends at the same fast coordinate and every plane at the same
  // middle one, so the last point ends both; the grid's range is taken from
  // it, so a last point out of place would put every node wrong.
  const int mid = r.mid;
  const double row_tol =
      r.row_points > 1 ? std::fabs(r.row_end[r.fast] - r.first[r.fast]) / static_cast<double>(r.row_points - 1) / 4 : 0;
  const double plane_tol =
      r.count[mid] > 1 ? std::fabs(r.plane_end[mid] - r.first[mid]) / static_cast<double>(r.count[mid] - 1) / 4 : 0;
  if (!(std::fabs(r.last[r.fast] - r.row_end[r.fast]) <= row_tol) ||
      !(std::fabs(r.last[mid] - r.plane_end[mid]) <= plane_tol)) {
    refuse(file + "its last point " + field_detail::message_triple(r.last) +
           " does not end a row and a plane as the first row and plane end, at " + fast + " = " +
           field_detail::message_number(r.row_end[r.fast]) + " and " + kAxisName[mid] + " = " +
           field_detail::message_number(r.plane_end[mid]) +
           "; the grid's range is taken from the last point, so the last lines are out of order, or a line is "
           "missing or repeated near the end");
  }

  const long limit[3] = {kMaxNxy, kMaxNxy, kMaxNz};
  const std::string kaven = "the largest KAVEN grid of " + grid_text(limit);
  if (r.count[0] > limit[0] || r.count[1] > limit[1] || r.count[2] > limit[2]) {
    refuse(file + "its grid of " + grid_text(r.count) + " points is larger than " + kaven);
  }
  const std::int32_t key[3] = {d.isymX, d.isymY, d.isymZ};
  long full[3];
  for (int a = 0; a < 3; ++a) full[a] = full_count(r.count[a], key[a]);
  const std::string keys_text = "with the symmetry keys " + std::to_string(key[0]) + " " + std::to_string(key[1]) +
                                " " + std::to_string(key[2]) + " (control file line 5) ";
  if (full[0] > limit[0] || full[1] > limit[1] || full[2] > limit[2]) {
    refuse(file + keys_text + "its grid of " + grid_text(r.count) + " points completes to a full grid of " +
           grid_text(full) + " nodes, larger than " + kaven +
           " (a mirrored x or y axis admits at most 13 input nodes, a mirrored z axis 4001)");
  }
  for (int a = 0; a < 3; ++a) {
    if (full[a] < 3) {
      refuse(file + keys_text + "the full grid has " + std::to_string(full[a]) + " nodes along " + kAxisName[a] + " (" +
             std::to_string(r.count[a]) + " in the export); every axis needs at least 3 nodes");
    }
  }
  // Decreasing coordinates would give a full grid whose first node lies
  // above its last: every interpolation point would fall outside it and the
  // map would be zero everywhere.
  for (int a = 0; a < 3; ++a) {
    if (r.step[a] < 0) {
      refuse(file + "its " + kAxisName[a] + " coordinates decrease (from " + field_detail::message_number(r.first[a]) +
             " on line 1 to " + field_detail::message_number(r.last[a]) +
             " on the last line); the converter needs coordinates that increase along every axis");
    }
  }
  // Mirroring places the first exported node on the symmetry plane: an export
  // that starts off the plane would be stretched onto the wrong coordinates.
  // A first node up to a quarter step off the plane is taken to lie on it, as
  // the converter always has (stored runs rely on it; the symmetry-key check
  // finds such exports fitting their keys).
  for (int a = 0; a < 3; ++a) {
    const double spacing = (r.last[a] - r.first[a]) / static_cast<double>(r.count[a] - 1);
    if (key[a] != 0 && !(std::fabs(r.first[a]) <= spacing / 4)) {
      refuse(file + "with the symmetry key " + std::to_string(key[a]) + " of the " + kAxisName[a] +
             " axis (control file line 5) its first node must lie on the plane " + kAxisName[a] + " = 0, but lies at " +
             field_detail::message_number(r.first[a]) + " (grid step " + field_detail::message_number(spacing) + ")");
    }
  }
  // The scale is a control-file value, checked this late on purpose: the grid
  // block of the log, just written, shows the grid times this factor.
  // A zero factor would collapse the grid to one point (every step 0).
  if (d.scale == 0 || !std::isfinite(d.scale)) {
    refuse("the scale factor " + field_detail::message_number(d.scale) +
           " (control file line 13) must be a finite number other than 0");
  }
  // A negative one would turn the increasing coordinates into decreasing
  // ones: every output node would fall outside the full grid and the map
  // would be zero.
  if (d.scale < 0) {
    refuse("the scale factor " + field_detail::message_number(d.scale) +
           " (control file line 13) must be above 0: a negative factor reverses every axis of the grid");
  }
  // Within this bound, as read and scaled, the steps, the mirrored range and
  // the centred z range of the grid are all finite.
  constexpr double kLargestCoordinate = 1e300;
  for (int a = 0; a < 3; ++a) {
    const double scaled_first = r.first[a] * d.scale;
    const double scaled_last = r.last[a] * d.scale;
    if (!(std::fabs(r.first[a]) <= kLargestCoordinate && std::fabs(r.last[a]) <= kLargestCoordinate &&
          std::fabs(scaled_first) <= kLargestCoordinate && std::fabs(scaled_last) <= kLargestCoordinate)) {
      refuse(file + "its " + kAxisName[a] + " coordinates run from " + field_detail::message_number(r.first[a]) +
             " to " + field_detail::message_number(r.last[a]) + ", times the scale factor " +
             field_detail::message_number(d.scale) + " (control file line 13) from " +
             field_detail::message_number(scaled_first) + " to " + field_detail::message_number(scaled_last) +
             " cm; coordinates beyond " + field_detail::message_number(kLargestCoordinate) +
             " in magnitude, as read or scaled, leave no room for the grid's steps: check the scale factor");
    }
  }
}

}  // namespace wk::field_detail
