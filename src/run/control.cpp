// Control file, the checks of its values and the physical constants.
#include <cmath>
#include <string>

#include "io/error.hpp"
#include "io/line_source.hpp"
#include "model/symmetry_keys.hpp"
#include "run/run.hpp"

namespace wk {

namespace {

// The characters of a file name line that are read.
constexpr std::size_t kNameField = 200;

// A file name line of the control file: the name without trailing blanks
// (tabs count as blanks). A name that runs past the field's 200 characters
// is refused: cut there, it would name another file.
std::string file_name_from(std::string_view line, const char* what, int line_number) {
  std::size_t n = line.size();
  while (n > 0 && (line[n - 1] == ' ' || line[n - 1] == '\t' || line[n - 1] == '\r')) --n;
  if (n > kNameField) {
    refuse(std::string("the file name of the ") + what + " (control file line " + std::to_string(line_number) +
           ") is " + std::to_string(n) + " characters long; the field holds " + std::to_string(kNameField) +
           ": give the file a shorter name or path");
  }
  return std::string(line.substr(0, n));
}

}  // namespace

void read_control_file(RunData& d) {
  LineSource src(kUnitControl, kControlFile);
  FreeFormReader in(src);
  in.text_line();  // line 1: free text
  in.text_line();  // line 2: free text
  d.Efile = file_name_from(in.text_line(), "E-field export", 3);
  d.Hfile = file_name_from(in.text_line(), "H-field export", 4);
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

namespace {

// A length, a frequency or a factor of the control file that must be a
// finite number above 0.
void check_positive(double v, const char* what, int line, const char* why) {
  if (std::isfinite(v) && v > 0) return;
  refuse(std::string(what) + " " + message_number(v) + " (control file line " + std::to_string(line) +
         ") must be a finite number above 0: " + why);
}

void check_file_name(const std::string& name, const char* what, int line) {
  if (name.find('\0') == std::string::npos) return;
  refuse(std::string("the file name of the ") + what + " (control file line " + std::to_string(line) + ") " +
         shown_name(name) + " holds a NUL byte, which ends a file name: only the part before it would be opened");
}

}  // namespace

void check_control_values(const RunData& d) {
  if (d.Noz > kMaxNz || d.Nox > kMaxNxy || d.Noy > kMaxNxy) stop(" Output grid larger than max KAVEN grid ");
  if (d.Nox < 2 || d.Noy < 2 || d.Noz < 2) {
    refuse("output grid of " + std::to_string(d.Nox) + " x " + std::to_string(d.Noy) + " x " + std::to_string(d.Noz) +
           " nodes (control file line 14): every axis needs at least 2 nodes");
  }
  const std::int32_t keys[3] = {d.isymX, d.isymY, d.isymZ};
  const char* axis[3] = {"x", "y", "z"};
  for (int a = 0; a < 3; ++a) {
    if (keys[a] < 0 || keys[a] > 2) {
      refuse(std::string("input symmetry key of the ") + axis[a] + " axis is " + std::to_string(keys[a]) +
             " (control file line " + std::to_string(kSymmetryKeysLine) + "): a key must be 0, 1 or 2");
    }
  }
  check_file_name(d.Efile, "E-field export", 3);
  check_file_name(d.Hfile, "H-field export", 4);
  check_positive(d.freq, "the RF frequency", 9, "in Hz, it sets the displacement current of the Maxwell check");
  check_positive(d.elen, "the element length L", 10, "the output grid spans z from -L/2 to L/2 cm");
  check_positive(d.aper, "the aperture R", 11, "the output grid spans x and y from -R to R cm");
  if (!std::isfinite(d.Fnorm)) {
    refuse("the field normalisation factor Fnorm " + message_number(d.Fnorm) +
           " (control file line 12) must be a finite number");
  }
  if (d.Fnorm == 0) {
    refuse(
        "the field normalisation factor Fnorm is 0 (control file line 12): every value of the field map would be "
        "0; Fnorm multiplies E and B as read (1 keeps them)");
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

}  // namespace wk
