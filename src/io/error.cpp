#include "io/error.hpp"

#include <cstdio>

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
  text += shown_name(file);
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

std::string shown_name(std::string_view name) {
  bool plain = true;
  for (const char c : name) plain &= static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7f;
  if (plain) return std::string(name);
  static const char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (const char c : name) {
    const unsigned char ch = static_cast<unsigned char>(c);
    if (ch < 0x20 || ch >= 0x7f) {
      out += "\\x";
      out += kHex[ch >> 4];
      out += kHex[ch & 0xf];
    } else {
      if (c == '"' || c == '\\') out += '\\';
      out += c;
    }
  }
  out += '"';
  return out;
}

std::string message_number(double v) {
  char buf[32];
  const int n = std::snprintf(buf, sizeof buf, "%.10g", v);
  return std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
}

std::string short_number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3g", v);
  return text;
}

}  // namespace wk
