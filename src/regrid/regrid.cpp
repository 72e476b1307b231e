// Output grid and regridding driver.
//
// The output grid spans the aperture in x and y and the element length in z
// (cm), starting at 0 on an axis whose output symmetry key is set. The field
// is copied when the output grid is the full grid of a whole-structure
// export, and otherwise sampled at every output node as EB3D_APPR samples
// it, through its form split by axis (regrid.hpp), on two threads.
#include "regrid/regrid.hpp"

#include <algorithm>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "io/error.hpp"
#include "io/two_threads.hpp"

namespace wk {

namespace {

// Two limits closer than this (absolute, cm) are taken as the same.
constexpr double kSameLimit = 1e-6;

bool same_limit(double full, double out) { return std::fabs(full - out) < kSameLimit; }

// Node n of a uniform axis: (n - 1) * step + min, the first node exactly on
// the lower limit.
void fill_output_nodes(NodeArray& nodes, double min, double max, int n, double& step) {
  step = (max - min) / (n - 1);
  nodes.resize(n);
  for (int i = 1; i <= n; ++i) nodes(i) = (i - 1) * step + min;
}

// Output grid equal to the full grid of an export of the whole structure.
bool output_is_full_grid(const RunData& d) {
  return same_limit(d.Zimax, d.Zmax) && same_limit(d.Yimax, d.Ymax) && same_limit(d.Ximax, d.Xmax) &&
         same_limit(d.Zimin, d.Zmin) && same_limit(d.Yimin, d.Ymin) && same_limit(d.Ximin, d.Xmin) && d.Noz == d.Niz &&
         d.Noy == d.Niy && d.isym == 0 && d.Nox == d.Nix;
}

// A run of consecutive output nodes along one axis that share their
// stencil's centre node, or that all lie outside the full grid.
struct NodeRun {
  int first = 0, last = 0;  // 0-based output nodes first .. last - 1
  bool inside = false;
};

std::vector<NodeRun> node_runs(const std::vector<AxisStencil>& axis) {
  std::vector<NodeRun> runs;
  for (int n = 0; n < static_cast<int>(axis.size()); ++n) {
    const AxisStencil& s = axis[static_cast<std::size_t>(n)];
    if (!runs.empty()) {
      NodeRun& r = runs.back();
      const AxisStencil& prev = axis[static_cast<std::size_t>(r.first)];
      if (r.inside == s.inside && (!s.inside || prev.centre == s.centre)) {
        r.last = n + 1;
        continue;
      }
    }
    runs.push_back({n, n + 1, s.inside});
  }
  return runs;
}

// The stencils of the output grid's coordinates, one per node of each axis,
// and the runs of x and y nodes that share a centre node.
struct OutputStencils {
  std::vector<AxisStencil> x, y, z;
  std::vector<NodeRun> x_runs, y_runs;
};

// Within this part of a grid step outside the full grid, an output node
// lies on its boundary: its limit and the full grid's were meant to be one,
// and differ by rounding only (an export in metres, scale 100: 0.044 x 100
// = 4.3999999999999995 against an aperture of 4.4).
constexpr double kOnBoundary = 1e-9;

// Coordinate u moved onto the first or last of the n nodes when it lies
// outside them by rounding only.
double onto_boundary(const NodeArray& nodes, int n, double u) {
  if (n < 2) return u;
  const double by = kOnBoundary * std::fabs(nodes(2) - nodes(1));
  if (u > nodes(n) && u - nodes(n) <= by) return nodes(n);
  if (u < nodes(1) && nodes(1) - u <= by) return nodes(1);
  return u;
}

OutputStencils output_stencils(const RunData& d) {
  // Offsets of the output grid against the full grid, cm (none).
  const double x_off = 0.0, y_off = 0.0, z_off = 0.0;
  OutputStencils s;
  s.x.reserve(static_cast<std::size_t>(d.Nox));
  s.y.reserve(static_cast<std::size_t>(d.Noy));
  s.z.reserve(static_cast<std::size_t>(d.Noz));
  for (int i = 1; i <= d.Nox; ++i) {
    s.x.push_back(axis_stencil(d, 0, onto_boundary(d.Xi, d.Nix, x_off + d.Xo(i))));
  }
  for (int j = 1; j <= d.Noy; ++j) {
    s.y.push_back(axis_stencil(d, 1, onto_boundary(d.Yi, d.Niy, y_off + d.Yo(j))));
  }
  for (int k = 1; k <= d.Noz; ++k) {
    s.z.push_back(axis_stencil(d, 2, onto_boundary(d.Zi, d.Niz, z_off + d.Zo(k))));
  }
  s.x_runs = node_runs(s.x);
  s.y_runs = node_runs(s.y);
  return s;
}

// Two components side by side: the sums of a pair of components take the
// same weights, so one SSE2 operation does the arithmetic of both, each
// lane in the order of stencil_sum.
typedef double Pair __attribute__((vector_size(16)));

// The terms of components 2p and 2p + 1, term by term.
struct PairTerms {
  Pair t[10];
};

PairTerms pair_terms(const StencilTerms& a, const StencilTerms& b) {
  PairTerms p;
  p.t[0] = Pair{a.f0, b.f0};
  p.t[1] = Pair{a.fxp, b.fxp};
  p.t[2] = Pair{a.fxm, b.fxm};
  p.t[3] = Pair{a.fyp, b.fyp};
  p.t[4] = Pair{a.fym, b.fym};
  p.t[5] = Pair{a.fzp, b.fzp};
  p.t[6] = Pair{a.fzm, b.fzm};
  p.t[7] = Pair{a.exy, b.exy};
  p.t[8] = Pair{a.exz, b.exz};
  p.t[9] = Pair{a.eyz, b.eyz};
  return p;
}

// stencil_sum for both components of a pair.
inline Pair pair_sum(const PairTerms& p, const PointStencil& s) {
  return s.w0 * p.t[0] + s.wxp * p.t[1] + s.wxm * p.t[2] + s.wyp * p.t[3] + s.wym * p.t[4] + s.wzp * p.t[5] +
         s.wzm * p.t[6] + s.wxy * p.t[7] + s.wxz * p.t[8] + s.wyz * p.t[9];
}

// Samples the field at the output nodes of z slices k_begin..k_end-1
// (0-based) into out[c], whose first slice is k_begin. Every node is
// independent of the others; the nodes of a slice that share a centre node
// (about 4 x 4 on the largest grid) share the stencil terms, which are
// formed once for them.
void interpolate_slices(const RunData& d, const OutputStencils& st, int k_begin, int k_end, double* const out[6]) {
  const double* const full[6] = {d.Ex.data(), d.Ey.data(), d.Ez.data(), d.Bx.data(), d.By.data(), d.Bz.data()};
  const std::size_t nx = static_cast<std::size_t>(d.Nox);
  const std::size_t slice = nx * static_cast<std::size_t>(d.Noy);
  PointStencil w;
  PairTerms pairs[3];
  for (int k = k_begin; k < k_end; ++k) {
    const AxisStencil& sz = st.z[static_cast<std::size_t>(k)];
    const std::size_t slice_at = static_cast<std::size_t>(k - k_begin) * slice;
    for (const NodeRun& ry : st.y_runs) {
      for (const NodeRun& rx : st.x_runs) {
        const bool inside = sz.inside && ry.inside && rx.inside;
        if (inside) {
          point_stencil(st.x[static_cast<std::size_t>(rx.first)], st.y[static_cast<std::size_t>(ry.first)], sz, w);
          for (int p = 0; p < 3; ++p) {
            pairs[p] = pair_terms(stencil_terms(full[2 * p], 2 * p, w), stencil_terms(full[2 * p + 1], 2 * p + 1, w));
          }
        }
        for (int j = ry.first; j < ry.last; ++j) {
          std::size_t at = slice_at + static_cast<std::size_t>(j) * nx + static_cast<std::size_t>(rx.first);
          for (int i = rx.first; i < rx.last; ++i, ++at) {
            if (!inside) {
              for (int c = 0; c < 6; ++c) out[c][at] = 0;
              continue;
            }
            point_stencil(st.x[static_cast<std::size_t>(i)], st.y[static_cast<std::size_t>(j)], sz, w);
            for (int p = 0; p < 3; ++p) {
              const Pair v = pair_sum(pairs[p], w);
              out[2 * p][at] = v[0];
              out[2 * p + 1][at] = v[1];
            }
          }
        }
      }
    }
  }
}

std::size_t output_nodes(const RunData& d) {
  return static_cast<std::size_t>(d.Nox) * static_cast<std::size_t>(d.Noy) * static_cast<std::size_t>(d.Noz);
}

// A limit with the digits that tell it from any other double
// (4.3999999999999995, not 4.4).
std::string limit_text(double v) {
  char text[32];
  const auto res = std::to_chars(text, text + sizeof text, v);
  return std::string(text, res.ptr);
}

// "x from A to B, y from C to D, z from E to F cm" for a grid's extent.
std::string extent_text(const double* min, const double* max) {
  std::string s;
  const char* axis[3] = {"x", "y", "z"};
  for (int a = 0; a < 3; ++a) {
    s += a == 0 ? "" : ", ";
    s += std::string(axis[a]) + " from " + limit_text(min[a]) + " to " + limit_text(max[a]);
  }
  return s + " cm";
}

// Output nodes outside the full grid are written as 0: none inside would
// make a map of zeros (refused), some outside is worth a warning.
void check_output_inside(RunData& d, const OutputStencils& st) {
  const auto inside = [](const std::vector<AxisStencil>& axis) {
    return std::count_if(axis.begin(), axis.end(), [](const AxisStencil& s) { return s.inside; });
  };
  const long in_nodes = static_cast<long>(inside(st.x) * inside(st.y) * inside(st.z));
  const long nodes = static_cast<long>(d.Nox) * d.Noy * d.Noz;
  if (in_nodes == nodes) return;
  const double out_min[3] = {d.Xmin, d.Ymin, d.Zmin};
  const double out_max[3] = {d.Xmax, d.Ymax, d.Zmax};
  const double full_min[3] = {d.Xi(1), d.Yi(1), d.Zi(1)};
  const double full_max[3] = {d.Xi(d.Nix), d.Yi(d.Niy), d.Zi(d.Niz)};
  const std::string grids = "the output grid spans " + extent_text(out_min, out_max) +
                            " (aper and elen, control "
                            "file lines 10 and 11), the full grid of the exports " +
                            extent_text(full_min, full_max) + " (their coordinates times scale, line 13)";
  if (in_nodes == 0) {
    refuse("no node of the output grid lies inside the full grid, so every value of the field map would be 0: " +
           grids);
  }
  d.warnings.push_back(std::to_string(nodes - in_nodes) + " of the " + std::to_string(nodes) +
                       " output nodes lie outside the full grid and are written as 0: " + grids);
}

// The stencil gives the node values on the faces of the full grid, but not
// on its edges: within half a step of the first or last node of two axes at
// once, its centre is moved inward along both and the mixed differences
// are extrapolated (on a coarse export by up to 40 % of a component's peak).
// Exporting one step beyond the aperture moves the output grid's edges off
// the full grid's.
void warn_of_edge_nodes(RunData& d, const OutputStencils& st) {
  long inside[3] = {0, 0, 0}, at_end[3] = {0, 0, 0};
  const std::vector<AxisStencil>* axes[3] = {&st.x, &st.y, &st.z};
  for (int a = 0; a < 3; ++a)
    for (const AxisStencil& s : *axes[a]) {
      inside[a] += s.inside;
      at_end[a] += s.inside && std::fabs(s.p) > 0.5;
    }
  // Nodes with at least two of the three axes at an end.
  const long on_edges = at_end[0] * at_end[1] * inside[2] + at_end[0] * at_end[2] * inside[1] +
                        at_end[1] * at_end[2] * inside[0] - 2 * at_end[0] * at_end[1] * at_end[2];
  if (on_edges == 0) return;
  d.warnings.push_back(std::to_string(on_edges) + " of the " +
                       std::to_string(static_cast<long>(d.Nox) * d.Noy * d.Noz) +
                       " output nodes lie on edges of the full grid (within half a grid step of its first or last "
                       "node along two axes at once), where the interpolation extrapolates and does not give the "
                       "exported values: an export that reaches one grid step beyond the aperture avoids it");
}

}  // namespace

void build_output_grid(RunData& d, ListWriter& log) {
  assert(d.Nox >= 2 && d.Noy >= 2 && d.Noz >= 2);
  assert(d.Nox <= kMaxNxy && d.Noy <= kMaxNxy && d.Noz <= kMaxNz);

  // Only whether an output key is zero matters here.
  d.Xmin = -d.aper;
  d.Xmax = d.aper;
  if (d.symX != 0) d.Xmin = 0;
  d.Ymin = -d.aper;
  d.Ymax = d.aper;
  if (d.symY != 0) d.Ymin = 0;
  d.Zmin = -d.elen / 2;
  d.Zmax = d.elen / 2;
  if (d.symZ != 0) d.Zmin = 0;

  fill_output_nodes(d.Xo, d.Xmin, d.Xmax, d.Nox, d.dXo);
  fill_output_nodes(d.Yo, d.Ymin, d.Ymax, d.Noy, d.dYo);
  fill_output_nodes(d.Zo, d.Zmin, d.Zmax, d.Noz, d.dZo);

  log.record(" Output grid parameters ");
  log.record(" Xmin, Xmax, Nox = ", d.Xmin, d.Xmax, d.Nox);
  log.record(" Ymin, Ymax, Noy = ", d.Ymin, d.Ymax, d.Noy);
  log.record(" Zmin, Zmax, Noz = ", d.Zmin, d.Zmax, d.Noz);
  log.record(kLogSeparator);

  if (output_is_full_grid(d)) {
    log.record(" Same symmetry and grid, No need for interpolation", ", Simply write the field ...");
    return;
  }
  const OutputStencils stencils = output_stencils(d);
  check_output_inside(d, stencils);
  warn_of_edge_nodes(d, stencils);
  log.record(" Symmetry or grid are different, Interpolate ...");
}

struct OutputSampler::Stencils : OutputStencils {};

OutputSampler::OutputSampler(const RunData& d) : d_(d), copy_(output_is_full_grid(d)) {
  if (!copy_) stencils_ = std::make_unique<Stencils>(Stencils{output_stencils(d)});
}

OutputSampler::~OutputSampler() = default;

void OutputSampler::sample(int k_begin, int k_end, double* const out[6]) const {
  assert(0 <= k_begin && k_begin <= k_end && k_end <= d_.Noz);
  if (!copy_) {
    interpolate_slices(d_, *stencils_, k_begin, k_end, out);
    return;
  }
  // Same counts, so the same x-fastest layout: the slices copy as a whole.
  const FieldArray* full[6] = {&d_.Ex, &d_.Ey, &d_.Ez, &d_.Bx, &d_.By, &d_.Bz};
  const std::size_t slice = static_cast<std::size_t>(d_.Nox) * static_cast<std::size_t>(d_.Noy);
  for (int c = 0; c < 6; ++c) {
    assert(full[c]->size() == output_nodes(d_));
    const double* const from = full[c]->data() + static_cast<std::size_t>(k_begin) * slice;
    std::copy(from, from + static_cast<std::size_t>(k_end - k_begin) * slice, out[c]);
  }
}

void fill_output_arrays(RunData& d) {
  const OutputSampler sampler(d);
  FieldArray* const out[6] = {&d.Exo, &d.Eyo, &d.Ezo, &d.Bxo, &d.Byo, &d.Bzo};
  // Sized with their values unset: the two halves below write every node,
  // and touch the 240 MB of fresh memory of the largest grid as they go.
  for (FieldArray* a : out) a->resize_for_overwrite(d.Nox, d.Noy, d.Noz);
  // Two halves of the z range; the slices are disjoint, so the result does
  // not depend on the split.
  const int half = d.Noz / 2;
  on_two_threads(output_nodes(d), [&](int part) {
    const int k_begin = part == 0 ? 0 : half;
    const std::size_t at =
        static_cast<std::size_t>(k_begin) * static_cast<std::size_t>(d.Nox) * static_cast<std::size_t>(d.Noy);
    double* const to[6] = {out[0]->data() + at, out[1]->data() + at, out[2]->data() + at,
                           out[3]->data() + at, out[4]->data() + at, out[5]->data() + at};
    sampler.sample(k_begin, part == 0 ? half : d.Noz, to);
  });
}

}  // namespace wk
