// Free-form ("list-directed") record writer.
//
// Every log line and every line of the text field maps is one record of
// items: texts, 32-bit integers and doubles, laid out on lines of at most 80
// columns ended by CR LF:
//  - a text that starts a line is preceded by one blank; a text after a number
//    gets one blank separator; two texts in a row get none;
//  - an integer takes 12 columns, a double 24 (number_format.hpp); a number
//    that does not fit on the current line starts the next one in column 1;
//  - a record with no items is a line holding one blank.
// Nothing here allocates per item.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "io/number_format.hpp"
#include "io/out_file.hpp"

namespace wk {

inline constexpr int kLineWidth = 80;

// The separator record between the blocks of the log.
inline constexpr std::string_view kLogSeparator = " ------------------------------ ";

// A list write of doubles alone has a layout fixed in advance: full lines of
// kRealsPerLine fields (a further one would pass column 80), each ended by
// CR LF, and a last line holding what is left. Writers of long records
// format such lines in bulk with format_real_line.
inline constexpr int kRealsPerLine = kLineWidth / kRealWidth;
inline constexpr std::size_t kRealLineBytes = kRealsPerLine * kRealWidth + 2;

// Writes one line of a list write of doubles, the fields of v[0 .. n-1]
// (1 <= n <= kRealsPerLine) and CR LF, at dst; returns the end.
inline char* format_real_line(const double* v, std::size_t n, char* dst) {
  for (std::size_t t = 0; t < n; ++t, dst += kRealWidth) format_real24(v[t], dst);
  dst[0] = '\r';
  dst[1] = '\n';
  return dst + 2;
}

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
