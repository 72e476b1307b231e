#include "io/number_scan.hpp"

#include <charconv>

namespace wk {

namespace {

// from_chars on [b, e), which must be read whole.
std::errc parse_whole_errc(const char* b, const char* e, double& v) {
  if (b == e) return std::errc::invalid_argument;
  const auto res = std::from_chars(b, e, v, std::chars_format::general);
  if (res.ptr != e) return std::errc::invalid_argument;
  return res.ec;
}

// parse_real with the reason of a failure: out of range for a number whose
// value a double cannot hold.
std::errc parse_real_errc(std::string_view token, double& v) {
  const char* b = token.data();
  const char* e = b + token.size();
  if (b != e && *b != '+' && parse_whole_errc(b, e, v) == std::errc()) return std::errc();

  // Slow path: rewrite the Fortran forms into one that from_chars takes.
  constexpr std::size_t kMax = 128;
  if (token.size() >= kMax) return std::errc::invalid_argument;
  char buf[kMax + 2];
  std::size_t n = 0;
  std::size_t i = 0;
  if (i < token.size() && token[i] == '+') ++i;
  if (i < token.size() && (token[i] == '+' || token[i] == '-') && i > 0) return std::errc::invalid_argument;
  bool seen_exponent = false;
  for (; i < token.size(); ++i) {
    char ch = token[i];
    if (ch == 'd' || ch == 'D' || ch == 'e' || ch == 'E') {
      if (seen_exponent) return std::errc::invalid_argument;
      seen_exponent = true;
      ch = 'e';
    } else if ((ch == '+' || ch == '-') && n > 0 && !seen_exponent &&
               ((buf[n - 1] >= '0' && buf[n - 1] <= '9') || buf[n - 1] == '.')) {
      // "1.5-300": an exponent written without its letter.
      buf[n++] = 'e';
      seen_exponent = true;
    }
    buf[n++] = ch;
  }
  // from_chars takes no '+' at the start of the mantissa, but does after 'e'.
  return parse_whole_errc(buf, buf + n, v);
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool parse_real(std::string_view token, double& v) { return parse_real_errc(token, v) == std::errc(); }

bool real_out_of_range(std::string_view token) {
  double v;
  return parse_real_errc(token, v) == std::errc::result_out_of_range;
}

bool integer_out_of_range(std::string_view token) {
  std::size_t i = !token.empty() && (token[0] == '+' || token[0] == '-') ? 1 : 0;
  if (i == token.size()) return false;
  for (; i < token.size(); ++i) {
    if (!is_digit(token[i])) return false;
  }
  std::int32_t v;
  return !parse_int(token, v);
}

int last_digit_exponent(std::string_view token) {
  std::size_t i = 0;
  const std::size_t n = token.size();
  if (i < n && (token[i] == '+' || token[i] == '-')) ++i;
  while (i < n && is_digit(token[i])) ++i;
  int fraction = 0;
  const bool point = i < n && token[i] == '.';
  if (point) {
    for (++i; i < n && is_digit(token[i]); ++i) ++fraction;
  }
  if (!point && i == n) return kExactDigit;
  if (i < n && (token[i] == 'e' || token[i] == 'E' || token[i] == 'd' || token[i] == 'D')) ++i;
  bool negative = false;
  if (i < n && (token[i] == '+' || token[i] == '-')) negative = token[i++] == '-';
  // A real's exponent has at most a few digits; beyond 9999 the value is out
  // of range anyway.
  int exponent = 0;
  for (; i < n && is_digit(token[i]); ++i) exponent = exponent < 10000 ? exponent * 10 + (token[i] - '0') : exponent;
  return (negative ? -exponent : exponent) - fraction;
}

const char* decimal_comma_end(const char* line_begin, const char* p, const char* end) {
  if (p > line_begin && p[-1] == ',') return nullptr;
  if (p < end && (*p == '+' || *p == '-')) ++p;
  const char* const int_start = p;
  while (p < end && is_digit(*p)) ++p;
  if (p == int_start || p == end || *p != ',') return nullptr;
  const char* const frac_start = ++p;
  while (p < end && is_digit(*p)) ++p;
  if (p == frac_start) return nullptr;
  if (p < end && (*p == 'e' || *p == 'E' || *p == 'd' || *p == 'D')) {
    ++p;
    if (p < end && (*p == '+' || *p == '-')) ++p;
    const char* const exp_start = p;
    while (p < end && is_digit(*p)) ++p;
    if (p == exp_start) return nullptr;
  }
  return p == end || (is_separator(*p) && *p != ',') ? p : nullptr;
}

const char* scan_real(const char* p, const char* end, double& v, bool& ok) {
  // A number ends at the first character that cannot continue it, and no
  // separator can: when from_chars stops exactly at a separator or at the
  // end, the token was a plain real and has been read whole.
  if (const char* q = parse_plain_real(p, end, v)) {
    ok = true;
    return q;
  }
  if (*p != '+') {
    const auto res = std::from_chars(p, end, v, std::chars_format::general);
    if (res.ec == std::errc() && (res.ptr == end || is_separator(*res.ptr))) {
      ok = true;
      return res.ptr;
    }
  }
  // Signs, Fortran exponents or no number at all: the whole token decides.
  const char* start = p;
  while (p < end && !is_separator(*p)) ++p;
  ok = parse_real(std::string_view(start, static_cast<std::size_t>(p - start)), v);
  return p;
}

bool parse_int(std::string_view token, std::int32_t& v) {
  const char* b = token.data();
  const char* e = b + token.size();
  if (b != e && *b == '+') ++b;
  if (b == e || *b == '+') return false;
  const auto res = std::from_chars(b, e, v, 10);
  return res.ec == std::errc() && res.ptr == e;
}

}  // namespace wk
