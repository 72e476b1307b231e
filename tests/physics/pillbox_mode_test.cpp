// The analytic pillbox modes and the exports written from them: the fields
// the physics tests compare with must solve Maxwell's equations in the cavity,
// and the generator must write them in the solver's layout.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "physics/pillbox_case.hpp"

namespace wk::test {
namespace {

using pillbox::Field;
using pillbox::Mode;

// The six components as one array: Ex, Ey, Ez, Hx, Hy, Hz.
std::array<double, 6> parts(const Field& f) { return {f.Ex, f.Ey, f.Ez, f.Hx, f.Hy, f.Hz}; }

// Component c of the curl of the field (E: offset 0, H: offset 3) at (x, y, z)
// by central differences of step d.
double curl(const Mode& m, int offset, int c, double x, double y, double z, double d) {
  const auto deriv = [&](int comp, int axis) {
    double a[3] = {x, y, z}, b[3] = {x, y, z};
    a[axis] += d;
    b[axis] -= d;
    return (parts(m.field(a[0], a[1], a[2]))[static_cast<std::size_t>(offset + comp)] -
            parts(m.field(b[0], b[1], b[2]))[static_cast<std::size_t>(offset + comp)]) /
           (2 * d);
  };
  const int i = (c + 1) % 3, j = (c + 2) % 3;
  return deriv(j, i) - deriv(i, j);
}

// The modes of the tables below: every family, both dipole orientations.
struct ModeRow {
  pillbox::Family family;
  pillbox::Turn turn;
  int p;
};
constexpr ModeRow kModes[] = {
    {pillbox::Family::TM01, pillbox::Turn::X, 0}, {pillbox::Family::TM01, pillbox::Turn::X, 1},
    {pillbox::Family::TM01, pillbox::Turn::X, 2}, {pillbox::Family::TM11, pillbox::Turn::X, 0},
    {pillbox::Family::TM11, pillbox::Turn::Y, 1}, {pillbox::Family::TE11, pillbox::Turn::X, 1},
    {pillbox::Family::TE11, pillbox::Turn::Y, 2},
};

TEST(PillboxMode, SolvesMaxwellsEquationsWithMetalWalls) {
  // E is the real part and H = j Hi the imaginary part of the phasors, so
  // curl E = -j w mu0 H becomes curl E = w mu0 Hi, and curl H = j w eps0 E
  // becomes curl Hi = w eps0 E.
  const double Rc = 0.05, Lc = 0.04;
  for (const ModeRow row : kModes) {
    const Mode m(row.family, row.turn, Rc, Lc, row.p, 1e6);
    SCOPED_TRACE(m.name());
    // Largest |E| and |Hi| over a coarse grid in the cavity set the scale of
    // the residuals.
    double e_scale = 0, h_scale = 0;
    for (int n = 0; n < 11 * 11 * 11; ++n) {
      const auto v = parts(m.field(Rc * (n % 11 - 5) / 7.1, Rc * (n / 11 % 11 - 5) / 7.1, Lc * (n / 121) / 10));
      for (std::size_t c = 0; c < 3; ++c) {
        e_scale = std::max(e_scale, std::fabs(v[c]));
        h_scale = std::max(h_scale, std::fabs(v[3 + c]));
      }
    }
    const double d = 1e-6;  // m: central-difference error (k d)^2/6 ~ 1e-9
    for (const std::array<double, 3> pt :
         {std::array<double, 3>{0.011, 0.007, 0.013}, std::array<double, 3>{-0.02, 0.013, 0.031},
          std::array<double, 3>{0.003, -0.035, 0.002}, std::array<double, 3>{0.0, 1e-7, 0.017}}) {
      const Field f = m.field(pt[0], pt[1], pt[2]);
      const auto v = parts(f);
      for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(curl(m, 0, c, pt[0], pt[1], pt[2], d), m.omega() * pillbox::kMu0 * v[3 + c],
                    1e-6 * m.omega() * pillbox::kMu0 * h_scale)
            << "curl E, component " << c;
        EXPECT_NEAR(curl(m, 3, c, pt[0], pt[1], pt[2], d), m.omega() * pillbox::kEps0 * v[c],
                    1e-6 * m.omega() * pillbox::kEps0 * e_scale)
            << "curl H, component " << c;
      }
      EXPECT_EQ(row.family == pillbox::Family::TE11 ? f.Ez : f.Hz, 0.0);
    }
    // Tangential E vanishes on the mantle (Ez and E along phi) and on the end
    // plates (Ex, Ey).
    for (double phi : {0.0, 0.7, 2.5}) {
      const Field mantle = m.field(Rc * std::cos(phi), Rc * std::sin(phi), 0.013);
      EXPECT_NEAR(mantle.Ez, 0.0, 1e-9 * e_scale);
      EXPECT_NEAR(-std::sin(phi) * mantle.Ex + std::cos(phi) * mantle.Ey, 0.0, 1e-9 * e_scale);
      for (double z : {0.0, Lc}) {
        const Field end = m.field(0.02 * std::cos(phi), 0.02 * std::sin(phi), z);
        EXPECT_NEAR(end.Ex, 0.0, 1e-9 * e_scale);
        EXPECT_NEAR(end.Ey, 0.0, 1e-9 * e_scale);
      }
    }
  }
}

TEST(PillboxMode, SliceRatioIsDisplacementCurrentOverCirculation) {
  // Ez on the axis times pi r^2 against 2 pi r Hphi(r), from the field itself.
  const Mode m(0.05, 0.05, 1, 1e6);
  for (double r : {0.002, 0.005, 0.01, 0.02}) {
    const double z = 0.0123;
    const double I_E = -(pillbox::kEps0 * m.omega() * pillbox::kPi * r * r * m.field(0, 0, z).Ez);
    const double I_H = 2 * pillbox::kPi * r * m.field(r, 0, z).Hy;
    EXPECT_NEAR(m.slice_ratio(r), I_E / I_H, 1e-12) << "r = " << r;
  }
  // kc r = 0.24: J1 = 0.12 - 0.24^3/16 + 0.24^5/384 = 0.1191381 (next term
  // 2e-9), ratio -0.12/0.1191381.
  EXPECT_NEAR(m.slice_ratio(0.24 / m.kc()), -1.0072347, 1e-6);
}

// --- The generator's exports -----------------------------------------------------

std::vector<std::vector<double>> table_of(const std::string& text) {
  std::vector<std::vector<double>> rows;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream l(line);
    std::vector<double> row;
    double v;
    while (l >> v) row.push_back(v);
    rows.push_back(row);
  }
  return rows;
}

TEST(PillboxExport, WritesEveryPointInTheRequestedLoopOrder) {
  // A line's position follows from the loop order: with counts Nf, Nm of the
  // fastest and middle axes, line n (from 0) has index n mod Nf on the
  // fastest axis, (n div Nf) mod Nm on the middle one and n div (Nf Nm) on
  // the slowest (digit 1 fastest, 3 slowest; hundreds x, tens y, units z).
  struct Row {
    int order;
    bool full;
    int columns;
  };
  for (const Row row : {Row{123, false, 9}, Row{132, true, 9}, Row{213, false, 6}, Row{231, true, 6},
                        Row{312, false, 9}, Row{321, true, 9}}) {
    SCOPED_TRACE("order " + std::to_string(row.order) + (row.full ? ", full, " : ", quarter, ") +
                 std::to_string(row.columns) + " columns");
    PillboxCase c;
    c.p = 1;
    c.full = row.full;
    c.nx = 3;
    c.ny = 4;
    c.nz = 5;
    c.order = row.order;
    c.columns = row.columns;
    TempDir dir;
    generate(c, dir.path());
    const auto e = table_of(read_file(dir / "pillbox_E.txt"));
    const auto h = table_of(read_file(dir / "pillbox_H.txt"));
    ASSERT_EQ(e.size(), 60u);
    ASSERT_EQ(h.size(), 60u);

    const int count[3] = {c.nx, c.ny, c.nz};
    const int digit[3] = {row.order / 100, row.order / 10 % 10, row.order % 10};
    int axis_of[4] = {0, 0, 0, 0};  // axis_of[digit]
    for (int a = 0; a < 3; ++a) axis_of[digit[a]] = a;
    const double lo[3] = {row.full ? -c.xmax : 0, row.full ? -c.xmax : 0, c.zmin};
    const double hi[3] = {c.xmax, c.xmax, c.zmax};
    const Mode mode = c.mode();
    for (int n = 0; n < 60; ++n) {
      const auto& le = e[static_cast<std::size_t>(n)];
      const auto& lh = h[static_cast<std::size_t>(n)];
      ASSERT_EQ(le.size(), static_cast<std::size_t>(row.columns));
      ASSERT_EQ(lh.size(), static_cast<std::size_t>(row.columns));
      const int nf = count[axis_of[1]], nm = count[axis_of[2]];
      int idx[3];
      idx[axis_of[1]] = n % nf;
      idx[axis_of[2]] = n / nf % nm;
      idx[axis_of[3]] = n / (nf * nm);
      for (int a = 0; a < 3; ++a) {
        const double node = lo[a] + (hi[a] - lo[a]) * idx[a] / (count[a] - 1);
        EXPECT_NEAR(le[static_cast<std::size_t>(a)], node, 1e-9) << "line " << n + 1 << ", axis " << a;
        EXPECT_EQ(lh[static_cast<std::size_t>(a)], le[static_cast<std::size_t>(a)]);
      }
      // The values at the line's own point (mm -> m), to 11 digits: E real,
      // H imaginary; in 9 columns the other parts are written as zeros.
      const auto v = parts(mode.field(le[0] * 1e-3, le[1] * 1e-3, le[2] * 1e-3));
      const double scale_e = 1e6, scale_h = 1e6 * mode.omega() * pillbox::kEps0 / mode.kc();
      for (std::size_t a = 0; a < 3; ++a) {
        EXPECT_NEAR(le[3 + a], v[a], 1e-9 * scale_e);
        EXPECT_NEAR(lh[row.columns - 3 + a], v[3 + a], 1e-9 * scale_h);
        if (row.columns == 9) {
          EXPECT_EQ(le[6 + a], 0.0);
          EXPECT_EQ(lh[3 + a], 0.0);
        }
      }
    }
    // The converter reads the first line's first 132 characters to tell 9
    // columns from 6.
    const std::string text = read_file(dir / "pillbox_E.txt");
    EXPECT_LE(text.find('\n'), 132u);
  }
}

TEST(PillboxExport, QuarterNodesAreNodesOfTheFullExportAndMirrorExactly) {
  for (const ModeRow row : kModes) {
    PillboxCase q;
    q.family = row.family;
    q.turn = row.turn;
    q.p = row.p;
    q.nx = 4;
    q.ny = 3;
    q.nz = 3;
    q.order = 123;
    PillboxCase f = q;
    f.full = true;
    f.nx = 7;
    f.ny = 5;
    SCOPED_TRACE(q.mode().name());
    TempDir dq, df;
    generate(q, dq.path());
    generate(f, df.path());
    // The quarter export's control file names the mode's mirror planes.
    const int kx = q.mode().key_x(), ky = q.mode().key_y();
    std::string keys = "\n";
    keys += std::to_string(kx);
    keys += ' ';
    keys += std::to_string(ky);
    keys += " 0 ";
    EXPECT_NE(read_file(dq / "wavecalc_to_kaven.dat").find(keys), std::string::npos);
    for (const char* file : {"pillbox_E.txt", "pillbox_H.txt"}) {
      const auto eq = table_of(read_file(dq / file));
      const auto ef = table_of(read_file(df / file));
      ASSERT_EQ(eq.size(), 36u);
      ASSERT_EQ(ef.size(), 105u);
      // Full point (i, j, k), x fastest, is quarter point (|i - 3|, |j - 2|,
      // k). Across a plane of key 1 the normal E and the tangential H change
      // sign, across one of key 2 the tangential E and the normal H.
      const bool h = file[8] == 'H';
      const auto flips = [&](int key, int axis, int comp) { return (key == 1) == (comp == axis) ? !h : h; };
      for (int k = 0; k < 3; ++k)
        for (int j = 0; j < 5; ++j)
          for (int i = 0; i < 7; ++i) {
            const auto& a = ef[static_cast<std::size_t>((k * 5 + j) * 7 + i)];
            const auto& b = eq[static_cast<std::size_t>((k * 3 + std::abs(j - 2)) * 4 + std::abs(i - 3))];
            std::vector<double> mirrored = b;
            if (i < 3) mirrored[0] = -b[0];
            if (j < 2) mirrored[1] = -b[1];
            for (int comp = 0; comp < 3; ++comp) {
              double& v = mirrored[static_cast<std::size_t>(3 + comp + (h ? 3 : 0))];
              if (i < 3 && flips(kx, 0, comp)) v = -v;
              if (j < 2 && flips(ky, 1, comp)) v = -v;
              v += 0.0;
            }
            EXPECT_EQ(a, mirrored) << file << ", full point " << i << " " << j << " " << k;
          }
    }
  }
}

}  // namespace
}  // namespace wk::test
