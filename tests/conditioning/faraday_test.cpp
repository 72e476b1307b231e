// Faraday's law over the whole grid, and the choice of signs that combines
// it with the axial check.
//
// Central differences are exact for fields linear in the coordinates: with
// E = (a z, 0, 0), curl E = (0, a, 0), so a map with By = -a/w' (w' =
// 1e-8 omeg, lengths in cm, E in V/cm, B in gauss) obeys Faraday's law with
// B a quarter period after E exactly: c = -1, residual 0.
// The case tables below are laid out by hand, one case a line.
// clang-format off
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>

#include "conditioning/conditioning_detail.hpp"
#include "conditioning_fixture.hpp"

namespace wk {
namespace {

using conditioning_detail::FaradayVerdict;
using test::Axis;
using F = std::function<double(double, double, double)>;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(FaradayCheck, CorrelationOfCurlEWithOmegaB) {
  RunData probe;
  test::set_constants(probe, 1.3e9);
  const double w = 1e-8 * probe.omeg, a = 50;
  const F zero = [](double, double, double) { return 0.0; };
  const F ex = [=](double, double, double z) { return a * z; };
  const F by_after = [=](double, double, double) { return -a / w; };
  const struct {
    const char* name;
    Axis z;  // x and y: 5 nodes over [-2, 2] cm
    F Ex, By, Bz;
    double c, residual;  // residual NaN: not compared
    FaradayVerdict verdict;
  } cases[] = {
      {"B a quarter period after E", Axis{7, -3, 1}, ex, by_after, zero, -1, 0, FaradayVerdict::Compatible},
      {"B reversed", Axis{7, -3, 1}, ex, [=](double, double, double) { return a / w; }, zero, 1, 0, FaradayVerdict::Reversed},
      // z 400 times finer than x: differenced over 400 nodes either side.
      {"fine z steps", Axis{1601, -2, 0.0025}, ex, by_after, zero, -1, 0, FaradayVerdict::Compatible},
      // B at right angles to curl E: no correlation.
      {"B of another shape", Axis{7, -3, 1}, ex, zero, [=](double, double, double) { return a / w; }, 0, std::sqrt(2.0), FaradayVerdict::Unclear},
      // Half of B along curl E: c = 1/sqrt(2).
      {"B partly along curl E", Axis{7, -3, 1}, ex, by_after, [=](double, double, double) { return a / w; }, -std::sqrt(0.5), 1, FaradayVerdict::Unclear},
      {"E without curl", Axis{7, -3, 1}, [](double x, double, double) { return x; }, by_after, zero, kNaN, kNaN, FaradayVerdict::NotMade},
      {"no B", Axis{7, -3, 1}, ex, zero, zero, kNaN, kNaN, FaradayVerdict::NotMade},
      {"no interior node", Axis{2, 0, 1}, ex, by_after, zero, kNaN, kNaN, FaradayVerdict::NotMade},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RunData d;
    test::set_constants(d, 1.3e9);
    test::make_grid(d, Axis{5, -2, 1}, Axis{5, -2, 1}, c.z);
    test::fill(d.Ex, d, c.Ex);
    test::fill(d.By, d, c.By);
    test::fill(d.Bz, d, c.Bz);
    d.Ez(1, 5, d.Niz) = -7e4;  // a corner: the largest E component, outside the interior
    const RunData::Faraday f = conditioning_detail::check_faraday(d);
    if (std::isnan(c.c)) {
      EXPECT_TRUE(std::isnan(f.c)) << f.c;
      EXPECT_TRUE(std::isnan(f.residual)) << f.residual;
    } else {
      EXPECT_NEAR(f.c, c.c, 1e-12);
      EXPECT_NEAR(f.residual, c.residual, 1e-6);
    }
    EXPECT_EQ(conditioning_detail::judge_faraday(f.c), c.verdict);
    EXPECT_EQ(f.E_max, 7e4);
  }
}

TEST(FaradayCheck, Verdicts) {
  const struct {
    double c;
    FaradayVerdict want;
  } cases[] = {
      {-1, FaradayVerdict::Compatible}, {-0.9, FaradayVerdict::Compatible}, {std::nextafter(-0.9, 0.0), FaradayVerdict::Unclear},
      {0, FaradayVerdict::Unclear},     {0.9, FaradayVerdict::Reversed},    {std::nextafter(0.9, 0.0), FaradayVerdict::Unclear},
      {1, FaradayVerdict::Reversed},    {kNaN, FaradayVerdict::NotMade},
  };
  for (const auto& c : cases) EXPECT_EQ(conditioning_detail::judge_faraday(c.c), c.want) << c.c;
}

TEST(SignDecision, AxisEvidenceFirstThenTheWholeGrid) {
  using SC = RunData::SignCorrection;
  const struct {
    bool evidence;
    double avg_sRL1;
    FaradayVerdict grid;
    SC want;
    bool disagree;
  } cases[] = {
      // With evidence the axis decides; the grid only warns when it clearly disagrees.
      {true, -0.98, FaradayVerdict::Reversed, SC::ByAxisPeak, false},
      {true, -0.98, FaradayVerdict::Compatible, SC::ByAxisPeak, true},
      {true, -0.98, FaradayVerdict::Unclear, SC::ByAxisPeak, false},
      {true, 0.98, FaradayVerdict::Compatible, SC::None, false},
      {true, 0.98, FaradayVerdict::Reversed, SC::None, true},
      {true, 0.0, FaradayVerdict::NotMade, SC::None, false},
      // Without it only a clear verdict of reversed signs acts, on B.
      {false, -0.5, FaradayVerdict::Compatible, SC::None, false},
      {false, 0.98, FaradayVerdict::Reversed, SC::BFromGrid, false},
      {false, -0.98, FaradayVerdict::Unclear, SC::None, false},
      {false, 0.0, FaradayVerdict::NotMade, SC::None, false},
  };
  for (const auto& c : cases) {
    const auto got = conditioning_detail::decide_signs(c.evidence, c.avg_sRL1, c.grid);
    EXPECT_EQ(got.correction, c.want) << c.evidence << " " << c.avg_sRL1 << " " << static_cast<int>(c.grid);
    EXPECT_EQ(got.disagree, c.disagree) << c.evidence << " " << c.avg_sRL1 << " " << static_cast<int>(c.grid);
  }
  // A slice carries a real field from 1e-2 of the largest E component on.
  EXPECT_TRUE(conditioning_detail::slice_has_field(-100, 1e4));
  EXPECT_FALSE(conditioning_detail::slice_has_field(std::nextafter(100.0, 0.0), 1e4));
  EXPECT_FALSE(conditioning_detail::slice_has_field(0, 0));
}

}  // namespace
}  // namespace wk
