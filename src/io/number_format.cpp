// Numbers as text. The digits always come from a correctly rounded decimal
// conversion (std::to_chars, or its exact integer equivalent for the fixed
// form of the 24-column field).
#include "io/number_format.hpp"

#include <bit>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace wk {

namespace {

// Scientific digits of |v| with `precision` digits after the point, as
// to_chars writes them: "d.ddd...e+XX". Returns the decimal exponent and
// copies the significant digits (without the point) into digits.
int scientific_digits(double a, int precision, char* digits) {
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific, precision);
  const char* p = buf;
  digits[0] = *p++;
  if (precision > 0) {
    ++p;  // the point
    std::memcpy(digits + 1, p, static_cast<std::size_t>(precision));
    p += precision;
  }
  ++p;  // 'e'
  const bool neg = *p == '-';
  ++p;
  int e = 0;
  for (; p < res.ptr; ++p) e = e * 10 + (*p - '0');
  return neg ? -e : e;
}

// "00", "01", ..., "99".
constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

__extension__ typedef unsigned __int128 Uint128;  // GCC and Clang

// The 15 significant digits of a > 0 correctly rounded (to nearest, ties
// to even, as to_chars rounds) and their decimal exponent, for the values
// within 0.1 <= a < 1e15 whose rounded form stays below 1e15: the fixed
// form, which holds nearly every field value. Computed exactly in integers:
// a = M * 2^-s with M < 2^53 and, in this range, 3 <= s <= 56, so a * 10^k
// for k <= 15 is M * 10^k (below 2^103) shifted right by s. False for any
// other value (a value just below 0.1 may still round to the fixed form:
// the caller's general path decides those).
bool fixed_form_digits(double a, char* digits, int& e15) {
  static constexpr double kPow10[16] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  static constexpr std::uint64_t kIntPow10[16] = {1,
                                                  10,
                                                  100,
                                                  1000,
                                                  10000,
                                                  100000,
                                                  1000000,
                                                  10000000,
                                                  100000000,
                                                  1000000000,
                                                  10000000000,
                                                  100000000000,
                                                  1000000000000,
                                                  10000000000000,
                                                  100000000000000,
                                                  1000000000000000};
  // The double 0.1 lies above 1/10 and the one before it below: a >= 0.1
  // holds exactly for the values of at least 1/10.
  if (!(a >= 0.1 && a < 1e15)) return false;
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(a);
  // e: 10^e <= a < 10^(e+1). With 2^b <= a < 2^(b+1), e is floor(b log10 2)
  // or one more (1233 / 4096 is log10 2 closely enough for |b| < 100).
  const int b = static_cast<int>(bits >> 52) - 1023;
  int e = (b * 1233) >> 12;
  if (e < -1) e = -1;
  if (e < 14 && a >= kPow10[e + 1]) ++e;
  const std::uint64_t M = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
  const int s = 1075 - static_cast<int>(bits >> 52);
  assert(s >= 3 && s <= 56);
  // N = a * 10^(14 - e) rounded to nearest, ties to even.
  const Uint128 P = static_cast<Uint128>(M) * kIntPow10[14 - e];
  std::uint64_t N = static_cast<std::uint64_t>(P >> s);
  const Uint128 rest = P & ((static_cast<Uint128>(1) << s) - 1);
  const Uint128 half = static_cast<Uint128>(1) << (s - 1);
  if (rest > half || (rest == half && (N & 1) != 0)) ++N;
  if (N == kIntPow10[15]) {
    // Rounded up to the next power of ten.
    N = kIntPow10[14];
    ++e;
  }
  if (N < kIntPow10[14] || e > 14) return false;  // below 0.1, or 1e15 after rounding
  // Two independent halves of 7 and 8 digits, two digits at a time.
  std::uint32_t hi = static_cast<std::uint32_t>(N / 100000000);
  std::uint32_t lo = static_cast<std::uint32_t>(N % 100000000);
  for (int i = 13; i >= 7; i -= 2) {
    std::memcpy(digits + i, kDigitPairs + 2 * (lo % 100), 2);
    lo /= 100;
  }
  for (int i = 5; i >= 1; i -= 2) {
    std::memcpy(digits + i, kDigitPairs + 2 * (hi % 100), 2);
    hi /= 100;
  }
  digits[0] = static_cast<char>('0' + hi);
  e15 = e;
  return true;
}

void pad_to(char* dst, int used, int width) { std::memset(dst + used, ' ', static_cast<std::size_t>(width - used)); }

// Right-aligns the n characters of src in a field of `width`, or fills the
// field with asterisks when they do not fit.
void right_align(const char* src, int n, int width, char* dst) {
  if (n > width) {
    std::memset(dst, '*', static_cast<std::size_t>(width));
    return;
  }
  std::memset(dst, ' ', static_cast<std::size_t>(width - n));
  std::memcpy(dst + width - n, src, static_cast<std::size_t>(n));
}

// The text written for a value that is not a number or is infinite, as the
// Fortran run time writes it; empty for a finite value.
std::string_view non_finite_text(double v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v < 0 ? "-Infinity" : "Infinity";
  return {};
}

// A NaN or an infinity right-aligned in a field of `width`; false for a
// finite value, which the caller writes.
bool right_aligned_non_finite(double v, int width, char* dst) {
  if (std::isfinite(v)) return false;
  const std::string_view t = non_finite_text(v);
  right_align(t.data(), static_cast<int>(t.size()), width, dst);
  return true;
}

// Writes the sign of the exponent e and its last `digits` digits (2 or 3).
char* put_exponent_digits(int e, int digits, char* p) {
  *p++ = e < 0 ? '-' : '+';
  const int ae = e < 0 ? -e : e;
  if (digits == 3) *p++ = static_cast<char>('0' + ae / 100);
  *p++ = static_cast<char>('0' + (ae / 10) % 10);
  *p++ = static_cast<char>('0' + ae % 10);
  return p;
}

constexpr int kRealField = 14;  // F14.6 and E14.6
constexpr int kIntField = 5;    // I5

}  // namespace

void format_int12(std::int32_t v, char* dst) {
  char buf[16];
  const auto res = std::to_chars(buf, buf + sizeof buf, v);
  const int n = static_cast<int>(res.ptr - buf);
  std::memset(dst, ' ', static_cast<std::size_t>(kIntWidth - n));
  std::memcpy(dst + kIntWidth - n, buf, static_cast<std::size_t>(n));
}

void format_real24(double v, char* dst) {
  if (!std::isfinite(v)) {
    const std::string_view t = non_finite_text(v);
    dst[0] = ' ';
    std::memcpy(dst + 1, t.data(), t.size());
    pad_to(dst, 1 + static_cast<int>(t.size()), kRealWidth);
    return;
  }
  const bool neg = v < 0;  // false for -0.0: a zero is written without a sign
  const double a = std::fabs(v);
  if (a == 0) {
    // The exponent form of zero, as the general path below writes it.
    std::memcpy(dst, "  0.000000000000000E+000", kRealWidth);
    return;
  }
  // Room for 16-byte moves past the 15 digits and the 24 columns.
  char digits[32];
  std::memset(digits + 15, '0', sizeof digits - 15);
  int e15 = 0;
  if (fixed_form_digits(a, digits, e15) || ((e15 = scientific_digits(a, 14, digits)) >= -1 && e15 <= 14)) {
    // Fixed form: 15 significant digits, K = e15 + 1 of them before the
    // point, right-aligned in 19 columns, then 5 blanks. Built in a local
    // field with moves of fixed size, then copied whole.
    char field[48];
    std::memset(field, ' ', 32);
    const int n = (neg ? 1 : 0) + (e15 == -1 ? 17 : 16);
    char* p = field + 19 - n;
    if (neg) *p++ = '-';
    if (e15 == -1) {
      p[0] = '0';
      p[1] = '.';
      std::memcpy(p + 2, digits, 16);
    } else {
      const int k = e15 + 1;
      std::memcpy(p, digits, 16);
      std::memcpy(p + k + 1, digits + k, 16);
      p[k] = '.';
    }
    std::memset(field + 19, ' ', 5);
    std::memcpy(dst, field, kRealWidth);
    return;
  }
  char field[32];
  int n = 0;
  // Exponent form: d.ddddddddddddddd E sign 3-digit exponent, 16 significant digits.
  const int e = scientific_digits(a, 15, digits);
  if (neg) field[n++] = '-';
  field[n++] = digits[0];
  field[n++] = '.';
  std::memcpy(field + n, digits + 1, 15);
  n += 15;
  field[n++] = 'E';
  n = static_cast<int>(put_exponent_digits(e, 3, field + n) - field);
  right_align(field, n, kRealWidth, dst);
}

void format_I5(int v, char* dst) {
  char buf[16];
  const auto res = std::to_chars(buf, buf + sizeof buf, v);
  right_align(buf, static_cast<int>(res.ptr - buf), kIntField, dst);
}

void format_F14_6(double v, char* dst) {
  if (right_aligned_non_finite(v, kRealField, dst)) return;
  const double a = std::fabs(v);
  // Eight digits before the point already make 15 characters.
  if (a >= 1e8) {
    std::memset(dst, '*', kRealField);
    return;
  }
  char buf[32];
  int n = 0;
  if (v < 0) buf[n++] = '-';
  const auto res = std::to_chars(buf + n, buf + sizeof buf, a, std::chars_format::fixed, 6);
  right_align(buf, static_cast<int>(res.ptr - buf), kRealField, dst);
}

void format_E14_6(double v, char* dst) {
  if (right_aligned_non_finite(v, kRealField, dst)) return;
  char buf[32];
  int n = 0;
  if (v < 0) buf[n++] = '-';
  buf[n++] = '0';
  buf[n++] = '.';
  const double a = std::fabs(v);
  int e = 0;
  if (a == 0) {
    std::memset(buf + n, '0', 6);
  } else {
    // Six significant digits d.ddddd, correctly rounded; the mantissa
    // 0.dddddd carries the exponent one higher.
    e = scientific_digits(a, 5, buf + n) + 1;
  }
  n += 6;
  char* p = buf + n;
  if (e >= -99 && e <= 99) {
    *p++ = 'E';
    p = put_exponent_digits(e, 2, p);
  } else {
    p = put_exponent_digits(e, 3, p);
  }
  right_align(buf, static_cast<int>(p - buf), kRealField, dst);
}

}  // namespace wk
