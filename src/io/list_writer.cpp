#include "io/list_writer.hpp"

#include <cstring>

namespace wk {

void ListWriter::end_line() {
  char* p = out_.tail(kLineWidth + 2);
  std::memcpy(p, line_, static_cast<std::size_t>(len_));
  p[len_] = '\r';
  p[len_ + 1] = '\n';
  out_.commit_tail(static_cast<std::size_t>(len_) + 2);
  len_ = 0;
  empty_ = true;
  last_ = Kind::None;
}

void ListWriter::text(std::string_view s) {
  const int n = static_cast<int>(s.size() > 1u << 30 ? 1u << 30 : s.size());
  if (empty_) {
    if (n <= left()) line_[len_++] = ' ';
  } else {
    if (last_ == Kind::Number && left() >= 1) line_[len_++] = ' ';
    if (n > left()) {
      end_line();
      if (n <= left()) line_[len_++] = ' ';
    }
  }
  // A text longer than the columns left runs on over as many lines as needed.
  for (int i = 0; i < n; ++i) {
    if (left() == 0) end_line();
    line_[len_++] = s[static_cast<std::size_t>(i)];
  }
  empty_ = false;
  last_ = Kind::Text;
}

void ListWriter::integer(std::int32_t v) {
  if (left() < kIntWidth) end_line();
  format_int12(v, line_ + len_);
  len_ += kIntWidth;
  empty_ = false;
  last_ = Kind::Number;
}

void ListWriter::real(double v) {
  if (left() < kRealWidth) end_line();
  format_real24(v, line_ + len_);
  len_ += kRealWidth;
  empty_ = false;
  last_ = Kind::Number;
}

void ListWriter::end() {
  if (len_ == 0) line_[len_++] = ' ';
  end_line();
}

void ListWriter::line(std::string_view s) {
  out_.write(s);
  out_.write("\r\n", 2);
}

}  // namespace wk
