// Fuzzes the list-write writer with random item lists and checks the layout:
// no line longer than 80 columns, every line ended by CR LF, every number in
// its full field width. Each number's field must also be exactly the one the
// layout rules give, built here from the C library's correctly rounded
// decimal conversion: an integer right-aligned in 12 columns; a double in 24
// columns, with 15 significant digits in fixed form (right-aligned in 19
// columns, then 5 blanks) when its 15-digit rounding lies in [0.1, 1e15),
// otherwise d.ddddddddddddddd E, exponent sign and three exponent digits.
//
// Besides raw 8-byte doubles, an item can be a decimal m * 10^k nudged by a
// few units in the last place, which puts values right at the edges of the
// fixed form and at carries of the last digit (0.09999999999999999, ...).
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_support.hpp"
#include "io/list_writer.hpp"

namespace {

using wk::fuzz::require;

std::string blanks(std::size_t n) { return std::string(n, ' '); }

std::string reference_int12(std::int32_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%12d", static_cast<int>(v));
  return buf;
}

// The significant digits of |v| rounded to `digits` of them, and the decimal
// exponent of the first.
int decimal_digits(double a, int digits, std::string& out) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*e", digits - 1, a);
  out.assign(1, buf[0]);
  out.append(buf + 2, static_cast<std::size_t>(digits - 1));
  return std::atoi(std::strchr(buf, 'e') + 1);
}

std::string reference_real24(double v) {
  if (std::isnan(v)) return " NaN" + blanks(20);
  if (std::isinf(v)) return v < 0 ? " -Infinity" + blanks(14) : " Infinity" + blanks(15);
  const std::string sign = v < 0 ? "-" : "";
  const double a = std::fabs(v);
  std::string d;
  if (a != 0) {
    const int e = decimal_digits(a, 15, d);
    if (e >= -1 && e <= 14) {
      const std::string num = e == -1 ? sign + "0." + d : sign + d.substr(0, e + 1) + "." + d.substr(e + 1);
      return blanks(19 - num.size()) + num + blanks(5);
    }
  }
  int e = 0;
  if (a != 0) {
    e = decimal_digits(a, 16, d);
  } else {
    d.assign(16, '0');
  }
  char exponent[16];
  std::snprintf(exponent, sizeof exponent, "E%c%03d", e < 0 ? '-' : '+', e < 0 ? -e : e);
  const std::string num = sign + d.substr(0, 1) + "." + d.substr(1) + exponent;
  return blanks(24 - num.size()) + num;
}

// True when |v| lies exactly half-way between two 15- or 16-digit decimals:
// such ties may be rounded either way.
bool decimal_tie(double v) {
  char buf[1200];
  for (int digits : {15, 16}) {
    std::snprintf(buf, sizeof buf, "%.1100e", std::fabs(v));
    const char* p = buf + 1 + digits;  // the digit after the last one kept
    if (*p != '5') continue;
    for (++p; *p >= '0' && *p <= '9'; ++p) {
      if (*p != '0') break;
    }
    if (*p == 'e') return true;
  }
  return false;
}

void check_int_field(std::int32_t v) {
  char f[wk::kIntWidth];
  wk::format_int12(v, f);
  require(std::string(f, sizeof f) == reference_int12(v));
}

void check_real_field(double v) {
  char f[wk::kRealWidth];
  wk::format_real24(v, f);
  require(std::string(f, sizeof f) == reference_real24(v) || decimal_tie(v));
}

// A decimal m * 10^k (m up to 17 digits, k in -25 .. 25) moved by up to
// +-127 units in the last place, from 10 bytes of the input.
double decimal_item(const std::uint8_t* data, std::size_t n) {
  std::uint64_t m = 0;
  std::memcpy(&m, data, n < 8 ? n : 8);
  const int k = n > 8 ? data[8] % 51 - 25 : 0;
  const int nudge = n > 9 ? static_cast<std::int8_t>(data[9]) : 0;
  char text[48];
  std::snprintf(text, sizeof text, "%llue%d", static_cast<unsigned long long>(m % 100000000000000000ULL), k);
  double v = std::strtod(text, nullptr);
  for (int i = 0; i < (nudge < 0 ? -nudge : nudge); ++i) v = std::nextafter(v, nudge < 0 ? 0.0 : HUGE_VAL);
  return (m >> 63) != 0 ? -v : v;
}

std::string read_all(const std::string& path) {
  std::string s;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) std::abort();
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  std::fclose(f);
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = wk::fuzz::scratch_dir() + "/list.txt";
  std::size_t numbers = 0;
  std::size_t text_bytes = 0;
  {
    wk::OutFile out(8, path, wk::OutFile::Mode::Rewrite, 4096);
    wk::ListWriter w(out);
    std::size_t p = 0;
    while (p < size) {
      const std::uint8_t op = data[p++];
      switch (op % 5) {
        case 0: {  // a text of up to 255 bytes
          const std::size_t n = p < size ? data[p++] : 0;
          const std::size_t m = n < size - p ? n : size - p;
          w.text(std::string_view(reinterpret_cast<const char*>(data + p), m));
          text_bytes += m;
          p += m;
          break;
        }
        case 1: {
          std::int32_t v = 0;
          const std::size_t m = size - p < sizeof v ? size - p : sizeof v;
          std::memcpy(&v, data + p, m);
          p += m;
          check_int_field(v);
          w.integer(v);
          ++numbers;
          break;
        }
        case 2:
        case 3: {
          double v = 0;
          const std::size_t want = op % 5 == 2 ? sizeof v : 10;
          const std::size_t m = size - p < want ? size - p : want;
          if (op % 5 == 2) {
            std::memcpy(&v, data + p, m);
          } else {
            v = decimal_item(data + p, m);
          }
          p += m;
          check_real_field(v);
          w.real(v);
          ++numbers;
          break;
        }
        default:
          w.end();
      }
    }
    w.end();
    out.commit();
  }
  const std::string s = read_all(path);
  std::size_t start = 0;
  while (start < s.size()) {
    const std::size_t end = s.find("\r\n", start);
    if (end == std::string::npos) std::abort();  // every line is CR LF ended
    if (end - start > 80) std::abort();          // never past 80 columns
    start = end + 2;
  }
  // Nothing is lost: every text byte and every number's field is in the file.
  if (s.size() < text_bytes + numbers * 12) std::abort();
  return 0;
}
