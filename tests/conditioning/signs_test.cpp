// Sign correction: the first maximum of Ez along the axis decides whether E
// or B is reversed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "conditioning/conditioning.hpp"
#include "conditioning/conditioning_detail.hpp"
#include "conditioning_fixture.hpp"

namespace wk {
namespace {

using test::Axis;

// A 3 x 3 grid over [-1, 1] cm with the given Ez on the axis nodes (z from
// 0 cm in steps of 0.5 cm), and some E and B off the axis.
RunData axis_profile(const std::vector<double>& Ez) {
  RunData d;
  test::make_grid(d, Axis{3, -1, 1}, Axis{3, -1, 1}, Axis{static_cast<int>(Ez.size()), 0, 0.5});
  for (int k = 1; k <= d.Niz; ++k) d.Ez(2, 2, k) = Ez[static_cast<std::size_t>(k - 1)];
  test::fill(d.Ex, d, [](double x, double y, double z) { return x + 2 * y - z; });
  test::fill(d.By, d, [](double x, double, double z) { return 3 * x + z; });
  test::fill(d.Bz, d, [](double, double y, double) { return -4 * y; });
  d.Ey(1, 3, 2) = 6;
  d.Bx(3, 1, 1) = -7;
  d.sign_correction = RunData::SignCorrection::ByAxisPeak;
  return d;
}

bool all_negated(const FieldArray& now, const FieldArray& before) {
  for (std::size_t i = 0; i < now.size(); ++i)
    if (now.data()[i] != -before.data()[i]) return false;
  return true;
}
bool unchanged(const FieldArray& now, const FieldArray& before) {
  for (std::size_t i = 0; i < now.size(); ++i)
    if (now.data()[i] != before.data()[i]) return false;
  return true;
}

TEST(SignCorrection, FirstMaximumOnTheAxis) {
  const std::string kE = "  Maxwell Equations: -> Switching E-field sign";
  const std::string kB = "  Maxwell Equations: -> Switching B-field sign";
  const struct {
    const char* name;
    std::vector<double> Ez;
    std::string max_line;
    const std::string& switched;
  } cases[] = {
      {"negative inner peak",
       {-1, -3, -5, -2, -1},
       "  1st Max of Ez: mxEz, mxsg =    5.00000000000000       -1.00000000000000     ",
       kE},
      {"positive peak",
       {1, 2, 3, 1},
       "  1st Max of Ez: mxEz, mxsg =    3.00000000000000        1.00000000000000     ",
       kB},
      // Equal |Ez| at the first two nodes: the first node is the maximum.
      {"plateau", {-2, 2, 5}, "  1st Max of Ez: mxEz, mxsg =    2.00000000000000       -1.00000000000000     ", kE},
      // Only the first local maximum counts.
      {"later larger peak",
       {1, 2, 1, -10, -20, 0},
       "  1st Max of Ez: mxEz, mxsg =    2.00000000000000        1.00000000000000     ",
       kB},
      {"sign change on the way up",
       {0.5, -1.5, 2.5, 1},
       "  1st Max of Ez: mxEz, mxsg =    2.50000000000000        1.00000000000000     ",
       kB},
      // Still rising at the last node: the last node is the maximum.
      {"rising to the end",
       {-1, -2, -3},
       "  1st Max of Ez: mxEz, mxsg =    3.00000000000000       -1.00000000000000     ",
       kE},
      // No field at the first maximum: no sign, taken as 0; B is reversed.
      {"zero first maximum",
       {0, 0, 7},
       "  1st Max of Ez: mxEz, mxsg =   0.000000000000000E+000  0.000000000000000E+000",
       kB},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RunData d = axis_profile(c.Ez);
    const RunData before = d;
    const auto log = test::capture_log([&](ListWriter& w) { correct_signs(d, w); });
    const std::vector<std::string> want = {c.max_line, c.switched, "  ------------------------------ "};
    EXPECT_EQ(log.lines, want);
    const bool E_switched = &c.switched == &kE;
    for (const auto& [now, old] :
         {std::pair{&d.Ex, &before.Ex}, std::pair{&d.Ey, &before.Ey}, std::pair{&d.Ez, &before.Ez}})
      EXPECT_TRUE(E_switched ? all_negated(*now, *old) : unchanged(*now, *old));
    for (const auto& [now, old] :
         {std::pair{&d.Bx, &before.Bx}, std::pair{&d.By, &before.By}, std::pair{&d.Bz, &before.Bz}})
      EXPECT_TRUE(E_switched ? unchanged(*now, *old) : all_negated(*now, *old));
  }
}

TEST(SignCorrection, ReversedEHasAPositiveFirstPeak) {
  RunData d = axis_profile({-1, -3, -5, -2, -1});
  test::capture_log([&](ListWriter& w) { correct_signs(d, w); });
  // The same search now finds +5: a second correction would reverse B.
  const auto again = test::capture_log([&](ListWriter& w) { correct_signs(d, w); });
  ASSERT_FALSE(again.lines.empty());
  EXPECT_EQ(again.lines[0], "  1st Max of Ez: mxEz, mxsg =    5.00000000000000        1.00000000000000     ");
}

TEST(SignCorrection, WholeGridDecisionReversesBWithoutAPeak) {
  // A negative first peak would reverse E; the whole grid's decision
  // reverses B and logs no peak.
  RunData d = axis_profile({-1, -3, -5, -2, -1});
  d.sign_correction = RunData::SignCorrection::BFromGrid;
  const RunData before = d;
  const auto log = test::capture_log([&](ListWriter& w) { correct_signs(d, w); });
  EXPECT_EQ(log.lines, (std::vector<std::string>{"  Maxwell Equations: -> Switching B-field sign",
                                                 "  ------------------------------ "}));
  EXPECT_TRUE(unchanged(d.Ex, before.Ex) && unchanged(d.Ez, before.Ez));
  EXPECT_TRUE(all_negated(d.Bx, before.Bx) && all_negated(d.By, before.By) && all_negated(d.Bz, before.Bz));
}

TEST(SignCorrection, CompatibleSignsOnlyCloseTheBlock) {
  RunData d = axis_profile({-1, -3, -5, -2, -1});
  const RunData before = d;
  d.sign_correction = RunData::SignCorrection::None;
  const auto log = test::capture_log([&](ListWriter& w) { correct_signs(d, w); });
  EXPECT_EQ(log.lines, std::vector<std::string>{"  ------------------------------ "});
  for (const auto& [now, old] : {std::pair{&d.Ex, &before.Ex}, std::pair{&d.Ez, &before.Ez},
                                 std::pair{&d.Bx, &before.Bx}, std::pair{&d.By, &before.By}})
    EXPECT_TRUE(unchanged(*now, *old));
}

}  // namespace
}  // namespace wk
