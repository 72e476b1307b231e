#include "run/run.hpp"

#include "conditioning/conditioning.hpp"
#include "field/field.hpp"
#include "io/out_file.hpp"
#include "output/output.hpp"
#include "regrid/regrid.hpp"
#include "symmetry/symmetry.hpp"

#include <utility>

namespace wk {

std::vector<std::string> run_conversion() {
  // The log comes first: created or rewritten before anything else happens,
  // so that every later failure leaves the lines written up to it.
  OutFile log_file(kUnitLog, kLogFile, OutFile::Mode::Rewrite);
  ListWriter log(log_file);
  RunData d;

  read_control_file(d);
  check_control_values(d);
  compute_constants(d, log);
  choose_line_layout(d, log);

  scan_input_grid(d, log);
  read_exports(d);
  complete_symmetry(d, log);

  normalise_fields(d, log);
  const bool signs_incompatible = check_maxwell(d, log);
  correct_signs(d, log, signs_incompatible);

  build_output_grid(d, log);
  // Nothing reads the full-grid field after regridding: its memory (240 MB on
  // the largest grid) goes back before the field map is written.
  for (FieldArray* f : {&d.Ex, &d.Ey, &d.Ez, &d.Bx, &d.By, &d.Bz}) f->release();
  write_field_map(d, log);
  write_summary(d, log);

  log_file.commit();
  return std::move(d.warnings);
}

}  // namespace wk
