#include "run/run.hpp"

#include "conditioning/conditioning.hpp"
#include "field/field.hpp"
#include "io/error.hpp"
#include "io/out_file.hpp"
#include "output/output.hpp"
#include "regrid/regrid.hpp"
#include "symmetry/symmetry.hpp"

#include <utility>

namespace wk {

namespace {

// Refuses a run that would destroy one of its inputs: an export (or the
// control file) that is the log or the field map, both of which the run
// replaces. Files are compared, not names, so that links and a second name
// of one file count as well (a link at the log's name would in fact keep the
// file it leads to, but is no less a mistake).
void refuse_inputs_that_are_outputs(const RunData& d, const OutFile& log_file) {
  const std::string map = field_map_name(d.fnum);
  if (log_file.is_file(kControlFile)) {
    refuse(std::string("the control file ") + kControlFile + " is the same file as the log " + kLogFile +
           ", which the run replaces: make the log a file of its own");
  }
  const struct {
    const char* what;
    const std::string& name;
    int line;
  } exports[] = {{"E export ", d.Efile, 3}, {"H export ", d.Hfile, 4}};
  for (const auto& e : exports) {
    const std::string named = e.what + e.name + " (control file line " + std::to_string(e.line) + ")";
    if (log_file.is_file(e.name)) {
      refuse(named + " is the same file as the log " + kLogFile +
             ", which the run replaces: give the export a name of its own");
    }
    if (same_file(e.name, map)) {
      refuse(named + " is the same file as the field map " + map +
             " (control file line 6), which the run replaces: give the export a name of its own or choose another "
             "file number");
    }
  }
}

// Refuses E and H exports that are one file (one name, a link, or another
// spelling of its path): H would be read from the E export's columns.
void refuse_one_file_for_both_fields(const RunData& d) {
  if (!same_file(d.Efile, d.Hfile)) return;
  refuse("E export " + shown_name(d.Efile) + " (control file line 3) and H export " + shown_name(d.Hfile) +
         " (control file line 4) are the same file: the magnetic field would be read from the electric field's "
         "export; name the H-field export on line 4");
}

[[noreturn]] void refuse_second_run() {
  file_error(kUnitLog, kLogFile, 0,
             "a conversion is already running in this folder (it holds the log); wait until it has ended");
}

}  // namespace

std::vector<std::string> run_conversion() {
  // The log is opened without losing what it holds and locked for the whole
  // run: a second run in the same folder ends here and touches nothing.
  OutFile log_file(kUnitLog, kLogFile, OutFile::Mode::Keep);
  if (!log_file.try_lock()) refuse_second_run();
  ListWriter log(log_file);
  RunData d;

  // The old log is replaced by a new one (never written through: a link at
  // its name keeps the file it leads to) once the control file is read and
  // no input is one of the run's outputs; a control file that cannot be
  // read leaves an empty log.
  try {
    read_control_file(d);
  } catch (...) {
    log_file.start_afresh();
    throw;
  }
  refuse_inputs_that_are_outputs(d, log_file);
  if (!log_file.start_afresh()) refuse_second_run();

  check_control_values(d);
  refuse_one_file_for_both_fields(d);
  compute_constants(d, log);
  {
    // Each export is read from its file once, and let go once read.
    Exports exports(d.Efile, d.Hfile);
    try {
      choose_line_layout(d, log, exports);
      scan_input_grid(d, log, exports);
      read_exports(d, exports);
    } catch (...) {
      exports.refuse_damaged();
      throw;
    }
  }
  complete_symmetry(d, log);

  normalise_fields(d, log);
  check_maxwell(d, log);
  correct_signs(d, log);

  build_output_grid(d, log);
  OutFile map = open_field_map(d, log);
  if (d.fmt == 0) {
    // The binary map takes the field a few slices at a time as they are
    // sampled: no output arrays (240 MB on the largest grid) are held.
    const OutputSampler sampler(d);
    write_binary_field_map(d, map,
                           [&](int k_begin, int k_end, double* const out[6]) { sampler.sample(k_begin, k_end, out); });
  } else {
    fill_output_arrays(d);
    // Nothing reads the full-grid field any more: its memory goes back
    // before the text of the field map is written.
    for (FieldArray* f : {&d.Ex, &d.Ey, &d.Ez, &d.Bx, &d.By, &d.Bz}) f->release();
    write_field_map(d, map);
  }
  write_summary(d, log);

  // The whole log is on disk before the map takes its place, and putting the
  // map in place is the run's last act: a log that cannot be written ends
  // the run with an earlier map as it was.
  log_file.commit();
  map.commit();
  return std::move(d.warnings);
}

}  // namespace wk
