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
#include <cmath>
#include <exception>
#include <string>
#include <vector>

#include "field/export_grid.hpp"
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

void build_grid(const RunData& d, const Exports::Range& range, const LoopOrder& order, Grid& g) {
  g.order = order;
  g.count[0] = d.Nix;
  g.count[1] = d.Niy;
  g.count[2] = d.Niz;
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

// Reads every point of one export in the loop order, storing its field
// components, until the end of the grid, an error, or the other reader's
// failure mark lies behind.
void read_points(Reader& r, const Grid& g, std::atomic<long>& fail_mark) {
  FreeFormReader in(*r.src);
  long point = 0;
  try {
    // Each reader sizes its own arrays, so that the first touch of their
    // memory is shared between the two threads too. Every node and every
    // deviation is written below before anything reads it (the comparison
    // of the two exports stops before the first point either side missed).
    for (FieldArray* a : r.out) a->resize_for_overwrite(g.count[0], g.count[1], g.count[2]);
    r.dev.resize(3 * static_cast<std::size_t>(g.count[0]) * static_cast<std::size_t>(g.count[1]) *
                 static_cast<std::size_t>(g.count[2]));
    const LoopOrder& o = g.order;
    const std::size_t stride[3] = {1, static_cast<std::size_t>(g.count[0]),
                                   static_cast<std::size_t>(g.count[0]) * static_cast<std::size_t>(g.count[1])};
    const double* const node[3] = {g.node[0].data(), g.node[1].data(), g.node[2].data()};
    double* const out0 = r.out[0]->data();
    double* const out1 = r.out[1]->data();
    double* const out2 = r.out[2]->data();
    float* dev = r.dev.data();
    // Within these a coordinate passes at once: for E the tolerance less the
    // digits of the coordinate itself, for H a quarter step.
    const double* const near = r.uniform ? g.uniform_tol : g.tol;
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
            const double off = v[a] - node[a][idx[a] - 1];
            if (!(std::fabs(off) <= near[a])) {
              const double tol = std::min(g.uniform_tol[a] + half_unit(digit[a]), g.half_step[a]);
              if (r.uniform || tol > g.tol[a]) {
                if (!(std::fabs(off) <= tol)) refuse_off_uniform(r, g, v, idx, a, tol);
              } else {
                refuse_off_grid(r, g, v, idx);
              }
            }
            if (digit[a] > r.coarsest_digit[a]) r.coarsest_digit[a] = digit[a];
            dev[a] = static_cast<float>(off * g.per_step[a]);
          }
          dev += 3;

          if (r.track_ez) {
            if (std::fabs(v[5]) > r.ez_max) r.ez_max = std::fabs(v[5]);
            if (r.values == 9) {
              for (int c = 3; c < 6; ++c) r.re_max = std::max(r.re_max, std::fabs(v[c]));
              for (int c = 6; c < 9; ++c) r.im_max = std::max(r.im_max, std::fabs(v[c]));
            }
          }
          const std::size_t at = static_cast<std::size_t>(idx[0] - 1) * stride[0] +
                                 static_cast<std::size_t>(idx[1] - 1) * stride[1] +
                                 static_cast<std::size_t>(idx[2] - 1) * stride[2];
          out0[at] = v[r.first_stored];
          out1[at] = v[r.first_stored + 1];
          out2[at] = v[r.first_stored + 2];
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

}  // namespace

void read_exports(RunData& d, Exports& exports) {
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
  if (nx < 1 || ny < 1 || nz < 1 || nx > kMaxNxy || ny > kMaxNxy || nz > kMaxNz) {
    if (ordered) {
      refuse("an input grid of " + std::to_string(nx) + " x " + std::to_string(ny) + " x " + std::to_string(nz) +
             " points does not fit the field arrays");
    }
    // No loop order: nothing is read and the arrays stay empty.
    for (FieldArray* f : {&d.Exi, &d.Eyi, &d.Ezi, &d.Hxi, &d.Hyi, &d.Hzi}) f->resize(0, 0, 0);
    return;
  }
  Grid g;
  build_grid(d, exports.scanned, order, g);
  const std::size_t points = static_cast<std::size_t>(nx) * static_cast<std::size_t>(ny) * static_cast<std::size_t>(nz);
  const int values = d.icplx == 1 ? 9 : 6;

  Reader e;
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

  Reader h;
  h.src = &h_src;
  h.field = 'H';
  h.values = values;
  h.first_stored = values == 9 ? 6 : 3;  // the imaginary parts of H, or its real parts
  h.out[0] = &d.Hxi;
  h.out[1] = &d.Hyi;
  h.out[2] = &d.Hzi;
  h.numbers = first_lines.h_numbers;
  h.first_line = first_lines.h_line;

  std::atomic<long> fail_mark{LONG_MAX};
  // Each reader keeps its own failure (see read_points): neither side throws.
  on_two_threads(points, [&](int part) { read_points(part == 0 ? e : h, g, fail_mark); });

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

}  // namespace wk
