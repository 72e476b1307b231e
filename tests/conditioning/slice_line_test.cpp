// The fixed-format slice line of the Maxwell check, against lines typed from
// its layout: "  iz, zz, I_H, I_E, ratio= " I5, 2X, F14.6, 2X, E14.6, 2X,
// E14.6, F14.6.
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "conditioning/conditioning_detail.hpp"

namespace wk::conditioning_detail {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(SliceLine, WholeLines) {
  const struct {
    int iz;
    double zz, I_H, I_E, ratio;
    std::string want;
  } cases[] = {
      // text, I5, 2X, F14.6, 2X, E14.6, 2X, E14.6, F14.6
      {2, -4.5, 1.0e-3, -2.5e-3, -2.5,
       "  iz, zz, I_H, I_E, ratio= "
       "    2"
       "  "
       "     -4.500000"
       "  "
       "  0.100000E-02"
       "  "
       " -0.250000E-02"
       "     -2.500000"},
      {7999, 0.0, 0.0, -0.0, 1.0,
       "  iz, zz, I_H, I_E, ratio= "
       " 7999"
       "  "
       "      0.000000"
       "  "
       "  0.000000E+00"
       "  "
       "  0.000000E+00"
       "      1.000000"},
      // Too wide for F14.6: the ratio field is all asterisks, still 14 wide.
      {13, 12.25, 3.5e-120, -7.25e-6, 1e9,
       "  iz, zz, I_H, I_E, ratio= "
       "   13"
       "  "
       "     12.250000"
       "  "
       "  0.350000-119"
       "  "
       " -0.725000E-05"
       "**************"},
      {3, 1.0, kNaN, 1.0, kNaN,
       "  iz, zz, I_H, I_E, ratio= "
       "    3"
       "  "
       "      1.000000"
       "  "
       "           NaN"
       "  "
       "  0.100000E+01"
       "           NaN"},
  };
  for (const auto& c : cases) {
    char buf[kSliceLineLength];
    format_slice_line(c.iz, c.zz, c.I_H, c.I_E, c.ratio, buf);
    EXPECT_EQ(std::string(buf, kSliceLineLength), c.want) << c.iz;
    EXPECT_EQ(c.want.size(), kSliceLineLength);
  }
}

}  // namespace
}  // namespace wk::conditioning_detail
