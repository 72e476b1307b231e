// Pieces shared by the grid scan and the reading pass of the field exports:
// the loop order of their lines and the number format of the refusal
// messages. Internal to src/field.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "field/field.hpp"
#include "io/error.hpp"
#include "io/file_units.hpp"
#include "io/number_scan.hpp"

namespace wk::field_detail {

inline constexpr const char* kAxisName[3] = {"x", "y", "z"};

// The nesting of the export's lines: axis indices (0 x, 1 y, 2 z) of the
// coordinate that changes fastest, next and slowest from line to line.
struct LoopOrder {
  int fast = 0, mid = 0, slow = 0;
};

// Decodes iord (digit 1 fastest .. 3 slowest; hundreds x, tens y, units z).
// False for any code other than the six orders, such as 0 (no order found).
inline bool decode_loop_order(std::int32_t iord, LoopOrder& order) {
  const int digit[3] = {iord / 100, iord / 10 % 10, iord % 10};
  if (iord < 123 || iord > 321) return false;
  int seen = 0;
  for (int a = 0; a < 3; ++a) {
    if (digit[a] < 1 || digit[a] > 3) return false;
    seen |= 1 << digit[a];
    if (digit[a] == 1) order.fast = a;
    if (digit[a] == 2) order.mid = a;
    if (digit[a] == 3) order.slow = a;
  }
  return seen == 0b1110;
}

using wk::message_number;

// How far, in grid steps, a coordinate may lie off the uniform grid beyond
// what the printed digits cannot resolve.
inline constexpr double kOffUniform = 1e-3;

// Half a unit of the decimal digit of exponent e: what a number printed to
// that digit cannot resolve.
inline double half_unit(int e) {
  static const auto table = [] {
    std::array<double, 81> t{};
    for (int k = -40; k <= 40; ++k) t[static_cast<std::size_t>(k + 40)] = 0.5 * std::pow(10.0, k);
    return t;
  }();
  return e >= -40 && e <= 40 ? table[static_cast<std::size_t>(e + 40)] : 0.5 * std::pow(10.0, e);
}

// "E export NAME" or "H export NAME", the name shown safely.
inline std::string export_name(char field, const std::string& path) {
  return std::string(1, field) + " export " + shown_name(path);
}

// True when the line starts with three numbers, the coordinates of a point:
// a line that a footer cannot be.
inline bool starts_with_point(std::string_view line) {
  TokenCursor tokens(line);
  std::string_view token;
  double v;
  for (int a = 0; a < 3; ++a) {
    if (!tokens.next(token) || !parse_real(token, v)) return false;
  }
  return true;
}

// "(x, y, z)" for a point or a triple of steps.
inline std::string message_triple(const double* v) {
  std::string s(1, '(');
  s += message_number(v[0]);
  s += ", ";
  s += message_number(v[1]);
  s += ", ";
  s += message_number(v[2]);
  s += ')';
  return s;
}

// The first data lines of the two exports: their line numbers and how
// many numbers each holds (before any remark).
struct FirstLines {
  long e_line = 0;
  int e_numbers = 0;
  long h_line = 0;
  int h_numbers = 0;
};

// Refuses an H export whose first data line holds another number of values
// than the E export's (see line_layout.cpp); returns both first lines.
FirstLines check_same_columns(Exports& exports);

}  // namespace wk::field_detail
