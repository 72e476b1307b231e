// Writers of the three KAVEN 3D field-map layouts, on an output file the
// caller owns (the face header's write_field_map opens and commits it).
#pragma once

#include <cstddef>

#include "io/out_file.hpp"
#include "model/run_data.hpp"
#include "output/output.hpp"

namespace wk::output_detail {

// Writes the output grid and the output arrays of d in layout d.fmt, which
// must be 0, 1 or 2. The arrays Exo ... Bzo hold Nox x Noy x Noz nodes.
void write_field_map_to(const RunData& d, OutFile& out);

// Format 0: twelve binary records, each framed by its little-endian 32-bit
// byte count before and after; doubles and integers little-endian.
void write_binary_records(const RunData& d, OutFile& out);
// The same bytes with the field taken from `source` instead of the output
// arrays; two threads ask it for slices at once.
void write_binary_records(const RunData& d, OutFile& out, const SliceSource& source);
// Format 1: the same twelve records as list writes.
void write_text_records(const RunData& d, OutFile& out);
// Format 2: header lines, then one list write of six values per node.
void write_node_table(const RunData& d, OutFile& out);

// How the long text records are cut: a block of items is formatted into a
// buffer by two threads taking pieces of it in turn, while the block before
// it is written; a record of at most one block is formatted on the calling
// thread alone, straight into the file's buffer.
struct TextBlocking {
  std::size_t block;  // items per block
  std::size_t piece;  // items a thread takes at a time
};
// About 2.4 MB of text per block for both kinds of record.
inline constexpr TextBlocking kLineBlocking{32768, 1024};  // lines of three doubles
inline constexpr TextBlocking kNodeBlocking{16384, 512};   // nodes of two lines

// One list write of the n doubles v[0 .. n-1]: lines of three 24-column
// fields, the last line holding the one or two values left over; byte for
// byte what ListWriter writes for the same record.
void write_real_record(OutFile& out, const double* v, std::size_t n, TextBlocking blocking = kLineBlocking);

// The node lines of format 2: for i = 1 .. Nox, j = 1 .. Noy, k = 1 .. Noz
// (k fastest), the list write Exo, Eyo, Ezo, Bxo, Byo, Bzo at (i, j, k),
// which takes two lines (E, then B).
void write_node_lines(const RunData& d, OutFile& out, TextBlocking blocking = kNodeBlocking);

}  // namespace wk::output_detail
