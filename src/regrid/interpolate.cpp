// EB3D_APPR: second-order interpolation of the full-grid field at one point.
#include "regrid/regrid.hpp"

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

AxisStencil axis_stencil(const NodeArray& nodes, int n, double u) {
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
  return s;
}

void EB3D_APPR(const RunData& d, double x, double y, double z, double E[3], double B[3]) {
  E[0] = E[1] = E[2] = 0;
  B[0] = B[1] = B[2] = 0;
  // Inside with the limits included; no extrapolation, no use of symmetry.
  PointStencil s;
  if (!point_stencil(d, axis_stencil(d.Xi, d.Nix, x), axis_stencil(d.Yi, d.Niy, y), axis_stencil(d.Zi, d.Niz, z), s)) {
    return;
  }
  E[0] = stencil_value(d.Ex.data(), s);
  E[1] = stencil_value(d.Ey.data(), s);
  E[2] = stencil_value(d.Ez.data(), s);
  B[0] = stencil_value(d.Bx.data(), s);
  B[1] = stencil_value(d.By.data(), s);
  B[2] = stencil_value(d.Bz.data(), s);
}

}  // namespace wk
