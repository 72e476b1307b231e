#include "io/number_scan.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace wk {
namespace {

TEST(ParseReal, AcceptsDecimalExponentAndFortranForms) {
  const struct {
    const char* text;
    double want;
  } cases[] = {
      {"1", 1.0},          {"-2.5", -2.5},       {"+3.25", 3.25},     {".5", 0.5},
      {"5.", 5.0},         {"1e3", 1000.0},      {"1E-3", 1e-3},      {"1.5D+02", 150.0},
      {"2.0d-1", 0.2},     {"-1.0D0", -1.0},     {"1.5-300", 1.5e-300}, {"2.5+10", 2.5e10},
      {"+1.0E+00", 1.0},   {"0.29979245800000E+09", 299792458.0},
  };
  for (const auto& c : cases) {
    double v = 0;
    EXPECT_TRUE(parse_real(c.text, v)) << c.text;
    EXPECT_EQ(v, c.want) << c.text;
  }
}

TEST(ParseReal, NonFiniteWordsAreNumbers) {
  double v = 0;
  EXPECT_TRUE(parse_real("NaN", v));
  EXPECT_TRUE(std::isnan(v));
  EXPECT_TRUE(parse_real("-Infinity", v));
  EXPECT_TRUE(std::isinf(v) && v < 0);
}

TEST(ParseReal, RejectsWhatIsNotOneNumber) {
  for (const char* text : {"abc", "1.5abc", "", "+", "++1", "1e", "1.0.0", "1e5e5", "--1", "1,5", "0x10", "1+", "d5"}) {
    double v = 0;
    EXPECT_FALSE(parse_real(text, v)) << text;
  }
}

TEST(ParseInt, IsStrict) {
  std::int32_t v = 0;
  EXPECT_TRUE(parse_int("42", v));
  EXPECT_EQ(v, 42);
  EXPECT_TRUE(parse_int("+7", v));
  EXPECT_EQ(v, 7);
  EXPECT_TRUE(parse_int("-3", v));
  EXPECT_EQ(v, -3);
  for (const char* text : {"3.0", "1e3", "abc", "", "+", "5x", "99999999999", "++1"}) {
    EXPECT_FALSE(parse_int(text, v)) << text;
  }
}

TEST(TokenCursor, BlanksTabsCommasAndCarriageReturnsSeparate) {
  TokenCursor cur(" 1.0,2.0\t 3 , 4\r");
  std::vector<std::string> got;
  std::string_view tok;
  while (cur.next(tok)) got.emplace_back(tok);
  EXPECT_EQ(got, (std::vector<std::string>{"1.0", "2.0", "3", "4"}));
}

}  // namespace
}  // namespace wk
