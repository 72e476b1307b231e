// The columns of the exports: the first data line of the E export decides
// whether the lines carry real parts only or real and imaginary parts, and
// the H export must have the same columns.
#include <string>

#include "field/export_grid.hpp"
#include "field/field.hpp"
#include "io/error.hpp"
#include "io/line_source.hpp"
#include "io/number_scan.hpp"

namespace wk {

namespace field_detail {

namespace {

// The numbers that open an export's first data line, the first line that
// holds more than separators: the first nine, and how many in all.
struct FirstDataLine {
  long line = 0;      // its number; 0 when the export holds no data line
  int count = 0;      // numbers read, at most 9
  int numbers = 0;    // numbers up to the first token that is no number
  bool whole = true;  // false when a token that is no number ended the count before the ninth
  double v[9] = {};
};

// Reads the first data line of src. With `strict`, a token among the first
// nine that is no number is a file error, as for the line that decides the
// columns; otherwise it ends the count. A number written with a decimal
// comma is a file error.
FirstDataLine first_data_line(LineSource& src, bool strict) {
  FirstDataLine first;
  std::string_view line;
  std::string_view token;
  while (src.next_line(line)) {
    TokenCursor tokens(line);
    while (tokens.next(token)) {
      refuse_decimal_comma(src, line, token);
      double v;
      if (!parse_real(token, v)) {
        if (first.numbers < 9) {
          if (strict) src.fail(not_a_real(token));
          first.whole = false;
        }
        break;
      }
      if (first.numbers < 9) first.v[first.numbers] = v;
      ++first.numbers;
    }
    first.count = first.numbers < 9 ? first.numbers : 9;
    if (first.numbers > 0 || !first.whole) {
      first.line = src.line_number();
      return first;
    }
  }
  return first;
}

}  // namespace

// Refuses an H export whose first data line holds another number of values
// than the E export's: with 9 against 6 the H lines would be read in the
// wrong columns. An H export without a data line, or whose first data line
// stops at a token that is no number, is left to the reading pass to report.
FirstLines check_same_columns(Exports& exports) {
  LineSource e_src(exports.e());
  LineSource h_src(exports.h());
  const FirstDataLine e = first_data_line(e_src, true);
  const FirstDataLine h = first_data_line(h_src, false);
  const FirstLines lines{e.line, e.numbers, h.line, h.numbers};
  if (h.line == 0 || !h.whole || h.count == e.count) return lines;
  const auto values = [](const FirstDataLine& f) {
    return std::to_string(f.count) + (f.count == 9 ? " or more values" : " values");
  };
  refuse(field_detail::export_name('H', h_src.path()) + ": its first data line (line " + std::to_string(h.line) +
         ") holds " + values(h) + ", the first data line of " + field_detail::export_name('E', e_src.path()) +
         " (line " + std::to_string(e.line) + ") " + values(e) +
         "; both exports must have the same columns (x y z and 3 real parts, or x y z, 3 real and 3 imaginary "
         "parts)");
}

}  // namespace field_detail

void choose_line_layout(RunData& d, ListWriter& log, Exports& exports) {
  LineSource src(exports.e());
  const field_detail::FirstDataLine first = field_detail::first_data_line(src, true);
  d.icplx = first.count == 9 ? 1 : 0;
  if (d.icplx == 1) {
    const double* v = first.v;
    log.record(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8]);
  }
  log.record(d.icplx == 0 ? " Reading real field components only ..."
                          : " Reading real & imaginary field components ...");
}

}  // namespace wk
