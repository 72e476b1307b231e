// Faraday's law in the converted map of every family of pillbox modes, and
// the warnings of exports whose E and H do not belong together.
//
// A map holds E at its peak and B a quarter period later, so curl E = -w B
// everywhere: curl E and B, both taken from the map, correlate with c = -1.
// The exports carry E real and H imaginary (H a quarter period before the
// map's B); monopoles are corrected through the axial Maxwell check, modes
// without Ez on the axis through Faraday's law over the whole grid.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>

#include "physics/pillbox_case.hpp"

namespace wk::test {
namespace {

namespace fs = std::filesystem;
using pillbox::Family;
using pillbox::Turn;

// Correlation of curl E (central differences over the map's interior nodes)
// with B.
double map_correlation(const Format0Map& m) {
  const std::size_t nx = m.Xo.size(), ny = m.Yo.size(), nz = m.Zo.size();
  const auto at = [&](int f, std::size_t i, std::size_t j, std::size_t k) { return m.fields[f][(k * ny + j) * nx + i]; };
  double ab = 0, aa = 0, bb = 0;
  for (std::size_t k = 1; k + 1 < nz; ++k)
    for (std::size_t j = 1; j + 1 < ny; ++j)
      for (std::size_t i = 1; i + 1 < nx; ++i) {
        const double hx = m.Xo[i + 1] - m.Xo[i - 1], hy = m.Yo[j + 1] - m.Yo[j - 1], hz = m.Zo[k + 1] - m.Zo[k - 1];
        const auto dx = [&](int f) { return (at(f, i + 1, j, k) - at(f, i - 1, j, k)) / hx; };
        const auto dy = [&](int f) { return (at(f, i, j + 1, k) - at(f, i, j - 1, k)) / hy; };
        const auto dz = [&](int f) { return (at(f, i, j, k + 1) - at(f, i, j, k - 1)) / hz; };
        const double a[3] = {dy(2) - dz(1), dz(0) - dx(2), dx(1) - dy(0)};
        for (int c = 0; c < 3; ++c) {
          const double b = at(3 + c, i, j, k);
          ab += a[c] * b;
          aa += a[c] * a[c];
          bb += b * b;
        }
      }
  return ab / std::sqrt(aa * bb);
}

enum class Cut { Quarter, Full, Half, Eighth };

PillboxCase case_of(Family family, Turn turn, int p, Cut cut) {
  PillboxCase c;
  c.family = family;
  c.turn = turn;
  c.p = p;
  c.full = cut == Cut::Full || cut == Cut::Half;
  if (c.full) c.nx = c.ny = 13;
  if (cut == Cut::Half || cut == Cut::Eighth) {
    // The half cavity beyond the middle plane: an electric wall for even p,
    // a magnetic one for odd p, in every family.
    c.zmin = c.zorigin = c.Lc / 2;
    c.zkey = p % 2 ? 1 : 2;
    c.nz = 11;
  }
  return c;
}

TEST(PillboxFaraday, EveryMapHoldsBAQuarterPeriodAfterE) {
  const struct {
    Family family;
    Turn turn;
    int p;
    Cut cut;
    int columns;
    double noise;
  } cases[] = {
      {Family::TM01, Turn::X, 0, Cut::Quarter, 9, 0},    {Family::TM01, Turn::X, 1, Cut::Eighth, 6, 1e-7},
      {Family::TM01, Turn::X, 2, Cut::Full, 9, 1e-3},    {Family::TM11, Turn::X, 0, Cut::Quarter, 9, 0},
      {Family::TM11, Turn::Y, 0, Cut::Full, 6, 1e-3},    {Family::TM11, Turn::X, 1, Cut::Half, 9, 1e-7},
      {Family::TM11, Turn::Y, 0, Cut::Eighth, 9, 1e-3},  {Family::TE11, Turn::X, 1, Cut::Quarter, 6, 1e-7},
      {Family::TE11, Turn::Y, 1, Cut::Eighth, 9, 0},     {Family::TE11, Turn::X, 2, Cut::Half, 9, 1e-3},
      {Family::TE11, Turn::Y, 1, Cut::Full, 9, 1e-7},
  };
  for (const auto& row : cases) {
    PillboxCase c = case_of(row.family, row.turn, row.p, row.cut);
    c.columns = row.columns;
    c.noise = row.noise;
    SCOPED_TRACE(c.mode().name() + " cut " + std::to_string(static_cast<int>(row.cut)) + ", " +
                 std::to_string(row.columns) + " columns, noise " + exact(row.noise));
    TempDir dir;
    const Converted r = convert(c, dir.path());
    ASSERT_EQ(r.run.status, 0) << r.run.err;
    EXPECT_LT(map_correlation(r.map), -0.99);
    // Monopoles keep the axial correction; the other modes have no Ez on the
    // axis to go by, and the whole grid decides, with one warning.
    const bool monopole = row.family == Family::TM01;
    EXPECT_EQ(log_has_line(r.log, " 1st Max of Ez: mxEz, mxsg = "), monopole);
    EXPECT_TRUE(log_has_line(r.log, " Maxwell Equations: -> Switching B-field sign"));
    if (monopole) {
      EXPECT_EQ(r.run.err, "");
    } else {
      EXPECT_NE(r.run.err.find("decided by Faraday's law over the whole grid instead"), std::string::npos) << r.run.err;
      EXPECT_EQ(r.run.err.find('\n'), r.run.err.size() - 1) << "one warning line";
    }
  }
}

// Exports that the converter accepts with a warning. `h` is the case whose
// H export replaces the generated one (none: the H export of `e`).
TEST(PillboxFaraday, MismatchedOrNoisyExportsWarn) {
  const auto tm01 = [](int p) { return case_of(Family::TM01, Turn::X, p, Cut::Quarter); };
  const struct {
    const char* name;
    PillboxCase e;
    std::optional<PillboxCase> h;
    const char* warning;  // a piece of the one warning line
    bool b_reversed;
  } cases[] = {
      // On this coarse grid the noise of the axial check gives a mean ratio
      // of 3.5, which used to stop the run.
      {"noisy dipole", [] {
         PillboxCase c = case_of(Family::TM11, Turn::X, 0, Cut::Quarter);
         c.noise = 1e-3;
         return c;
       }(), std::nullopt, "the Maxwell check compared noise: in the slices it compared, Ez on the axis reaches 0.000", true},
      {"H of another mode", case_of(Family::TM11, Turn::X, 0, Cut::Full), case_of(Family::TE11, Turn::X, 1, Cut::Full),
       "nor do E and B satisfy Faraday's law over the whole grid: curl E against omega B correlates with c = ", false},
      // The same mode with H 1000 times its size, as an export in mA/m.
      {"H in mA/m", tm01(1), [&] {
         PillboxCase c = tm01(1);
         c.E0 = 1e9;
         return c;
       }(), "the Maxwell check's mean ratio avg_rRL1 = -0.000", true},
      // The circle's area underflows: no displacement current, no comparison.
      {"a vanishing aperture", [&] {
         PillboxCase c = tm01(0);
         c.aper = "1e-300";
         return c;
       }(), std::nullopt, "the displacement current through the circle r = aper/2 = 5e-301 cm is 0 in every slice although Ez on the axis is not", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir, other;
    generate(c.e, dir.path());
    if (c.h) {
      generate(*c.h, other.path());
      fs::copy_file(other / "pillbox_H.txt", dir / "pillbox_H.txt", fs::copy_options::overwrite_existing);
    }
    const RunResult r = run_converter(dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find(c.warning), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one warning line";
    const std::string log = read_file(dir / "wavecalc_to_kaven.log");
    EXPECT_EQ(log_has_line(log, " Maxwell Equations: -> Switching B-field sign"), c.b_reversed);
    if (std::string(c.name) == "noisy dipole") {
      EXPECT_GT(log_values(log, " avg_rRL1= ").at(0), 2);
    }
  }
}

}  // namespace
}  // namespace wk::test
