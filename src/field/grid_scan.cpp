// The grid scan of the E export: from the coordinates alone, the order in
// which the solver wrote its points (iord), the point count along each axis,
// the first and last coordinates and the first step of each axis.
//
// The solver writes its grid in nested loops, so the coordinate that changes
// between lines 1 and 2 is the fastest; the lines up to the first change of
// either other coordinate make one row (C1 points), those up to the first
// change of the slowest coordinate one plane (C2 points), and the whole file
// N points. Coordinates are compared on the numbers as read; a change of
// another coordinate within a row (or plane) that is smaller than half a step
// of the coordinates already found does not end it.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include "field/export_grid.hpp"
#include "field/field.hpp"
#include "field/grid_scan.hpp"
#include "io/error.hpp"
#include "io/line_source.hpp"

namespace wk {

namespace field_detail {

namespace {

// Weight of each axis's digit in iord: hundreds x, tens y, units z.
constexpr std::int32_t kDigitPlace[3] = {100, 10, 1};

[[noreturn]] void refuse_coordinate(const std::string& where, int axis, double v) {
  refuse(where + ": the value of " + kAxisName[axis] + " is " + field_detail::message_number(v) +
         "; a coordinate must be a finite number");
}

// Reads the first three numbers of the next line into p. The end of the
// file ends the run with `why_more` telling the user what was still missing;
// a coordinate that is not finite is refused, since no comparison of
// coordinates could then find the loop order.
void read_point(FreeFormReader& in, double* p, const std::string& why_more, int* digit_exp = nullptr) {
  double v[3];
  switch (in.try_reals(v, 3, digit_exp)) {
    case FreeFormReader::Status::ok:
      for (int a = 0; a < 3; ++a) {
        if (!std::isfinite(v[a])) {
          const LineSource& src = in.source();
          refuse_coordinate(field_detail::export_name('E', src.path()) + ", line " + std::to_string(src.line_number()),
                            a, v[a]);
        }
        p[a] = v[a];
      }
      return;
    case FreeFormReader::Status::end_of_file: {
      const LineSource& src = in.source();
      file_error(src.unit(), src.path(), 0,
                 "unexpected end of file after line " + std::to_string(src.line_number()) + ": " + why_more);
    }
    case FreeFormReader::Status::bad_value:
    case FreeFormReader::Status::decimal_comma:
      in.source().fail(not_a_real(in.bad_token()));
  }
}

void copy_point(const double* from, double* to) {
  to[0] = from[0];
  to[1] = from[1];
  to[2] = from[2];
}

void copy_digits(const int* from, int* to) {
  to[0] = from[0];
  to[1] = from[1];
  to[2] = from[2];
}

}  // namespace

bool scan(InputText& e_text, ScanResult& r, const std::function<AheadRead(ScanResult&)>& ahead) {
  LineSource src(e_text);
  FreeFormReader in(src);
  double* const first = r.first;
  double* const cur = r.last;
  read_point(in, first, "the export holds no point", r.first_digit);
  r.first_offset = src.line_offset();
  read_point(in, cur, "the export holds a single point; every axis needs at least two", r.last_digit);
  r.second_line = src.line_offset();
  long n = 1;

  int fast = -1;
  for (int a = 0; a < 3 && fast < 0; ++a) {
    if (cur[a] != first[a]) fast = a;
  }
  if (fast < 0) return true;  // lines 1 and 2 at the same point: no order to find
  // The two other axes in x, y, z order; the first of them is tested first
  // for the middle coordinate.
  const int other1 = fast == 0 ? 1 : 0;
  const int other2 = fast == 2 ? 1 : 2;
  r.fast = fast;
  r.iord = kDigitPlace[fast];
  r.step[fast] = cur[fast] - first[fast];

  // Scan 1: to the end of the first row, where another coordinate changes.
  // A line inside the row whose other coordinates differ from the first
  // line's by less than half the fast step, while its fast coordinate is
  // not back at the row's start, does not end the row: such a coordinate is
  // printed otherwise or lies off the uniform grid, and the reading pass
  // judges it by its distance from its node.
  const std::string no_row_end = std::string(kAxisName[other1]) + " and " + kAxisName[other2] +
                                 " never change, so the grid has a single point along them; every axis needs at "
                                 "least two";
  const auto change = [&](int axis) { return std::fabs(cur[axis] - first[axis]); };
  const double half_fast = std::fabs(r.step[fast]) / 2;
  const auto row_ends = [&] {
    const double changed = std::max(change(other1), change(other2));
    return changed > 0 && (change(fast) <= half_fast || changed > half_fast);
  };
  copy_point(first, r.row_end);
  copy_digits(r.first_digit, r.row_end_digit);
  while (!row_ends()) {
    ++n;
    copy_point(cur, r.row_end);
    copy_digits(r.last_digit, r.row_end_digit);
    read_point(in, cur, no_row_end, r.last_digit);
  }
  r.row_points = n;

  // The coordinate that changes is the middle one; of two that both change,
  // the one that changes more (the other is only printed otherwise).
  const double change1 = change(other1);
  const double change2 = change(other2);
  const int mid = change1 != 0 && (change2 == 0 || change1 >= change2) ? other1 : other2;
  const int slow = mid == other1 ? other2 : other1;
  r.mid = mid;
  r.slow = slow;
  r.iord += 2 * kDigitPlace[mid];
  r.step[mid] = cur[mid] - first[mid];

  // Scan 2: to the end of the first plane.
  const std::string no_plane_end = std::string(kAxisName[slow]) +
                                   " never changes, so the grid has a single point along it; every axis needs at "
                                   "least two";
  // Likewise the plane ends where the slow coordinate changes, with the
  // other two back at the plane's start or by more than half their steps.
  const double half_mid = std::fabs(r.step[mid]) / 2;
  const auto plane_ends = [&] {
    const double changed = change(slow);
    return changed > 0 &&
           ((change(fast) <= half_fast && change(mid) <= half_mid) || changed > std::min(half_fast, half_mid));
  };
  copy_point(r.row_end, r.plane_end);
  copy_digits(r.row_end_digit, r.plane_end_digit);
  while (!plane_ends()) {
    ++n;
    copy_point(cur, r.plane_end);
    copy_digits(r.last_digit, r.plane_end_digit);
    read_point(in, cur, no_plane_end, r.last_digit);
  }
  r.plane_points = n;
  r.second_plane = src.line_offset();

  r.iord += 3 * kDigitPlace[slow];
  r.step[slow] = cur[slow] - first[slow];

  // Scan 3: to the end of the file, or to the first line that is not three
  // numbers (a footer); the lines after it are not looked at. A reading of
  // the whole export that begins here may do it on the way.
  const AheadRead read = ahead ? ahead(r) : AheadRead::not_begun;
  if (read == AheadRead::text_used) return false;
  if (read == AheadRead::not_begun) {
    const ScanEnd end = count_to_end(e_text, in, n + 1, cur, r.last_digit);
    r.points = end.n;
    r.end_line = end.end_line;
    r.point_after = end.point_after;
  }
  for (int a = 0; a < 3; ++a) {
    if (!std::isfinite(cur[a])) {
      refuse_coordinate(
          field_detail::export_name('E', e_text.path()) + ": its last point (point " + std::to_string(r.points) + ")",
          a, cur[a]);
    }
  }

  r.count[fast] = r.row_points;
  r.count[mid] = r.plane_points / r.row_points;
  r.count[slow] = r.points / r.plane_points;
  return true;
}

}  // namespace field_detail

void scan_input_grid(RunData& d, ListWriter& log, Exports& exports) {
  field_detail::ScanResult r;
  const auto ahead = [&](field_detail::ScanResult& scanned) { return field_detail::read_ahead(d, exports, scanned); };
  if (!field_detail::scan(exports.e(), r, ahead)) {
    // The reading that began gave back text that the scan still needs.
    exports.reopen();
    r = field_detail::ScanResult();
    field_detail::scan(exports.e(), r);
  }
  for (int a = 0; a < 3; ++a) {
    exports.scanned.first[a] = r.first[a];
    exports.scanned.last[a] = r.last[a];
    exports.scanned.first_digit[a] = r.first_digit[a];
    exports.scanned.last_digit[a] = r.last_digit[a];
  }

  d.iord = r.iord;
  d.Nix = static_cast<std::int32_t>(r.count[0]);
  d.Niy = static_cast<std::int32_t>(r.count[1]);
  d.Niz = static_cast<std::int32_t>(r.count[2]);
  // Ranges and steps in cm: the first line gives the minima and the last line
  // read the maxima, whatever their order of size.
  d.Ximin = r.first[0] * d.scale;
  d.Ximax = r.last[0] * d.scale;
  d.Yimin = r.first[1] * d.scale;
  d.Yimax = r.last[1] * d.scale;
  d.Zimin = r.first[2] * d.scale;
  d.Zimax = r.last[2] * d.scale;
  d.dXi = r.step[0] * d.scale;
  d.dYi = r.step[1] * d.scale;
  d.dZi = r.step[2] * d.scale;

  log.record(" Input Grid parameters ");
  log.record(" Ximin, Ximax, dXi, Nix = ", d.Ximin, d.Ximax, d.dXi, d.Nix);
  log.record(" Yimin, Yimax, dYi, Niy = ", d.Yimin, d.Yimax, d.dYi, d.Niy);
  log.record(" Zimin, Zimax, dZi, Niz = ", d.Zimin, d.Zimax, d.dZi, d.Niz);
  log.record(" iord= ", d.iord);
  log.record(kLogSeparator);

  field_detail::refuse_unusable_grid(d, r);
}

}  // namespace wk
