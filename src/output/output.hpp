// Output: the KAVEN field-map file and the closing summary.
#pragma once

#include <functional>
#include <string>

#include "io/list_writer.hpp"
#include "io/out_file.hpp"
#include "model/run_data.hpp"

namespace wk {

// The field-map file name for an output file number: "eh_VRQ.#" and two
// digits, or two asterisks when the number needs more than two characters.
std::string field_map_name(std::int32_t fnum);

// Logs the file name, stops on a format code other than 0, 1, 2, and opens
// the new field map: a temporary file beside its target, put in place (over
// an earlier map) only by its commit().
OutFile open_field_map(const RunData& d, ListWriter& log);

// Writes the whole field map in its format, from the output arrays, to the
// file open_field_map opened (flushed, not yet in place).
void write_field_map(const RunData& d, OutFile& map);

// The output field of the z slices k_begin .. k_end - 1 (0-based) into
// out[0..5] (Ex, Ey, Ez, Bx, By, Bz), each x fastest, then y, then z from
// k_begin.
using SliceSource = std::function<void(int k_begin, int k_end, double* const out[6])>;

// Format 0 only: the same file as write_field_map, with the field taken
// from `source` a few slices at a time, so that no output arrays are held;
// two threads ask `source` for slices at once.
void write_binary_field_map(const RunData& d, OutFile& map, const SliceSource& source);

// The five summary lines that end the log.
void write_summary(const RunData& d, ListWriter& log);

}  // namespace wk
