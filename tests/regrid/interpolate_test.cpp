// The case tables below are laid out by hand, one case a line.
// clang-format off
// EB3D_APPR: second-order interpolation in the full-grid arrays.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "regrid/regrid.hpp"
#include "regrid_test_grid.hpp"

namespace wk {
namespace {

using test::Quadratic;

// Interpolated value of component c (0..5: Ex, Ey, Ez, Bx, By, Bz) at a point.
double sample(const RunData& d, int c, double x, double y, double z) {
  double E[3], B[3];
  EB3D_APPR(d, x, y, z, E, B);
  return c < 3 ? E[c] : B[c - 3];
}

// Grid with dyadic coordinates, so that node offsets are exact.
RunData dyadic_grid() {
  RunData d;
  test::make_full_grid(d, {5, -1.0, 0.5}, {4, 0.0, 0.25}, {6, -2.0, 1.0});
  test::fill_full_grid(d, [](int c, double x, double y, double z) {
    return std::sin(3 * x + c) * std::cos(2 * y - z) + c * x * x * y * z;
  });
  return d;
}

TEST(Eb3dAppr, NodeValuesInsideAndOnTheFaces) {
  const RunData d = dyadic_grid();
  int checked = 0;
  for (int k = 1; k <= d.Niz; ++k)
    for (int j = 1; j <= d.Niy; ++j)
      for (int i = 1; i <= d.Nix; ++i) {
        const int ends = (i == 1 || i == d.Nix) + (j == 1 || j == d.Niy) + (k == 1 || k == d.Niz);
        if (ends > 1) continue;  // edges and corners: see the next tests
        for (int c = 0; c < 6; ++c)
          ASSERT_EQ(sample(d, c, d.Xi(i), d.Yi(j), d.Zi(k)), test::component(d, c)(i, j, k))
              << c << " at " << i << "," << j << "," << k;
        ++checked;
      }
  EXPECT_EQ(checked, 3 * 2 * 4 + 2 * (2 * 4 + 3 * 4 + 3 * 2));
}

// On an edge or a corner of the grid two or three offsets are +-1 from the
// pulled-in centre node, and the stencil extrapolates: for F = x*x*y on the
// nodes 0, 1, 2 of every axis (centre node 1, 1, 1) the values follow from
// the weights by hand.
TEST(Eb3dAppr, EdgesAndCornersExtrapolateFromTheCentreNode) {
  RunData d;
  test::make_full_grid(d, {3, 0.0, 1.0}, {3, 0.0, 1.0}, {3, 0.0, 1.0});
  test::fill_full_grid(d, [](int, double x, double y, double) { return x * x * y; });
  const struct {
    double x, y, z, want;
  } cases[] = {
      // p = q = r = 1: w0 = -2, wx+ = wy+ = wz+ = 1, cross weights 1/4:
      // -2*1 + 4 + 2 + 1 + (8 + 0 - 0 - 0)/4 = 7, not F = 8.
      {2, 2, 2, 7},
      // p = q = 1, r = 0: -1 + 4 + 2 + 8/4 = 7.
      {2, 2, 1, 7},
      // p = q = r = -1: -2 + 0 + 0 + 1 + 8/4 = 1, not F = 0.
      {0, 0, 0, 1},
      // p = -1, q = 1, r = 0: -1 + 0 + 2 - 8/4 = -1, not F = 0.
      {0, 2, 1, -1},
      // Face nodes reduce to the node: p = 1 alone.
      {2, 1, 1, 4},
      {1, 2, 1, 2},
      {1, 1, 1, 1},
  };
  for (const auto& t : cases)
    for (int c = 0; c < 6; ++c) EXPECT_EQ(sample(d, c, t.x, t.y, t.z), t.want) << t.x << "," << t.y << "," << t.z;
}

// Any field of total degree 2 is reproduced at every point of the grid,
// edges and corners included; x*x*y is not. The grid here has steps that are
// not binary fractions, so node offsets carry rounding of a few ulps of the
// coordinates: values of order 1 agree to 1e-12.
TEST(Eb3dAppr, QuadraticsAreReproducedCubicsAreNot) {
  RunData d;
  test::make_full_grid(d, {7, -0.3, 0.1}, {6, -0.2, 0.1}, {9, 0.4, 0.15});
  const Quadratic P[6] = {
      {1.0, 0.5, -0.25, 2.0, 0.3, -0.7, 1.1, 0.2, -0.4, 0.9},  {-2.0, 1.0, 0.0, 0.0, 3.0, 0.0, 0.0, 0.0, 0.0, 0.0},
      {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0},      {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, -1.5, 0.0},
      {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 2.5},      {0.7, -0.3, 0.8, -1.2, -0.6, 0.45, -0.35, 0.0, 0.0, 0.0},
  };
  test::fill_full_grid(d, [&](int c, double x, double y, double z) { return P[c](x, y, z); });
  const double xs[] = {-0.3, -0.29, -0.2501, -0.15, -0.05, 0.0, 0.0333, 0.15, 0.249, 0.3};
  const double ys[] = {-0.2, -0.171, -0.1, 0.05, 0.149, 0.2, 0.3};
  const double zs[] = {0.4, 0.41, 0.475, 0.6, 0.93, 1.37, 1.5999};
  for (double x : xs)
    for (double y : ys)
      for (double z : zs) {
        double E[3], B[3];
        EB3D_APPR(d, x, y, z, E, B);
        const double got[6] = {E[0], E[1], E[2], B[0], B[1], B[2]};
        for (int c = 0; c < 6; ++c) {
          ASSERT_NEAR(got[c], P[c](x, y, z), 1e-12) << c << " at " << x << "," << y << "," << z;
        }
      }

  // F = x*x*y has no part of degree 2 or less about the node (x, y) = (0, 0):
  // near it the stencil gives 0 where the field is 0.04^3 = 6.4e-5.
  test::fill_full_grid(d, [](int, double x, double y, double) { return x * x * y; });
  EXPECT_NEAR(sample(d, 0, 0.04, 0.04, 0.6), 0.0, 1e-12);
}

TEST(Eb3dAppr, TheBoundaryIsInsideAndBeyondItIsZero) {
  RunData d = dyadic_grid();
  const double inf = std::numeric_limits<double>::infinity();
  const double x1 = d.Xi(1), xn = d.Xi(d.Nix), y1 = d.Yi(1), yn = d.Yi(d.Niy), z1 = d.Zi(1), zn = d.Zi(d.Niz);
  const double ym = d.Yi(2), zm = d.Zi(3);
  // On a face of the grid the value is that of the face node.
  const struct {
    double x, y, z;
    int i, j, k;
  } on[] = {{xn, ym, zm, d.Nix, 2, 3}, {x1, ym, zm, 1, 2, 3}, {d.Xi(2), yn, zm, 2, d.Niy, 3},
            {d.Xi(2), y1, zm, 2, 1, 3}, {d.Xi(2), ym, zn, 2, 2, d.Niz}, {d.Xi(2), ym, z1, 2, 2, 1}};
  for (const auto& t : on)
    for (int c = 0; c < 6; ++c) EXPECT_EQ(sample(d, c, t.x, t.y, t.z), test::component(d, c)(t.i, t.j, t.k));

  const double nan = std::nan("");
  const double beyond[][3] = {
      {std::nextafter(xn, inf), ym, zm}, {std::nextafter(x1, -inf), ym, zm}, {0, std::nextafter(yn, inf), zm},
      {0, std::nextafter(y1, -inf), zm}, {0, ym, std::nextafter(zn, inf)},  {0, ym, std::nextafter(z1, -inf)},
      {nan, ym, zm},                     {0, nan, zm},                      {0, ym, nan},
  };
  for (const auto& p : beyond) {
    double E[3] = {9, 9, 9}, B[3] = {9, 9, 9};
    EB3D_APPR(d, p[0], p[1], p[2], E, B);
    for (int c = 0; c < 3; ++c) {
      EXPECT_EQ(E[c], 0.0) << p[0] << "," << p[1] << "," << p[2];
      EXPECT_EQ(B[c], 0.0) << p[0] << "," << p[1] << "," << p[2];
    }
  }
}

// Halfway between nodes the centre moves to the upper node; for a cubic the
// two stencils differ, so the value jumps there. F = x^3 on x = 0 .. 4:
//   x = 1.5: centre x = 2, p = -0.5: 0.75*8 - 0.125*27 + 0.375*1 = 3
//   just below: centre x = 1, p = 0.5: 0.75*1 + 0.375*8 - 0.125*0 = 3.75
//   x = 2.5: centre x = 3: 0.75*27 - 0.125*64 + 0.375*8 = 15.25
//   just below: centre x = 2: 0.75*8 + 0.375*27 - 0.125*1 = 16
TEST(Eb3dAppr, HalfwayPointsGoToTheUpperNode) {
  RunData d;
  test::make_full_grid(d, {5, 0.0, 1.0}, {3, 0.0, 1.0}, {3, 0.0, 1.0});
  test::fill_full_grid(d, [](int, double x, double, double) { return x * x * x; });
  const struct {
    double x, want;
  } cases[] = {{1.5, 3.0}, {std::nextafter(1.5, 0.0), 3.75}, {2.5, 15.25}, {std::nextafter(2.5, 0.0), 16.0}};
  for (const auto& t : cases) EXPECT_NEAR(sample(d, 0, t.x, 1.0, 1.0), t.want, 1e-12) << t.x;
}

// The stencil uses the centre, face and edge neighbours of the 3x3x3 block,
// never its eight corners.
TEST(Eb3dAppr, CornersOfTheBlockAreNotRead) {
  RunData d;
  test::make_full_grid(d, {5, 0.0, 1.0}, {5, 0.0, 1.0}, {5, 0.0, 1.0});
  const Quadratic P{0.5, 1.0, -2.0, 0.25, 0.5, 0.75, -1.0, 1.5, -0.5, 0.125};
  test::fill_full_grid(d, [&](int, double x, double y, double z) { return P(x, y, z); });
  for (int c = 0; c < 6; ++c)
    for (int a : {1, 3})
      for (int b : {1, 3})
        for (int e : {1, 3}) test::component(d, c)(a + 1, b + 1, e + 1) = std::nan("");
  const double x = 2.2, y = 1.75, z = 2.4;  // centre node (3, 3, 3)
  for (int c = 0; c < 6; ++c) EXPECT_NEAR(sample(d, c, x, y, z), P(x, y, z), 1e-12) << c;
}

// At a point off every node, axis and plane all ten weights count. For
// F = x^3 + x*y*z + c on the nodes 0, 1, 2 of every axis, the point
// (0.75, 1.25, 1.5) has centre node (1, 1, 1) and offsets p = -1/4, q = 1/4,
// r = 1/2, so the weights are w0 = 5/8, x+- = -3/32, 5/32, y+- = 5/32,
// -3/32, z+- = 3/8, -1/8, xy = -1/64, xz = -1/32, yz = 1/32. With the node
// values 2, 10, 0, 3, 1, 3, 1 and the edge differences 4, 4, 4 (plus c at
// each node) the sum is 1.625 + c, against the field's 1.828125 + c; every
// product is a binary fraction, so the sum is exact.
TEST(Eb3dAppr, AllTenWeightsAtAGeneralPoint) {
  RunData d;
  test::make_full_grid(d, {3, 0.0, 1.0}, {3, 0.0, 1.0}, {3, 0.0, 1.0});
  test::fill_full_grid(d, [](int c, double x, double y, double z) { return x * x * x + x * y * z + c; });
  for (int c = 0; c < 6; ++c) EXPECT_EQ(sample(d, c, 0.75, 1.25, 1.5), 1.625 + c) << c;
}

}  // namespace
}  // namespace wk
