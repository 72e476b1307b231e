// Text input of the file layer: the text of a file (read once, see
// io/input_file.hpp) handed out line by line, plus the free-form record
// reads built on it. A streamed text is read as it is inflated: a line not
// yet whole is waited for.
//
// Lines end with LF or CR LF; the line end is never part of the line. A
// UTF-8 byte-order mark at the start of the file is skipped. Every failure
// (missing file, a folder or another file that is not a regular one, a read
// error, a line longer than kMaxLineBytes, lines ended by a CR alone, an
// unexpected end of file, an unreadable value) ends the run with a
// file-layer error that names the unit, the file, the line and the
// offending text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "io/input_file.hpp"

namespace wk {

// The longest line read, without its line end. An export line holds at
// most nine numbers, some 250 bytes, and a control line a file name of 200
// characters; 4 MiB is thousands of times either and keeps a remark of a
// megabyte readable, while a file that is no text (a line of zeros without
// end) is refused at once instead of being searched for a line end.
inline constexpr std::size_t kMaxLineBytes = std::size_t{1} << 22;

class LineSource {
 public:
  // Reads the file at `path`, whole (mapped; a gzip-compressed file is
  // inflated only when `gzip` says so, see InputText).
  LineSource(int unit, std::string path, InputText::Gzip gzip = InputText::Gzip::as_is);
  // Reads `text`, which must outlive the source; several sources may read
  // one text.
  explicit LineSource(InputText& text);
  LineSource(const LineSource&) = delete;
  LineSource& operator=(const LineSource&) = delete;

  // Starts the reading at byte `offset` of the text instead of its start
  // (before the first line is taken; line numbers then count from there).
  void start_at(std::uint64_t offset);
  // Gives the text's memory back behind the reading as it goes (a long
  // file is then never resident whole). Only for the last reader of a text
  // that is not read again, since released inflated text reads as zeros.
  void release_as_read() { release_ = true; }

  // The next line, or false at the end of the file.
  bool next_line(std::string_view& line);
  // Offset of the first byte after the line last returned (after its line
  // end): where the next line starts.
  std::uint64_t next_offset() const { return pos_; }
  // Offset of the start of the line last returned.
  std::uint64_t line_offset() const { return line_offset_; }
  // The line last returned by next_line, again (its text must still be
  // there: not given back).
  std::string_view last_line() const;
  // Number of the line last returned by next_line (1 for the first).
  long line_number() const { return line_number_; }
  int unit() const { return text_->unit(); }
  const std::string& path() const { return text_->path(); }
  // The end of the text: the bytes from a line's start to here may be read.
  const char* text_end() const { return data_ + size_; }

  // A file-layer error at the current line.
  [[noreturn]] void fail(std::string_view what) const;
  // A file-layer error for a read that met the end of the file.
  [[noreturn]] void fail_end_of_file() const;

 private:
  // Takes the text's start (see InputText::text).
  void take_text();
  // Of a streamed text: waits for more of it; false once it is complete and
  // all of it is in size_.
  bool more();
  // Ends the run when the first line of a text read from its start, taken
  // without any LF, holds a CR: the file's lines end with a CR alone.
  void check_line_ends(std::string_view first_line) const;

  std::unique_ptr<InputText> own_;  // the text, when the source read it itself
  InputText* text_;
  const char* data_ = nullptr;
  std::size_t size_ = 0;   // the bytes of the text that may be read
  bool streaming_ = false;  // more of the text may come
  std::size_t pos_ = 0;
  bool from_start_ = true;  // read from offset 0, not from start_at
  bool release_ = false;
  std::size_t released_to_ = 0;
  long line_number_ = 0;
  std::uint64_t line_offset_ = 0;
};

// List-directed reads: each starts on a new line, takes its values from the
// start of the line, goes on into the following lines while values are
// missing, and ignores whatever follows the last value it needs.
class FreeFormReader {
 public:
  explicit FreeFormReader(LineSource& src) : src_(src) {}

  // decimal_comma: a number written with a decimal comma ("989984,9").
  enum class Status { ok, end_of_file, bad_value, decimal_comma };

  // Reads n reals; an end of file, an unreadable value or a value written
  // with a decimal comma ends the run.
  void reals(double* out, int n);
  // Reads n integers; the same failures end the run.
  void ints(std::int32_t* out, int n);
  // Reads n reals, reporting an end of file or an unreadable value instead
  // of ending the run; with digit_exp, the exponent of each value's last
  // printed digit goes there (see last_digit_exponent). A decimal comma is
  // not looked for: "1,5" reads as two values.
  Status try_reals(double* out, int n, int* digit_exp = nullptr);
  // As try_reals, with `line`, just taken from the source, as the read's
  // first line.
  Status try_reals_from(std::string_view line, double* out, int n, int* digit_exp = nullptr);
  // Reads the next line that holds anything but separators, as one record:
  // its first n numbers into out (with their last digits' exponents into
  // digit_exp, n of them), and returns how many numbers the line holds,
  // counted on past the n-th to the first token that is no number (a
  // remark). A line of fewer numbers returns their count. An end of file, a
  // token among the first n that is no number, or a number written with a
  // decimal comma ends the run.
  int line_reals(double* out, int n, int* digit_exp);
  // As line_reals, returning kEndOfFile at the end of the file, and
  // kNoNumber for a token among the first n that is no number or a number
  // written with a decimal comma (the line is taken all the same), instead
  // of ending the run.
  static constexpr int kEndOfFile = -1;
  static constexpr int kNoNumber = -2;
  int try_line_reals(double* out, int n, int* digit_exp);
  // The next line as text; an end of file ends the run.
  std::string_view text_line();

  LineSource& source() { return src_; }
  // The token that made the last try_reals fail (valid until the next read).
  std::string_view bad_token() const { return bad_token_; }

 private:
  // The numbers of [p, end) into out[got..n), stopping at the end; p is
  // left after the last one. `line` is p's whole line; `commas` looks for a
  // decimal comma.
  Status take_numbers(std::string_view line, const char*& p, double* out, int n, int& got, int* digit_exp, bool commas,
                      int& frac);
  // line_reals, failing as it does or, without `fail`, returning -1.
  int record_reals(double* out, int n, int* digit_exp, bool fail);
  // Ends the run for a failed read of reals.
  [[noreturn]] void fail_reals(Status status) const;

  LineSource& src_;
  std::string_view bad_token_;
  int frac_ = 10;  // fraction digits of the last number in the solvers' layout
};

// The reason a token is not read as a real number, for a file-layer
// message: "\"TOKEN\" is not a real number", or that it is out of range.
std::string not_a_real(std::string_view token);
// The same for an integer of the control file.
std::string not_an_integer(std::string_view token);
// The reason a number written with a decimal comma is refused.
std::string decimal_comma_text(std::string_view token);
// Fails src when the token of `line` that starts where `token` does is a
// number written with a decimal comma (whose comma split it into tokens).
void refuse_decimal_comma(const LineSource& src, std::string_view line, std::string_view token);

}  // namespace wk
