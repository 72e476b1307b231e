// Run control: the whole conversion in the current folder.
#pragma once

#include "io/file_units.hpp"
#include "io/list_writer.hpp"
#include "model/run_data.hpp"

#include <string>
#include <vector>

namespace wk {

// File names of the run, in the working directory.
inline constexpr const char* kLogFile = "wavecalc_to_kaven.log";
inline constexpr const char* kControlFile = "wavecalc_to_kaven.dat";

// Runs the conversion in the current folder, from the control file to the
// field map. Ends normally or throws RunError (a stop or a file error); the
// log keeps every line written before the end in either case. Returns the
// warnings of a run that ended normally, without the program-name prefix.
std::vector<std::string> run_conversion();

// The phases of run control, called by run_conversion in this order.
// Reads the 14 lines of the control file into d.
void read_control_file(RunData& d);
// Stops when the output grid exceeds the KAVEN limits or has fewer than two
// nodes on an axis; refuses symmetry keys outside 0, 1, 2, a file name
// holding a NUL byte, freq, elen or aper not finite or not above 0, and an
// Fnorm not finite or 0. Writes nothing: the log is still empty.
void check_control_values(const RunData& d);
// Computes the physical constants and writes the " Constants used " block.
void compute_constants(RunData& d, ListWriter& log);

}  // namespace wk
