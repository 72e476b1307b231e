#include "output/field_map.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <vector>

#include "io/list_writer.hpp"
#include "io/two_threads.hpp"

namespace wk::output_detail {

namespace {

// Little-endian byte images, built from the values' bits so that the file
// is the same on hosts of either byte order.
void put_le32(char* p, std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  for (int b = 0; b < 4; ++b) p[b] = static_cast<char>((u >> (8 * b)) & 0xffu);
}

void put_le64(char* p, double v) {
  const auto u = std::bit_cast<std::uint64_t>(v);
  for (int b = 0; b < 8; ++b) p[b] = static_cast<char>((u >> (8 * b)) & 0xffu);
}

// The 4-byte length that frames a record on both sides. The largest record,
// 25 x 25 x 8001 doubles, is 40,005,000 bytes: one segment.
void put_length(char* p, std::size_t bytes) {
  assert(bytes <= 0x7fffffffu);
  put_le32(p, static_cast<std::int32_t>(bytes));
}

// One framed record of n doubles. On a little-endian host the values are
// written as they lie in memory, with one write for the whole array.
void write_double_record(OutFile& out, const double* v, std::size_t n) {
  const std::size_t bytes = 8 * n;
  char len[4];
  put_length(len, bytes);
  out.write(len, 4);
  if constexpr (std::endian::native == std::endian::little) {
    out.write(reinterpret_cast<const char*>(v), bytes);
  } else {
    constexpr std::size_t kBlock = 8192;
    for (std::size_t a = 0; a < n; a += kBlock) {
      const std::size_t m = n - a < kBlock ? n - a : kBlock;
      char* p = out.tail(8 * m);
      for (std::size_t t = 0; t < m; ++t) put_le64(p + 8 * t, v[a + t]);
      out.commit_tail(8 * m);
    }
  }
  out.write(len, 4);
}

// Bytes of one component the binary writer takes from its source at a time:
// one write of a few hundred kilobytes is the cheapest way into the page
// cache.
constexpr std::size_t kSlabBytes = std::size_t{1} << 18;

// The six output arrays in the order of their records.
std::array<const FieldArray*, 6> output_arrays(const RunData& d) {
  return {&d.Exo, &d.Eyo, &d.Ezo, &d.Bxo, &d.Byo, &d.Bzo};
}

[[maybe_unused]] bool shape_matches(const RunData& d) {
  if (d.Xo.size() != d.Nox || d.Yo.size() != d.Noy || d.Zo.size() != d.Noz) return false;
  for (const FieldArray* a : output_arrays(d)) {
    if (a->nx() != d.Nox || a->ny() != d.Noy || a->nz() != d.Noz) return false;
  }
  return true;
}

}  // namespace

void write_field_map_to(const RunData& d, OutFile& out) {
  assert(shape_matches(d));
  switch (d.fmt) {
    case 0:
      write_binary_records(d, out);
      break;
    case 1:
      write_text_records(d, out);
      break;
    case 2:
      write_node_table(d, out);
      break;
    default:
      assert(false && "format code checked by write_field_map");
  }
}

void write_binary_records(const RunData& d, OutFile& out) {
  // The output arrays, slice by slice.
  const std::size_t slice = static_cast<std::size_t>(d.Nox) * static_cast<std::size_t>(d.Noy);
  const auto arrays = output_arrays(d);
  write_binary_records(d, out, [&](int k_begin, int k_end, double* const to[6]) {
    for (int c = 0; c < 6; ++c) {
      const double* const from =
          arrays[static_cast<std::size_t>(c)]->data() + static_cast<std::size_t>(k_begin) * slice;
      std::copy(from, from + static_cast<std::size_t>(k_end - k_begin) * slice, to[c]);
    }
  });
}

void write_binary_records(const RunData& d, OutFile& out, const SliceSource& source) {
  // Record 1: elen, aper (cm) and the integer 0; record 2: the output keys.
  char head[28 + 20];
  put_length(head, 20);
  put_le64(head + 4, d.elen);
  put_le64(head + 12, d.aper);
  put_le32(head + 20, 0);
  put_length(head + 24, 20);
  put_length(head + 28, 12);
  put_le32(head + 32, d.symX);
  put_le32(head + 36, d.symY);
  put_le32(head + 40, d.symZ);
  put_length(head + 44, 12);
  out.write(head, sizeof head);

  write_double_record(out, d.Xo.data(), static_cast<std::size_t>(d.Nox));
  write_double_record(out, d.Yo.data(), static_cast<std::size_t>(d.Noy));
  write_double_record(out, d.Zo.data(), static_cast<std::size_t>(d.Noz));
  out.flush();

  // The six field records and the closing one, placed by their offsets: the
  // field comes a few slices at a time, all six components of each, and each
  // record holds one component of every slice (x fastest, then y, then z).
  const std::uint64_t first = sizeof head + 3 * 8 + 8 * (static_cast<std::uint64_t>(d.Nox) + d.Noy + d.Noz);
  const std::size_t slice = static_cast<std::size_t>(d.Nox) * static_cast<std::size_t>(d.Noy);
  const std::size_t nodes = slice * static_cast<std::size_t>(d.Noz);
  const std::uint64_t record = 8 + 8 * static_cast<std::uint64_t>(nodes);  // with its two lengths
  char len[4];
  put_length(len, 8 * nodes);
  for (std::uint64_t c = 0; c < 6; ++c) {
    out.write_at(first + c * record, len, 4);
    out.write_at(first + c * record + record - 4, len, 4);
  }
  char tail[12];
  put_length(tail, 4);
  put_le32(tail + 4, -99);
  put_length(tail + 8, 4);
  out.write_at(first + 6 * record, tail, sizeof tail);

  // Slices of about 256 KB a component, on two threads (halves of the z
  // range), each with its own buffer.
  const int slab =
      static_cast<int>(std::clamp<std::size_t>(kSlabBytes / (8 * slice), 1, static_cast<std::size_t>(d.Noz)));
  const int half = d.Noz / 2;
  on_two_threads(nodes, [&](int part) {
    const int k_first = part == 0 ? 0 : half;
    const int k_last = part == 0 ? half : d.Noz;
    if (k_first == k_last) return;
    const std::size_t values = static_cast<std::size_t>(slab) * slice;
    std::vector<double> buffer(6 * values);
    std::vector<char> bytes;
    if constexpr (std::endian::native != std::endian::little) bytes.resize(8 * values);
    double* const to[6] = {buffer.data(),
                           buffer.data() + values,
                           buffer.data() + 2 * values,
                           buffer.data() + 3 * values,
                           buffer.data() + 4 * values,
                           buffer.data() + 5 * values};
    for (int k = k_first; k < k_last; k += slab) {
      const int k_end = std::min(k + slab, k_last);
      const std::size_t n = static_cast<std::size_t>(k_end - k) * slice;
      source(k, k_end, to);
      for (std::uint64_t c = 0; c < 6; ++c) {
        const std::uint64_t at = first + c * record + 4 + 8 * static_cast<std::uint64_t>(k) * slice;
        if constexpr (std::endian::native == std::endian::little) {
          out.write_at(at, reinterpret_cast<const char*>(to[c]), 8 * n);
        } else {
          for (std::size_t t = 0; t < n; ++t) put_le64(bytes.data() + 8 * t, to[c][t]);
          out.write_at(at, bytes.data(), 8 * n);
        }
      }
    }
  });
}

void write_text_records(const RunData& d, OutFile& out) {
  ListWriter w(out);
  w.record(d.elen, d.aper, std::int32_t{0});
  w.record(d.symX, d.symY, d.symZ);
  write_real_record(out, d.Xo.data(), static_cast<std::size_t>(d.Nox));
  write_real_record(out, d.Yo.data(), static_cast<std::size_t>(d.Noy));
  write_real_record(out, d.Zo.data(), static_cast<std::size_t>(d.Noz));
  for (const FieldArray* a : output_arrays(d)) {
    write_real_record(out, a->data(), a->size());
  }
  w.record(std::int32_t{-99});
}

void write_node_table(const RunData& d, OutFile& out) {
  ListWriter w(out);
  w.record(std::int32_t{2});
  w.record(d.symX, d.symY, d.symZ);
  w.record(d.Xmin, d.Xmax, d.Nox);
  w.record(d.Ymin, d.Ymax, d.Noy);
  w.record(d.Zmin, d.Zmax, d.Noz);
  write_node_lines(d, out);
}

}  // namespace wk::output_detail
