// Output: the KAVEN field-map file and the closing summary.
#pragma once

#include <string>

#include "io/list_writer.hpp"
#include "model/run_data.hpp"

namespace wk {

// The field-map file name for an output file number: "eh_VRQ.#" and two
// digits, or two asterisks when the number needs more than two characters.
std::string field_map_name(std::int32_t fnum);

// Logs the file name, stops on a format code other than 0, 1, 2, and writes
// the field map in that format (replacing an earlier file only on success).
void write_field_map(RunData& d, ListWriter& log);

// The five summary lines that end the log.
void write_summary(const RunData& d, ListWriter& log);

}  // namespace wk
