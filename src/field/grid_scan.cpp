// The grid scan of the E export: from the coordinates alone, the order in
// which the solver wrote its points (iord), the point count along each axis,
// the first and last coordinates and the first step of each axis.
//
// The solver writes its grid in nested loops, so the coordinate that changes
// between lines 1 and 2 is the fastest; the lines up to the first change of
// either other coordinate make one row (C1 points), those up to the first
// change of the slowest coordinate one plane (C2 points), and the whole file
// N points. All coordinate comparisons are exact, on the numbers as read.
#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "field/export_grid.hpp"
#include "field/field.hpp"
#include "io/error.hpp"
#include "io/line_source.hpp"
#include "io/number_scan.hpp"

namespace wk {

namespace {

using field_detail::kAxisName;

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
void read_point(FreeFormReader& in, double* p, const std::string& why_more) {
  double v[3];
  switch (in.try_reals(v, 3)) {
    case FreeFormReader::Status::ok:
      for (int a = 0; a < 3; ++a) {
        if (!std::isfinite(v[a])) {
          const LineSource& src = in.source();
          refuse_coordinate(field_detail::export_name('E', src.path()) + ", line " +
                                std::to_string(src.line_number()),
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
      in.source().fail(quote_token(in.bad_token()) + " is not a real number");
  }
}

// The length of the line up to the end of its third number when the line
// starts with three plain reals, which a read of three numbers takes whole
// from this line; 0 otherwise.
std::size_t three_plain_reals(std::string_view line) {
  const char* p = line.data();
  const char* const end = p + line.size();
  PlainReal parts;
  for (int got = 0; got < 3; ++got) {
    while (p < end && is_separator(*p)) ++p;
    if (p == end) return 0;
    p = scan_plain_real(p, end, parts);
    if (p == nullptr) return 0;
  }
  return static_cast<std::size_t>(p - line.data());
}

// The points of scan 3: how many were read, and the last one. Only the
// last point's numbers are needed, so a line that starts with three plain
// reals (one whole read) is only checked and its text kept in case it is
// the last; any other line is read in full.
class PointCount {
 public:
  long n = 0;  // points read

  // The read that starts with `line`, just taken from in's source: false
  // when it does not succeed (the end of the file, or a line that is not
  // three numbers), which ends scan 3.
  bool take(FreeFormReader& in, std::string_view line) {
    if (take_plain(line)) return true;
    double v[3];
    if (in.try_reals_from(line, v, 3) != FreeFormReader::Status::ok) return false;
    last_[0] = v[0];
    last_[1] = v[1];
    last_[2] = v[2];
    kept_length_ = 0;
    has_last_ = true;
    ++n;
    return true;
  }

  // Counts `line` when it starts with three plain reals; false otherwise.
  bool take_plain(std::string_view line) {
    const std::size_t span = three_plain_reals(line);
    if (span == 0 || span > sizeof kept_) return false;
    std::memcpy(kept_, line.data(), span);
    kept_length_ = span;
    has_last_ = true;
    ++n;
    return true;
  }

  // The points of `later`, counted from where this count ends.
  void append(const PointCount& later) {
    n += later.n;
    if (!later.has_last_) return;
    std::memcpy(kept_, later.kept_, later.kept_length_);
    kept_length_ = later.kept_length_;
    last_[0] = later.last_[0];
    last_[1] = later.last_[1];
    last_[2] = later.last_[2];
    has_last_ = true;
  }

  // The coordinates of the last point into p, if any point was read.
  void last_point(double* p) const {
    if (!has_last_) return;
    if (kept_length_ == 0) {
      p[0] = last_[0];
      p[1] = last_[1];
      p[2] = last_[2];
      return;
    }
    TokenCursor tokens(std::string_view(kept_, kept_length_));
    std::string_view token;
    for (int a = 0; a < 3; ++a) {
      const bool read = tokens.next(token) && parse_real(token, p[a]);
      assert(read && "a plain real is a real");
      (void)read;
    }
  }

 private:
  char kept_[256];               // the three numbers of the last line checked only
  std::size_t kept_length_ = 0;  // 0 when the last point was read in full
  double last_[3] = {0, 0, 0};   // the last point read in full
  bool has_last_ = false;
};

// Scan 3 on one thread, from the current position of in's source to the
// end; true when a line that is not a point ended it before the end of the
// file.
bool count_sequentially(FreeFormReader& in, PointCount& count) {
  std::string_view line;
  while (in.source().next_line(line)) {
    if (!count.take(in, line)) return true;
  }
  return false;
}

// How scan 3 ended: the points read in all, and for a scan that a line
// which is not a point ended, that line and the first later line that
// starts with a point (line numbers of the file, 0 for none).
struct ScanEnd {
  long n = 0;
  long end_line = 0;
  long point_after = 0;
};

// The end of a scan that `src` ended at its current line, whose number
// within the file is `line_base` more than src counts.
ScanEnd ended_at_line(long n, LineSource& src, long line_base) {
  ScanEnd end;
  end.n = n;
  end.end_line = line_base + src.line_number();
  std::string_view line;
  while (src.next_line(line)) {
    if (field_detail::starts_with_point(line)) {
      end.point_after = line_base + src.line_number();
      break;
    }
  }
  return end;
}

// Below this many bytes left for scan 3, a second thread costs more than it saves.
constexpr std::uint64_t kThreadedScanBytes = std::uint64_t{1} << 22;

// The second half of the file for scan 3, counted on a thread of its own:
// from the line at `start` on, the lines that start with three plain reals,
// up to the end of the file or to the first other line.
struct SecondHalf {
  PointCount count;
  bool stopped = false;    // ended at a line that needs a full read
  std::uint64_t stop = 0;  // offset of that line
  bool failed = false;     // the file could not be read: the first half goes on alone
};

void count_second_half(InputText& text, std::uint64_t start, SecondHalf& h) {
  try {
    LineSource src(text);
    src.start_at(start);
    std::string_view line;
    while (src.next_line(line)) {
      if (!h.count.take_plain(line)) {
        h.stopped = true;
        h.stop = src.line_offset();
        return;
      }
    }
  } catch (...) {
    h.failed = true;
  }
}

// The offset of the first line that starts after byte `middle`, or the end
// of the text.
std::uint64_t line_start_after(std::string_view text, std::uint64_t middle) {
  const std::size_t nl = text.find('\n', static_cast<std::size_t>(middle));
  return nl == std::string_view::npos ? text.size() : nl + 1;
}

// Scan 3, after n points read: reads points of three numbers until a read
// does not succeed; returns how it ended and puts the coordinates of the
// last point into cur. A long file is counted from its middle
// on a second thread meanwhile: a plain line is one read, so the count of
// the plain lines from the first line past the middle adds to the count up
// to it, as long as the reads of the first half end exactly there.
ScanEnd count_to_end(InputText& text, FreeFormReader& in, long n, double* cur) {
  LineSource& src = in.source();
  PointCount count;
  count.n = n;
  const std::uint64_t size = text.text().size();
  const std::uint64_t here = src.next_offset();
  const bool long_file = size > here && size - here >= kThreadedScanBytes;
  SecondHalf half;
  std::jthread second;  // joined however this function ends
  std::uint64_t boundary = 0;
  if (long_file) {
    try {
      boundary = line_start_after(text.text(), here + (size - here) / 2);
      second = std::jthread(count_second_half, std::ref(text), boundary, std::ref(half));
    } catch (...) {
      // No second thread to be had, or no second look at the file: the
      // whole file is counted here.
    }
  }
  if (second.joinable()) {
    bool at_end = false;
    bool at_line = false;
    std::string_view line;
    while (!at_end && !at_line && src.next_offset() < boundary) {
      at_end = !src.next_line(line);
      at_line = !at_end && !count.take(in, line);
    }
    second.join();
    count.last_point(cur);
    if (at_line) return ended_at_line(count.n, src, 0);
    if (at_end) return {count.n, 0, 0};
    if (src.next_offset() == boundary && !half.failed) {
      // Every line of the second half up to where it stopped is one point.
      const long lines_before_rest = src.line_number() + half.count.n;
      count.append(half.count);
      count.last_point(cur);
      if (!half.stopped) return {count.n, 0, 0};
      // The line that ended the second half's count, and all after it, are
      // read in full here.
      LineSource rest(text);
      rest.start_at(half.stop);
      FreeFormReader rest_in(rest);
      const bool rest_at_line = count_sequentially(rest_in, count);
      count.last_point(cur);
      if (rest_at_line) return ended_at_line(count.n, rest, lines_before_rest);
      return {count.n, 0, 0};
    }
    // A read of the first half went on past the middle, or the second half
    // could not be read: the rest is counted here.
  }
  const bool at_line = count_sequentially(in, count);
  count.last_point(cur);
  if (at_line) return ended_at_line(count.n, src, 0);
  return {count.n, 0, 0};
}

std::string grid_text(const long* n) {
  return std::to_string(n[0]) + " x " + std::to_string(n[1]) + " x " + std::to_string(n[2]);
}

// Nodes of the full grid along an axis: a mirrored axis (key 1 or 2) gains
// the mirror image of every input node but the one on the plane.
long full_count(long input_count, std::int32_t key) { return key != 0 ? 2 * input_count - 1 : input_count; }

// What the scan found, in export units.
struct ScanResult {
  double first[3] = {0, 0, 0};  // coordinates of line 1
  double last[3] = {0, 0, 0};   // coordinates of the last line read
  double step[3] = {0, 0, 0};   // first change of each coordinate
  double row_end[3] = {0, 0, 0};    // the last point of the first row (line C1)
  double plane_end[3] = {0, 0, 0};  // the last point of the first plane (line C2)
  std::int32_t iord = 0;
  int fast = 0, mid = 0, slow = 0;
  long C1 = 0, C2 = 0, N = 0;  // points per row, per plane, in the file
  long count[3] = {0, 0, 0};
  long end_line = 0;     // the line, not a point, that ended scan 3 (0: the end of the file)
  long point_after = 0;  // the first later line that starts with a point (0: none)
};

void copy_point(const double* from, double* to) {
  to[0] = from[0];
  to[1] = from[1];
  to[2] = from[2];
}

void scan(InputText& e_text, ScanResult& r) {
  LineSource src(e_text);
  FreeFormReader in(src);
  double* const first = r.first;
  double* const cur = r.last;
  read_point(in, first, "the export holds no point");
  read_point(in, cur, "the export holds a single point; every axis needs at least two");
  long n = 1;

  int fast = -1;
  for (int a = 0; a < 3 && fast < 0; ++a) {
    if (cur[a] != first[a]) fast = a;
  }
  if (fast < 0) return;  // lines 1 and 2 at the same point: no order to find
  // The two other axes in x, y, z order; the first of them is tested first
  // for the middle coordinate.
  const int other1 = fast == 0 ? 1 : 0;
  const int other2 = fast == 2 ? 1 : 2;
  r.fast = fast;
  r.iord = kDigitPlace[fast];
  r.step[fast] = cur[fast] - first[fast];

  // Scan 1: to the end of the first row.
  const std::string no_row_end = std::string(kAxisName[other1]) + " and " + kAxisName[other2] +
                                 " never change, so the grid has a single point along them; every axis needs at "
                                 "least two";
  copy_point(first, r.row_end);
  while (cur[other1] == first[other1] && cur[other2] == first[other2]) {
    ++n;
    copy_point(cur, r.row_end);
    read_point(in, cur, no_row_end);
  }
  r.C1 = n;

  const int mid = cur[other1] != first[other1] ? other1 : other2;
  const int slow = mid == other1 ? other2 : other1;
  r.mid = mid;
  r.slow = slow;
  r.iord += 2 * kDigitPlace[mid];
  r.step[mid] = cur[mid] - first[mid];

  // Scan 2: to the end of the first plane.
  const std::string no_plane_end = std::string(kAxisName[slow]) +
                                   " never changes, so the grid has a single point along it; every axis needs at "
                                   "least two";
  copy_point(r.row_end, r.plane_end);
  while (cur[slow] == first[slow]) {
    ++n;
    copy_point(cur, r.plane_end);
    read_point(in, cur, no_plane_end);
  }
  r.C2 = n;

  r.iord += 3 * kDigitPlace[slow];
  r.step[slow] = cur[slow] - first[slow];

  // Scan 3: to the end of the file, or to the first line that is not three
  // numbers (a footer); the lines after it are not looked at.
  const ScanEnd end = count_to_end(e_text, in, n + 1, cur);
  r.N = end.n;
  r.end_line = end.end_line;
  r.point_after = end.point_after;
  for (int a = 0; a < 3; ++a) {
    if (!std::isfinite(cur[a])) {
      refuse_coordinate(
          field_detail::export_name('E', e_text.path()) + ": its last point (point " + std::to_string(r.N) + ")", a,
          cur[a]);
    }
  }

  r.count[fast] = r.C1;
  r.count[mid] = r.C2 / r.C1;
  r.count[slow] = r.N / r.C2;
}

// Refuses the grids that cannot be converted into a correct field map. The
// log block has been written already, so the user sees what was found.
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
           "them: correct " + end_line + " or remove it");
  }
  const char* fast = kAxisName[r.fast];
  if (r.C2 % r.C1 != 0) {
    refuse(file + "its first plane (lines 1 to " + std::to_string(r.C2) + ") holds " + std::to_string(r.C2) +
           " points, not a whole number of rows of " + std::to_string(r.C1) + " points along " + fast +
           "; the points do not form a regular grid");
  }
  const std::string planes = " a whole number of planes of " + std::to_string(r.C2) + " points (" +
                             std::to_string(r.count[r.mid]) + " rows of " + std::to_string(r.C1) + " points along " +
                             fast + ")";
  if (r.N % r.C2 != 0 && r.end_line != 0) {
    refuse(name + ", " + end_line + ": the line does not hold three numbers, and the " + std::to_string(r.N) +
           " points before it are not" + planes + ", so it is no footer: a point is written wrong there, or the "
           "export is truncated");
  }
  if (r.N % r.C2 != 0) {
    refuse(file + std::to_string(r.N) + " data lines are not" + planes + "; the export is truncated or has extra lines");
  }
  // Every row ends at the same fast coordinate and every plane at the same
  // middle one, so the last point ends both; the grid's range is taken from
  // it, so a last point out of place would put every node wrong.
  const int mid = r.mid;
  const double row_tol = r.C1 > 1 ? std::fabs(r.row_end[r.fast] - r.first[r.fast]) / static_cast<double>(r.C1 - 1) / 4 : 0;
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
  for (int a = 0; a < 3; ++a) {
    const double spacing = (r.last[a] - r.first[a]) / static_cast<double>(r.count[a] - 1);
    if (key[a] != 0 && !(std::fabs(r.first[a]) <= spacing / 4)) {
      refuse(file + "with the symmetry key " + std::to_string(key[a]) + " of the " + kAxisName[a] +
             " axis (control file line 5) its first node must lie on the plane " + kAxisName[a] +
             " = 0, but lies at " + field_detail::message_number(r.first[a]) + " (grid step " +
             field_detail::message_number(spacing) + ")");
    }
  }
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

}  // namespace

void scan_input_grid(RunData& d, ListWriter& log, ExportTexts& exports) {
  ScanResult r;
  scan(exports.e(), r);

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
  log.record(" ------------------------------ ");

  refuse_unusable_grid(d, r);
}

}  // namespace wk
