#include "io/number_scan.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace wk {
namespace {

TEST(ParseReal, AcceptsDecimalExponentAndFortranForms) {
  const struct {
    const char* text;
    double want;
  } cases[] = {
      {"1", 1.0},
      {"-2.5", -2.5},
      {"+3.25", 3.25},
      {".5", 0.5},
      {"5.", 5.0},
      {"1e3", 1000.0},
      {"1E-3", 1e-3},
      {"1.5D+02", 150.0},
      {"2.0d-1", 0.2},
      {"-1.0D0", -1.0},
      {"1.5-300", 1.5e-300},
      {"2.5+10", 2.5e10},
      {"+1.0E+00", 1.0},
      {"0.29979245800000E+09", 299792458.0},
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

// What the printed digits of a coordinate resolve: the exponent of the last
// digit; an integer is exact.
TEST(LastDigitExponent, FromFractionAndExponent) {
  const struct {
    const char* text;
    int want;
  } cases[] = {{"1.250", -3}, {"1250E-6", -6}, {"-1.5D-11", -12},  {"1.5-300", -301},   {"2.0E+01", 0},
               {".5", -1},    {"5.", 0},       {"7", kExactDigit}, {"-40", kExactDigit}};
  for (const auto& c : cases) EXPECT_EQ(last_digit_exponent(c.text), c.want) << c.text;
}

// A decimal comma only in a token of its own between blanks: comma-separated
// values are not taken for one.
TEST(DecimalComma, OnlyDigitsCommaDigitsBetweenBlanks) {
  const struct {
    const char* line;
    int at;           // where the token starts
    const char* end;  // the rest of the line after a decimal-comma token, or nullptr for none
  } cases[] = {{"989984,9", 0, ""},   {"x -1,5 y", 2, " y"}, {"1,3e9\t", 0, "\t"},    {"+2,5D-1", 0, ""},
               {"1,2,3", 0, nullptr}, {"1.5,2", 0, nullptr}, {"1.5,2,5", 4, nullptr}, {"1, 2", 0, nullptr},
               {"1,e5", 0, nullptr},  {"1,5x", 0, nullptr},  {",5", 0, nullptr}};
  for (const auto& c : cases) {
    const char* const b = c.line;
    const char* const e = b + std::strlen(b);
    const char* got = decimal_comma_end(b, b + c.at, e);
    if (c.end == nullptr) {
      EXPECT_EQ(got, nullptr) << c.line;
    } else {
      EXPECT_STREQ(got, c.end) << c.line;
    }
  }
}

TEST(TokenCursor, BlanksTabsCommasAndCarriageReturnsSeparate) {
  TokenCursor cur(" 1.0,2.0\t 3 , 4\r");
  std::vector<std::string> got;
  std::string_view tok;
  while (cur.next(tok)) got.emplace_back(tok);
  EXPECT_EQ(got, (std::vector<std::string>{"1.0", "2.0", "3", "4"}));
}

// The plain form solvers write is read without from_chars; every other token
// goes the general way. Either way a token ends at the next separator.
TEST(ScanReal, PlainAndGeneralTokensWithinALine) {
  const struct {
    const char* line;
    std::size_t token_length;  // where the token ends
    bool plain;                // read by parse_plain_real
    bool ok;
    double want;
  } cases[] = {
      {"1.4375000000E-02 7", 16, true, true, 0.014375},
      {"-1.0000000000E+06", 17, true, true, -1e6},
      {"0.0000000000E+00,", 16, true, true, 0.0},
      {"42\t", 2, true, true, 42.0},
      {"1e5 ", 3, true, true, 1e5},
      {"12345678901234567890", 20, false, true, 12345678901234567890.0},  // 20 digits
      {"1.5E-30", 7, false, true, 1.5e-30},                               // 10^-31: beyond one exact division
      {"1.5D+02 x", 7, false, true, 150.0},                               // Fortran exponent letter
      {"+2.5", 4, false, true, 2.5},
      {".5", 2, false, true, 0.5},
      {"5.", 2, false, true, 5.0},
      {"1.5-3", 5, false, true, 1.5e-3},
      {"1E100", 5, false, true, 1e100},  // three exponent digits
      {"1.5e", 4, false, false, 0},
      {"1.2.3 4", 5, false, false, 0},
      {"abc", 3, false, false, 0},
      {"1e999", 5, false, false, 0},  // out of range
  };
  for (const auto& c : cases) {
    const std::string_view line(c.line);
    const char* const end = line.data() + line.size();
    double v = -7;
    EXPECT_EQ(parse_plain_real(line.data(), end, v) != nullptr, c.plain) << c.line;
    bool ok = false;
    const char* stop = scan_real(line.data(), end, v, ok);
    EXPECT_EQ(static_cast<std::size_t>(stop - line.data()), c.token_length) << c.line;
    EXPECT_EQ(ok, c.ok) << c.line;
    if (c.ok) {
      EXPECT_EQ(v, c.want) << c.line;
    }
  }
}

// Bit for bit the double that parse_real gives for the whole token, over
// tokens of every shape: short and long mantissas, exponents of one to four
// digits, signs, stray characters. (The fast path divides by an exact power
// of ten only where that one rounding is the correctly rounded result.)
TEST(ScanReal, AgreesWithParseRealOnEveryToken) {
  std::mt19937_64 rng(20240611);
  const auto digits = [&](std::string& s, int n) {
    for (int i = 0; i < n; ++i) s += static_cast<char>('0' + rng() % 10);
  };
  long plain = 0;
  for (int n = 0; n < 300000; ++n) {
    std::string t;
    if (rng() % 3 == 0) t += '-';
    digits(t, static_cast<int>(rng() % 21));
    if (rng() % 4 != 0) {
      t += '.';
      digits(t, static_cast<int>(rng() % 21));
    }
    if (rng() % 3 != 0) {
      t += "eEdD"[rng() % 4];
      if (rng() % 2 == 0) t += "+-"[rng() % 2];
      digits(t, static_cast<int>(rng() % 5));
    }
    if (rng() % 10 == 0) t.insert(rng() % (t.size() + 1), 1, "x.+-e5 ,"[rng() % 8]);
    const char* const b = t.data();
    const char* const end = b + t.size();
    if (t.empty() || is_separator(*b)) continue;
    const char* token_end = b;
    while (token_end < end && !is_separator(*token_end)) ++token_end;
    double want = 0;
    const bool ok_want = parse_real(std::string_view(b, static_cast<std::size_t>(token_end - b)), want);
    double got = 0;
    bool ok = false;
    ASSERT_EQ(scan_real(b, end, got, ok), token_end) << t;
    ASSERT_EQ(ok, ok_want) << t;
    if (ok) {
      ASSERT_EQ(std::memcmp(&got, &want, sizeof got), 0) << t;
    }
    double fast = 0;
    if (const char* q = parse_plain_real(b, end, fast)) {
      ++plain;
      ASSERT_TRUE(ok_want) << t;
      ASSERT_EQ(q, token_end) << t;
      ASSERT_EQ(std::memcmp(&fast, &want, sizeof fast), 0) << t;
    }
  }
  EXPECT_GT(plain, 10000);  // the fast path was taken often enough to count
}

// The solvers' layout goes a faster way when the text goes on past the
// token: tokens of that shape and near misses (other digit counts, letters,
// signs, stray bytes), at the end of a line with text after it and inside a
// line, each with the fraction-digit guess right, wrong or stale. Whatever
// the fast path takes, it must take as parse_real does, bit for bit.
TEST(ScanReal, SolverLayoutFastPathAgreesWithParseReal) {
  std::mt19937_64 rng(20261208);
  long taken = 0;
  int frac = 10;
  for (int n = 0; n < 200000; ++n) {
    std::string t;
    if (rng() % 2 == 0) t += '-';
    t += static_cast<char>('0' + rng() % 10);
    if (rng() % 20 == 0) t += static_cast<char>('0' + rng() % 10);
    if (rng() % 20 != 0) t += '.';
    const int digits = static_cast<int>(rng() % 18);
    for (int i = 0; i < digits; ++i) t += static_cast<char>('0' + rng() % 10);
    t += "eEeEdx"[rng() % 6];
    if (rng() % 10 != 0) t += "+-"[rng() % 2];
    const int exp_digits = rng() % 8 == 0 ? 1 + static_cast<int>(rng() % 3) : 2;
    for (int i = 0; i < exp_digits; ++i) t += static_cast<char>('0' + rng() % 10);
    // A damaged byte: a character of the number's layout out of place, or any
    // byte at all (bytes above 0x8F once passed for digits).
    if (rng() % 10 == 0) t[rng() % t.size()] = "x.+-e5 ,:"[rng() % 9];
    if (rng() % 10 == 0) t[rng() % t.size()] = static_cast<char>(rng() % 256);
    if (t.empty() || is_separator(t[0])) continue;
    // The token ends its line (text follows the line end), a separator
    // follows it, or the line ends inside it.
    const int ending = static_cast<int>(rng() % 4);
    const std::string text = t + (ending == 0 ? "\n" : " ") + "7.5E+00 1.0E+00 2.0E+00 3.0E+00";
    std::size_t length = 0;
    while (length < t.size() && !is_separator(t[length])) ++length;
    if (ending == 3) length = static_cast<std::size_t>(rng() % (length + 1));
    if (length == 0) continue;
    const char* const b = text.data();
    const char* const line_end = ending == 0 || ending == 3 ? b + length : b + text.size();
    double want = 0;
    const bool ok_want = parse_real(std::string_view(b, length), want);
    if (rng() % 3 == 0) frac = static_cast<int>(rng() % 17);
    double got = 0;
    if (const char* q = parse_scientific_real(b, line_end, b + text.size(), got, frac)) {
      ++taken;
      ASSERT_TRUE(ok_want) << t;
      ASSERT_EQ(q, b + length) << t;
      ASSERT_EQ(std::memcmp(&got, &want, sizeof got), 0) << t;
    }
    double plain = 0;
    if (const char* q = parse_plain_real(b, line_end, plain)) {
      ASSERT_TRUE(ok_want) << t;
      ASSERT_EQ(q, b + length) << t;
      ASSERT_EQ(std::memcmp(&plain, &want, sizeof plain), 0) << t;
    }
  }
  EXPECT_GT(taken, 10000);  // the fast path was taken often enough to count
}

}  // namespace
}  // namespace wk
