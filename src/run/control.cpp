// Control file, output grid checks, physical constants and the first-line
// check of the E export.
#include <string>

#include "io/error.hpp"
#include "io/line_source.hpp"
#include "io/number_scan.hpp"
#include "run/run.hpp"

namespace wk {

namespace {

// A text line of the control file: its first 200 characters, without
// trailing blanks (tabs count as blanks).
std::string file_name_from(std::string_view line) {
  if (line.size() > 200) line = line.substr(0, 200);
  std::size_t n = line.size();
  while (n > 0 && (line[n - 1] == ' ' || line[n - 1] == '\t' || line[n - 1] == '\r')) --n;
  return std::string(line.substr(0, n));
}

}  // namespace

void read_control_file(RunData& d) {
  LineSource src(kUnitControl, kControlFile, 1 << 16);
  FreeFormReader in(src);
  in.text_line();  // line 1: free text
  in.text_line();  // line 2: free text
  d.Efile = file_name_from(in.text_line());
  d.Hfile = file_name_from(in.text_line());
  std::int32_t keys[3];
  in.ints(keys, 3);
  d.isymX = keys[0];
  d.isymY = keys[1];
  d.isymZ = keys[2];
  in.ints(&d.fnum, 1);
  in.ints(&d.fmt, 1);
  in.ints(keys, 3);
  d.symX = keys[0];
  d.symY = keys[1];
  d.symZ = keys[2];
  in.reals(&d.freq, 1);
  in.reals(&d.elen, 1);
  in.reals(&d.aper, 1);
  in.reals(&d.Fnorm, 1);
  in.reals(&d.scale, 1);
  std::int32_t counts[3];
  in.ints(counts, 3);
  d.Nox = counts[0];
  d.Noy = counts[1];
  d.Noz = counts[2];
}

void check_control_values(const RunData& d) {
  if (d.Noz > kMaxNz || d.Nox > kMaxNxy || d.Noy > kMaxNxy) stop(" Output grid larger than max KAVEN grid ");
  if (d.Nox < 2 || d.Noy < 2 || d.Noz < 2) {
    refuse("output grid of " + std::to_string(d.Nox) + " x " + std::to_string(d.Noy) + " x " +
           std::to_string(d.Noz) + " nodes (control file line 14): every axis needs at least 2 nodes");
  }
  const std::int32_t keys[3] = {d.isymX, d.isymY, d.isymZ};
  const char* axis[3] = {"x", "y", "z"};
  for (int a = 0; a < 3; ++a) {
    if (keys[a] < 0 || keys[a] > 2) {
      refuse(std::string("input symmetry key of the ") + axis[a] + " axis is " + std::to_string(keys[a]) +
             " (control file line 5): a key must be 0, 1 or 2");
    }
  }
}

void compute_constants(RunData& d, ListWriter& log) {
  d.pi = 3.141592653589793;
  d.c = 299792458.0;
  d.mu0 = (d.pi * 4) * 1e-7;
  d.mu1 = d.mu0 * 10000;
  d.eps0 = 1 / ((d.c * d.c) * d.mu0);
  d.omeg = (d.pi * 2) * d.freq;

  log.record(" Constants used ");
  log.record(" pi  = ", d.pi, " rad ");
  log.record(" c   = ", d.c, " m/s ");
  log.record(" mu0 = ", d.mu0, " T*m/A ");
  log.record(" mu1 = ", d.mu1, " Gs*m/A ");
  log.record(" eps0= ", d.eps0, " F/m ");
  log.record(" freq= ", d.freq, " Hz ");
  log.record(" omeg= ", d.omeg, " rad*Hz ");
  log.record(kLogSeparator);
}

void check_first_line(RunData& d, ListWriter& log) {
  LineSource src(kUnitE, d.Efile);
  std::string_view line;
  d.icplx = 0;
  // The whole first line is looked at, however long: a solver writing nine
  // values with many digits must not be taken for a real-only export.
  if (src.next_line(line)) {
    TokenCursor cur(line);
    std::string_view tok;
    double v[9];
    int got = 0;
    while (got < 9 && cur.next(tok)) {
      if (!parse_real(tok, v[got])) src.fail(quote_token(tok) + " is not a real number");
      ++got;
    }
    if (got == 9) {
      log.record(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8]);
      d.icplx = 1;
    }
  }
  log.record(d.icplx == 0 ? " Reading real field components only ..."
                          : " Reading real & imaginary field components ...");
}

}  // namespace wk
