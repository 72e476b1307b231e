// Free-form number scanning on one line of text, without allocation.
//
// Values are separated by blanks, tabs or commas (a carriage return counts as
// a blank). Reals may be written in any decimal or exponent form, with an
// exponent letter E or D (Fortran double precision), an optional leading
// '+', or an exponent sign without a letter ("1.5-300"). Integers are strict:
// digits with an optional sign, nothing else.
#pragma once

#include <cstdint>
#include <string_view>

namespace wk {

inline bool is_separator(char c) {
  return c == ' ' || c == ',' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

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
// True when the whole token is a 32-bit integer; the value goes to v.
bool parse_int(std::string_view token, std::int32_t& v);

}  // namespace wk
