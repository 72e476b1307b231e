#include "io/list_writer.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <random>
#include <limits>
#include <string>

#include "support/test_support.hpp"

namespace wk {
namespace {

std::string field24(double v) {
  char buf[kRealWidth];
  format_real24(v, buf);
  return std::string(buf, kRealWidth);
}

std::string blanks(int n) { return std::string(static_cast<std::size_t>(n), ' '); }

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

class ListWriterTest : public ::testing::Test {
 protected:
  // Runs `body` on a ListWriter over a fresh file and returns the bytes written.
  template <class Body>
  std::string written(Body body) {
    test::TempDir dir;
    const auto path = (dir / "out.txt").string();
    {
      OutFile f(8, path);
      ListWriter w(f);
      body(w);
      f.commit();
    }
    return test::read_file(path);
  }
};

TEST_F(ListWriterTest, RecordLayouts) {
  const double pi = 3.141592653589793;
  EXPECT_EQ(written([](ListWriter& w) { w.record(" Constants used "); }), "  Constants used \r\n");
  EXPECT_EQ(written([&](ListWriter& w) { w.record(" pi  = ", pi, " rad "); }),
            "  pi  =    3.14159265358979       rad \r\n");
  EXPECT_EQ(written([](ListWriter& w) { w.record(std::int32_t{2}); }), blanks(11) + "2\r\n");
  // A record without items is one blank.
  EXPECT_EQ(written([](ListWriter& w) { w.end(); }), " \r\n");
  // Two texts in a row get no separator.
  EXPECT_EQ(written([](ListWriter& w) {
              w.record(" Same symmetry and grid, No need for interpolation", ", Simply write the field ...");
            }),
            "  Same symmetry and grid, No need for interpolation, Simply write the field ...\r\n");
  // Text then an integer: the integer's own blanks separate it.
  EXPECT_EQ(written([](ListWriter& w) { w.record(" iord= ", std::int32_t{321}); }), "  iord=          321\r\n");
}

TEST_F(ListWriterTest, EightyColumnsAndWrapping) {
  // 1 + 19 + 24 + 24 + 12 = 80: stays on one line.
  const std::string line = written([](ListWriter& w) { w.record(" Xmin, Xmax, Nox = ", -1.0, 1.0, std::int32_t{25}); });
  EXPECT_EQ(line, "  Xmin, Xmax, Nox =   -1.00000000000000        1.00000000000000     " + blanks(10) + "25\r\n");
  EXPECT_EQ(line.size(), 82u);

  // Six doubles: two lines of three.
  const std::string six = written([](ListWriter& w) { w.record(1.0, 2.0, 3.0, 4.0, 5.0, 6.0); });
  const std::string third = blanks(3) + "3.00000000000000" + blanks(5);
  ASSERT_EQ(six.size(), 2u * 74u);
  EXPECT_EQ(six.substr(48, 26), third + "\r\n");

  // A text, three doubles and an integer: the third double starts line 2 in column 1.
  const std::string grid = written([](ListWriter& w) {
    w.record(" Ximin, Ximax, dXi, Nix = ", 0.0, 0.1, 0.1, std::int32_t{2});
  });
  EXPECT_EQ(grid, "  Ximin, Ximax, dXi, Nix = " + blanks(2) + "0.000000000000000E+000" + blanks(2) +
                      "0.100000000000000" + blanks(5) + "\r\n" + blanks(2) + "0.100000000000000" + blanks(5) +
                      blanks(11) + "2\r\n");

  // A number, then a text that no longer fits: the text starts a new line with its blank.
  const std::string wrapped = written([](ListWriter& w) {
    w.record(1.0, 2.0, 3.0, " a text of twelve");
  });
  EXPECT_EQ(wrapped.substr(72), " \r\n  a text of twelve\r\n");
}

TEST_F(ListWriterTest, NoLineIsLongerThanEightyColumns) {
  const std::string long_text(200, 'x');
  const std::string out = written([&](ListWriter& w) {
    w.record(long_text, 1.0, std::int32_t{5}, long_text, 2.0);
    w.record(std::string(80, 'y'));
  });
  std::size_t start = 0;
  int lines = 0;
  while (start < out.size()) {
    const std::size_t end = out.find("\r\n", start);
    ASSERT_NE(end, std::string::npos);
    EXPECT_LE(end - start, 80u);
    start = end + 2;
    ++lines;
  }
  EXPECT_GE(lines, 7);
  // Every character of the texts is kept.
  EXPECT_EQ(std::count(out.begin(), out.end(), 'x'), 400);
  EXPECT_EQ(std::count(out.begin(), out.end(), 'y'), 80);
}

}  // namespace
}  // namespace wk
