// EB3D_APPR: second-order interpolation of the full-grid field at one point.
#include <cstddef>

#include "regrid/regrid.hpp"

namespace wk {

namespace {

// Centre node of the stencil on one axis: the node nearest to the offset u
// from the first node (a point halfway between two nodes goes to the upper
// one), pulled in to the second or second-to-last node at the ends so that
// both neighbours exist.
inline int centre_node(double u, double step, int n) {
  int i = static_cast<int>((u - step / 2) / step) + 2;  // truncation towards zero
  if (i < 2) i = 2;
  if (i >= n) i = n - 1;
  return i;
}

}  // namespace

void EB3D_APPR(const RunData& d, double x, double y, double z, double E[3], double B[3]) {
  E[0] = E[1] = E[2] = 0;
  B[0] = B[1] = B[2] = 0;
  const int nx = d.Nix, ny = d.Niy, nz = d.Niz;
  if (nx < 3 || ny < 3 || nz < 3) return;  // no stencil fits; callers refuse such grids earlier
  // Inside with the limits included; a NaN coordinate is outside.
  if (!(d.Xi(1) <= x && x <= d.Xi(nx) && d.Yi(1) <= y && y <= d.Yi(ny) && d.Zi(1) <= z && z <= d.Zi(nz))) return;

  const double dx = d.Xi(2) - d.Xi(1);
  const double dy = d.Yi(2) - d.Yi(1);
  const double dz = d.Zi(2) - d.Zi(1);
  const int i = centre_node(x - d.Xi(1), dx, nx);
  const int j = centre_node(y - d.Yi(1), dy, ny);
  const int k = centre_node(z - d.Zi(1), dz, nz);

  // Offsets from the centre node in units of the grid step.
  const double p = (x - d.Xi(i)) / dx;
  const double q = (y - d.Yi(j)) / dy;
  const double r = (z - d.Zi(k)) / dz;

  const double pp = p * p, qq = q * q, rr = r * r;
  const double w0 = 1 - pp - qq - rr;
  const double wxp = (p + pp) / 2, wxm = (pp - p) / 2;
  const double wyp = (q + qq) / 2, wym = (qq - q) / 2;
  const double wzp = (r + rr) / 2, wzm = (rr - r) / 2;
  const double wxy = p * q / 4, wxz = p * r / 4, wyz = q * r / 4;

  const std::ptrdiff_t sx = 1;
  const std::ptrdiff_t sy = nx;
  const std::ptrdiff_t sz = static_cast<std::ptrdiff_t>(nx) * ny;
  const std::ptrdiff_t c = static_cast<std::ptrdiff_t>(d.Ex.index(i, j, k));

  const FieldArray* arrays[6] = {&d.Ex, &d.Ey, &d.Ez, &d.Bx, &d.By, &d.Bz};
  double* results[6] = {&E[0], &E[1], &E[2], &B[0], &B[1], &B[2]};
  for (int n = 0; n < 6; ++n) {
    const double* F = arrays[n]->data() + c;
    // Second-order Taylor expansion about the centre node with central
    // differences: centre, 6 face and 12 edge neighbours of the 3x3x3 block.
    *results[n] = w0 * F[0] + wxp * F[sx] + wxm * F[-sx] + wyp * F[sy] + wym * F[-sy] + wzp * F[sz] +
                  wzm * F[-sz] + wxy * (F[sx + sy] + F[-sx - sy] - F[-sx + sy] - F[sx - sy]) +
                  wxz * (F[sx + sz] + F[-sx - sz] - F[-sx + sz] - F[sx - sz]) +
                  wyz * (F[sy + sz] + F[-sy - sz] - F[-sy + sz] - F[sy - sz]);
  }
}

}  // namespace wk
