#include "conditioning_fixture.hpp"

#include <gtest/gtest.h>

#include "support/run_support.hpp"

namespace wk::test {

void make_grid(RunData& d, Axis x, Axis y, Axis z) {
  const auto nodes = [](NodeArray& a, Axis ax, std::int32_t& n, double& lo, double& hi) {
    n = ax.n;
    a.resize(ax.n);
    for (int i = 1; i <= ax.n; ++i) a(i) = ax.first + (i - 1) * ax.step;
    lo = a(1);
    hi = a(ax.n);
  };
  nodes(d.Xi, x, d.Nix, d.Ximin, d.Ximax);
  nodes(d.Yi, y, d.Niy, d.Yimin, d.Yimax);
  nodes(d.Zi, z, d.Niz, d.Zimin, d.Zimax);
  for (FieldArray* a : {&d.Ex, &d.Ey, &d.Ez, &d.Bx, &d.By, &d.Bz}) a->resize(x.n, y.n, z.n);
  map_full_grid(d, {0, 0, 0}, {x.n, y.n, z.n});  // stored as the full grid
}

void set_constants(RunData& d, double freq) {
  d.pi = 3.141592653589793;
  d.c = 299792458.0;
  d.mu0 = (d.pi * 4) * 1e-7;
  d.mu1 = d.mu0 * 10000;
  d.eps0 = 1 / ((d.c * d.c) * d.mu0);
  d.freq = freq;
  d.omeg = (d.pi * 2) * freq;
}

void fill(FieldArray& a, const RunData& d, const std::function<double(double, double, double)>& f) {
  for (int i = 1; i <= d.Nix; ++i)
    for (int j = 1; j <= d.Niy; ++j)
      for (int k = 1; k <= d.Niz; ++k) a(i, j, k) = f(d.Xi(i), d.Yi(j), d.Zi(k));
}

Captured capture_log(const std::function<void(ListWriter&)>& body) {
  LogCapture capture;
  Captured c;
  c.error = run_error_of([&] { body(capture.log()); });
  c.lines = capture.lines();
  return c;
}

}  // namespace wk::test
