// The fixed-format slice line of the Maxwell check.
#include <charconv>
#include <cmath>
#include <cstring>

#include "conditioning/conditioning_detail.hpp"

namespace wk::detail {

namespace {

constexpr int kRealField = 14;
constexpr int kIntField = 5;
constexpr char kSliceText[] = "  iz, zz, I_H, I_E, ratio= ";

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

// NaN and infinities, as the Fortran run time writes them. Returns false for
// a finite value.
bool non_finite(double v, int width, char* dst) {
  if (std::isnan(v)) {
    right_align("NaN", 3, width, dst);
    return true;
  }
  if (std::isinf(v)) {
    if (v < 0)
      right_align("-Infinity", 9, width, dst);
    else
      right_align("Infinity", 8, width, dst);
    return true;
  }
  return false;
}

}  // namespace

void format_I5(int v, char* dst) {
  char buf[16];
  const auto res = std::to_chars(buf, buf + sizeof buf, v);
  right_align(buf, static_cast<int>(res.ptr - buf), kIntField, dst);
}

void format_F14_6(double v, char* dst) {
  if (non_finite(v, kRealField, dst)) return;
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
  if (non_finite(v, kRealField, dst)) return;
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
    // d.ddddde+XX: six significant digits, correctly rounded; the mantissa
    // 0.dddddd carries the exponent one higher.
    char sci[32];
    const auto res = std::to_chars(sci, sci + sizeof sci, a, std::chars_format::scientific, 5);
    buf[n] = sci[0];
    std::memcpy(buf + n + 1, sci + 2, 5);
    const char* p = sci + 8;  // after "d.ddddde"
    const bool neg = *p++ == '-';
    for (; p < res.ptr; ++p) e = e * 10 + (*p - '0');
    e = (neg ? -e : e) + 1;
  }
  n += 6;
  const int ae = e < 0 ? -e : e;
  if (ae <= 99) {
    buf[n++] = 'E';
    buf[n++] = e < 0 ? '-' : '+';
  } else {
    buf[n++] = e < 0 ? '-' : '+';
    buf[n++] = static_cast<char>('0' + ae / 100);
  }
  buf[n++] = static_cast<char>('0' + (ae / 10) % 10);
  buf[n++] = static_cast<char>('0' + ae % 10);
  right_align(buf, n, kRealField, dst);
}

void format_slice_line(int iz, double zz, double I_H, double I_E, double ratio, char* dst) {
  constexpr std::size_t kText = sizeof kSliceText - 1;
  std::memcpy(dst, kSliceText, kText);
  char* p = dst + kText;
  format_I5(iz, p);
  p += kIntField;
  std::memcpy(p, "  ", 2);
  format_F14_6(zz, p + 2);
  p += 2 + kRealField;
  std::memcpy(p, "  ", 2);
  format_E14_6(I_H, p + 2);
  p += 2 + kRealField;
  std::memcpy(p, "  ", 2);
  format_E14_6(I_E, p + 2);
  p += 2 + kRealField;
  format_F14_6(ratio, p);
  static_assert(kText + kIntField + 3 * (2 + kRealField) + kRealField == kSliceLineLength);
}

}  // namespace wk::detail
