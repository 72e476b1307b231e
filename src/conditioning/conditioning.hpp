// Field conditioning: maxima and normalisation, the Maxwell consistency
// check and the sign correction.
#pragma once

#include "io/list_writer.hpp"
#include "model/run_data.hpp"

namespace wk {

// Logs the full grid and the two Ez maxima, then scales E to V/cm and H to
// B in gauss, both times Fnorm.
void normalise_fields(RunData& d, ListWriter& log);

// Checks the Ampere-Maxwell law slice by slice and Faraday's law over the
// whole full grid; stops the run when the mean ratio of slices that carry a
// real field exceeds 2 in magnitude. Leaves in d what the sign correction is
// to do.
void check_maxwell(RunData& d, ListWriter& log);

// Reverses E or B as the Maxwell check decided; always ends the block with
// the separator line.
void correct_signs(RunData& d, ListWriter& log);

}  // namespace wk
