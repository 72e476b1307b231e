// Pillbox cavity cases for the physics tests: the generator's options, a run
// of generator and converter in a temporary folder, the pieces of the log the
// tests look at, and the analytic field in the converter's units.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "pillbox/pillbox_mode.hpp"
#include "support/format0_reader.hpp"
#include "support/test_support.hpp"

namespace wk::test {

// One generated case: the mode, the export grid and the control-file values.
// Lengths of the cavity and the export in mm, of the control file in cm.
struct PillboxCase {
  double Rc = 50, Lc = 50;  // mm
  pillbox::Family family = pillbox::Family::TM01;
  pillbox::Turn turn = pillbox::Turn::X;
  int p = 0;
  double E0 = 1e6;   // V/m
  double noise = 0;  // the generator's --noise
  bool full = false;
  double xmax = 25;                         // mm
  double zmin = 0, zmax = 50, zorigin = 0;  // mm
  int zkey = 0;
  int nx = 7, ny = 7, nz = 21;
  int order = 321;
  int columns = 9;
  bool gzip = false;  // exports written gzip-compressed, named *.txt.gz
  int fnum = 1, fmt = 0;
  std::string out_keys = "0,0,0";
  std::string out_counts = "11,11,21";
  std::string fnorm = "1";
  std::string aper = "1";  // cm
  std::string elen = "5";  // cm

  pillbox::Mode mode() const { return pillbox::Mode(family, turn, Rc * 1e-3, Lc * 1e-3, p, E0); }
  double aper_cm() const { return std::stod(aper); }
  double fnorm_value() const { return std::stod(fnorm); }
  // Physical z in mm of a z coordinate of the converter's full grid (cm): the
  // converter centres an unmirrored z range on 0, and a mirrored one lies as
  // written, zorigin on the plane.
  double z_mm(double zc) const { return (zkey != 0 ? zorigin : (zmin + zmax) / 2) + zc * 10; }
};

// Runs the generator for c into dir (exports and control file).
void generate(const PillboxCase& c, const std::filesystem::path& dir);

struct Converted {
  RunResult run;
  std::string log;
  Format0Map map;  // empty unless a format-0 map was written
};
// Generates c into dir and converts it there.
Converted convert(const PillboxCase& c, const std::filesystem::path& dir);

// The name of the field map of file number fnum: eh_VRQ.# and two digits.
std::string map_name(int fnum);

// The shortest text that reads back as the same double.
std::string exact(double v);

// --- The log -----------------------------------------------------------------

// One line of the Maxwell check: "  iz, zz, I_H, I_E, ratio= " followed by
// iz (I5), 2X, zz (F14.6), 2X, I_H (E14.6), 2X, I_E (E14.6), ratio (F14.6).
struct SliceLine {
  int iz = 0;
  double zz = 0, I_H = 0, I_E = 0, ratio = 0;
};
std::vector<SliceLine> slice_lines(const std::string& log);

// The numbers of the log line that starts with a blank and then `text`, read
// from its 24-column (double) and 12-column (integer) fields. Fails the test
// when there is no such line.
std::vector<double> log_values(const std::string& log, std::string_view text);
bool log_has_line(const std::string& log, std::string_view text);

// --- The analytic field in the converter's units -----------------------------

// Largest deviation of a converted map from the analytic mode, relative to
// the largest analytic value of each field on the output grid. The map holds
// E in V/cm and B in gauss, both times Fnorm; sign_E and sign_B are the signs
// the converter gave the real part of E and the imaginary part of H.
struct MapError {
  double E = 0, B = 0;
};
MapError map_error(const Format0Map& m, const PillboxCase& c, double sign_E, double sign_B);

// Largest difference between two maps of the same grid, per field, relative
// to the largest value of that field in `ref`; infinite when the grids
// differ in size, NaN when a value is not a number.
double max_relative_difference(const Format0Map& a, const Format0Map& ref);

}  // namespace wk::test
