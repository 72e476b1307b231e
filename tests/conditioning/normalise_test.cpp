// Field maxima and normalisation.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "conditioning/conditioning.hpp"
#include "conditioning_fixture.hpp"

namespace wk {
namespace {

using test::Axis;

// A 3 x 3 x 5 grid; the axis x = y = 0 runs through the middle nodes when
// x0 = -1 (x and y from -1 to 1 cm) and misses the grid when x0 = 1.
RunData axis_grid(double x0, double Fnorm) {
  RunData d;
  test::set_constants(d, 1.3e9);
  d.Fnorm = Fnorm;
  d.Ez_max_read = 8e6;  // as read from the export, V/m
  test::make_grid(d, Axis{3, x0, 1}, Axis{3, -1, 1}, Axis{5, -0.5, 0.25});
  const double axis[5] = {1e6, -3e6, 2e6, 0, 5e5};
  for (int k = 1; k <= 5; ++k) d.Ez(2, 2, k) = axis[k - 1];
  d.Ez(1, 3, 3) = 7e6;  // off the axis
  d.Ex(3, 1, 2) = 0.1;
  d.Ey(1, 1, 1) = -250;
  d.Bx(2, 2, 2) = 1;  // A/m
  d.By(3, 3, 5) = -0.1;
  d.Bz(1, 2, 4) = 40;
  return d;
}

TEST(Normalise, LogLines) {
  const struct {
    double x0, Fnorm;
    const char* x_line;
    const char* axis_line;
    const char* fnorm_line;
  } cases[] = {
      // The axis maximum is |-3e6| at the middle nodes; 7e6 lies off the axis.
      {-1.0, 1.0, "  Ximin, Ximax, Nix =   -1.00000000000000        1.00000000000000     ",
       "  Input Max E-field on Axis (MV/m)=    3.00000000000000     ",
       "  Renomalized using Fnorm=    1.00000000000000     "},
      // Both maxima are taken before scaling: Fnorm shows only on its own line.
      {-1.0, -2.5, "  Ximin, Ximax, Nix =   -1.00000000000000        1.00000000000000     ",
       "  Input Max E-field on Axis (MV/m)=    3.00000000000000     ",
       "  Renomalized using Fnorm=   -2.50000000000000     "},
      // x from 1 to 3 cm: the axis is outside the grid, its maximum is 0.
      {1.0, 1.0, "  Ximin, Ximax, Nix =    1.00000000000000        3.00000000000000     ",
       "  Input Max E-field on Axis (MV/m)=   0.000000000000000E+000",
       "  Renomalized using Fnorm=    1.00000000000000     "},
  };
  for (const auto& c : cases) {
    RunData d = axis_grid(c.x0, c.Fnorm);
    const auto log = test::capture_log([&](ListWriter& w) { normalise_fields(d, w); });
    // Each grid line holds 1 + 21 + 24 + 24 = 70 columns of text and limits;
    // the count's 12 columns no longer fit in 80 and start the next line.
    const std::vector<std::string> want = {
        "  Full input grid ",
        c.x_line,
        "           3",
        "  Yimin, Yimax, Niy =   -1.00000000000000        1.00000000000000     ",
        "           3",
        "  Zimin, Zimax, Niz =  -0.500000000000000       0.500000000000000     ",
        "           5",
        "  ------------------------------ ",
        "  Input Max E-field (MV/m)=    8.00000000000000     ",
        c.axis_line,
        c.fnorm_line,
        "  ------------------------------ ",
    };
    EXPECT_EQ(log.lines, want) << c.x0 << " " << c.Fnorm;
  }
}

// E in V/m becomes V/cm, H in A/m becomes B in gauss (1 A/m is
// mu1 = 4 pi 1e-3 gauss), both times Fnorm. The values are typed; each is
// one or two roundings away from the exact product: 4 ulps.
TEST(Normalise, ScalesToVoltsPerCmAndGauss) {
  const struct {
    double Fnorm;
    double Ez1, Ez2, Ex, Ey;  // V/cm, from 1e6, -3e6, 0.1, -250 V/m
    double Bx, By, Bz;        // gauss, from 1, -0.1, 40 A/m
  } cases[] = {
      {1.0, 1e4, -3e4, 1e-3, -2.5, 0.012566370614359173, -0.0012566370614359175, 0.5026548245743669},
      {-2.5, -2.5e4, 7.5e4, -2.5e-3, 6.25, -0.031415926535897934, 0.0031415926535897933, -1.2566370614359172},
      {0.0, 0, 0, 0, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    RunData d = axis_grid(-1.0, c.Fnorm);
    test::capture_log([&](ListWriter& w) { normalise_fields(d, w); });
    SCOPED_TRACE(c.Fnorm);
    EXPECT_DOUBLE_EQ(d.Ez(2, 2, 1), c.Ez1);
    EXPECT_DOUBLE_EQ(d.Ez(2, 2, 2), c.Ez2);
    EXPECT_DOUBLE_EQ(d.Ex(3, 1, 2), c.Ex);
    EXPECT_DOUBLE_EQ(d.Ey(1, 1, 1), c.Ey);
    EXPECT_DOUBLE_EQ(d.Bx(2, 2, 2), c.Bx);
    EXPECT_DOUBLE_EQ(d.By(3, 3, 5), c.By);
    EXPECT_DOUBLE_EQ(d.Bz(1, 2, 4), c.Bz);
    // A node without field stays without.
    EXPECT_EQ(d.Ez(1, 1, 1), 0.0);
    EXPECT_EQ(d.Bz(3, 3, 3), 0.0);
  }
}

TEST(Normalise, AxisMaximumBetweenNodes) {
  // x and y nodes at -1.5, -0.5, 0.5, 1.5 cm: the axis is interpolated. A
  // field quadratic in x, y and z is reproduced exactly up to rounding, so
  // the axis values are 1e6 * (2 - z^2), largest (2e6) at z = 0.
  RunData d;
  test::set_constants(d, 1.3e9);
  d.Fnorm = 1;
  test::make_grid(d, Axis{4, -1.5, 1}, Axis{4, -1.5, 1}, Axis{5, -1, 0.5});
  test::fill(d.Ez, d, [](double x, double y, double z) { return 1e6 * (2 - z * z + 3 * x * x - y + x * z); });
  const auto log = test::capture_log([&](ListWriter& w) { normalise_fields(d, w); });
  ASSERT_EQ(log.lines.size(), 12u);
  const std::string& line = log.lines[9];
  ASSERT_EQ(line.substr(0, 36), "  Input Max E-field on Axis (MV/m)= ");
  // 2.0 within rounding: 15 significant digits show 2.00000000000000 or a
  // last-digit neighbour.
  EXPECT_NEAR(std::stod(line.substr(36)), 2.0, 1e-13);
}

}  // namespace
}  // namespace wk
