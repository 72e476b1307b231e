// The numeric fields: the 24- and 12-column fields of the list writes and
// the I5, F14.6 and E14.6 edit descriptors, against fields typed from their
// layout rules.
#include "io/number_format.hpp"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

#include "support/test_support.hpp"

namespace wk {
namespace {

using test::blanks;

std::string field24(double v) {
  char buf[kRealWidth];
  format_real24(v, buf);
  return std::string(buf, kRealWidth);
}

TEST(FormatReal24, FixedAndExponentForms) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double v;
    std::string want;
  } cases[] = {
      {1.0, blanks(3) + "1.00000000000000" + blanks(5)},
      {0.5, blanks(2) + "0.500000000000000" + blanks(5)},
      {-0.5, blanks(1) + "-0.500000000000000" + blanks(5)},
      {299792458.0, blanks(3) + "299792458.000000" + blanks(5)},
      {0.0254, blanks(2) + "2.540000000000000E-002"},
      {0.0, blanks(2) + "0.000000000000000E+000"},
      {-0.0, blanks(2) + "0.000000000000000E+000"},
      {1e15, blanks(2) + "1.000000000000000E+015"},
      {-1e15, blanks(1) + "-1.000000000000000E+015"},
      // K = 15: fifteen digits before the point, the number ends with the point.
      {123456789012345.0, blanks(3) + "123456789012345." + blanks(5)},
      // Rounding to 15 digits carries into a new digit: 0.0999999999999999999 -> 0.1.
      {0.09999999999999999, blanks(2) + "0.100000000000000" + blanks(5)},
      // 15-digit rounding gives 1e15, so the exponent form, which has 16 digits.
      {999999999999999.9, blanks(2) + "9.999999999999999E+014"},
      {0.1, blanks(2) + "0.100000000000000" + blanks(5)},
      {3.141592653589793, blanks(3) + "3.14159265358979" + blanks(5)},
      {-1.5e-300, blanks(1) + "-1.500000000000000E-300"},
      {1.2566370614359173e-06, blanks(2) + "1.256637061435917E-006"},
      {std::nan(""), " NaN" + blanks(20)},
      {inf, " Infinity" + blanks(15)},
      {-inf, " -Infinity" + blanks(14)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(field24(c.v), c.want) << c.v;
  }
}

// The fixed form's 15 digits are the exact binary value rounded to nearest,
// a tie going to the even digit; a carry may add a digit before the point.
TEST(FormatReal24, FixedFormRoundsTheExactValue) {
  const struct {
    double v;
    std::string want;
  } cases[] = {
      // x.5 is exact this far up: ties, to the even neighbour.
      {100000000000000.5, blanks(3) + "100000000000000." + blanks(5)},
      {100000000000001.5, blanks(3) + "100000000000002." + blanks(5)},
      {-100000000000002.5, blanks(2) + "-100000000000002." + blanks(5)},
      // 99999999999999.953125 (the double nearest to ...99.95): the carry
      // gives a sixteenth digit's place, K = 15.
      {99999999999999.95, blanks(3) + "100000000000000." + blanks(5)},
      // 1 - 2^-53 rounds up across the power of ten: K goes from 0 to 1.
      {1.0 - 0x1p-53, blanks(3) + "1.00000000000000" + blanks(5)},
      // Far from a tie: the 16th and 17th digits decide alone.
      {12345.678901234567, blanks(3) + "12345.6789012346" + blanks(5)},
      {0.10000000000000002, blanks(2) + "0.100000000000000" + blanks(5)},
      {-0.7071067811865476, blanks(1) + "-0.707106781186548" + blanks(5)},
      {8192597329.577691, blanks(3) + "8192597329.57769" + blanks(5)},
      {99999999999999.0, blanks(3) + "99999999999999.0" + blanks(5)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(field24(c.v), c.want) << c.v;
  }
}

// Over values of every magnitude of the fixed form, the 15 digits and the
// place of the point are those of the correctly rounded scientific form
// that std::to_chars writes with 14 decimals.
TEST(FormatReal24, FixedFormDigitsAreTheCorrectlyRoundedOnes) {
  std::mt19937_64 rng(7);
  for (int n = 0; n < 200000; ++n) {
    const double mantissa = 1.0 + std::ldexp(static_cast<double>(rng() >> 12), -52);
    const double v = std::ldexp(mantissa, static_cast<int>(rng() % 53) - 4) * (rng() % 2 ? 1 : -1);
    char sci[32];
    const auto res = std::to_chars(sci, sci + sizeof sci, std::fabs(v), std::chars_format::scientific, 14);
    const int e = std::atoi(std::string(sci + 17, res.ptr).c_str());
    if (e < -1 || e > 14) continue;
    std::string want = std::string(1, sci[0]) + std::string(sci + 2, 14);  // the 15 digits
    want.insert(static_cast<std::size_t>(e + 1), 1, '.');
    if (e == -1) want = "0" + want;
    if (v < 0) want = "-" + want;
    const std::string got = field24(v);
    ASSERT_EQ(got, blanks(19 - static_cast<int>(want.size())) + want + blanks(5)) << v;
  }
}

TEST(FormatInt12, RightAlignedInTwelveColumns) {
  char buf[kIntWidth];
  const struct {
    std::int32_t v;
    std::string want;
  } cases[] = {
      {2, blanks(11) + "2"},
      {0, blanks(11) + "0"},
      {-99, blanks(9) + "-99"},
      {2147483647, "2147483647"},
      {-2147483647 - 1, "-2147483648"},
  };
  for (const auto& c : cases) {
    format_int12(c.v, buf);
    EXPECT_EQ(std::string(buf, kIntWidth), blanks(12 - static_cast<int>(c.want.size())) + c.want);
  }
}

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

template <std::size_t W>
std::string field(void (*format)(double, char*), double v) {
  char buf[W];
  format(v, buf);
  return std::string(buf, W);
}

TEST(EditDescriptor, FixedPointF14_6) {
  const struct {
    double v;
    const char* want;
  } cases[] = {
      {0.0, "      0.000000"},
      {-0.0, "      0.000000"},   // negative zero has no sign
      {-1e-9, "     -0.000000"},  // below zero: the sign stays
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

TEST(EditDescriptor, ExponentE14_6) {
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

TEST(EditDescriptor, IntegerI5) {
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

}  // namespace
}  // namespace wk
