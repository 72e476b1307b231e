// The reading pass: the E and H exports read point by point into the
// input-grid arrays, in the loop order the grid scan found.
//
// The two files are independent, so each is read on a thread of its own
// (E on the calling thread, H on a second one), each from its own text,
// whose memory is given back behind the reading. The run still fails
// exactly as a reader taking one E line and then one H line would: every
// error is tagged with its point number, the smaller number wins and E wins
// a tie. A reader that fails lowers a shared mark, and
// the other stops once it is past that mark, since nothing it could still
// find there would be reported.
//
// Every line is checked before its values count: it must hold as many
// numbers as the export's first data line (a blank inside a number, or a
// lost one, would shift the columns), and every number must be finite. An
// E line's coordinates must lie on the uniform grid: off their node by no
// more than what their printed digits and those of the range's ends cannot
// resolve, plus 1e-3 of the grid step (never half a step). An H line's must
// lie within a quarter step of its node (a missing, repeated or shuffled
// line moves them by a whole step), or within that rule when it is wider,
// and as near the E line's; beyond the E line's digits, theirs and 1e-3 of a
// step they are reported in a warning, H being taken at E's points. The
// nodes come from the scanned range, first + (n-1) * (last-first) /
// (count-1), not from the first step, which a six-digit print of the
// coordinates can make wrong by a few percent over 8000 nodes.
//
// With real and imaginary parts, an E export whose imaginary parts reach
// 1e-2 of its real parts carries a mode at a phase other than 0: the map,
// which holds the real parts, is then cos(phase) of the field (warned).
//
// Before the points, the H export must have the E export's columns (see
// line_layout.cpp). After them: no further point may follow in either file,
// and neither field may be 0 at every node.
#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <memory>
#include <cmath>
#include <exception>
#include <string>
#include <vector>

#include "field/export_grid.hpp"
#include "field/grid_scan.hpp"
#include "field/field.hpp"
#include "io/error.hpp"
#include "io/line_source.hpp"
#include "io/number_scan.hpp"
#include "io/two_threads.hpp"

namespace wk {

namespace {

using field_detail::half_unit;
using field_detail::kAxisName;
using field_detail::kOffUniform;
using field_detail::LoopOrder;
using field_detail::message_number;
using field_detail::message_triple;
using field_detail::starts_with_point;

// Points between two looks at the other reader's failure mark.
constexpr long kStopCheckEvery = 4096;

// The largest |Im E| against the largest |Re E| above which a mode is taken
// to carry a phase: the solvers' exports of modes at phase 0 show some 1e-3.
constexpr double kPhaseRatio = 1e-2;

// The input grid in export units (before scale), with the tolerances of the
// coordinate checks.
struct Grid {
  LoopOrder order;
  int count[3] = {0, 0, 0};
  std::vector<double> node[3];     // node coordinates along x, y, z
  double step[3] = {0, 0, 0};      // the uniform grid step
  double per_step[3] = {0, 0, 0};  // 1 / step, or 0 when step is 0
  double tol[3] = {0, 0, 0};       // a quarter of the grid step
  // What the digits of the range's ends leave open of a node's place, plus
  // kOffUniform steps; and half a step, beyond which a point lies as near
  // another node.
  double uniform_tol[3] = {0, 0, 0};
  double half_step[3] = {0, 0, 0};
};

void build_grid(const int* count, const Exports::Range& range, const LoopOrder& order, Grid& g) {
  g.order = order;
  g.count[0] = count[0];
  g.count[1] = count[1];
  g.count[2] = count[2];
  for (int a = 0; a < 3; ++a) {
    const int count = g.count[a];
    const double first = range.first[a];
    const double last = range.last[a];
    g.node[a].assign(static_cast<std::size_t>(count), 0.0);
    for (int n = 1; n <= count; ++n) {
      g.node[a][static_cast<std::size_t>(n - 1)] = count > 1 ? first + (n - 1) * (last - first) / (count - 1) : first;
    }
    g.step[a] = count > 1 ? std::fabs(last - first) / (count - 1) : 0.0;
    g.per_step[a] = g.step[a] > 0 ? 1 / g.step[a] : 0.0;
    g.tol[a] = g.step[a] / 4;
    g.half_step[a] = g.step[a] / 2;
    // A node between the ends is known as well as the coarser of them.
    g.uniform_tol[a] = std::min(
        half_unit(std::max(range.first_digit[a], range.last_digit[a])) + kOffUniform * g.step[a], g.half_step[a]);
  }
}

// One export being read, with what its reading found.
struct Reader {
  LineSource* src = nullptr;
  char field = 'E';      // 'E' or 'H'
  int values = 6;        // numbers per line
  int first_stored = 3;  // index of the x component kept
  FieldArray* out[3] = {nullptr, nullptr, nullptr};
  bool track_ez = false;  // keeps the largest |Ez| and the largest |Re E|, |Im E| (the E export)
  bool uniform = false;   // holds the coordinates to the uniform grid (the E export), not to a quarter step
  int numbers = 6;        // numbers on the export's first data line
  long first_line = 1;    // that line
  // Per point: coordinates minus node in grid steps, within -1/2 .. 1/2
  // once checked, so that a float holds it whatever the export's units.
  std::vector<float, UnsetAllocator<float>> dev;
  // The largest exponent of a coordinate's last printed digit, per axis.
  int coarsest_digit[3] = {INT_MIN, INT_MIN, INT_MIN};

  double ez_max = 0;   // V/m
  double re_max = 0;   // largest |Re E| of a 9-column export, V/m
  double im_max = 0;   // largest |Im E|
  long failed_at = 0;  // point number of the error, 0 when none
  std::exception_ptr error;
};

std::string export_name(const Reader& r) { return field_detail::export_name(r.field, r.src->path()); }

// Name of number a (0-based) of an export line, as the line layout calls it.
std::string column_name(const Reader& r, int a) {
  if (a < 3) return kAxisName[a];
  std::string name(1, r.field);
  name += kAxisName[(a - 3) % 3];
  if (r.values == 9) name += a < 6 ? "Re" : "Im";
  return name;
}

[[noreturn]] void refuse_not_finite(const Reader& r, const double* v) {
  int a = 0;
  while (a < r.values - 1 && std::isfinite(v[a])) ++a;
  refuse(export_name(r) + ", line " + std::to_string(r.src->line_number()) + ": the value of " + column_name(r, a) +
         " is " + message_number(v[a]) +
         (a < 3 ? "; a coordinate must be a finite number" : "; the export holds a field that is not finite"));
}

[[noreturn]] void refuse_numbers(const Reader& r, int numbers) {
  refuse(export_name(r) + ", line " + std::to_string(r.src->line_number()) + ": the line holds " +
         std::to_string(numbers) + (numbers == 1 ? " number" : " numbers") + ", its first data line (line " +
         std::to_string(r.first_line) + ") " + std::to_string(r.numbers) +
         "; every data line must hold as many, or its values are taken from the wrong columns (a blank inside a "
         "number, a value missing or one too many)");
}

[[noreturn]] void refuse_off_uniform(const Reader& r, const Grid& g, const double* v, const int* idx, int a,
                                     double tol) {
  const double node = g.node[a][static_cast<std::size_t>(idx[a] - 1)];
  refuse(export_name(r) + ", line " + std::to_string(r.src->line_number()) + ": its " + kAxisName[a] + " coordinate " +
         message_number(v[a]) + " lies " + message_number(std::fabs(v[a] - node) * g.per_step[a]) +
         " grid steps from its node at " + message_number(node) + " (node (" + std::to_string(idx[0]) + ", " +
         std::to_string(idx[1]) + ", " + std::to_string(idx[2]) + ") in the loop order of the export, grid step " +
         message_number(g.step[a]) +
         "); a coordinate may lie off the uniform grid by what the printed digits cannot resolve and 1e-3 of a "
         "step, here " +
         message_number(tol * g.per_step[a]) +
         " steps: the grid is not uniform, or a line is missing, repeated or out of order");
}

[[noreturn]] void refuse_off_grid(const Reader& r, const Grid& g, const double* v, const int* idx) {
  double node[3];
  for (int a = 0; a < 3; ++a) node[a] = g.node[a][static_cast<std::size_t>(idx[a] - 1)];
  refuse(export_name(r) + ", line " + std::to_string(r.src->line_number()) + ": the point " + message_triple(v) +
         " is off the input grid: in the loop order of the export this line is node (" + std::to_string(idx[0]) + ", " +
         std::to_string(idx[1]) + ", " + std::to_string(idx[2]) + ") at " + message_triple(node) +
         ", and a point may lie at most a quarter of the grid step " + message_triple(g.tol) +
         " from its node; a line is missing, repeated or out of order");
}

[[noreturn]] void refuse_point_after_grid(const Reader& r, const Grid& g) {
  const long points = static_cast<long>(g.count[0]) * g.count[1] * g.count[2];
  refuse(export_name(r) + ", line " + std::to_string(r.src->line_number()) + ": a point follows the last of the " +
         std::to_string(points) + " points of the input grid (" + std::to_string(g.count[0]) + " x " +
         std::to_string(g.count[1]) + " x " + std::to_string(g.count[2]) +
         ", as the E export's scan found it); the export holds more points than that grid, so the E export is "
         "cut short or the two exports come from different runs");
}

// Whether an input grid of nx x ny x nz nodes fits the field arrays.
bool fits_arrays(int nx, int ny, int nz) {
  return nx >= 1 && ny >= 1 && nz >= 1 && nx <= kMaxNxy && ny <= kMaxNxy && nz <= kMaxNz;
}

// The tolerance of a coordinate printed to the digit of exponent `digit`
// along axis a: what the digits of the range's ends and its own cannot
// resolve and kOffUniform steps, never half a step.
double widened_tol(const Grid& g, int a, int digit) {
  return std::min(g.uniform_tol[a] + half_unit(digit), g.half_step[a]);
}

// Whether coordinate a of a point, `off` from its node, is close enough to
// it: for E within the uniform grid's tolerance, for H within a quarter step
// or, where wider, the same tolerance.
inline bool near_node(const Reader& r, const Grid& g, int a, double off, int digit) {
  if (std::fabs(off) <= (r.uniform ? g.uniform_tol[a] : g.tol[a])) return true;
  const double tol = widened_tol(g, a, digit);
  return (r.uniform || tol > g.tol[a]) && std::fabs(off) <= tol;
}

// Refuses the point whose coordinate a near_node did not accept.
[[noreturn]] void refuse_coordinate(const Reader& r, const Grid& g, const double* v, const int* idx, int a,
                                    int digit) {
  const double tol = widened_tol(g, a, digit);
  if (r.uniform || tol > g.tol[a]) refuse_off_uniform(r, g, v, idx, a, tol);
  refuse_off_grid(r, g, v, idx);
}

// Where a reader stores its points: its arrays, sized to the grid g (each
// reader sizes its own, so that the first touch of their memory is shared
// between the two threads too), and the strides of their nodes.
struct Placement {
  std::size_t stride[3];
  double* out[3];
};

Placement size_arrays(Reader& r, const Grid& g) {
  for (FieldArray* a : r.out) a->resize_for_overwrite(g.count[0], g.count[1], g.count[2]);
  r.dev.resize(3 * static_cast<std::size_t>(g.count[0]) * static_cast<std::size_t>(g.count[1]) *
               static_cast<std::size_t>(g.count[2]));
  const auto nx = static_cast<std::size_t>(g.count[0]);
  return {{1, nx, nx * static_cast<std::size_t>(g.count[1])}, {r.out[0]->data(), r.out[1]->data(), r.out[2]->data()}};
}

// Keeps the field values of the point at node idx: the largest |Ez| (and
// |Re E|, |Im E|) of the E export, and the stored components.
inline void keep_values(Reader& r, const double* v, const Placement& place, const int* idx) {
  if (r.track_ez) {
    if (std::fabs(v[5]) > r.ez_max) r.ez_max = std::fabs(v[5]);
    if (r.values == 9) {
      for (int c = 3; c < 6; ++c) r.re_max = std::max(r.re_max, std::fabs(v[c]));
      for (int c = 6; c < 9; ++c) r.im_max = std::max(r.im_max, std::fabs(v[c]));
    }
  }
  const std::size_t at = static_cast<std::size_t>(idx[0] - 1) * place.stride[0] +
                         static_cast<std::size_t>(idx[1] - 1) * place.stride[1] +
                         static_cast<std::size_t>(idx[2] - 1) * place.stride[2];
  place.out[0][at] = v[r.first_stored];
  place.out[1][at] = v[r.first_stored + 1];
  place.out[2][at] = v[r.first_stored + 2];
}

// Reads every point of one export in the loop order, storing its field
// components, until the end of the grid, an error, or the other reader's
// failure mark lies behind.
void read_points(Reader& r, const Grid& g, std::atomic<long>& fail_mark) {
  FreeFormReader in(*r.src);
  long point = 0;
  try {
    // Every node and every deviation is written below before anything
    // reads it (the comparison of the two exports stops before the first
    // point either side missed).
    const Placement place = size_arrays(r, g);
    const LoopOrder& o = g.order;
    float* dev = r.dev.data();
    double v[9];
    int digit[9];
    int idx[3];
    for (idx[o.slow] = 1; idx[o.slow] <= g.count[o.slow]; ++idx[o.slow]) {
      for (idx[o.mid] = 1; idx[o.mid] <= g.count[o.mid]; ++idx[o.mid]) {
        for (idx[o.fast] = 1; idx[o.fast] <= g.count[o.fast]; ++idx[o.fast]) {
          ++point;
          if (point % kStopCheckEvery == 0 && point > fail_mark.load(std::memory_order_relaxed)) return;
          const int numbers = in.line_reals(v, r.values, digit);
          if (numbers != r.numbers) refuse_numbers(r, numbers);

          bool finite = true;
          for (int a = 0; a < r.values; ++a) finite &= std::isfinite(v[a]);
          if (!finite) refuse_not_finite(r, v);
          for (int a = 0; a < 3; ++a) {
            const double off = v[a] - g.node[a][idx[a] - 1];
            if (!near_node(r, g, a, off, digit[a])) refuse_coordinate(r, g, v, idx, a, digit[a]);
            if (digit[a] > r.coarsest_digit[a]) r.coarsest_digit[a] = digit[a];
            dev[a] = static_cast<float>(off * g.per_step[a]);
          }
          dev += 3;

          keep_values(r, v, place, idx);
        }
      }
    }
    // The grid is complete: a footer may follow, a point may not.
    ++point;
    std::string_view line;
    while (r.src->next_line(line)) {
      if (starts_with_point(line)) refuse_point_after_grid(r, g);
    }
  } catch (...) {
    // A failure before the first point (no memory for the arrays) counts as
    // one at the first point.
    if (point == 0) point = 1;
    r.failed_at = point;
    r.error = std::current_exception();
    long mark = fail_mark.load();
    while (point < mark && !fail_mark.compare_exchange_weak(mark, point)) {
    }
  }
}

// Reads point n of an export again from its start, for the message of a
// failed comparison; returns the line that ended the point.
long reread_point(int unit, const std::string& path, int values, long n, double* v) {
  // The texts read are released: read the file again.
  LineSource src(unit, path, InputText::Gzip::inflate);
  FreeFormReader in(src);
  for (long p = 1; p <= n; ++p) in.reals(v, values);
  return src.line_number();
}

// Point n of both exports, read again for a message: its values in each and
// where it stands, "line N" when both exports hold it on the same line.
struct PointPair {
  double ve[9];
  double vh[9];
  std::string where;
};

PointPair reread_pair(const Reader& e, const Reader& h, long n) {
  PointPair p;
  const long line_e = reread_point(kUnitE, e.src->path(), e.values, n, p.ve);
  const long line_h = reread_point(kUnitH, h.src->path(), h.values, n, p.vh);
  p.where = line_e == line_h ? "line " + std::to_string(line_e)
                             : "point " + std::to_string(n) + " (E line " + std::to_string(line_e) + ", H line " +
                                   std::to_string(line_h) + ")";
  return p;
}

// Point n (1-based) of the two exports lies at different places.
[[noreturn]] void refuse_mismatch(const Reader& e, const Reader& h, const Grid& g, long n) {
  const PointPair p = reread_pair(e, h, n);
  refuse(export_name(e) + " and " + export_name(h) + " disagree at " + p.where + ": E point " + message_triple(p.ve) +
         ", H point " + message_triple(p.vh) + ", more than a quarter of the grid step " + message_triple(g.tol) +
         " apart; the two exports must hold the same points in the same order");
}

// Points of the two exports closer than a quarter step but further apart
// than their printed digits and kOffUniform steps.
struct Apart {
  long points = 0;  // how many
  long first = 0;   // the first of them (point number)
  int axis = 0;     // along which it lies apart first
  double by = 0;    // by how many grid steps
};

// H is taken at the E export's points, so its field is placed that far off.
void warn_apart(RunData& d, const Reader& e, const Reader& h, const Apart& apart) {
  if (apart.points == 0) return;
  const long points = static_cast<long>(e.dev.size() / 3);
  const PointPair p = reread_pair(e, h, apart.first);
  d.warnings.push_back(export_name(h) + ": " + std::to_string(apart.points) + " of its " + std::to_string(points) +
                       " points lie apart from the points of " + export_name(e) +
                       " by more than their printed digits and 1e-3 of a grid step, the first at " + p.where +
                       ": H point " + message_triple(p.vh) + ", E point " + message_triple(p.ve) + ", " +
                       short_number(apart.by) + " grid steps apart along " + kAxisName[apart.axis] +
                       "; H is taken at the E export's points");
}

// A mode exported at a phase other than 0: the map holds the real parts of
// E, cos(phase) of the field.
void warn_phase(RunData& d, const Reader& e) {
  if (!(e.im_max > kPhaseRatio * e.re_max)) return;
  const double ratio = e.im_max / e.re_max;
  const double degrees = std::atan2(e.im_max, e.re_max) * (180 / 3.141592653589793);
  d.warnings.push_back(export_name(e) + ": its imaginary parts reach " + short_number(ratio) +
                       " of its real parts (largest |Im E| " + message_number(e.im_max) + ", largest |Re E| " +
                       message_number(e.re_max) + " V/m), so the mode was exported at a phase of about " +
                       short_number(degrees) + " degrees; the map holds only the real parts, cos(phase) = " +
                       short_number(std::cos(std::atan2(e.im_max, e.re_max))) +
                       " of the field: export the mode at phase 0");
}

// Refuses a field that is 0 at every point of its export: a cavity mode has
// both an electric and a magnetic field, so one of them missing means the
// wrong file or the wrong columns.
void refuse_zero_field(const Reader& r, const char* field_name) {
  for (const FieldArray* a : r.out) {
    if (std::any_of(a->data(), a->data() + a->size(), [](double v) { return v != 0; })) return;
  }
  const int first = r.first_stored;
  std::string parts = r.values == 6 ? "the real parts, with 6 values per line"
                                    : (first == 3 ? "the real parts, with 9 values per line"
                                                  : "the imaginary parts, with 9 values per line");
  refuse(export_name(r) + ": " + r.field + " is 0 at every point in the columns read, " + std::to_string(first + 1) +
         " to " + std::to_string(first + 3) + " (" + column_name(r, first) + ", " + column_name(r, first + 1) + ", " +
         column_name(r, first + 2) + ": " + parts +
         "); a cavity mode has both an electric and a magnetic "
         "field, so the " +
         field_name +
         " is missing: check that the exports are the E and the H export of one "
         "mode, with the same columns");
}

// The two readers of a reading pass, of E's real parts and H's real parts
// (icplx 0) or imaginary parts (icplx 1), each from its source.
void set_readers(RunData& d, const field_detail::FirstLines& first_lines, LineSource& e_src, LineSource& h_src,
                 Reader& e, Reader& h) {
  const int values = d.icplx == 1 ? 9 : 6;
  e.src = &e_src;
  e.field = 'E';
  e.values = values;
  e.first_stored = 3;  // the real parts of E
  e.out[0] = &d.Exi;
  e.out[1] = &d.Eyi;
  e.out[2] = &d.Ezi;
  e.track_ez = true;
  e.uniform = true;
  e.numbers = first_lines.e_numbers;
  e.first_line = first_lines.e_line;

  h.src = &h_src;
  h.field = 'H';
  h.values = values;
  h.first_stored = values == 9 ? 6 : 3;  // the imaginary parts of H, or its real parts
  h.out[0] = &d.Hxi;
  h.out[1] = &d.Hyi;
  h.out[2] = &d.Hzi;
  h.numbers = first_lines.h_numbers;
  h.first_line = first_lines.h_line;
}

// The end of a reading pass once both readers have read what they could:
// the two exports compared point by point before the first failure, then
// that failure, fields that are 0 everywhere, and the warnings.
void finish_reading(RunData& d, const Reader& e, const Reader& h, const Grid& g, std::size_t points) {
  // The first point at which either reader failed; the two exports are
  // compared only before it.
  long limit = static_cast<long>(points) + 1;
  if (e.failed_at != 0 && e.failed_at < limit) limit = e.failed_at;
  if (h.failed_at != 0 && h.failed_at < limit) limit = h.failed_at;
  // Offsets in grid steps: more than a quarter step apart is refused, more
  // than the digits of the two and kOffUniform steps warned of.
  Apart apart;
  double allowed[3];
  for (int a = 0; a < 3; ++a) {
    allowed[a] = (half_unit(e.coarsest_digit[a]) + half_unit(h.coarsest_digit[a])) * g.per_step[a] + kOffUniform;
  }
  const float* de = e.dev.data();
  const float* dh = h.dev.data();
  for (long p = 1; p < limit; ++p, de += 3, dh += 3) {
    bool counted = false;
    for (int a = 0; a < 3; ++a) {
      const double by = std::fabs(static_cast<double>(de[a]) - static_cast<double>(dh[a]));
      if (!(by <= std::max(0.25, allowed[a]))) refuse_mismatch(e, h, g, p);
      if (by > allowed[a] && !counted) {
        counted = true;
        if (apart.points++ == 0) {
          apart.first = p;
          apart.axis = a;
          apart.by = by;
        }
      }
    }
  }
  if (e.failed_at != 0 && (h.failed_at == 0 || e.failed_at <= h.failed_at)) std::rethrow_exception(e.error);
  if (h.failed_at != 0) std::rethrow_exception(h.error);
  refuse_zero_field(e, "electric field");
  refuse_zero_field(h, "magnetic field");
  warn_phase(d, e);
  warn_apart(d, e, h, apart);

  d.Ez_max_read = e.ez_max;
}

}  // namespace

namespace field_detail {

// The reading pass begun as soon as the grid scan has found the loop order
// and the first plane, while the exports are inflated: it needs no second
// reading of the E text, which is then never whole in memory.
//
// Only the slow axis's count and range are missing then. With z slowest
// each plane lies in the arrays after the one before, however many follow;
// with x or y slowest the planes interleave, at the count the text's size
// gives (see read_ahead). So the points are stored where the reading pass
// would store them. The nodes of the two other axes are those of the first row and plane's last
// coordinates, which the last line of a regular export repeats (checked
// once it is known). The slow coordinate of every point of a plane must be
// the plane's first one, as read; each plane's is checked against its node
// at the end, and the offsets along it set then.
//
// Anything else, and any fault, ends this reading, and the exports are read
// again from their starts by the scan and the reading pass as ever: what
// this reading keeps is what they would find, faults and their order
// included, since it keeps nothing of an export that is not regular.
struct ReadAhead {
  // The slow coordinate of a plane's points, and the exponent of its last
  // printed digit.
  struct Plane {
    double v = 0;
    int digit = 0;
  };
  struct Export {
    std::unique_ptr<LineSource> src;
    Reader r;
    std::vector<Plane> planes;
    // Read to its end: one point a line, every plane whole, then the end of
    // the file or a footer (a line whose first token is no number) after
    // which no line starts with a point (of E: after which the first such
    // line is point_after).
    bool regular = false;
    long last_point_line = 0;  // the line of its last point
    long end_line = 0;         // the footer, the last of blank lines at the end, or 0
    long point_after = 0;
    double last[3] = {0, 0, 0};  // its last point, and its coordinates' last printed digits
    int last_digit[3] = {0, 0, 0};
  };
  Grid g;  // the fast and middle axes as the first plane gives them
  Export e, h;
};

void ReadAheadDeleter::operator()(ReadAhead* ahead) const { delete ahead; }

}  // namespace field_detail

namespace {

using field_detail::ReadAhead;

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Whether axis a of two grids has the same nodes and tolerances, bit for bit.
bool same_axis(const Grid& g1, const Grid& g2, int a) {
  const auto same_values = [](const std::vector<double>& x, const std::vector<double>& y) {
    return x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size() * sizeof(double)) == 0;
  };
  return g1.count[a] == g2.count[a] && same_values(g1.node[a], g2.node[a]) && same_bits(g1.step[a], g2.step[a]) &&
         same_bits(g1.per_step[a], g2.per_step[a]) && same_bits(g1.tol[a], g2.tol[a]) &&
         same_bits(g1.uniform_tol[a], g2.uniform_tol[a]) && same_bits(g1.half_step[a], g2.half_step[a]);
}

// The reading of x's points ended at a plane's start, with a read that gave
// `numbers`: a regular end at the end of the file, or at a footer after
// which no line starts with a point (of E, the first that does is kept).
void end_after_points(ReadAhead::Export& x, int numbers) {
  LineSource& src = *x.r.src;
  if (numbers == FreeFormReader::kEndOfFile) {
    x.end_line = src.line_number() > x.last_point_line ? src.line_number() : 0;
    x.regular = true;
    return;
  }
  TokenCursor tokens(src.last_line());
  std::string_view token;
  double v;
  if (numbers != FreeFormReader::kNoNumber || !tokens.next(token) || parse_real(token, v)) return;
  x.end_line = src.line_number();
  std::string_view line;
  while (src.next_line(line)) {
    if (!starts_with_point(line)) continue;
    if (x.r.field != 'E') return;
    x.point_after = src.line_number();
    break;
  }
  x.regular = true;
}

// Reads the points of one export ahead of the grid scan's end (see
// ReadAhead) until its end, anything but a regular point, or `stop`.
void read_points_ahead(ReadAhead::Export& x, const Grid& g, const std::atomic<bool>& stop) {
  Reader& r = x.r;
  try {
    FreeFormReader in(*r.src);
    const LoopOrder& o = g.order;
    const int nf = g.count[o.fast];
    const int nm = g.count[o.mid];
    // Room for as many planes as g has: along z the most an input grid may
    // have, and what is not read into is never touched.
    const Placement place = size_arrays(r, g);
    x.planes.reserve(static_cast<std::size_t>(g.count[o.slow]));
    float* dev = r.dev.data();
    const int lateral[2] = {o.fast, o.mid};
    double v[9];
    int digit[9];
    int idx[3];
    x.last_point_line = r.first_line - 1;
    for (idx[o.slow] = 1; idx[o.slow] <= g.count[o.slow]; ++idx[o.slow]) {
      if (stop.load(std::memory_order_relaxed)) return;
      for (idx[o.mid] = 1; idx[o.mid] <= nm; ++idx[o.mid]) {
        for (idx[o.fast] = 1; idx[o.fast] <= nf; ++idx[o.fast]) {
          const int numbers = in.try_line_reals(v, r.values, digit);
          const bool plane_start = idx[o.fast] == 1 && idx[o.mid] == 1;
          if (numbers != r.numbers || r.src->line_number() != x.last_point_line + 1) {
            if (plane_start && idx[o.slow] > 1) end_after_points(x, numbers);
            return;
          }
          ++x.last_point_line;
          bool finite = true;
          for (int a = 0; a < r.values; ++a) finite &= std::isfinite(v[a]);
          if (!finite) return;
          for (const int a : lateral) {
            const double off = v[a] - g.node[a][idx[a] - 1];
            if (!near_node(r, g, a, off, digit[a])) return;
            if (digit[a] > r.coarsest_digit[a]) r.coarsest_digit[a] = digit[a];
            dev[a] = static_cast<float>(off * g.per_step[a]);
          }
          if (plane_start) {
            x.planes.push_back({v[o.slow], digit[o.slow]});
          } else if (!same_bits(v[o.slow], x.planes.back().v) || digit[o.slow] != x.planes.back().digit) {
            return;
          }
          dev += 3;

          keep_values(r, v, place, idx);
        }
      }
      for (int a = 0; a < 3; ++a) {
        x.last[a] = v[a];
        x.last_digit[a] = digit[a];
      }
    }
    // As many planes as an input grid may have: a further point is the
    // grid scan's to refuse.
    end_after_points(x, in.try_line_reals(v, r.values, digit));
  } catch (...) {
    // A fault of the file: the reading from the start meets it.
    x.regular = false;
  }
}

// Checks the slow coordinate of every plane of x against its node, as the
// reading pass checks each point's, and sets the offsets along it; false
// when a plane's is off.
bool place_slow_axis(ReadAhead::Export& x, const Grid& g) {
  Reader& r = x.r;
  const int s = g.order.slow;
  const std::size_t plane_points = static_cast<std::size_t>(g.count[g.order.fast]) * g.count[g.order.mid];
  float* dev = r.dev.data() + s;
  for (std::size_t k = 0; k < x.planes.size(); ++k) {
    const ReadAhead::Plane& p = x.planes[k];
    const double off = p.v - g.node[s][k];
    if (!near_node(r, g, s, off, p.digit)) return false;
    if (p.digit > r.coarsest_digit[s]) r.coarsest_digit[s] = p.digit;
    const float at_node = static_cast<float>(off * g.per_step[s]);
    for (std::size_t n = 0; n < plane_points; ++n, dev += 3) *dev = at_node;
  }
  return true;
}

// Takes the reading done ahead when it is what the reading pass would find
// now; false when the exports are to be read again.
bool take_read_ahead(RunData& d, ReadAhead& a, const Exports::Range& scanned) {
  LoopOrder order;
  if (!a.h.regular || !field_detail::decode_loop_order(d.iord, order) || order.slow != a.g.order.slow) return false;
  if (!fits_arrays(d.Nix, d.Niy, d.Niz)) return false;
  const int count[3] = {d.Nix, d.Niy, d.Niz};
  const int s = order.slow;
  const auto planes = static_cast<std::size_t>(count[s]);
  if (a.e.planes.size() != planes || a.h.planes.size() != planes) return false;
  // The arrays' layout: the guessed count of planes along x or y, room for
  // the most along z.
  if (s != 2 && a.g.count[s] != count[s]) return false;
  Grid g;
  build_grid(count, scanned, order, g);
  if (!same_axis(g, a.g, order.fast) || !same_axis(g, a.g, order.mid)) return false;
  if (!place_slow_axis(a.e, g) || !place_slow_axis(a.h, g)) return false;
  const std::size_t points =
      static_cast<std::size_t>(d.Nix) * static_cast<std::size_t>(d.Niy) * static_cast<std::size_t>(d.Niz);
  for (Reader* r : {&a.e.r, &a.h.r}) {
    for (FieldArray* f : r->out) f->keep_planes(d.Niz);
    r->dev.resize(3 * points);
  }
  finish_reading(d, a.e.r, a.h.r, g, points);
  return true;
}

}  // namespace

namespace field_detail {

AheadRead read_ahead(RunData& d, Exports& exports, ScanResult& r) {
  if (r.row_points < 1 || r.plane_points % r.row_points != 0) return AheadRead::not_begun;
  const long max_count[3] = {kMaxNxy, kMaxNxy, kMaxNz};
  long count[3];
  count[r.fast] = r.row_points;
  count[r.mid] = r.plane_points / r.row_points;
  // With z slowest, the arrays hold room for the most planes, and what is
  // not read into is never touched. Along x or y the planes lie interleaved
  // in the arrays, so their count is told from the text's size, when the
  // first plane's lines are all as wide as the solvers write them (checked
  // at the end); an export of lines of unequal width is read as before.
  if (r.slow == 2) {
    count[r.slow] = kMaxNz;
  } else {
    const std::uint64_t plane_bytes = r.second_plane - r.first_offset;
    if (plane_bytes != (r.second_line - r.first_offset) * static_cast<std::uint64_t>(r.plane_points)) {
      return AheadRead::not_begun;
    }
    const std::uint64_t size = exports.e().expected_size();
    count[r.slow] = plane_bytes > 0 && size > r.first_offset
                        ? static_cast<long>(std::min<std::uint64_t>(
                              (size - r.first_offset + plane_bytes / 2) / plane_bytes, kMaxNz))
                        : 0;
  }
  for (int ax = 0; ax < 3; ++ax) {
    if (count[ax] < 2 || count[ax] > max_count[ax]) return AheadRead::not_begun;
  }
  FirstLines first_lines;
  std::unique_ptr<ReadAhead, ReadAheadDeleter> a;
  try {
    // An H export that cannot be opened or has other columns is the
    // reading pass's to report.
    first_lines = check_same_columns(exports);
    a.reset(new ReadAhead);
    a->e.src = std::make_unique<LineSource>(exports.e());
    a->h.src = std::make_unique<LineSource>(exports.h());
  } catch (...) {
    return AheadRead::not_begun;
  }
  // The first plane's last coordinates along the fast and middle axes stand
  // for the last line's.
  Exports::Range guess;
  for (int ax = 0; ax < 3; ++ax) {
    guess.first[ax] = r.first[ax];
    guess.first_digit[ax] = r.first_digit[ax];
    guess.last[ax] = r.first[ax];
    guess.last_digit[ax] = r.first_digit[ax];
  }
  guess.last[r.fast] = r.row_end[r.fast];
  guess.last_digit[r.fast] = r.row_end_digit[r.fast];
  guess.last[r.mid] = r.plane_end[r.mid];
  guess.last_digit[r.mid] = r.plane_end_digit[r.mid];
  const int counts[3] = {static_cast<int>(count[0]), static_cast<int>(count[1]), static_cast<int>(count[2])};
  build_grid(counts, guess, LoopOrder{r.fast, r.mid, r.slow}, a->g);
  a->e.src->release_as_read();
  a->h.src->release_as_read();
  set_readers(d, first_lines, *a->e.src, *a->h.src, a->e.r, a->h.r);

  std::atomic<bool> stop{false};
  on_two_threads([&](int part) {
    if (part == 1) {
      read_points_ahead(a->h, a->g, stop);
      return;
    }
    read_points_ahead(a->e, a->g, stop);
    // Without E's end the exports are read again anyway.
    if (!a->e.regular) stop = true;
  });
  if (!a->e.regular) return AheadRead::text_used;

  // Scan 3 as it would have counted the points and found the last.
  const ReadAhead::Export& e = a->e;
  r.points = static_cast<long>(e.planes.size()) * r.plane_points;
  r.end_line = e.end_line;
  r.point_after = e.point_after;
  for (int ax = 0; ax < 3; ++ax) {
    r.last[ax] = e.last[ax];
    r.last_digit[ax] = e.last_digit[ax];
  }
  exports.ahead = std::move(a);
  return AheadRead::scanned;
}

}  // namespace field_detail

void read_exports(RunData& d, Exports& exports) {
  if (exports.ahead) {
    d.Ez_max_read = 0;
    if (take_read_ahead(d, *exports.ahead, exports.scanned)) return;
    // Its reading gave the texts back: both are read again.
    exports.reopen();
  }
  const field_detail::FirstLines first_lines = field_detail::check_same_columns(exports);
  LineSource e_src(exports.e());
  LineSource h_src(exports.h());
  e_src.release_as_read();
  h_src.release_as_read();
  d.Ez_max_read = 0;

  LoopOrder order;
  const bool ordered = field_detail::decode_loop_order(d.iord, order);
  const int nx = ordered ? d.Nix : 0;
  const int ny = ordered ? d.Niy : 0;
  const int nz = ordered ? d.Niz : 0;
  if (!fits_arrays(nx, ny, nz)) {
    if (ordered) {
      refuse("an input grid of " + std::to_string(nx) + " x " + std::to_string(ny) + " x " + std::to_string(nz) +
             " points does not fit the field arrays");
    }
    // No loop order: nothing is read and the arrays stay empty.
    for (FieldArray* f : {&d.Exi, &d.Eyi, &d.Ezi, &d.Hxi, &d.Hyi, &d.Hzi}) f->resize(0, 0, 0);
    return;
  }
  Grid g;
  const int count[3] = {nx, ny, nz};
  build_grid(count, exports.scanned, order, g);
  const std::size_t points = static_cast<std::size_t>(nx) * static_cast<std::size_t>(ny) * static_cast<std::size_t>(nz);
  Reader e;
  Reader h;
  set_readers(d, first_lines, e_src, h_src, e, h);

  std::atomic<long> fail_mark{LONG_MAX};
  // Each reader keeps its own failure (see read_points): neither side throws.
  on_two_threads(points, [&](int part) { read_points(part == 0 ? e : h, g, fail_mark); });
  finish_reading(d, e, h, g, points);
}

}  // namespace wk
