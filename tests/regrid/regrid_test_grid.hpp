// Full grids filled by hand for the regridding tests.
#pragma once

#include <string>

#include "io/list_writer.hpp"
#include "io/out_file.hpp"
#include "model/run_data.hpp"
#include "support/run_support.hpp"
#include "support/test_support.hpp"

namespace wk::test {

// One uniform axis of a full grid: node n at min + (n - 1) * step.
struct AxisSpec {
  int n;
  double min, step;
};

inline void make_axis(NodeArray& nodes, double& lo, double& hi, std::int32_t& count, const AxisSpec& a) {
  count = a.n;
  nodes.resize(a.n);
  for (int i = 1; i <= a.n; ++i) nodes(i) = a.min + (i - 1) * a.step;
  lo = nodes(1);
  hi = nodes(a.n);
}

inline void make_full_grid(RunData& d, const AxisSpec& x, const AxisSpec& y, const AxisSpec& z) {
  make_axis(d.Xi, d.Ximin, d.Ximax, d.Nix, x);
  make_axis(d.Yi, d.Yimin, d.Yimax, d.Niy, y);
  make_axis(d.Zi, d.Zimin, d.Zimax, d.Niz, z);
  map_full_grid(d, {0, 0, 0}, {x.n, y.n, z.n});  // stored as the full grid
}

// Component c of the full grid: 0..2 Ex, Ey, Ez, 3..5 Bx, By, Bz.
inline FieldArray& component(RunData& d, int c) {
  FieldArray* f[6] = {&d.Ex, &d.Ey, &d.Ez, &d.Bx, &d.By, &d.Bz};
  return *f[c];
}
inline const FieldArray& component(const RunData& d, int c) { return component(const_cast<RunData&>(d), c); }

// Sizes the six full-grid arrays and sets component c at every node to f(c, x, y, z).
template <class F>
void fill_full_grid(RunData& d, F f) {
  for (int c = 0; c < 6; ++c) {
    FieldArray& a = component(d, c);
    a.resize(d.Nix, d.Niy, d.Niz);
    for (int k = 1; k <= d.Niz; ++k)
      for (int j = 1; j <= d.Niy; ++j)
        for (int i = 1; i <= d.Nix; ++i) a(i, j, k) = f(c, d.Xi(i), d.Yi(j), d.Zi(k));
  }
}

// a0 + a1 x + a2 y + a3 z + a4 x^2 + a5 y^2 + a6 z^2 + a7 xy + a8 xz + a9 yz
struct Quadratic {
  double a[10];
  double operator()(double x, double y, double z) const {
    return a[0] + a[1] * x + a[2] * y + a[3] * z + a[4] * x * x + a[5] * y * y + a[6] * z * z + a[7] * x * y +
           a[8] * x * z + a[9] * y * z;
  }
};

}  // namespace wk::test
