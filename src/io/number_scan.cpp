#include "io/number_scan.hpp"

#include <charconv>

namespace wk {

namespace {

bool parse_whole(const char* b, const char* e, double& v) {
  if (b == e) return false;
  const auto res = std::from_chars(b, e, v, std::chars_format::general);
  return res.ec == std::errc() && res.ptr == e;
}

}  // namespace

bool parse_real(std::string_view token, double& v) {
  const char* b = token.data();
  const char* e = b + token.size();
  if (b != e && *b != '+' && parse_whole(b, e, v)) return true;

  // Slow path: rewrite the Fortran forms into one that from_chars takes.
  constexpr std::size_t kMax = 128;
  if (token.size() >= kMax) return false;
  char buf[kMax + 2];
  std::size_t n = 0;
  std::size_t i = 0;
  if (i < token.size() && token[i] == '+') ++i;
  if (i < token.size() && (token[i] == '+' || token[i] == '-') && i > 0) return false;
  bool seen_exponent = false;
  for (; i < token.size(); ++i) {
    char ch = token[i];
    if (ch == 'd' || ch == 'D' || ch == 'e' || ch == 'E') {
      if (seen_exponent) return false;
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
  return parse_whole(buf, buf + n, v);
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
