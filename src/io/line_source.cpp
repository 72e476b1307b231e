#include "io/line_source.hpp"

#include <algorithm>
#include <cstring>

#include "io/error.hpp"
#include "io/number_scan.hpp"

namespace wk {

namespace {

// A UTF-8 byte-order mark, skipped at the start of a file.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

}  // namespace

LineSource::LineSource(int unit, std::string path, InputText::Gzip gzip)
    : own_(std::make_unique<InputText>(unit, std::move(path), gzip)), text_(own_.get()) {
  take_text();
}

LineSource::LineSource(InputText& text) : text_(&text) { take_text(); }

void LineSource::take_text() {
  // Whether the text is complete is asked first: what is there then is all.
  streaming_ = !text_->complete();
  const std::string_view text = text_->text();
  data_ = text.data();
  size_ = text.size();
  start_at(0);
}

bool LineSource::more() {
  if (!streaming_) return false;
  const std::size_t now = text_->wait_beyond(size_);
  if (now == size_) {
    streaming_ = false;
    return false;
  }
  size_ = now;
  return true;
}

void LineSource::fail(std::string_view what) const { file_error(unit(), path(), line_number_, what); }

void LineSource::fail_end_of_file() const {
  file_error(unit(), path(), 0, "unexpected end of file after line " + std::to_string(line_number_));
}

void LineSource::start_at(std::uint64_t offset) {
  while ((offset > size_ || size_ < kByteOrderMark.size()) && more()) {
  }
  pos_ = offset < size_ ? static_cast<std::size_t>(offset) : size_;
  line_number_ = 0;
  from_start_ = offset == 0;
  released_to_ = pos_;
  // A byte-order mark can only stand at the start of the file.
  if (pos_ == 0 && std::string_view(data_, size_).starts_with(kByteOrderMark)) pos_ = kByteOrderMark.size();
}

void LineSource::check_line_ends(std::string_view first_line) const {
  // Lines ended by a CR alone make the whole file one line without a line
  // end: every reader would report a missing line or a single point instead.
  if (!from_start_ || first_line.find('\r') == std::string_view::npos) return;
  file_error(unit(), path(), 0,
             "its lines end with a CR alone (the line end of classic Mac OS text files); the converter reads lines "
             "ended by LF or CR LF: convert the file's line ends");
}

bool LineSource::next_line(std::string_view& line) {
  if (pos_ == size_ && !more()) return false;
  const char* const start = data_ + pos_;
  // A line end is looked for within the longest line and its CR LF only;
  // in a streamed text, in what is there and then in what comes.
  std::size_t searched = 0;
  std::size_t span;
  const char* end;
  for (;;) {
    span = std::min(size_ - pos_, kMaxLineBytes + 2);
    end = static_cast<const char*>(std::memchr(start + searched, '\n', span - searched));
    if (end != nullptr || span == kMaxLineBytes + 2 || !more()) break;
    searched = span;
  }
  const bool ended_by_lf = end != nullptr;
  if (ended_by_lf) {
    pos_ = static_cast<std::size_t>(end - data_) + 1;
  } else if (span == kMaxLineBytes + 2) {
    if (line_number_ == 0) check_line_ends(std::string_view(start, span));
    file_error(unit(), path(), line_number_ + 1,
               "the line is longer than " + std::to_string(kMaxLineBytes) +
                   " bytes; no line of an export or of the control file comes near that length, so this is not "
                   "such a file");
  } else {
    // Last line without a line end.
    end = data_ + size_;
    pos_ = size_;
  }
  if (end > start && end[-1] == '\r') --end;
  line = std::string_view(start, static_cast<std::size_t>(end - start));
  line_offset_ = static_cast<std::uint64_t>(start - data_);
  // In a file without any LF, a CR left in its one line can only be a line end.
  if (++line_number_ == 1 && !ended_by_lf) check_line_ends(line);
  if (release_ && pos_ - released_to_ >= text_->release_step()) {
    // The line just returned stays readable.
    released_to_ = static_cast<std::size_t>(line_offset_);
    text_->release_before(released_to_);
  }
  return true;
}

std::string_view LineSource::last_line() const {
  const char* const start = data_ + line_offset_;
  const char* end = data_ + pos_;
  if (end > start && end[-1] == '\n') --end;
  if (end > start && end[-1] == '\r') --end;
  return std::string_view(start, static_cast<std::size_t>(end - start));
}

FreeFormReader::Status FreeFormReader::try_reals(double* out, int n, int* digit_exp) {
  std::string_view line;
  if (n <= 0) return Status::ok;
  if (!src_.next_line(line)) return Status::end_of_file;
  return try_reals_from(line, out, n, digit_exp);
}

[[gnu::always_inline]] inline FreeFormReader::Status FreeFormReader::take_numbers(std::string_view line, const char*& p,
                                                                                  double* out, int n, int& got,
                                                                                  int* digit_exp, bool commas,
                                                                                  int& frac) {
  // The fast path may look past the line, up to the end of the text.
  const char* const readable = src_.text_end();
  const char* const end = line.data() + line.size();
  while (got < n) {
    while (p < end && is_separator(*p)) ++p;
    if (p == end) break;
    const char* const start = p;
    PlainReal parts;
    const char* q = scan_scientific_real(p, end, readable, parts, frac);
    if (q != nullptr && plain_value(parts, out[got])) {
      p = q;
      if (digit_exp != nullptr) digit_exp[got] = parts.e;
    } else {
      bool ok = false;
      p = scan_real(start, end, out[got], ok);
      const std::string_view token(start, static_cast<std::size_t>(p - start));
      if (!ok) {
        bad_token_ = token;
        return Status::bad_value;
      }
      if (digit_exp != nullptr) digit_exp[got] = last_digit_exponent(token);
    }
    // A number that a comma and a digit follow may be one written with a
    // decimal comma.
    if (commas && p < end && *p == ',') {
      if (const char* c = decimal_comma_end(line.data(), start, end)) {
        bad_token_ = std::string_view(start, static_cast<std::size_t>(c - start));
        return Status::decimal_comma;
      }
    }
    ++got;
  }
  return Status::ok;
}

FreeFormReader::Status FreeFormReader::try_reals_from(std::string_view line, double* out, int n, int* digit_exp) {
  int got = 0;
  int frac = frac_;
  for (;;) {
    const char* p = line.data();
    const Status status = take_numbers(line, p, out, n, got, digit_exp, false, frac);
    if (status != Status::ok) {
      frac_ = frac;
      return status;
    }
    if (got >= n) break;
    if (!src_.next_line(line)) {
      frac_ = frac;
      return Status::end_of_file;
    }
  }
  frac_ = frac;
  return Status::ok;
}

[[gnu::always_inline]] inline int FreeFormReader::record_reals(double* out, int n, int* digit_exp, bool fail) {
  std::string_view line;
  int got = 0;
  const char* p = nullptr;
  const char* end = nullptr;
  int frac = frac_;
  do {
    if (!src_.next_line(line)) {
      if (!fail) return kEndOfFile;
      src_.fail_end_of_file();
    }
    p = line.data();
    end = p + line.size();
    const Status status = take_numbers(line, p, out, n, got, digit_exp, true, frac);
    if (status != Status::ok) {
      frac_ = frac;
      if (!fail) return kNoNumber;
      fail_reals(status);
    }
    // A line of separators only holds no record.
  } while (got == 0);
  frac_ = frac;
  if (got < n) return got;
  // Numbers after the n-th, to the first token that is no number.
  int count = got;
  for (;;) {
    while (p < end && is_separator(*p)) ++p;
    if (p == end) return count;
    const char* const start = p;
    double v;
    bool ok = false;
    p = scan_real(start, end, v, ok);
    if (!ok) return count;
    ++count;
  }
}

int FreeFormReader::line_reals(double* out, int n, int* digit_exp) { return record_reals(out, n, digit_exp, true); }

int FreeFormReader::try_line_reals(double* out, int n, int* digit_exp) {
  return record_reals(out, n, digit_exp, false);
}

void FreeFormReader::fail_reals(Status status) const {
  if (status == Status::end_of_file) src_.fail_end_of_file();
  if (status == Status::decimal_comma) src_.fail(decimal_comma_text(bad_token_));
  src_.fail(not_a_real(bad_token_));
}

void FreeFormReader::reals(double* out, int n) {
  std::string_view line;
  int got = 0;
  int frac = frac_;
  while (got < n) {
    if (!src_.next_line(line)) src_.fail_end_of_file();
    const char* p = line.data();
    const Status status = take_numbers(line, p, out, n, got, nullptr, true, frac);
    frac_ = frac;
    if (status != Status::ok) fail_reals(status);
  }
}

void FreeFormReader::ints(std::int32_t* out, int n) {
  int got = 0;
  std::string_view line;
  while (got < n) {
    if (!src_.next_line(line)) src_.fail_end_of_file();
    TokenCursor cur(line);
    std::string_view tok;
    while (got < n && cur.next(tok)) {
      refuse_decimal_comma(src_, line, tok);
      if (!parse_int(tok, out[got])) src_.fail(not_an_integer(tok));
      ++got;
    }
  }
}

std::string_view FreeFormReader::text_line() {
  std::string_view line;
  if (!src_.next_line(line)) src_.fail_end_of_file();
  return line;
}

std::string not_a_real(std::string_view token) {
  if (real_out_of_range(token)) {
    return quote_token(token) +
           " is out of range: a real number is read as a double, 0 or from 4.9e-324 to 1.8e+308 in magnitude";
  }
  return quote_token(token) + " is not a real number";
}

std::string not_an_integer(std::string_view token) {
  if (integer_out_of_range(token)) {
    return quote_token(token) + " is out of range: an integer lies between -2147483648 and 2147483647";
  }
  return quote_token(token) + " is not an integer";
}

std::string decimal_comma_text(std::string_view token) {
  std::string with_point(token);
  with_point[with_point.find(',')] = '.';
  return quote_token(token) +
         " looks like a number written with a decimal comma; the converter reads a decimal point and takes a "
         "comma for a separator between two values: write " +
         quote_token(with_point);
}

void refuse_decimal_comma(const LineSource& src, std::string_view line, std::string_view token) {
  if (const char* c = decimal_comma_end(line.data(), token.data(), line.data() + line.size())) {
    src.fail(decimal_comma_text(std::string_view(token.data(), static_cast<std::size_t>(c - token.data()))));
  }
}

}  // namespace wk
