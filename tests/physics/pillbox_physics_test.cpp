// Physics checks of whole conversions on analytic pillbox cavity modes.
//
// What the converter's output means: the export carries the real part of E
// and the imaginary part of H in the exp(j w t) convention, so E(t) = E cos wt
// and H(t) = -Im(H) sin wt. The Ampere-Maxwell check then sees a negative
// ratio of displacement current to circulation and the sign correction
// reverses one field; the map holds E at its peak (V/cm) and, with the sign
// of B reversed, the flux density a quarter period later (gauss), both times
// Fnorm, and the first axial peak of Ez is positive.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "physics/pillbox_case.hpp"

namespace wk::test {
namespace {

namespace fs = std::filesystem;

constexpr double kMu1 = pillbox::kMu0 * 10000;  // Gs*m/A

// Input grid steps of a case, m.
double step_x(const PillboxCase& c) { return (c.full ? 2 * c.xmax : c.xmax) * 1e-3 / (c.nx - 1); }
double step_z(const PillboxCase& c) { return (c.zmax - c.zmin) * 1e-3 / (c.nz - 1); }

// Bound on the interpolation error, relative to the field's peak. The
// second-order stencil leaves the third-order Taylor term: in 1D
// f''' h^3 p (1 - p^2)/6 at an offset of p steps from the centre node, at
// most 0.0625 f''' h^3 for |p| <= 1/2. Along x and y a TM01p field varies as
// Bessel functions of kc r, along z as cos and sin of kz z, so
// |d^3 f| <= k^3 max|f| on each axis; the mixed third derivatives that the
// 19-node stencil also drops double the transverse part. Hence
// 0.125 (2 (kc hx)^3 + (kz hz)^3).
double third_order_tol(const PillboxCase& c) {
  const pillbox::Mode m = c.mode();
  return 0.125 * (2 * std::pow(m.kc() * step_x(c), 3) + std::pow(m.kz() * step_z(c), 3));
}

Converted convert_ok(const PillboxCase& c, const fs::path& dir) {
  Converted r = convert(c, dir);
  EXPECT_EQ(r.run.status, 0) << r.run.err;
  EXPECT_EQ(r.run.err, "");
  return r;
}

// Writes a map with E (V/cm) and B (gauss) back as a real-valued export in
// V/m and A/m, coordinates in cm, x fastest: the converter can then check its
// own result.
void write_reexport(const Format0Map& m, const fs::path& dir) {
  std::string e, h;
  const std::size_t nx = m.Xo.size(), ny = m.Yo.size(), nz = m.Zo.size();
  std::size_t n = 0;
  for (std::size_t k = 0; k < nz; ++k) {
    for (std::size_t j = 0; j < ny; ++j) {
      for (std::size_t i = 0; i < nx; ++i, ++n) {
        const std::string xyz = exact(m.Xo[i]) + " " + exact(m.Yo[j]) + " " + exact(m.Zo[k]);
        e += xyz;
        h += xyz;
        for (std::size_t a = 0; a < 3; ++a) {
          e += ' ';
          e += exact(m.fields[a][n] * 100);
          h += ' ';
          h += exact(m.fields[a + 3][n] / kMu1);
        }
        e += "\n";
        h += "\n";
      }
    }
  }
  write_file(dir / "efield.txt", e);
  write_file(dir / "hfield.txt", h);
}

// Ez along the axis of a map whose first x and y nodes lie on the axis
// (output keys 1 1 0).
std::vector<double> axis_Ez(const Format0Map& m) {
  std::vector<double> ez;
  const std::size_t plane = m.Xo.size() * m.Yo.size();
  for (std::size_t k = 0; k < m.Zo.size(); ++k) ez.push_back(m.fields[2][k * plane]);
  return ez;
}

// Ez at the first axial maximum of |Ez|: walk from the first node while |Ez|
// strictly increases.
double first_peak(const std::vector<double>& ez) {
  std::size_t k = 0;
  while (k + 1 < ez.size() && std::fabs(ez[k + 1]) > std::fabs(ez[k])) ++k;
  return ez[k];
}

// A quarter-structure TM011 export (x, y >= 0, keys 1 1 0) of a cavity of
// radius and length 50 mm on a 7 x 7 x 21 grid.
PillboxCase tm011_quarter() {
  PillboxCase c;
  c.p = 1;
  c.out_keys = "0,0,0";
  c.out_counts = "9,9,17";
  c.aper = "1.5";
  c.elen = "4.4";
  return c;
}

// --- Maxwell check -------------------------------------------------------------

TEST(PillboxPhysics, MaxwellCheckFindsTheAnalyticSliceRatio) {
  struct Row {
    int p;
    const char* aper;  // cm; the circle has radius aper/2
  };
  for (const Row row : {Row{0, "1"}, Row{0, "2"}, Row{1, "1"}}) {
    SCOPED_TRACE("TM01" + std::to_string(row.p) + ", aper " + row.aper);
    PillboxCase c;
    c.p = row.p;
    c.nx = c.ny = 13;
    c.aper = row.aper;
    c.out_counts = "11,11,21";  // z nodes of the map on the input z nodes
    TempDir dir;
    const Converted r = convert_ok(c, dir.path());

    // Each slice sits on an input z node, so only the transverse
    // interpolation of B on the circle errs; its third-order term is below
    // (kc h)^3 of the value (see third_order_tol, with a margin of 10).
    const pillbox::Mode mode = c.mode();
    const double expected = mode.slice_ratio(c.aper_cm() / 200);
    const double tol = std::pow(mode.kc() * step_x(c), 3) * std::fabs(expected);
    const std::vector<SliceLine> slices = slice_lines(r.log);
    ASSERT_EQ(slices.size(), static_cast<std::size_t>(c.nz - 2));
    for (std::size_t n = 0; n < slices.size(); ++n) {
      const SliceLine& s = slices[n];
      EXPECT_EQ(s.iz, static_cast<int>(n) + 2);
      EXPECT_NEAR(s.zz, -2.5 + (s.iz - 1) * 0.25, 1e-6);  // centred z, cm
      EXPECT_NEAR(s.ratio, expected, tol) << "slice " << s.iz;
    }
    // The averages divide by all Niz nodes while Niz - 2 slices are summed.
    const double frac = static_cast<double>(c.nz - 2) / c.nz;
    EXPECT_NEAR(log_values(r.log, " avg_sRL1= ").at(0), -frac, 1e-14);
    EXPECT_NEAR(log_values(r.log, " avg_rRL1= ").at(0), expected * frac, tol);
    EXPECT_TRUE(log_has_line(r.log, " Maxwell Equations: E and B Signs Not Compatible"));
    EXPECT_TRUE(log_has_line(r.log, " Maxwell Equations: -> Switching B-field sign"));
    if (row.p != 0) continue;

    // Re-check on the converted map: fed back to the converter as a full
    // real-valued export, it passes the check with positive ratios and
    // needs no correction. (Not for TM011: its middle slice, where
    // cos(kz z) = 0, holds only the map's rounding.)
    TempDir again;
    write_reexport(r.map, again.path());
    Control ctl;
    ctl.keys = "0 0 0";
    ctl.out_keys = "0 0 0";
    ctl.freq = exact(mode.frequency());
    ctl.elen = c.elen;
    ctl.aper = c.aper;
    ctl.scale = "1";
    ctl.counts = "11 11 21";
    write_file(again / "wavecalc_to_kaven.dat", ctl.text());
    const RunResult rr = run_converter(again.path());
    ASSERT_EQ(rr.status, 0) << rr.err;
    const std::string log2 = read_file(again / "wavecalc_to_kaven.log");
    // Two interpolations now: onto the map (input step) and from it (the
    // map's step, 2 aper/10).
    const double tol2 = tol + std::pow(mode.kc() * (2 * c.aper_cm() / 100 / 10), 3) * std::fabs(expected);
    const std::vector<SliceLine> again_slices = slice_lines(log2);
    ASSERT_EQ(again_slices.size(), static_cast<std::size_t>(c.nz - 2));
    for (const SliceLine& s : again_slices) EXPECT_NEAR(s.ratio, -expected, tol2) << "slice " << s.iz;
    EXPECT_NEAR(log_values(log2, " avg_sRL1= ").at(0), frac, 1e-14);
    EXPECT_FALSE(log_has_line(log2, " Maxwell Equations: E and B Signs Not Compatible"));
  }
}

// --- Interpolation accuracy ------------------------------------------------------

TEST(PillboxPhysics, InterpolationErrorIsThirdOrderInTheInputStep) {
  // TM011 varies along all three axes. The full input grid has nodes at
  // multiples of h = 2.5/3, 2.5/6, 2.5/12 cm across and hz = 0.5, 0.25, 0.125
  // cm along the centred z. The output grid is built so that every output
  // coordinate lies on a node or a third of a step off one at every
  // resolution (a third of a coarse step is two thirds of the halved one,
  // that is a third from the next node): aper = (2 + 1/3) h, 8 nodes spaced
  // 2h/3; elen/2 = (4 + 1/3) hz, 14 nodes spaced 2hz/3. The error pattern
  // then repeats at each resolution and shrinks by 2^3.
  const double h = 2.5 / 3, hz = 0.5;
  const int nq[3] = {4, 7, 13};
  const int nz[3] = {11, 21, 41};
  MapError err[3];
  for (int res = 0; res < 3; ++res) {
    SCOPED_TRACE("input " + std::to_string(nq[res]) + " x " + std::to_string(nq[res]) + " x " +
                 std::to_string(nz[res]));
    PillboxCase c;
    c.p = 1;
    c.nx = c.ny = nq[res];
    c.nz = nz[res];
    c.fnorm = "2.5";
    c.out_keys = "0,0,0";
    c.aper = exact((2 + 1.0 / 3) * h);
    c.elen = exact(2 * (4 + 1.0 / 3) * hz);
    c.out_counts = "8,8,14";
    TempDir dir;
    const Converted r = convert_ok(c, dir.path());
    // E keeps its sign and B is reversed (first axial peak of Ez positive).
    err[res] = map_error(r.map, c, +1, -1);
    EXPECT_LT(err[res].E, third_order_tol(c));
    EXPECT_LT(err[res].B, third_order_tol(c));
  }
  // Halving the step divides the error by 8 up to the O(h) change of the
  // third derivatives between the nodes involved: a factor 7 to 9 here. A
  // stencil with a first- or second-derivative term missing is at best
  // second-order accurate, giving 4.
  for (int res = 1; res < 3; ++res) {
    EXPECT_GT(err[res - 1].E / err[res].E, 7.0) << "resolution " << res;
    EXPECT_LT(err[res - 1].E / err[res].E, 9.0) << "resolution " << res;
    EXPECT_GT(err[res - 1].B / err[res].B, 7.0) << "resolution " << res;
    EXPECT_LT(err[res - 1].B / err[res].B, 9.0) << "resolution " << res;
  }
}

// --- Symmetry ------------------------------------------------------------------

TEST(PillboxPhysics, SymmetricExportsGiveTheMapOfTheFullExport) {
  // The planes x = 0 and y = 0 are magnetic walls of every TM01p mode (key
  // 1). The middle plane z = Lc/2 is an electric wall (key 2) for even p and
  // a magnetic wall (key 1) for odd p; a half-cavity export starts on it.
  struct Row {
    const char* name;
    int p;
    int zkey;  // 0: the whole length exported
  };
  for (const Row row : {Row{"quarter, keys 1 1 0, TM011", 1, 0}, Row{"eighth, keys 1 1 1, TM011", 1, 1},
                        Row{"eighth, keys 1 1 2, TM012", 2, 2}}) {
    SCOPED_TRACE(row.name);
    PillboxCase full = tm011_quarter();
    full.p = row.p;
    full.full = true;
    full.nx = full.ny = 13;
    PillboxCase part = full;
    part.full = false;
    part.nx = part.ny = 7;
    if (row.zkey != 0) {
      part.zkey = row.zkey;
      part.zmin = part.zorigin = full.Lc / 2;
      part.nz = (full.nz + 1) / 2;
    }
    TempDir dir_full, dir_part;
    const Converted a = convert_ok(full, dir_full.path());
    const Converted b = convert_ok(part, dir_part.path());
    // Same map to the rounding of the exports' 11 significant digits: the
    // mirrored half is computed from mirrored z coordinates, which may round
    // differently in the last printed digit.
    EXPECT_LT(max_relative_difference(b.map, a.map), 1e-10);
    EXPECT_NEAR(log_values(b.log, " avg_rRL1= ").at(0), log_values(a.log, " avg_rRL1= ").at(0), 1e-9);
  }
}

TEST(PillboxPhysics, LoopOrderAndColumnCountDoNotChangeTheMap) {
  // Six columns carry the real-valued eigenmode amplitudes: the same numbers
  // the converter keeps from nine.
  PillboxCase ref = tm011_quarter();
  TempDir dir_ref;
  const Converted a = convert_ok(ref, dir_ref.path());
  struct Row {
    int order, columns;
  };
  for (const Row row : {Row{123, 9}, Row{132, 9}, Row{213, 9}, Row{231, 9}, Row{312, 9}, Row{321, 6}, Row{132, 6}}) {
    SCOPED_TRACE("loop order " + std::to_string(row.order) + ", " + std::to_string(row.columns) + " columns");
    PillboxCase c = ref;
    c.order = row.order;
    c.columns = row.columns;
    TempDir dir;
    const Converted b = convert_ok(c, dir.path());
    EXPECT_EQ(log_values(b.log, " iord= "), std::vector<double>{static_cast<double>(row.order)});
    EXPECT_TRUE(log_has_line(b.log, row.columns == 9 ? " Reading real & imaginary field components ..."
                                                     : " Reading real field components only ..."));
    EXPECT_EQ(max_relative_difference(b.map, a.map), 0.0);
  }
}

TEST(PillboxPhysics, GzipExportsGiveTheLogAndMapOfThePlainOnes) {
  struct Row {
    int order, columns;
  };
  for (const Row row : {Row{321, 9}, Row{123, 6}, Row{213, 9}, Row{132, 6}}) {
    SCOPED_TRACE("loop order " + std::to_string(row.order) + ", " + std::to_string(row.columns) + " columns");
    PillboxCase c = tm011_quarter();
    c.order = row.order;
    c.columns = row.columns;
    TempDir plain, packed;
    convert_ok(c, plain.path());
    c.gzip = true;
    convert_ok(c, packed.path());
    EXPECT_EQ(read_file(packed / "wavecalc_to_kaven.log"), read_file(plain / "wavecalc_to_kaven.log"));
    EXPECT_EQ(read_file(packed / map_name(c.fnum)), read_file(plain / map_name(c.fnum)));
  }
  // A damaged compressed export is a file error of its unit.
  PillboxCase c = tm011_quarter();
  c.gzip = true;
  TempDir dir;
  generate(c, dir.path());
  const std::string e = read_file(dir / "pillbox_E.txt.gz");
  const std::string h = read_file(dir / "pillbox_H.txt.gz");
  std::string h_corrupt = h;
  h_corrupt[h.size() / 2] = static_cast<char>(h_corrupt[h.size() / 2] ^ 0x5a);
  h_corrupt[h.size() - 6] = static_cast<char>(h_corrupt[h.size() - 6] ^ 0x5a);
  const struct {
    std::string e, h, unit;
  } damaged[] = {
      {e.substr(0, e.size() / 2), h, "unit 2 (pillbox_E.txt.gz)"},
      {e, h_corrupt, "unit 3 (pillbox_H.txt.gz)"},
  };
  for (const auto& d : damaged) {
    write_file(dir / "pillbox_E.txt.gz", d.e);
    write_file(dir / "pillbox_H.txt.gz", d.h);
    const RunResult r = run_converter(dir.path());
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(r.err, "wavecalc_to_kaven: " + d.unit +
                         ": the gzip-compressed file is corrupt or truncated; unpack it with gzip -d to see what is "
                         "wrong, or export it again\n");
    EXPECT_FALSE(file_exists(dir / map_name(c.fnum)));
  }
}

// --- Sign correction on TM01p modes ---------------------------------------------

TEST(PillboxPhysics, SignCorrectionFollowsTheFirstAxialPeakOfEz) {
  // Ez on the axis is E0 cos(kz z). From the first z node the walk climbs
  // while |Ez| grows: on a TM011 export over the whole length it stops at
  // once (the wall value), on a TM012 export from Lc/4 it climbs from the
  // node of Ez to the negative peak in the middle of the cavity.
  struct Row {
    const char* name;
    int p;
    double E0;
    double zmin;  // mm
    int nz;       // the middle of the cavity is a node
    double mxsg;
    bool switch_E;
  };
  const Row rows[] = {
      {"TM011, E0 > 0", 1, 1e6, 0, 21, +1, false},
      {"TM011, E0 < 0", 1, -1e6, 0, 21, -1, true},
      {"TM012 from Lc/4", 2, 1e6, 12.5, 16, -1, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    PillboxCase c;
    c.p = row.p;
    c.E0 = row.E0;
    c.zmin = row.zmin;
    c.nz = row.nz;
    c.fnorm = "2";
    c.out_keys = "1,1,0";  // the first x and y nodes on the axis
    c.out_counts = "6,6," + std::to_string(row.nz);
    c.elen = exact((c.zmax - c.zmin) / 10);  // map z nodes on the input z nodes
    TempDir dir;
    const Converted r = convert_ok(c, dir.path());

    EXPECT_TRUE(log_has_line(r.log, " Maxwell Equations: E and B Signs Not Compatible"));
    // The peak is a node of the axis, where the interpolation returns the
    // node value: |E0| Fnorm/100 V/cm, to the exports' 11 digits.
    const std::vector<double> mx = log_values(r.log, " 1st Max of Ez: mxEz, mxsg = ");
    ASSERT_EQ(mx.size(), 2u);
    EXPECT_NEAR(mx[0], std::fabs(row.E0) * 2 / 100, 1e-9 * std::fabs(row.E0));
    EXPECT_EQ(mx[1], row.mxsg);
    EXPECT_TRUE(log_has_line(r.log, row.switch_E ? " Maxwell Equations: -> Switching E-field sign"
                                                 : " Maxwell Equations: -> Switching B-field sign"));

    // The map: exactly one field reversed, E and B compatible, the first
    // axial peak of Ez positive; for TM011 Ez changes sign along z. The
    // tolerance tells signs and units apart: a reversed field is off by 2,
    // a unit slip by a power of ten. On this coarse grid the interpolation
    // error reaches 1% on the end planes, where the z stencil is one-sided
    // and the third-order terms p r^2 hx hz^2 f_xzz/2 and p q r h^3 f_xyz,
    // which the 19 nodes cannot represent, grow to (kc hx)(kz hz)^2/4 per
    // transverse axis.
    const double sign_E = row.switch_E ? -1 : 1;
    const MapError err = map_error(r.map, c, sign_E, -sign_E);
    EXPECT_LT(err.E, 0.03);
    EXPECT_LT(err.B, 0.03);
    const std::vector<double> ez = axis_Ez(r.map);
    ASSERT_FALSE(ez.empty());
    EXPECT_GT(first_peak(ez), 0.0);
    if (row.p == 1) {
      EXPECT_GT(ez.front(), 0.0);
      EXPECT_LT(ez.back(), 0.0);
    }
  }
}

// --- The three formats -----------------------------------------------------------

std::vector<double> numbers_of(const std::string& text) {
  std::vector<double> v;
  std::istringstream in(text);
  std::string token;
  while (in >> token) v.push_back(std::stod(token));
  return v;
}

// Text values carry 15 significant digits in fixed form, 16 in exponent form.
void expect_same_numbers(const std::vector<double>& text, const std::vector<double>& binary) {
  ASSERT_EQ(text.size(), binary.size());
  std::size_t bad = 0;
  for (std::size_t n = 0; n < text.size(); ++n) {
    if (!(std::fabs(text[n] - binary[n]) <= 1e-14 * std::fabs(binary[n]))) {
      if (++bad <= 5) ADD_FAILURE() << "value " << n << ": text " << text[n] << ", binary " << binary[n];
    }
  }
  EXPECT_EQ(bad, 0u);
}

TEST(PillboxPhysics, TheThreeFormatsCarryTheSameNumbers) {
  PillboxCase c = tm011_quarter();
  c.fnorm = "2.5";
  c.out_keys = "1,1,0";
  c.out_counts = "5,4,11";
  TempDir dir;
  Format0Map m;
  std::string text[3];
  for (int fmt = 0; fmt < 3; ++fmt) {
    c.fmt = fmt;
    c.fnum = fmt + 1;
    const Converted r = convert_ok(c, dir.path());
    if (fmt == 0)
      m = r.map;
    else
      text[fmt] = read_file(dir / map_name(c.fnum));
  }
  ASSERT_EQ(m.Xo.size(), 5u);
  const std::size_t nx = m.Xo.size(), ny = m.Yo.size(), nz = m.Zo.size();

  // Format 1: the twelve records of format 0 as text.
  std::vector<double> f1 = {m.elen, m.aper, 0, 1, 1, 0};
  for (const auto* axis : {&m.Xo, &m.Yo, &m.Zo}) f1.insert(f1.end(), axis->begin(), axis->end());
  for (const auto& f : m.fields) f1.insert(f1.end(), f.begin(), f.end());
  f1.push_back(-99);
  expect_same_numbers(numbers_of(text[1]), f1);

  // Format 2: header, then the six values of each node, z fastest.
  std::vector<double> f2 = {2, 1, 1, 0};
  for (const auto* axis : {&m.Xo, &m.Yo, &m.Zo}) {
    f2.push_back(axis->front());
    f2.push_back(axis->back());
    f2.push_back(static_cast<double>(axis->size()));
  }
  for (std::size_t i = 0; i < nx; ++i)
    for (std::size_t j = 0; j < ny; ++j)
      for (std::size_t k = 0; k < nz; ++k)
        for (const auto& f : m.fields) f2.push_back(f[(k * ny + j) * nx + i]);
  expect_same_numbers(numbers_of(text[2]), f2);
}

}  // namespace
}  // namespace wk::test
