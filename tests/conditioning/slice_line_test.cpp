// The fixed-format slice line of the Maxwell check, against lines typed from
// its layout: "  iz, zz, I_H, I_E, ratio= " I5, 2X, F14.6, 2X, E14.6, 2X,
// E14.6, F14.6.
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "conditioning/conditioning_detail.hpp"

namespace wk::detail {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

template <std::size_t W>
std::string field(void (*format)(double, char*), double v) {
  char buf[W];
  format(v, buf);
  return std::string(buf, W);
}

TEST(SliceLine, FixedPointF14_6) {
  const struct {
    double v;
    const char* want;
  } cases[] = {
      {0.0, "      0.000000"},
      {-0.0, "      0.000000"},      // negative zero has no sign
      {-1e-9, "     -0.000000"},     // below zero: the sign stays
      {1e-9, "      0.000000"},
      {1.5, "      1.500000"},
      {-12.345678, "    -12.345678"},
      {0.1234565, "      0.123456"},  // 0.12345649999... in binary
      {2.0000005, "      2.000001"},
      {1234567.5, "1234567.500000"},   // exactly 14
      {-123456.25, "-123456.250000"},  // exactly 14 with the sign
      {-1234567.5, "**************"},
      {12345678.0, "**************"},
      {9999999.9999996, "**************"},  // rounds up to eight digits
      {1e300, "**************"},
      {kNaN, "           NaN"},
      {kInf, "      Infinity"},
      {-kInf, "     -Infinity"},
  };
  for (const auto& c : cases) EXPECT_EQ(field<14>(format_F14_6, c.v), c.want) << c.v;
}

TEST(SliceLine, ExponentE14_6) {
  const struct {
    double v;
    const char* want;
  } cases[] = {
      {1.0, "  0.100000E+01"},
      {-1.0, " -0.100000E+01"},
      {0.0, "  0.000000E+00"},
      {-0.0, "  0.000000E+00"},
      {0.1, "  0.100000E+00"},
      {1e-5, "  0.100000E-04"},
      {123456.7, "  0.123457E+06"},
      {-2.5e-3, " -0.250000E-02"},
      {0.9999996, "  0.100000E+01"},  // rounding carries into the exponent
      {1e98, "  0.100000E+99"},
      {-9.87654e-100, " -0.987654E-99"},
      // Three-digit exponents: the E gives way to the exponent's sign.
      {1e99, "  0.100000+100"},
      {9.9999996e98, "  0.100000+100"},
      {1e-120, "  0.100000-119"},
      {-2.5e200, " -0.250000+201"},
      {1.7976931348623157e308, "  0.179769+309"},
      {4.9406564584124654e-324, "  0.494066-323"},
      {kNaN, "           NaN"},
      {kInf, "      Infinity"},
      {-kInf, "     -Infinity"},
  };
  for (const auto& c : cases) EXPECT_EQ(field<14>(format_E14_6, c.v), c.want) << c.v;
}

TEST(SliceLine, IntegerI5) {
  const struct {
    int v;
    const char* want;
  } cases[] = {{2, "    2"}, {8000, " 8000"}, {-1234, "-1234"}, {99999, "99999"}, {123456, "*****"}, {-12345, "*****"}};
  for (const auto& c : cases) {
    char buf[5];
    format_I5(c.v, buf);
    EXPECT_EQ(std::string(buf, 5), c.want) << c.v;
  }
}

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
}  // namespace wk::detail
