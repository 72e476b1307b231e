// Text records of the field maps, formatted in large blocks.
//
// A list write of doubles has a layout fixed in advance (list_writer.hpp),
// so the text of any run of lines or nodes has a known length and offset. A long record is cut into blocks; the
// pieces of a block are formatted by two threads in whatever order they
// take them, each piece at its own offset, while the previous block is being
// written, and the blocks are written in order. The bytes are those of
// ListWriter, item by item.
#include <algorithm>
#include <atomic>
#include <cassert>
#include <vector>

#include "io/list_writer.hpp"
#include "io/two_threads.hpp"
#include "output/field_map.hpp"

namespace wk::output_detail {

namespace {

constexpr std::size_t kField = kRealWidth;
constexpr std::size_t kPerLine = kRealsPerLine;
constexpr std::size_t kLineBytes = kRealLineBytes;
static_assert(kPerLine == 3, "a node's three E or three B values make one line");

// A record of more than one block is formatted on two threads, so a block
// must be worth a second thread.
static_assert(kPerLine * kLineBlocking.block >= kTwoThreadsMinWork && 6 * kNodeBlocking.block >= kTwoThreadsMinWork);

// Writes items [0, count) of a record: bytes(first, last) is the exact text
// length of items [first, last), fill(first, last, dst) writes that text.
template <class Bytes, class Fill>
void write_in_blocks(OutFile& out, std::size_t count, TextBlocking blocking, const Bytes& bytes, const Fill& fill) {
  assert(blocking.block > 0 && blocking.piece > 0);
  if (count <= blocking.block) {
    const std::size_t n = bytes(0, count);
    char* p = out.tail(n);
    fill(0, count, p);
    out.commit_tail(n);
    return;
  }
  // Two buffers: one is written while the other is filled. The first block
  // is the longest one (only a record's last line can be short).
  const std::size_t block_bytes = bytes(0, blocking.block);
  std::vector<char> buf[2] = {std::vector<char>(block_bytes), std::vector<char>(block_bytes)};
  const char* ready = nullptr;
  std::size_t ready_bytes = 0;
  for (std::size_t a = 0, m = 0; a < count; a += blocking.block, ++m) {
    const std::size_t b = std::min(count, a + blocking.block);
    char* dst = buf[m % 2].data();
    std::atomic<std::size_t> next{a};
    const auto take_pieces = [&] {
      for (;;) {
        const std::size_t first = next.fetch_add(blocking.piece);
        if (first >= b) return;
        fill(first, std::min(b, first + blocking.piece), dst + bytes(a, first));
      }
    };
    // The previous block is written while both threads format this one.
    on_two_threads([&](int part) {
      if (part == 0 && ready_bytes > 0) out.write(ready, ready_bytes);
      take_pieces();
    });
    ready = dst;
    ready_bytes = bytes(a, b);
  }
  out.write(ready, ready_bytes);
}

}  // namespace

void write_real_record(OutFile& out, const double* v, std::size_t n, TextBlocking blocking) {
  if (n == 0) {
    // A list write without items is a line holding one blank.
    ListWriter(out).end();
    return;
  }
  const std::size_t lines = (n + kPerLine - 1) / kPerLine;
  const std::size_t last_line_short_by = (kPerLine - n % kPerLine) % kPerLine;  // fields missing on the last line
  const auto bytes = [&](std::size_t first, std::size_t last) {
    return (last - first) * kLineBytes - (last == lines ? last_line_short_by * kField : 0);
  };
  const auto fill = [&](std::size_t first, std::size_t last, char* p) {
    for (std::size_t l = first; l < last; ++l) {
      const std::size_t at = kPerLine * l;
      p = format_real_line(v + at, std::min(kPerLine, n - at), p);
    }
  };
  write_in_blocks(out, lines, blocking, bytes, fill);
}

void write_node_lines(const RunData& d, OutFile& out, TextBlocking blocking) {
  const auto nx = static_cast<std::size_t>(d.Nox);
  const auto ny = static_cast<std::size_t>(d.Noy);
  const auto nz = static_cast<std::size_t>(d.Noz);
  const double* const e[3] = {d.Exo.data(), d.Eyo.data(), d.Ezo.data()};
  const double* const b[3] = {d.Bxo.data(), d.Byo.data(), d.Bzo.data()};
  const auto bytes = [](std::size_t first, std::size_t last) { return (last - first) * 2 * kLineBytes; };
  // Node number n counts the nodes with z fastest and x slowest, while the
  // arrays hold x fastest: n = ((i-1)*Noy + (j-1))*Noz + (k-1).
  const auto fill = [&](std::size_t first, std::size_t last, char* p) {
    std::size_t k = first % nz;
    std::size_t j = first / nz % ny;
    std::size_t i = first / nz / ny;
    double six[6];
    // Successive nodes lie a whole z slice apart in the arrays (5000 bytes
    // on the largest grid): every value is a cache miss that no hardware
    // prefetcher foresees, so the values of a node a few ahead are asked for
    // while this one is formatted.
    constexpr std::size_t kAhead = 4;
    const std::size_t slice = nx * ny;
    for (std::size_t n = first; n < last; ++n) {
      const std::size_t at = (k * ny + j) * nx + i;
      if (k + kAhead < nz) {
        for (int c = 0; c < 3; ++c) {
          __builtin_prefetch(e[c] + at + kAhead * slice);
          __builtin_prefetch(b[c] + at + kAhead * slice);
        }
      }
      for (int c = 0; c < 3; ++c) {
        six[c] = e[c][at];
        six[3 + c] = b[c][at];
      }
      p = format_real_line(six, 3, p);
      p = format_real_line(six + 3, 3, p);
      if (++k == nz) {
        k = 0;
        if (++j == ny) {
          j = 0;
          ++i;
        }
      }
    }
  };
  write_in_blocks(out, nx * ny * nz, blocking, bytes, fill);
}

}  // namespace wk::output_detail
