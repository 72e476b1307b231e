// The case tables below are laid out by hand, one case a line.
// clang-format off
// Output grid, its log block, and the choice between copy and interpolation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "regrid/regrid.hpp"
#include "regrid_test_grid.hpp"

namespace wk {
namespace {

using test::blanks;

const char* const kInterpolate = "  Symmetry or grid are different, Interpolate ...\r\n";
const char* const kCopy = "  Same symmetry and grid, No need for interpolation, Simply write the field ...\r\n";

// A small full grid around the origin, enough for EB3D_APPR to run.
void small_full_grid(RunData& d) {
  test::make_full_grid(d, {3, -1.0, 1.0}, {3, -1.0, 1.0}, {3, -1.0, 1.0});
  test::fill_full_grid(d, [](int c, double x, double y, double z) { return c + x + 2 * y + 3 * z; });
}

// Calls f(c, i, j, k, value) for every value of the six output arrays
// (c: 0..2 Exo, Eyo, Ezo, 3..5 Bxo, Byo, Bzo).
template <class F>
void for_each_output(const RunData& d, F f) {
  const FieldArray* out[6] = {&d.Exo, &d.Eyo, &d.Ezo, &d.Bxo, &d.Byo, &d.Bzo};
  for (int k = 1; k <= d.Noz; ++k)
    for (int j = 1; j <= d.Noy; ++j)
      for (int i = 1; i <= d.Nox; ++i)
        for (int c = 0; c < 6; ++c) f(c, i, j, k, (*out[c])(i, j, k));
}

std::vector<double> nodes(const NodeArray& a) { return std::vector<double>(a.data(), a.data() + a.size()); }

TEST(OutputGrid, NodesLimitsAndLogBlock) {
  // 0.01 cm over 5 nodes: (4 - 1) * 0.005 + -0.01 rounds to 0.004999999999999999.
  const std::vector<double> both_sides = {-0.01, -0.005, 0.0, 0.004999999999999999, 0.01};
  const std::vector<double> from_zero = {0.0, 0.0025, 0.005, 0.0075, 0.01};
  const std::string minus_001 = " -1.000000000000000E-002", plus_001 = "  1.000000000000000E-002";
  const std::string zero = test::kListZero, five = blanks(11) + "5";
  const struct {
    double aper, elen;
    int symX, symY, symZ, Nox, Noy, Noz;
    std::vector<double> xo, yo, zo;
    std::string block;
  } cases[] = {
      {0.01, 0.02, 0, 1, 2, 5, 5, 5, both_sides, from_zero, from_zero,
       "  Xmin, Xmax, Nox = " + minus_001 + plus_001 + five + "\r\n" +  //
           "  Ymin, Ymax, Noy = " + zero + plus_001 + five + "\r\n" +   //
           "  Zmin, Zmax, Noz = " + zero + plus_001 + five + "\r\n"},
      // Only zero or non-zero of an output key matters: 2 starts at 0 like 1.
      {0.01, 0.02, 2, 2, 0, 5, 5, 5, from_zero, from_zero, both_sides,
       "  Xmin, Xmax, Nox = " + zero + plus_001 + five + "\r\n" +       //
           "  Ymin, Ymax, Noy = " + zero + plus_001 + five + "\r\n" +       //
           "  Zmin, Zmax, Noz = " + minus_001 + plus_001 + five + "\r\n"},
      {1.0, 10.0, 1, 1, 0, 2, 3, 11, {0.0, 1.0}, {0.0, 0.5, 1.0}, {-5, -4, -3, -2, -1, 0, 1, 2, 3, 4, 5},
       "  Xmin, Xmax, Nox = " + zero + "   1.00000000000000     " + blanks(11) + "2\r\n" +
           "  Ymin, Ymax, Noy = " + zero + "   1.00000000000000     " + blanks(11) + "3\r\n" +
           "  Zmin, Zmax, Noz =   -5.00000000000000        5.00000000000000     " + blanks(10) + "11\r\n"},
  };
  for (const auto& t : cases) {
    RunData d;
    small_full_grid(d);
    d.aper = t.aper;
    d.elen = t.elen;
    d.symX = t.symX;
    d.symY = t.symY;
    d.symZ = t.symZ;
    d.Nox = t.Nox;
    d.Noy = t.Noy;
    d.Noz = t.Noz;
    test::LogCapture log;
    build_output_grid(d, log.log());
    SCOPED_TRACE("keys " + std::to_string(t.symX) + std::to_string(t.symY) + std::to_string(t.symZ));
    EXPECT_EQ(nodes(d.Xo), t.xo);
    EXPECT_EQ(nodes(d.Yo), t.yo);
    EXPECT_EQ(nodes(d.Zo), t.zo);
    EXPECT_EQ(d.Xmin, t.xo.front());
    EXPECT_EQ(d.Xmax, t.aper);
    EXPECT_EQ(d.Ymin, t.yo.front());
    EXPECT_EQ(d.Ymax, t.aper);
    EXPECT_EQ(d.Zmin, t.zo.front());
    EXPECT_EQ(d.Zmax, t.elen / 2);
    EXPECT_EQ(log.text(), "  Output grid parameters \r\n" + t.block + "  ------------------------------ \r\n" +
                              kInterpolate);
  }
  RunData d;
  small_full_grid(d);
  d.aper = 0.01;
  d.elen = 0.02;
  d.symY = 1;
  d.Nox = d.Noy = d.Noz = 5;
  test::LogCapture log;
  build_output_grid(d, log.log());
  EXPECT_EQ(d.dXo, 0.005);
  EXPECT_EQ(d.dYo, 0.0025);
  EXPECT_EQ(d.dZo, 0.005);
}

// Whole-structure export on a 5 x 5 x 5 full grid from 0 to 1 in x, y and z,
// and an output grid meant to be the same (output keys 1, aperture 1, length 2).
RunData same_grid_run() {
  RunData d;
  test::make_full_grid(d, {5, 0.0, 0.25}, {5, 0.0, 0.25}, {5, 0.0, 0.25});
  test::fill_full_grid(d, [](int c, double x, double y, double z) { return std::sin(c + 5 * x * y) - z * z * z; });
  d.aper = 1.0;
  d.elen = 2.0;
  d.symX = d.symY = d.symZ = 1;
  d.Nox = d.Noy = d.Noz = 5;
  d.isym = 0;
  return d;
}

TEST(OutputGrid, CopyOnlyForAWholeStructureOnTheSameGrid) {
  const struct {
    const char* what;
    std::function<void(RunData&)> change;
    bool copy;
  } cases[] = {
      {"same grid", [](RunData&) {}, true},
      {"mirrored x export", [](RunData& d) { d.isym = 100; }, false},
      {"mirrored y export", [](RunData& d) { d.isym = 20; }, false},
      {"mirrored z export", [](RunData& d) { d.isym = 1; }, false},
      {"Nox differs", [](RunData& d) { d.Nox = 4; }, false},
      {"Noy differs", [](RunData& d) { d.Noy = 6; }, false},
      {"Noz differs", [](RunData& d) { d.Noz = 4; }, false},
      // The tolerance is absolute and strict: a difference of exactly 1e-6 is too much.
      {"Ximin off by 1e-6", [](RunData& d) { d.Ximin = 1e-6; }, false},
      {"Yimin off by 1e-6", [](RunData& d) { d.Yimin = -1e-6; }, false},
      {"Zimin off by 1e-6", [](RunData& d) { d.Zimin = 1e-6; }, false},
      {"Ximin off by 0.999e-6", [](RunData& d) { d.Ximin = 0.999e-6; }, true},
      {"Zimin off by -0.999e-6", [](RunData& d) { d.Zimin = -0.999e-6; }, true},
      {"Ximax off by 0.5e-6", [](RunData& d) { d.Ximax += 0.5e-6; }, true},
      {"Ximax off by 2e-6", [](RunData& d) { d.Ximax += 2e-6; }, false},
      {"Yimax off by 2e-6", [](RunData& d) { d.Yimax -= 2e-6; }, false},
      {"Zimax off by 2e-6", [](RunData& d) { d.Zimax += 2e-6; }, false},
      {"Zimax not a number", [](RunData& d) { d.Zimax = std::nan(""); }, false},
      {"aperture differs", [](RunData& d) { d.aper = 1.5; }, false},
      {"z starts below 0", [](RunData& d) { d.symZ = 0; }, false},
  };
  for (const auto& t : cases) {
    RunData d = same_grid_run();
    t.change(d);
    test::LogCapture log;
    build_output_grid(d, log.log());
    fill_output_arrays(d);
    SCOPED_TRACE(t.what);
    const std::string text = log.text();
    const std::string last = t.copy ? kCopy : kInterpolate;
    ASSERT_GE(text.size(), last.size());
    EXPECT_EQ(text.substr(text.size() - last.size()), last);
    for (const FieldArray* a : {&d.Exo, &d.Eyo, &d.Ezo, &d.Bxo, &d.Byo, &d.Bzo}) {
      ASSERT_EQ(a->nx(), d.Nox);
      ASSERT_EQ(a->ny(), d.Noy);
      ASSERT_EQ(a->nz(), d.Noz);
    }
    if (!t.copy) continue;
    // The copy moves every value unchanged, bit for bit.
    long changed = 0;
    for_each_output(d, [&](int c, int i, int j, int k, double got) {
      const double full = test::component(d, c)(i, j, k);
      changed += std::memcmp(&got, &full, sizeof got) != 0;
    });
    EXPECT_EQ(changed, 0);
  }
}

// Output nodes inside the full grid get the field (a quadratic, reproduced by
// the stencil to rounding); nodes beyond it get zero. The output grid runs
// past the full grid on every axis.
TEST(OutputGrid, InterpolationFillsEveryOutputNode) {
  RunData d;
  test::make_full_grid(d, {7, -0.3, 0.1}, {7, -0.3, 0.1}, {9, -0.4, 0.1});
  const test::Quadratic P[6] = {
      {{1.0, 2.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0}},   {{0.0, 0.0, -3.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0}},
      {{0.5, 0.0, 0.0, 4.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0}},   {{0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 2.0, 0.0, 0.0}},
      {{0.0, 0.0, 0.0, 0.0, 0.0, -1.0, 0.0, 0.0, 3.0, 0.0}},  {{0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1.0}},
  };
  test::fill_full_grid(d, [&](int c, double x, double y, double z) { return P[c](x, y, z); });
  d.isym = 0;
  d.aper = 0.45;  // x and y from -0.45 to 0.45
  d.elen = 1.0;   // z from -0.5 to 0.5
  d.Nox = 10;
  d.Noy = 4;
  d.Noz = 6;
  test::LogCapture log;
  build_output_grid(d, log.log());
  fill_output_arrays(d);
  int inside = 0;
  for_each_output(d, [&](int c, int i, int j, int k, double got) {
    const double x = d.Xo(i), y = d.Yo(j), z = d.Zo(k);
    const bool in = std::fabs(x) < 0.3 && std::fabs(y) < 0.3 && std::fabs(z) < 0.4;
    inside += in;
    if (in)
      EXPECT_NEAR(got, P[c](x, y, z), 1e-12) << c << " at " << i << "," << j << "," << k;
    else
      EXPECT_EQ(got, 0.0) << c << " at " << i << "," << j << "," << k;
  });
  EXPECT_EQ(inside, 6 * (6 * 2 * 4));
}

// A grid large enough to be shared between threads gives, node for node and
// bit for bit, what EB3D_APPR gives at the output node.
TEST(OutputGrid, SharedWorkMatchesOneCallPerNode) {
  RunData d;
  test::make_full_grid(d, {9, -1.0, 0.25}, {9, -1.0, 0.25}, {41, -5.0, 0.25});
  test::fill_full_grid(d, [](int c, double x, double y, double z) { return std::cos(c * x + y) * std::sin(z + c); });
  d.isym = 110;
  d.aper = 1.1;
  d.elen = 10.0;
  d.Nox = d.Noy = 25;
  d.Noz = 201;
  test::LogCapture log;
  build_output_grid(d, log.log());
  fill_output_arrays(d);
  long mismatches = 0;
  for_each_output(d, [&](int c, int i, int j, int k, double got) {
    double E[3], B[3];
    EB3D_APPR(d, d.Xo(i), d.Yo(j), d.Zo(k), E, B);
    const double want = c < 3 ? E[c] : B[c - 3];
    mismatches += std::memcmp(&got, &want, sizeof got) != 0;
  });
  EXPECT_EQ(mismatches, 0);

  // A writer that takes the field a few slices at a time gets the same values.
  const OutputSampler sampler(d);
  const std::size_t slice = static_cast<std::size_t>(d.Nox) * static_cast<std::size_t>(d.Noy);
  std::vector<double> buffer(6 * 7 * slice);
  const FieldArray* arrays[6] = {&d.Exo, &d.Eyo, &d.Ezo, &d.Bxo, &d.Byo, &d.Bzo};
  for (int k = 0; k < d.Noz; k += 7) {
    const int k_end = std::min(k + 7, d.Noz);
    double* const out[6] = {&buffer[0], &buffer[7 * slice], &buffer[14 * slice],
                            &buffer[21 * slice], &buffer[28 * slice], &buffer[35 * slice]};
    sampler.sample(k, k_end, out);
    for (int c = 0; c < 6; ++c) {
      const std::size_t n = static_cast<std::size_t>(k_end - k) * slice;
      ASSERT_EQ(std::memcmp(out[c], arrays[c]->data() + static_cast<std::size_t>(k) * slice, 8 * n), 0) << k;
    }
  }
}

}  // namespace
}  // namespace wk
