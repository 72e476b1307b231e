// EB3D_APPR: second-order interpolation of the full-grid field at one point.
#include "regrid/regrid.hpp"

#include <cstddef>

namespace wk {

namespace {

// Centre node of the stencil on one axis: the node nearest to the offset u
// from the first node (a point halfway between two nodes goes to the upper
// one), pulled in to the second or second-to-last node at the ends so that
// both neighbours exist.
int centre_node(double u, double step, int n) {
  int i = static_cast<int>((u - step / 2) / step) + 2;  // truncation towards zero
  if (i < 2) i = 2;
  if (i >= n) i = n - 1;
  return i;
}

}  // namespace

AxisStencil axis_stencil(const RunData& d, int a, double u) {
  const NodeArray& nodes = a == 0 ? d.Xi : a == 1 ? d.Yi : d.Zi;
  const int n = a == 0 ? d.Nix : a == 1 ? d.Niy : d.Niz;
  AxisStencil s;
  // No stencil fits an axis of fewer than 3 nodes; a NaN coordinate is outside.
  if (n < 3 || !(nodes(1) <= u && u <= nodes(n))) return s;
  const double step = nodes(2) - nodes(1);  // grid step from the first two nodes
  const int i = centre_node(u - nodes(1), step, n);
  s.inside = true;
  s.centre = i - 1;
  s.p = (u - nodes(i)) / step;  // offset from the centre node in grid steps
  s.pp = s.p * s.p;
  s.wp = (s.p + s.pp) / 2;
  s.wm = (s.pp - s.p) / 2;
  for (int t = 0; t < 3; ++t) {
    const auto node = static_cast<std::size_t>(i - 1 + t);  // 1-based: i - 1, i, i + 1
    s.at[t] = d.full_map.at[a][node];
    for (int c = 0; c < 6; ++c) s.sign[c][t] = d.full_map.sign[a][c][node];
  }
  return s;
}

void EB3D_APPR(const RunData& d, double x, double y, double z, double E[3], double B[3]) {
  E[0] = E[1] = E[2] = 0;
  B[0] = B[1] = B[2] = 0;
  // Inside with the limits included; no extrapolation, no use of symmetry.
  const AxisStencil sx = axis_stencil(d, 0, x), sy = axis_stencil(d, 1, y), sz = axis_stencil(d, 2, z);
  PointStencil s;
  if (!point_stencil(sx, sy, sz, s)) return;
  for (int c = 0; c < 3; ++c) E[c] = stencil_value(d, c, s);
  for (int c = 0; c < 3; ++c) B[c] = stencil_value(d, 3 + c, s);
}

}  // namespace wk
