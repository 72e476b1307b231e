#include "run/run.hpp"

#include "io/out_file.hpp"

namespace wk {

void run_conversion() {
  // The log comes first: created or rewritten before anything else happens,
  // so that every later failure leaves the lines written up to it.
  OutFile log_file(kUnitLog, kLogFile, OutFile::Mode::Rewrite);
  ListWriter log(log_file);
  RunData d;

  read_control_file(d);
  check_control_values(d);
  compute_constants(d, log);
  check_first_line(d, log);

  log_file.commit();
}

}  // namespace wk
