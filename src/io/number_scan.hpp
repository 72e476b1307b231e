// Free-form number scanning on one line of text, without allocation.
//
// Values are separated by blanks, tabs or commas (a carriage return counts as
// a blank). Reals may be written in any decimal or exponent form, with an
// exponent letter E or D (Fortran double precision), an optional leading
// '+', or an exponent sign without a letter ("1.5-300"). Integers are strict:
// digits with an optional sign, nothing else.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace wk {

inline bool is_separator(char c) { return c == ' ' || c == ',' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// Walks the tokens of one line.
class TokenCursor {
 public:
  explicit TokenCursor(std::string_view line) : p_(line.data()), end_(line.data() + line.size()) {}
  // The next token, or false at the end of the line.
  bool next(std::string_view& token) {
    while (p_ < end_ && is_separator(*p_)) ++p_;
    if (p_ == end_) return false;
    const char* start = p_;
    while (p_ < end_ && !is_separator(*p_)) ++p_;
    token = std::string_view(start, static_cast<std::size_t>(p_ - start));
    return true;
  }

 private:
  const char* p_;
  const char* end_;
};

// True when the whole token is a real number; the value goes to v.
bool parse_real(std::string_view token, double& v);

// The plain form that solvers write: an optional '-', 1 to 19 digits with
// at most one '.' between two of them, and an optional exponent letter E or
// e with an optional sign and one or two digits, the token ending at a
// separator or at end. Its value is m * 10^e, m the digits read as an
// integer. Every such token is a finite number within 1e-118 .. 1e118 (or
// zero) that parse_real reads whole.
struct PlainReal {
  std::uint64_t m = 0;
  int e = 0;
  bool negative = false;
};

namespace io_detail {

inline unsigned digit_value(char c) { return static_cast<unsigned>(c - '0'); }

// Appends the digits from p to m, eight at a time while eight are at hand
// (the solvers' long fractions), and returns the end of the digits.
inline const char* read_digits(const char* p, const char* end, std::uint64_t& m) {
  if constexpr (std::endian::native == std::endian::little) {
    while (end - p >= 8) {
      std::uint64_t chunk;
      std::memcpy(&chunk, p, 8);
      // Eight ASCII digits: every byte 0x30..0x39.
      if (((chunk & 0xF0F0F0F0F0F0F0F0u) | (((chunk + 0x0606060606060606u) & 0xF0F0F0F0F0F0F0F0u) >> 4)) !=
          0x3333333333333333u) {
        break;
      }
      // Pairs, then quads, then the eight digits' value, first byte most
      // significant.
      chunk = ((chunk & 0x0F0F0F0F0F0F0F0Fu) * 2561) >> 8;
      chunk = ((chunk & 0x00FF00FF00FF00FFu) * 6553601) >> 16;
      chunk = ((chunk & 0x0000FFFF0000FFFFu) * 42949672960001u) >> 32;
      m = m * 100000000u + (chunk & 0xFFFFFFFFu);
      p += 8;
    }
  }
  while (p < end && digit_value(*p) < 10) m = m * 10 + digit_value(*p++);
  return p;
}

}  // namespace io_detail

// The end of the plain real at p, with its parts in r, or nullptr when the
// token at p has another form.
inline const char* scan_plain_real(const char* p, const char* end, PlainReal& r) {
  using io_detail::digit_value;
  r.negative = p < end && *p == '-';
  if (r.negative) ++p;
  std::uint64_t m = 0;
  const char* const int_start = p;
  p = io_detail::read_digits(p, end, m);
  const long int_digits = p - int_start;
  if (int_digits == 0 || int_digits > 19) return nullptr;
  long frac_digits = 0;
  if (p < end && *p == '.') {
    const char* const frac_start = ++p;
    if (end - p > 19 - int_digits) {
      // Never more digits than m can take: a longer fraction is not plain.
      const char* const stop = p + (19 - int_digits) + 1;
      p = io_detail::read_digits(p, stop, m);
      if (p == stop) return nullptr;
    } else {
      p = io_detail::read_digits(p, end, m);
    }
    frac_digits = p - frac_start;
    if (frac_digits == 0) return nullptr;
  }
  if (int_digits + frac_digits > 19) return nullptr;  // m would not fit 64 bits
  int e = 0;
  if (p < end && (*p == 'E' || *p == 'e')) {
    ++p;
    const bool e_negative = p < end && *p == '-';
    if (p < end && (*p == '+' || *p == '-')) ++p;
    const char* const e_start = p;
    while (p < end && digit_value(*p) < 10 && p - e_start < 3) e = e * 10 + static_cast<int>(digit_value(*p++));
    if (p == e_start || p - e_start > 2) return nullptr;
    if (e_negative) e = -e;
  }
  if (p < end && !is_separator(*p)) return nullptr;
  r.m = m;
  r.e = e - static_cast<int>(frac_digits);
  return p;
}

// The plain real at p read without from_chars when its value is exact in a
// single operation: with trailing zeros of m moved into e where needed,
// m <= 2^53 and |e| <= 22 make m and 10^|e| exact doubles, so one
// multiplication or division rounds the exact value to nearest, which is
// the double from_chars gives. Returns the end of the token with the value
// in v, or nullptr (v unspecified) for any other token.
inline const char* parse_plain_real(const char* p, const char* end, double& v) {
  static constexpr double kPow10[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                        1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  PlainReal r;
  const char* const q = scan_plain_real(p, end, r);
  if (q == nullptr) return nullptr;
  while ((r.e < -22 || r.m > (std::uint64_t{1} << 53)) && r.e < 0 && r.m != 0 && r.m % 10 == 0) {
    r.m /= 10;
    ++r.e;
  }
  if (r.m > (std::uint64_t{1} << 53) || r.e < -22 || r.e > 22) return nullptr;
  const double a = static_cast<double>(r.m);
  const double value = r.e < 0 ? a / kPow10[-r.e] : a * kPow10[r.e];
  v = r.negative ? -value : value;
  return q;
}

// The token that starts at p (not a separator) and ends at the next
// separator or at end, read as a real: returns the end of the token and sets
// ok to whether the whole token is a real number (the value goes to v). The
// same verdict and value as parse_real on that token, without finding the
// token's end first in the common case.
const char* scan_real(const char* p, const char* end, double& v, bool& ok);

// True when the whole token is a 32-bit integer; the value goes to v.
bool parse_int(std::string_view token, std::int32_t& v);

}  // namespace wk
