// Regridding: second-order interpolation of the full-grid field and the
// output grid.
#pragma once

#include <cstddef>
#include <memory>

#include "io/list_writer.hpp"
#include "model/run_data.hpp"

namespace wk {

// E and B at the point (x, y, z) (cm) by second-order interpolation in the
// full-grid arrays of d; zero vectors outside the full grid. Needs at least
// three nodes on every axis of the full grid.
void EB3D_APPR(const RunData& d, double x, double y, double z, double E[3], double B[3]);

// --- EB3D_APPR split by axis -------------------------------------------------
// For callers that sample many points sharing coordinates (the nodes of the
// output grid, the points of the Maxwell circle in every slice): the part of
// the stencil that depends on one coordinate is computed once per coordinate
// and combined per point. The values are those of EB3D_APPR, bit for bit.

// The stencil of one coordinate on one axis of the full grid.
struct AxisStencil {
  bool inside = false;        // within the axis's first and last node (limits included), on an axis of 3 nodes or more
  std::ptrdiff_t centre = 0;  // 0-based centre node
  double p = 0;               // offset from the centre node, in grid steps
  double pp = 0;              // p * p
  double wp = 0, wm = 0;      // weights of the upper and lower neighbour: (p + pp)/2, (pp - p)/2
  // The lower neighbour, the centre and the upper neighbour (0, 1, 2) as
  // stored: offset along the axis in the stored arrays, and the factor +1
  // or -1 of each component there (d.full_map).
  std::ptrdiff_t at[3] = {0, 0, 0};
  double sign[6][3] = {};
};

// The stencil of coordinate u (cm) on axis a (0, 1, 2: x, y, z) of d's
// full grid.
AxisStencil axis_stencil(const RunData& d, int a, double u);

// The weights of one point: its three axis stencils and the 10 weights of
// its 19 nodes.
struct PointStencil {
  const AxisStencil *x = nullptr, *y = nullptr, *z = nullptr;
  double w0 = 0, wxp = 0, wxm = 0, wyp = 0, wym = 0, wzp = 0, wzm = 0, wxy = 0, wxz = 0, wyz = 0;
};

// The stencil of the point of three axis stencils of d's full grid, which
// must outlive it; false (every component 0) when the point lies outside it.
inline bool point_stencil(const AxisStencil& x, const AxisStencil& y, const AxisStencil& z, PointStencil& s) {
  if (!(x.inside && y.inside && z.inside)) return false;
  s.x = &x;
  s.y = &y;
  s.z = &z;
  s.w0 = 1 - x.pp - y.pp - z.pp;
  s.wxp = x.wp;
  s.wxm = x.wm;
  s.wyp = y.wp;
  s.wym = y.wm;
  s.wzp = z.wp;
  s.wzm = z.wm;
  s.wxy = x.p * y.p / 4;
  s.wxz = x.p * z.p / 4;
  s.wyz = y.p * z.p / 4;
  return true;
}

// The values of one component at the stencil's nodes as they enter the
// sum, the edge differences formed: the same for every point whose stencil
// has the same centre node.
struct StencilTerms {
  double f0, fxp, fxm, fyp, fym, fzp, fzm;  // centre, then the face neighbours (+x, -x, +y, ...)
  double exy, exz, eyz;                     // the edge differences of the three planes
};

// The terms of component c, whose stored array is F, around the centre
// node of the point stencil s.
[[gnu::always_inline]] inline StencilTerms stencil_terms(const double* F, int c, const PointStencil& s) {
  const AxisStencil &x = *s.x, &y = *s.y, &z = *s.z;
  // The full-grid value at the neighbour (i, j, k): 0 lower, 1 centre, 2 upper.
  const auto v = [&](int i, int j, int k) {
    return x.sign[c][i] * y.sign[c][j] * z.sign[c][k] * F[x.at[i] + y.at[j] + z.at[k]];
  };
  return {v(1, 1, 1),
          v(2, 1, 1),
          v(0, 1, 1),
          v(1, 2, 1),
          v(1, 0, 1),
          v(1, 1, 2),
          v(1, 1, 0),
          v(2, 2, 1) + v(0, 0, 1) - v(0, 2, 1) - v(2, 0, 1),
          v(2, 1, 2) + v(0, 1, 0) - v(0, 1, 2) - v(2, 1, 0),
          v(1, 2, 2) + v(1, 0, 0) - v(1, 0, 2) - v(1, 2, 0)};
}

// Second-order Taylor expansion about the centre node with central
// differences: centre, 6 face and 12 edge neighbours of the 3x3x3 block,
// summed in this order.
inline double stencil_sum(const StencilTerms& t, const PointStencil& s) {
  return s.w0 * t.f0 + s.wxp * t.fxp + s.wxm * t.fxm + s.wyp * t.fyp + s.wym * t.fym + s.wzp * t.fzp + s.wzm * t.fzm +
         s.wxy * t.exy + s.wxz * t.exz + s.wyz * t.eyz;
}

// Component c (0..5: Ex, Ey, Ez, Bx, By, Bz) of d's full grid at the point.
inline double stencil_value(const RunData& d, int c, const PointStencil& s) {
  return stencil_sum(stencil_terms(d.stored(c).data(), c, s), s);
}

// Builds and logs the output grid (Xo, Yo, Zo and their limits and steps),
// refuses one with no node inside the full grid and warns of nodes outside
// it. The field at its nodes comes from an OutputSampler.
void build_output_grid(RunData& d, ListWriter& log);

// The field at the output nodes, a few z slices at a time, for a writer that
// streams the field map instead of holding the output arrays: a copy of the
// full-grid field when the output grid is the full grid, otherwise EB3D_APPR
// at every node (0 outside the full grid). Reads the output grid and the
// full-grid arrays of d, which must outlive it.
class OutputSampler {
 public:
  explicit OutputSampler(const RunData& d);
  ~OutputSampler();
  OutputSampler(const OutputSampler&) = delete;
  OutputSampler& operator=(const OutputSampler&) = delete;

  // The z slices k_begin .. k_end - 1 (0-based) into out[0..5] (Ex, Ey, Ez,
  // Bx, By, Bz), each x fastest, then y, then z from k_begin. Two threads
  // may sample at once.
  void sample(int k_begin, int k_end, double* const out[6]) const;

 private:
  struct Stencils;
  const RunData& d_;
  bool copy_;
  std::unique_ptr<const Stencils> stencils_;
};

// Sizes the output arrays Exo ... Bzo and fills them from an OutputSampler.
void fill_output_arrays(RunData& d);

}  // namespace wk
