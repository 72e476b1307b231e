#include "io/list_writer.hpp"

#include <charconv>
#include <cmath>
#include <cstring>

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

void pad_to(char* dst, int used, int width) {
  std::memset(dst + used, ' ', static_cast<std::size_t>(width - used));
}

}  // namespace

void format_int12(std::int32_t v, char* dst) {
  char buf[16];
  const auto res = std::to_chars(buf, buf + sizeof buf, v);
  const int n = static_cast<int>(res.ptr - buf);
  std::memset(dst, ' ', static_cast<std::size_t>(kIntWidth - n));
  std::memcpy(dst + kIntWidth - n, buf, static_cast<std::size_t>(n));
}

void format_real24(double v, char* dst) {
  if (std::isnan(v)) {
    std::memcpy(dst, " NaN", 4);
    pad_to(dst, 4, kRealWidth);
    return;
  }
  if (std::isinf(v)) {
    if (v < 0) {
      std::memcpy(dst, " -Infinity", 10);
      pad_to(dst, 10, kRealWidth);
    } else {
      std::memcpy(dst, " Infinity", 9);
      pad_to(dst, 9, kRealWidth);
    }
    return;
  }
  char field[32];
  int n = 0;
  const bool neg = v < 0;  // false for -0.0: a zero is written without a sign
  const double a = std::fabs(v);
  char digits[20];
  if (a != 0) {
    const int e15 = scientific_digits(a, 14, digits);
    if (e15 >= -1 && e15 <= 14) {
      // Fixed form: 15 significant digits, K = e15 + 1 of them before the point.
      if (neg) field[n++] = '-';
      if (e15 == -1) {
        field[n++] = '0';
        field[n++] = '.';
        std::memcpy(field + n, digits, 15);
        n += 15;
      } else {
        const int k = e15 + 1;
        std::memcpy(field + n, digits, static_cast<std::size_t>(k));
        n += k;
        field[n++] = '.';
        std::memcpy(field + n, digits + k, static_cast<std::size_t>(15 - k));
        n += 15 - k;
      }
      // Right-aligned in 19 columns, then 5 blanks.
      std::memset(dst, ' ', static_cast<std::size_t>(19 - n));
      std::memcpy(dst + 19 - n, field, static_cast<std::size_t>(n));
      std::memset(dst + 19, ' ', 5);
      return;
    }
  }
  // Exponent form: d.ddddddddddddddd E sign 3-digit exponent, 16 significant digits.
  int e = 0;
  if (a == 0) {
    std::memset(digits, '0', 16);
  } else {
    e = scientific_digits(a, 15, digits);
  }
  if (neg) field[n++] = '-';
  field[n++] = digits[0];
  field[n++] = '.';
  std::memcpy(field + n, digits + 1, 15);
  n += 15;
  field[n++] = 'E';
  field[n++] = e < 0 ? '-' : '+';
  const int ae = e < 0 ? -e : e;
  field[n++] = static_cast<char>('0' + ae / 100);
  field[n++] = static_cast<char>('0' + (ae / 10) % 10);
  field[n++] = static_cast<char>('0' + ae % 10);
  std::memset(dst, ' ', static_cast<std::size_t>(kRealWidth - n));
  std::memcpy(dst + kRealWidth - n, field, static_cast<std::size_t>(n));
}

void ListWriter::end_line() {
  char* p = out_.tail(kLineWidth + 2);
  std::memcpy(p, line_, static_cast<std::size_t>(len_));
  p[len_] = '\r';
  p[len_ + 1] = '\n';
  out_.commit_tail(static_cast<std::size_t>(len_) + 2);
  len_ = 0;
  empty_ = true;
  last_ = Kind::None;
}

void ListWriter::text(std::string_view s) {
  const int n = static_cast<int>(s.size() > 1u << 30 ? 1u << 30 : s.size());
  if (empty_) {
    if (n <= left()) line_[len_++] = ' ';
  } else {
    if (last_ == Kind::Number && left() >= 1) line_[len_++] = ' ';
    if (n > left()) {
      end_line();
      if (n <= left()) line_[len_++] = ' ';
    }
  }
  // A text longer than the columns left runs on over as many lines as needed.
  for (int i = 0; i < n; ++i) {
    if (left() == 0) end_line();
    line_[len_++] = s[static_cast<std::size_t>(i)];
  }
  empty_ = false;
  last_ = Kind::Text;
}

void ListWriter::integer(std::int32_t v) {
  if (left() < kIntWidth) end_line();
  format_int12(v, line_ + len_);
  len_ += kIntWidth;
  empty_ = false;
  last_ = Kind::Number;
}

void ListWriter::real(double v) {
  if (left() < kRealWidth) end_line();
  format_real24(v, line_ + len_);
  len_ += kRealWidth;
  empty_ = false;
  last_ = Kind::Number;
}

void ListWriter::end() {
  if (len_ == 0) line_[len_++] = ' ';
  end_line();
}

void ListWriter::line(std::string_view s) {
  out_.write(s);
  out_.write("\r\n", 2);
}

}  // namespace wk
