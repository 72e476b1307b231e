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

// One bit set (the byte's top bit) in every byte of w that is no ASCII
// digit, the byte at the lowest address first (a little-endian load).
inline std::uint64_t not_digit_bytes(std::uint64_t w) {
  // A byte is a digit when its high nibble is 3 and adding 6 leaves it 3. A
  // carry out of a byte comes only from a byte that is no digit, and only
  // changes the bytes after it.
  const std::uint64_t other = ((w & 0xF0F0F0F0F0F0F0F0u) ^ 0x3030303030303030u) |
                              (((w + 0x0606060606060606u) & 0xF0F0F0F0F0F0F0F0u) ^ 0x3030303030303030u);
  // Each byte of `other` is 0 or has a bit set in its high nibble; that
  // nibble, moved down, plus 0x7F reaches the top bit without carrying out of
  // its byte (a byte of 0x90 or more once carried and passed for a digit).
  return (((other >> 4) & 0x0F0F0F0F0F0F0F0Fu) + 0x7F7F7F7F7F7F7F7Fu) & 0x8080808080808080u;
}

// The count of ASCII digits that start the eight bytes of w.
inline int leading_digits(std::uint64_t w) {
  const std::uint64_t other = not_digit_bytes(w);
  return other == 0 ? 8 : std::countr_zero(other) / 8;
}

// The value of the first k (1 to 8) digit bytes of w, the first the most
// significant: the digits move to the top of the word behind zeros, then
// pairs, quads and the eight are combined.
inline std::uint64_t digits_value(std::uint64_t w, int k) {
  std::uint64_t chunk = (w & 0x0F0F0F0F0F0F0F0Fu) << (8 * (8 - k));
  chunk = (chunk * 2561) >> 8;
  chunk = ((chunk & 0x00FF00FF00FF00FFu) * 6553601) >> 16;
  chunk = ((chunk & 0x0000FFFF0000FFFFu) * 42949672960001u) >> 32;
  return chunk & 0xFFFFFFFFu;
}

// Bytes the scientific fast path may look at from the start of a token,
// whether or not they belong to the token.
inline constexpr long kScientificReach = 24;

// The layout solvers write, [-]D.F...FE+XX (or e, or - for +) with 1 to 15
// fraction digits and two exponent digits, ending at a separator or at end,
// taken with a few word operations; nullptr for any other token, which the
// general scan then reads. Its parts are those the general scan finds.
// Needs kScientificReach bytes readable at p on a little-endian host (they
// may lie past end, which only bounds the token).
//
// A solver prints every number of an export alike, so the token is first
// checked against `frac`, the fraction digits of the token before: then
// where the token ends does not wait on its digits being counted. When the
// check fails the digits are counted, and `frac` follows the token.
[[gnu::always_inline]] inline const char* scan_scientific(const char* p, const char* end, PlainReal& r, int& frac) {
  static constexpr std::uint64_t kScale[9] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};
  const bool negative = *p == '-';
  const char* const q = p + (negative ? 1 : 0);
  const std::uint64_t lead = digit_value(q[0]);
  if (lead >= 10 || q[1] != '.') return nullptr;
  std::uint64_t low;
  std::uint64_t high;
  std::memcpy(&low, q + 2, 8);
  std::memcpy(&high, q + 10, 8);
  const std::uint64_t low_other = not_digit_bytes(low);
  const std::uint64_t high_other = not_digit_bytes(high);
  // Fraction digits f fill the first f bytes of low and high and no more
  // (the exponent letter after them is no digit).
  const auto fills = [&](int f) {
    return f >= 8 ? low_other == 0 && (high_other & ((std::uint64_t{1} << (8 * (f - 8))) - 1)) == 0
                  : (low_other & ((std::uint64_t{1} << (8 * f)) - 1)) == 0;
  };
  int f = frac;
  const auto exponent_at = [&](const char* x) {
    return (x[0] == 'E' || x[0] == 'e') && (x[1] == '+' || x[1] == '-') && digit_value(x[2]) < 10 &&
           digit_value(x[3]) < 10;
  };
  if (!(f >= 1 && f <= 15 && fills(f) && exponent_at(q + 2 + f))) {
    f = low_other != 0 ? std::countr_zero(low_other) / 8 : 8 + (high_other != 0 ? std::countr_zero(high_other) / 8 : 8);
    if (f == 0 || f == 16 || !exponent_at(q + 2 + f)) return nullptr;
    frac = f;
  }
  const char* const x = q + 2 + f;  // the exponent letter, at most p + 18
  const char* const stop = x + 4;
  if (stop > end || (stop < end && !is_separator(*stop))) return nullptr;
  std::uint64_t m;
  if (f >= 8) {
    m = lead * 100000000u + digits_value(low, 8);
    if (f > 8) m = m * kScale[f - 8] + digits_value(high, f - 8);
  } else {
    m = lead * kScale[f] + digits_value(low, f);
  }
  const int e = static_cast<int>(10 * digit_value(x[2]) + digit_value(x[3]));
  r.m = m;
  r.e = (x[1] == '-' ? -e : e) - f;
  r.negative = negative;
  return stop;
}

}  // namespace io_detail

// The end of the plain real at p, with its parts in r, or nullptr when the
// token at p has another form. Digit by digit: the readers of many numbers
// try the solvers' layout first (scan_scientific_real) and come here for the
// other tokens.
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

// The value of a plain real read without from_chars when it is exact in a
// single operation: with trailing zeros of m moved into e where needed,
// m <= 2^53 and |e| <= 22 make m and 10^|e| exact doubles, so one
// multiplication or division rounds the exact value to nearest, which is
// the double from_chars gives. False (v unspecified) for any other value.
inline bool plain_value(PlainReal r, double& v) {
  static constexpr double kPow10[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                        1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  while ((r.e < -22 || r.m > (std::uint64_t{1} << 53)) && r.e < 0 && r.m != 0 && r.m % 10 == 0) {
    r.m /= 10;
    ++r.e;
  }
  if (r.m > (std::uint64_t{1} << 53) || r.e < -22 || r.e > 22) return false;
  const double a = static_cast<double>(r.m);
  const double value = r.e < 0 ? a / kPow10[-r.e] : a * kPow10[r.e];
  v = r.negative ? -value : value;
  return true;
}

// The plain real at p when plain_value reads it: returns the end of the
// token with the value in v, or nullptr (v unspecified) for any other token.
inline const char* parse_plain_real(const char* p, const char* end, double& v) {
  PlainReal r;
  const char* const q = scan_plain_real(p, end, r);
  return q != nullptr && plain_value(r, v) ? q : nullptr;
}

// scan_plain_real for a reader of many numbers, on the solvers' layout
// only (nullptr for any other token): `readable` is the end of the memory
// that may be read (the text past the line that ends at end, or end), `frac`
// the fraction digits of the token before (see scan_scientific).
[[gnu::always_inline]] inline const char* scan_scientific_real(const char* p, const char* end, const char* readable,
                                                               PlainReal& r, int& frac) {
  if constexpr (std::endian::native == std::endian::little) {
    if (readable - p < io_detail::kScientificReach) return nullptr;
    return io_detail::scan_scientific(p, end, r, frac);
  } else {
    return nullptr;
  }
}

// parse_plain_real the same way.
[[gnu::always_inline]] inline const char* parse_scientific_real(const char* p, const char* end, const char* readable,
                                                                double& v, int& frac) {
  PlainReal r;
  const char* const q = scan_scientific_real(p, end, readable, r, frac);
  return q != nullptr && plain_value(r, v) ? q : nullptr;
}

// The token that starts at p (not a separator) and ends at the next
// separator or at end, read as a real: returns the end of the token and sets
// ok to whether the whole token is a real number (the value goes to v). The
// same verdict and value as parse_real on that token, without finding the
// token's end first in the common case.
const char* scan_real(const char* p, const char* end, double& v, bool& ok);

// True when the whole token is a 32-bit integer; the value goes to v.
bool parse_int(std::string_view token, std::int32_t& v);

// True when the token is written as a real number (or, for
// integer_out_of_range, as an integer) but its value lies beyond what a
// double (a 32-bit integer) holds: 1e400, 1e-400, 99999999999.
bool real_out_of_range(std::string_view token);
bool integer_out_of_range(std::string_view token);

// The exponent of the last digit the token prints: -3 for "1.250" and for
// "1250E-6", -12 for "1.5D-11". Half a unit of it is what the printed
// digits cannot resolve. An integer ("7", "-40") is taken as exact: its
// exponent is kExactDigit. The token must be a real number.
inline constexpr int kExactDigit = -10000;
int last_digit_exponent(std::string_view token);

// The end of the token that starts at p when the whole token, taken between
// blanks, reads as a number with a decimal comma: digits, one comma, digits
// and an optional exponent ("989984,9", "-1,5", "1,3e9"); nullptr for any
// other token. A token right after a comma is a value of comma-separated
// text, never such a number. line_begin is the start of p's line.
const char* decimal_comma_end(const char* line_begin, const char* p, const char* end);

}  // namespace wk
