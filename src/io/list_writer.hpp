// Free-form ("list-directed") record writer.
//
// Every log line and every line of the text field maps is one record of
// items: texts, 32-bit integers and doubles, laid out on lines of at most 80
// columns ended by CR LF:
//  - a text that starts a line is preceded by one blank; a text after a number
//    gets one blank separator; two texts in a row get none;
//  - an integer is right-aligned in 12 columns, a double takes 24 columns
//    (15 significant digits in fixed form for 0.1 <= |v| < 1e15, otherwise
//    16 significant digits with a 3-digit exponent); a number that does not
//    fit on the current line starts the next one in column 1;
//  - a record with no items is a line holding one blank.
// Negative zero is written as zero. Nothing here allocates per item.
#pragma once

#include <cstdint>
#include <string_view>

#include "io/out_file.hpp"

namespace wk {

inline constexpr int kLineWidth = 80;
inline constexpr int kIntWidth = 12;
inline constexpr int kRealWidth = 24;

// Writes the 24-column field of a double into dst (exactly 24 characters).
void format_real24(double v, char* dst);
// Writes the 12-column field of an integer into dst (exactly 12 characters).
void format_int12(std::int32_t v, char* dst);

class ListWriter {
 public:
  explicit ListWriter(OutFile& out) : out_(out) {}

  void text(std::string_view s);
  void integer(std::int32_t v);
  void real(double v);
  // Ends the record: writes the current line (one blank if it is empty).
  void end();

  // One whole record: record(" pi  = ", pi, " rad ").
  template <class... Items>
  void record(const Items&... items) {
    (item(items), ...);
    end();
  }

  // A line with a fixed layout of its own, written as it stands plus CR LF.
  void line(std::string_view s);


 private:
  void item(std::string_view s) { text(s); }
  void item(const char* s) { text(s); }
  void item(std::int32_t v) { integer(v); }
  void item(double v) { real(v); }
  void end_line();
  int left() const { return kLineWidth - len_; }

  enum class Kind { None, Text, Number };
  OutFile& out_;
  char line_[kLineWidth];
  int len_ = 0;
  bool empty_ = true;
  Kind last_ = Kind::None;
};

}  // namespace wk
