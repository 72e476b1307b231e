// The case tables below are laid out by hand, one case a line.
// clang-format off
// The Maxwell check on small full grids with fields made slice by slice.
//
// Every slice is sampled exactly at a z node, where EB3D_APPR uses the nodes
// of that plane only, so each slice can carry a field of its own. In a slice
// with a uniform Ez = E0 and B = k (-y, x, 0) the azimuthal B on a circle of
// radius r is k r, so
//   I_H = (r/100) * 2 pi k r / mu1,   I_E = -eps0 omeg pi r^2 E0 / 100,
//   ratio = I_E / I_H = -eps0 omeg mu1 E0 / (2 k),
// independent of r. Choosing k from a wanted ratio gives slices with known
// ratios; they come back to within rounding (1e-12 relative: a 360-term sum
// of a constant and cos^2 + sin^2 = 1 to a few ulp).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "conditioning/conditioning.hpp"
#include "conditioning/conditioning_detail.hpp"
#include "conditioning_fixture.hpp"

namespace wk {
namespace {

using test::Axis;

constexpr double kE0 = 1e4;  // V/cm
constexpr double kFreq = 1.3e9;
constexpr double kTol = 1e-12;

// One slice: a wanted ratio, or one of the two slices without I_H.
struct Slice {
  enum Kind { Ratio, NoCurrent, DisplacementOnly } kind;
  double ratio = 0;
};
Slice R(double ratio) { return {Slice::Ratio, ratio}; }
constexpr Slice kNone{Slice::NoCurrent, 0};
constexpr Slice kEOnly{Slice::DisplacementOnly, 0};

// A 5 x 5 grid over [-2, 2] cm in x and y, z nodes at 0, 1, 2, ... cm, and a
// circle of radius 1 cm (aper = 2). slices[n] fills z node n + 2; the first
// and last z nodes are left at zero.
RunData slice_maps(const std::vector<Slice>& slices) {
  RunData d;
  test::set_constants(d, kFreq);
  d.aper = 2;
  const int nz = static_cast<int>(slices.size()) + 2;
  test::make_grid(d, Axis{5, -2, 1}, Axis{5, -2, 1}, Axis{nz, 0, 1});
  for (int iz = 2; iz <= nz - 1; ++iz) {
    const Slice& s = slices[static_cast<std::size_t>(iz - 2)];
    const double E0 = s.kind == Slice::NoCurrent ? 0.0 : kE0;
    const double k = s.kind == Slice::Ratio ? -d.eps0 * d.omeg * d.mu1 * kE0 / (2 * s.ratio) : 0.0;
    for (int i = 1; i <= d.Nix; ++i)
      for (int j = 1; j <= d.Niy; ++j) {
        d.Ez(i, j, iz) = E0;
        d.Bx(i, j, iz) = -k * d.Yi(j);
        d.By(i, j, iz) = k * d.Xi(i);
      }
  }
  return d;
}

struct Outcome {
  bool incompatible = false;
  test::Captured log;
};
Outcome run_check(RunData& d) {
  Outcome o;
  o.log = test::capture_log([&](ListWriter& log) { check_maxwell(d, log); });
  o.incompatible = d.sign_correction != RunData::SignCorrection::None;
  return o;
}

bool has_line(const test::Captured& c, const std::string& s) {
  for (const auto& l : c.lines)
    if (l == s) return true;
  return false;
}

// A slice line with the minus signs of I_H (column 50) and of the ratio
// (column 80) dropped.
std::string without_current_signs(std::string s) {
  for (const std::size_t at : {50u, 80u}) {
    const std::size_t minus = s.find('-', at);
    if (minus < at + 14) s[minus] = ' ';
  }
  return s;
}

void expect_near_rel(double got, double want, const char* what) {
  EXPECT_NEAR(got, want, kTol * std::fabs(want) + 1e-300) << what;
}

TEST(MaxwellCheck, StatisticsOverSlices) {
  const struct {
    const char* name;
    std::vector<Slice> slices;
    double avg_s;  // exact: a sum of signs divided by Niz
    double avg_r, max_r, min_r;
    bool incompatible, warning;
  } cases[] = {
      {"positive ratios", {R(1), R(1), R(1), R(1)}, 4.0 / 6, 4.0 / 6, 1, 1, false, false},
      {"H reversed", {R(-1), R(-1), R(-1), R(-1)}, -4.0 / 6, -4.0 / 6, 1, 1, true, false},
      {"Niz = 4 with ratios of 1", {R(1), R(1)}, 0.5, 0.5, 1, 1, false, false},
      {"spread of ratios", {R(2), R(0.5), R(1.25)}, 3.0 / 5, 3.75 / 5, 2, 0.5, false, false},
      // No current at all: the sign of the running sum, + while it is 0.
      {"no current after a negative", {R(-1), kNone, kNone, R(1)}, -2.0 / 6, -2.0 / 6, 1, 1, true, false},
      {"no current at a zero sum", {kNone, R(-1), kNone}, 1.0 / 5, 1.0 / 5, 1, 1, false, false},
      // Displacement current without circulation: ratio 0, out of the sums.
      {"displacement only", {kEOnly, R(1), R(1)}, 2.0 / 5, 2.0 / 5, 1, 0, false, false},
      {"warning above 1.5", std::vector<Slice>(8, R(1.9)), 8.0 / 10, 1.52, 1.9, 1.9, false, true},
      {"warning and signs", std::vector<Slice>(8, R(-1.9)), -8.0 / 10, -1.52, 1.9, 1.9, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RunData d = slice_maps(c.slices);
    const Outcome o = run_check(d);
    ASSERT_FALSE(o.log.error.has_value());
    EXPECT_EQ(d.avg_sRL1, c.avg_s);
    expect_near_rel(d.avg_rRL1, c.avg_r, "avg_rRL1");
    expect_near_rel(d.max_rRL1, c.max_r, "max_rRL1");
    expect_near_rel(d.min_rRL1, c.min_r, "min_rRL1");
    EXPECT_EQ(o.incompatible, c.incompatible);
    EXPECT_EQ(has_line(o.log, "  Maxwell Equations: E and B Signs Not Compatible"), c.incompatible);
    EXPECT_EQ(has_line(o.log, "  Warning: Maxwell Equations: Ratio > 1.5 "), c.warning);
    // Heading, blank, one line per slice, blank, four statistics, blank, and
    // the warning and sign lines when they apply.
    const std::size_t want_lines = 2 + c.slices.size() + 6 + (c.warning ? 1 : 0) + (c.incompatible ? 1 : 0);
    EXPECT_EQ(o.log.lines.size(), want_lines);
  }
}

TEST(MaxwellCheck, ExactLogWithoutSlices) {
  // Niz = 2: no slice is examined; the statistics keep their initial values.
  RunData d;
  test::set_constants(d, kFreq);
  d.aper = 2;
  test::make_grid(d, Axis{3, -1, 1}, Axis{3, -1, 1}, Axis{2, 0, 1});
  const Outcome o = run_check(d);
  const std::vector<std::string> want = {
      "  Checking Maxwell Equations ... ",
      " ",
      " ",
      "  avg_sRL1=   0.000000000000000E+000",
      "  avg_rRL1=   0.000000000000000E+000",
      "  max_rRL1=   0.000000000000000E+000",
      "  min_rRL1=    9000000000.00000     ",
      " ",
  };
  EXPECT_EQ(o.log.lines, want);
  EXPECT_FALSE(o.incompatible);
  EXPECT_EQ(d.min_rRL1, 9e9);
}

TEST(MaxwellCheck, ExactLogOfZeroAperture) {
  // aper = 0 puts the circle on the axis: both currents vanish (I_E is -0.0
  // for a positive Ez) and the ratio is +1 by the rule for no current.
  RunData d;
  test::set_constants(d, kFreq);
  d.aper = 0;
  test::make_grid(d, Axis{3, -1, 1}, Axis{3, -1, 1}, Axis{3, -1, 1});
  test::fill(d.Ez, d, [](double, double, double z) { return 100 + z; });
  test::fill(d.By, d, [](double x, double, double) { return 3 * x; });
  const Outcome o = run_check(d);
  const std::vector<std::string> want = {
      "  Checking Maxwell Equations ... ",
      " ",
      "  iz, zz, I_H, I_E, ratio=     2        0.000000    0.000000E+00    0.000000E+00      1.000000",
      " ",
      "  avg_sRL1=   0.333333333333333     ",
      "  avg_rRL1=   0.333333333333333     ",
      "  max_rRL1=    1.00000000000000     ",
      "  min_rRL1=    1.00000000000000     ",
      " ",
  };
  EXPECT_EQ(o.log.lines, want);
  EXPECT_FALSE(o.incompatible);
}

TEST(MaxwellCheck, SliceLineCarriesTheCurrents) {
  // Ratio -1 at z = 1 cm: I_H = (r/100) * 2 pi k r / mu1 with r = 1 cm.
  RunData d = slice_maps({R(-1)});
  const double k = d.eps0 * d.omeg * d.mu1 * kE0 / 2;
  const double I_H = 2 * d.pi * k / d.mu1 / 100;
  const double I_E = -d.eps0 * d.omeg * d.pi * kE0 / 100;
  // Hand check of the magnitudes before comparing the printed fields.
  ASSERT_NEAR(I_H, -I_E, 1e-12 * std::fabs(I_E));
  ASSERT_NEAR(I_E, -22.7207, 1e-4);  // -8.8542e-12 F/m * 8.1681e9 /s * pi * 1 cm^2 * 1e4 V/cm / 100
  const Outcome o = run_check(d);
  ASSERT_GE(o.log.lines.size(), 3u);
  EXPECT_EQ(o.log.lines[2],
            "  iz, zz, I_H, I_E, ratio=     2        1.000000    0.227207E+02   -0.227207E+02     -1.000000");
}

TEST(MaxwellCheck, ReversingHReversesEveryRatio) {
  const std::vector<Slice> slices = {R(1), R(0.8), R(1.3), kEOnly, R(1.1)};
  RunData d = slice_maps(slices);
  RunData reversed = d;
  for (FieldArray* a : {&reversed.Bx, &reversed.By, &reversed.Bz})
    for (std::size_t i = 0; i < a->size(); ++i) a->data()[i] = -a->data()[i];
  const Outcome plain = run_check(d);
  const Outcome flipped = run_check(reversed);
  EXPECT_FALSE(plain.incompatible);
  EXPECT_TRUE(flipped.incompatible);
  // Negation is exact, so the statistics are exact negatives of each other.
  EXPECT_EQ(reversed.avg_sRL1, -d.avg_sRL1);
  EXPECT_EQ(reversed.avg_rRL1, -d.avg_rRL1);
  EXPECT_EQ(reversed.max_rRL1, d.max_rRL1);
  EXPECT_EQ(reversed.min_rRL1, d.min_rRL1);
  EXPECT_EQ(d.avg_sRL1, 4.0 / 7);
  // The slice lines differ only in the signs of I_H and of the ratio.
  ASSERT_EQ(plain.log.lines.size() + 1, flipped.log.lines.size());
  for (std::size_t n = 0; n < slices.size(); ++n) {
    const std::string& line = plain.log.lines[n + 2];
    const std::string& other = flipped.log.lines[n + 2];
    EXPECT_EQ(without_current_signs(other), without_current_signs(line));
    EXPECT_EQ(other == line, slices[n].kind != Slice::Ratio);
  }
}

TEST(MaxwellCheck, MeanRatioAboveTwoStopsTheRun) {
  for (const double ratio : {3.0, -3.0}) {
    RunData d = slice_maps(std::vector<Slice>(8, R(ratio)));  // mean 8 * ratio / 10
    const Outcome o = run_check(d);
    ASSERT_TRUE(o.log.error.has_value()) << ratio;
    EXPECT_STREQ(o.log.error->what(), " Maxwell Equations Not Verified: Ratio > 2 ");
    EXPECT_EQ(o.log.error->status(), kExitStop);
    // The log ends with the statistics and their blank line: no warning, no
    // sign message.
    ASSERT_EQ(o.log.lines.size(), 2u + 8u + 6u);
    EXPECT_EQ(o.log.lines.back(), " ");
    EXPECT_EQ(o.log.lines[o.log.lines.size() - 2].substr(0, 11), "  min_rRL1=");
  }
}

TEST(MaxwellCheck, ManySlicesKeepTheirOrder) {
  // Enough slices for the currents to be computed on two threads: every line
  // must still carry its own slice's ratio, in slice order.
  std::vector<Slice> slices;
  for (int n = 0; n < 151; ++n) slices.push_back(R(n % 2 ? 0.5 + 0.01 * n : -(0.5 + 0.01 * n)));
  RunData d = slice_maps(slices);
  const Outcome o = run_check(d);
  ASSERT_EQ(o.log.lines.size(), 2 + slices.size() + 6 + 1);
  for (std::size_t n = 0; n < slices.size(); ++n) {
    char want[14];
    format_F14_6(slices[n].ratio, want);
    char iz[5];
    format_I5(static_cast<int>(n) + 2, iz);
    const std::string& line = o.log.lines[n + 2];
    EXPECT_EQ(line.substr(27, 5), std::string(iz, 5));
    EXPECT_EQ(line.substr(80), std::string(want, 14)) << n;
  }
  EXPECT_EQ(d.avg_sRL1, -1.0 / 153);
  EXPECT_TRUE(o.incompatible);
}

TEST(MaxwellDecisions, MeanRatioThresholdsAreStrict) {
  using conditioning_detail::RatioVerdict;
  const struct {
    double avg_rRL1;
    RatioVerdict want;
  } cases[] = {
      {0.0, RatioVerdict::Accept},
      {1.0, RatioVerdict::Accept},
      {1.5, RatioVerdict::Accept},
      {-1.5, RatioVerdict::Accept},
      {std::nextafter(1.5, 2.0), RatioVerdict::Warn},
      {-1.75, RatioVerdict::Warn},
      {2.0, RatioVerdict::Warn},
      {-2.0, RatioVerdict::Warn},
      {std::nextafter(2.0, 3.0), RatioVerdict::Stop},
      {-2.5, RatioVerdict::Stop},
      {std::numeric_limits<double>::infinity(), RatioVerdict::Stop},
      // A mean that is not a number verifies nothing.
      {std::numeric_limits<double>::quiet_NaN(), RatioVerdict::Stop},
  };
  for (const auto& c : cases) EXPECT_EQ(conditioning_detail::judge_ratio(c.avg_rRL1), c.want) << c.avg_rRL1;
}

TEST(MaxwellDecisions, RatioOfOneSlice) {
  const struct {
    double I_H, I_E, running_sRL1, want;
  } cases[] = {
      {2.0, 1.0, 0.0, 0.5},
      {-4.0, 1.0, 5.0, -0.25},
      {0.0, 0.0, 0.0, 1.0},    // no current, zero sum: +1
      {0.0, 0.0, 3.0, 1.0},
      {0.0, 0.0, -1.0, -1.0},  // no current after a negative sum: -1
      {-0.0, -0.0, -2.0, -1.0},
      {0.0, 5.0, -1.0, 0.0},   // displacement current only
      {-0.0, -5.0, 1.0, 0.0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(conditioning_detail::slice_ratio(c.I_H, c.I_E, c.running_sRL1), c.want) << c.I_H << " " << c.I_E << " " << c.running_sRL1;
}

}  // namespace
}  // namespace wk
