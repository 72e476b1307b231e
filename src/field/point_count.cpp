// Scan 3 of the grid scan: the points of the E export counted to the end of
// the file, or to the first line that is not three numbers, and the last of
// them. Only the last point's numbers are needed, so most lines are only
// checked; a long file is counted from its middle on a second thread.
#include <cassert>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "field/export_grid.hpp"
#include "field/grid_scan.hpp"
#include "io/number_scan.hpp"
#include "io/two_threads.hpp"

namespace wk::field_detail {

namespace {

// The length of the line up to the end of its third number when the line
// starts with three plain reals, which a read of three numbers takes whole
// from this line; 0 otherwise. `frac` as for scan_scientific_real.
std::size_t three_plain_reals(std::string_view line, int& frac) {
  const char* p = line.data();
  const char* const end = p + line.size();
  PlainReal parts;
  for (int got = 0; got < 3; ++got) {
    while (p < end && is_separator(*p)) ++p;
    if (p == end) return 0;
    const char* const q = scan_scientific_real(p, end, end, parts, frac);
    p = q != nullptr ? q : scan_plain_real(p, end, parts);
    if (p == nullptr) return 0;
  }
  return static_cast<std::size_t>(p - line.data());
}

// The points of scan 3: how many were read, and the last one. Only the
// last point's numbers are needed, so a line that starts with three plain
// reals (one whole read) is only checked and its text kept in case it is
// the last; any other line is read in full.
class PointCount {
 public:
  long n = 0;  // points read

  // The read that starts with `line`, just taken from in's source: false
  // when it does not succeed (the end of the file, or a line that is not
  // three numbers), which ends scan 3.
  bool take(FreeFormReader& in, std::string_view line) {
    if (take_plain(line)) return true;
    double v[3];
    int digit[3];
    if (in.try_reals_from(line, v, 3, digit) != FreeFormReader::Status::ok) return false;
    for (int a = 0; a < 3; ++a) {
      last_[a] = v[a];
      last_digit_[a] = digit[a];
    }
    kept_length_ = 0;
    has_last_ = true;
    ++n;
    return true;
  }

  // Counts `line` when it starts with three plain reals; false otherwise.
  bool take_plain(std::string_view line) {
    const std::size_t span = three_plain_reals(line, frac_);
    if (span == 0 || span > sizeof kept_) return false;
    std::memcpy(kept_, line.data(), span);
    kept_length_ = span;
    has_last_ = true;
    ++n;
    return true;
  }

  // The points of `later`, counted from where this count ends.
  void append(const PointCount& later) {
    n += later.n;
    if (!later.has_last_) return;
    std::memcpy(kept_, later.kept_, later.kept_length_);
    kept_length_ = later.kept_length_;
    for (int a = 0; a < 3; ++a) {
      last_[a] = later.last_[a];
      last_digit_[a] = later.last_digit_[a];
    }
    has_last_ = true;
  }

  // The coordinates of the last point into p and the exponents of their
  // last printed digits into digit, if any point was read.
  void last_point(double* p, int* digit) const {
    if (!has_last_) return;
    if (kept_length_ == 0) {
      for (int a = 0; a < 3; ++a) {
        p[a] = last_[a];
        digit[a] = last_digit_[a];
      }
      return;
    }
    TokenCursor tokens(std::string_view(kept_, kept_length_));
    std::string_view token;
    for (int a = 0; a < 3; ++a) {
      const bool read = tokens.next(token) && parse_real(token, p[a]);
      assert(read && "a plain real is a real");
      (void)read;
      digit[a] = last_digit_exponent(token);
    }
  }

 private:
  int frac_ = 10;                // fraction digits of the last number in the solvers' layout
  char kept_[256];               // the three numbers of the last line checked only
  std::size_t kept_length_ = 0;  // 0 when the last point was read in full
  double last_[3] = {0, 0, 0};   // the last point read in full
  int last_digit_[3] = {0, 0, 0};
  bool has_last_ = false;
};

// Scan 3 on one thread, from the current position of in's source to the
// end; true when a line that is not a point ended it before the end of the
// file.
bool count_sequentially(FreeFormReader& in, PointCount& count) {
  std::string_view line;
  while (in.source().next_line(line)) {
    if (!count.take(in, line)) return true;
  }
  return false;
}

// The end of a scan that `src` ended at its current line, whose number
// within the file is `line_base` more than src counts.
ScanEnd ended_at_line(long n, LineSource& src, long line_base) {
  ScanEnd end;
  end.n = n;
  end.end_line = line_base + src.line_number();
  std::string_view line;
  while (src.next_line(line)) {
    if (starts_with_point(line)) {
      end.point_after = line_base + src.line_number();
      break;
    }
  }
  return end;
}

// The second half of the file for scan 3, counted on a thread of its own:
// from the line at `start` on, the lines that start with three plain reals,
// up to the end of the file or to the first other line.
struct SecondHalf {
  PointCount count;
  bool stopped = false;    // ended at a line that needs a full read
  std::uint64_t stop = 0;  // offset of that line
  bool failed = false;     // the file could not be read: the first half goes on alone
};

void count_second_half(InputText& text, std::uint64_t start, SecondHalf& h) {
  try {
    LineSource src(text);
    src.start_at(start);
    std::string_view line;
    while (src.next_line(line)) {
      if (!h.count.take_plain(line)) {
        h.stopped = true;
        h.stop = src.line_offset();
        return;
      }
    }
  } catch (...) {
    h.failed = true;
  }
}

// The offset of the first line that starts after byte `middle`, or the end
// of the text.
std::uint64_t line_start_after(std::string_view text, std::uint64_t middle) {
  const std::size_t nl = text.find('\n', static_cast<std::size_t>(middle));
  return nl == std::string_view::npos ? text.size() : nl + 1;
}

}  // namespace

// A long file is counted from its middle on a second thread meanwhile: a
// plain line is one read, so the count of the plain lines from the first
// line past the middle adds to the count up to it, as long as the reads of
// the first half end exactly there.
ScanEnd count_to_end(InputText& text, FreeFormReader& in, long n, double* cur, int* cur_digit) {
  LineSource& src = in.source();
  PointCount count;
  count.n = n;
  const std::uint64_t size = text.text().size();
  const std::uint64_t here = src.next_offset();
  // The lines left, as many as the n lines read so far make of the bytes
  // left: a second thread only for enough of them (see kTwoThreadsMinWork),
  // and only in a text that is all there (a streamed one is counted as it
  // is inflated).
  const std::uint64_t lines_left =
      text.complete() && size > here && here > 0 ? (size - here) / (here / n + 1) : 0;
  if (lines_left >= kTwoThreadsMinWork) {
    const std::uint64_t boundary = line_start_after(text.text(), here + (size - here) / 2);
    SecondHalf half;
    bool at_end = false;
    bool at_line = false;
    on_two_threads([&](int part) {
      if (part == 1) {
        count_second_half(text, boundary, half);
        return;
      }
      std::string_view line;
      while (!at_end && !at_line && src.next_offset() < boundary) {
        at_end = !src.next_line(line);
        at_line = !at_end && !count.take(in, line);
      }
    });
    count.last_point(cur, cur_digit);
    if (at_line) return ended_at_line(count.n, src, 0);
    if (at_end) return {count.n, 0, 0};
    if (src.next_offset() == boundary && !half.failed) {
      // Every line of the second half up to where it stopped is one point.
      const long lines_before_rest = src.line_number() + half.count.n;
      count.append(half.count);
      count.last_point(cur, cur_digit);
      if (!half.stopped) return {count.n, 0, 0};
      // The line that ended the second half's count, and all after it, are
      // read in full here.
      LineSource rest(text);
      rest.start_at(half.stop);
      FreeFormReader rest_in(rest);
      const bool rest_at_line = count_sequentially(rest_in, count);
      count.last_point(cur, cur_digit);
      if (rest_at_line) return ended_at_line(count.n, rest, lines_before_rest);
      return {count.n, 0, 0};
    }
    // A read of the first half went on past the middle, or the second half
    // could not be read: the rest is counted here.
  }
  const bool at_line = count_sequentially(in, count);
  count.last_point(cur, cur_digit);
  if (at_line) return ended_at_line(count.n, src, 0);
  return {count.n, 0, 0};
}

}  // namespace wk::field_detail
