#include "io/error.hpp"

namespace wk {

void stop(std::string_view message) { throw RunError(std::string(message), kExitStop); }

void refuse(std::string_view message) {
  std::string text = "wavecalc_to_kaven: ";
  text += message;
  throw RunError(std::move(text), kExitStop);
}

void file_error(int unit, std::string_view file, long line, std::string_view what) {
  std::string text = "wavecalc_to_kaven: unit ";
  text += std::to_string(unit);
  text += " (";
  text += file;
  text += ")";
  if (line > 0) {
    text += ", line ";
    text += std::to_string(line);
  }
  text += ": ";
  text += what;
  throw RunError(std::move(text), kExitFileError);
}

std::string quote_token(std::string_view token) {
  constexpr std::size_t kMax = 40;
  std::string out = "\"";
  const std::size_t n = token.size() < kMax ? token.size() : kMax;
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char ch = static_cast<unsigned char>(token[i]);
    out += (ch < 0x20 || ch >= 0x7f) ? '?' : static_cast<char>(ch);
  }
  if (token.size() > kMax) out += "...";
  out += '"';
  return out;
}

}  // namespace wk
