#include "symmetry/symmetry.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <string>

#include "support/run_support.hpp"

namespace wk {
namespace {

using test::blanks;

// Completes the symmetry of d and returns the log lines it wrote.
std::string complete(RunData& d) {
  test::LogCapture log;
  complete_symmetry(d, log.log());
  return log.text();
}

// Exported value of component c (0..5: Ex, Ey, Ez, Hx, Hy, Hz) at input node
// (i, j, k): distinct for every component and node, so that a value found on
// the full grid names its source.
double exported(int c, int i, int j, int k) { return (c + 1) * 1e8 + k * 1e4 + j * 100 + i; }

struct Export {
  int kx = 0, ky = 0, kz = 0;
  int nx = 3, ny = 3, nz = 3;
  double xmin = 0, xmax = 2, ymin = 0, ymax = 2, zmin = -1, zmax = 1;
};

RunData make_export(const Export& e) {
  RunData d;
  d.isymX = e.kx;
  d.isymY = e.ky;
  d.isymZ = e.kz;
  d.Nix = e.nx;
  d.Niy = e.ny;
  d.Niz = e.nz;
  d.Ximin = e.xmin;
  d.Ximax = e.xmax;
  d.Yimin = e.ymin;
  d.Yimax = e.ymax;
  d.Zimin = e.zmin;
  d.Zimax = e.zmax;
  FieldArray* in[6] = {&d.Exi, &d.Eyi, &d.Ezi, &d.Hxi, &d.Hyi, &d.Hzi};
  for (int c = 0; c < 6; ++c) {
    in[c]->resize(e.nx, e.ny, e.nz);
    for (int k = 1; k <= e.nz; ++k)
      for (int j = 1; j <= e.ny; ++j)
        for (int i = 1; i <= e.nx; ++i) (*in[c])(i, j, k) = exported(c, i, j, k);
  }
  return d;
}

// Component c of the full grid at node (i, j, k), as the phases read it.
double full(const RunData& d, int c, int i, int j, int k) { return FullGrid(d)(c, i, j, k); }

const char* const kNames[6] = {"Ex", "Ey", "Ez", "Bx", "By", "Bz"};

// Full node i of an axis with n exported nodes: source node and sign factor.
struct Source {
  int node;
  double s;
};
Source source(int key, int n, int i) {
  if (key == 0) return {i, 1.0};
  return {std::abs(i - n) + 1, i < n ? -1.0 : 1.0};
}

// Factor of each component for every code: which of sx, sy, sz multiply it.
struct CodeRow {
  int isym;
  const char* f[6];  // Ex, Ey, Ez, Bx, By, Bz
};
const CodeRow kCodes[] = {
    {0, {"+1", "+1", "+1", "+1", "+1", "+1"}},
    {1, {"+1", "+1", "sz", "sz", "sz", "+1"}},
    {2, {"sz", "sz", "+1", "+1", "+1", "sz"}},
    {10, {"+1", "sy", "+1", "sy", "+1", "sy"}},
    {11, {"+1", "sy", "sz", "sy*sz", "sz", "sy"}},
    {12, {"sz", "sy*sz", "+1", "sy", "+1", "sy*sz"}},
    {20, {"sy", "+1", "sy", "+1", "sy", "+1"}},
    {21, {"sy", "+1", "sy*sz", "sz", "sy*sz", "+1"}},
    {22, {"sy*sz", "sz", "sy", "+1", "sy", "sz"}},
    {100, {"sx", "+1", "+1", "+1", "sx", "sx"}},
    {101, {"sx", "+1", "sz", "sz", "sx*sz", "sx"}},
    {102, {"sx*sz", "sz", "+1", "+1", "sx", "sx*sz"}},
    {110, {"sx", "sy", "+1", "sy", "sx", "sx*sy"}},
    {111, {"sx", "sy", "sz", "sy*sz", "sx*sz", "sx*sy"}},
    {112, {"sx*sz", "sy*sz", "+1", "sy", "sx", "sx*sy*sz"}},
    {120, {"sx*sy", "+1", "sy", "+1", "sx*sy", "sx"}},
    {121, {"sx*sy", "+1", "sy*sz", "sz", "sx*sy*sz", "sx"}},
    {122, {"sx*sy*sz", "sz", "sy", "+1", "sx*sy", "sx*sz"}},
    {200, {"+1", "sx", "sx", "sx", "+1", "+1"}},
    {201, {"+1", "sx", "sx*sz", "sx*sz", "sz", "+1"}},
    {202, {"sz", "sx*sz", "sx", "sx", "+1", "sz"}},
    {210, {"+1", "sx*sy", "sx", "sx*sy", "+1", "sy"}},
    {211, {"+1", "sx*sy", "sx*sz", "sx*sy*sz", "sz", "sy"}},
    {212, {"sz", "sx*sy*sz", "sx", "sx*sy", "+1", "sy*sz"}},
    {220, {"sy", "sx", "sx*sy", "sx", "sy", "+1"}},
    {221, {"sy", "sx", "sx*sy*sz", "sx*sz", "sy*sz", "+1"}},
    {222, {"sy*sz", "sx*sz", "sx*sy", "sx", "sy", "sz"}},
};

bool uses(const char* factor, char axis) { return std::string(factor).find(axis) != std::string::npos; }

// Components that change sign across the plane of an axis, per key 1 and 2:
// key 1 flips E along the axis and H along the other two, key 2 the reverse.
const char* const kFlips[3][2] = {
    {"Ex By Bz", "Ey Ez Bx"},
    {"Ey Bx Bz", "Ex Ez By"},
    {"Ez Bx By", "Ex Ey Bz"},
};

TEST(SymmetryCompletion, TableOfCodesFollowsTheKeyRules) {
  for (const CodeRow& row : kCodes) {
    const int keys[3] = {row.isym / 100, row.isym / 10 % 10, row.isym % 10};
    for (int c = 0; c < 6; ++c) {
      for (int a = 0; a < 3; ++a) {
        const bool flipped = keys[a] != 0 && std::string(kFlips[a][keys[a] - 1]).find(kNames[c]) != std::string::npos;
        EXPECT_EQ(uses(row.f[c], "xyz"[a]), flipped) << "isym " << row.isym << " " << kNames[c];
      }
    }
  }
}

// Every full-grid node of every component holds the exported value of its
// source node times the code's factor.
void expect_mirrored(const RunData& d, const Export& e, const CodeRow& row) {
  const int mx = e.kx ? 2 * e.nx - 1 : e.nx, my = e.ky ? 2 * e.ny - 1 : e.ny, mz = e.kz ? 2 * e.nz - 1 : e.nz;
  for (int c = 0; c < 6; ++c) {
    // Only the exported nodes are stored.
    ASSERT_EQ(d.stored(c).nx(), e.nx);
    ASSERT_EQ(d.stored(c).ny(), e.ny);
    ASSERT_EQ(d.stored(c).nz(), e.nz);
    for (int k = 1; k <= mz; ++k)
      for (int j = 1; j <= my; ++j)
        for (int i = 1; i <= mx; ++i) {
          const Source sx = source(e.kx, e.nx, i), sy = source(e.ky, e.ny, j), sz = source(e.kz, e.nz, k);
          double factor = 1.0;
          if (uses(row.f[c], 'x')) factor *= sx.s;
          if (uses(row.f[c], 'y')) factor *= sy.s;
          if (uses(row.f[c], 'z')) factor *= sz.s;
          ASSERT_EQ(full(d, c, i, j, k), factor * exported(c, sx.node, sy.node, sz.node))
              << kNames[c] << " at " << i << "," << j << "," << k;
        }
  }
}

// An export of nx x 4 x nz points, y up to 3, with the keys of the code isym;
// z starts on its plane when it is mirrored and at -1 otherwise.
Export export_with_keys(int isym, int nx, int nz) {
  const int kz = isym % 10;
  return Export{.kx = isym / 100,
                .ky = isym / 10 % 10,
                .kz = kz,
                .nx = nx,
                .ny = 4,
                .nz = nz,
                .ymax = 3,
                .zmin = kz ? 0.0 : -1.0};
}

// Every node of the full grid, for every code: the source node and the sign
// of each component. Nodes on a plane take the exported value with factor +1
// (never zero); in a quadrant mirrored across two planes two factors -1 meet.
TEST(SymmetryCompletion, EveryCodeMirrorsEveryComponentWithItsFactor) {
  for (const CodeRow& row : kCodes) {
    // Different counts per axis, so that a mixed-up axis cannot pass.
    const Export e = export_with_keys(row.isym, 3, 2);
    RunData d = make_export(e);
    complete(d);
    SCOPED_TRACE("isym " + std::to_string(row.isym));
    EXPECT_EQ(d.isym, row.isym);

    const int mx = e.kx ? 2 * e.nx - 1 : e.nx, my = e.ky ? 2 * e.ny - 1 : e.ny, mz = e.kz ? 2 * e.nz - 1 : e.nz;
    ASSERT_EQ(d.Nix, mx);
    ASSERT_EQ(d.Niy, my);
    ASSERT_EQ(d.Niz, mz);
    EXPECT_EQ(d.Ximin, e.kx ? -2.0 : 0.0);
    EXPECT_EQ(d.Yimin, e.ky ? -3.0 : 0.0);
    EXPECT_EQ(d.Ximax, 2.0);
    EXPECT_EQ(d.Yimax, 3.0);
    EXPECT_EQ(d.Zimin, -1.0);
    EXPECT_EQ(d.Zimax, 1.0);
    expect_mirrored(d, e, row);
    // The exported field is not needed after completion.
    EXPECT_EQ(d.Exi.size() + d.Eyi.size() + d.Ezi.size() + d.Hxi.size() + d.Hyi.size() + d.Hzi.size(), 0u);
  }
}

// A full grid large enough for E and H to be completed on two threads:
// still every node of every component with its factor.
TEST(SymmetryCompletion, LargeGridsMirrorEveryNodeToo) {
  for (int isym : {111, 222, 120}) {
    const CodeRow& row =
        *std::find_if(std::begin(kCodes), std::end(kCodes), [&](const CodeRow& r) { return r.isym == isym; });
    const Export e = export_with_keys(isym, 5, 2000);
    RunData d = make_export(e);
    complete(d);
    SCOPED_TRACE("isym " + std::to_string(isym));
    ASSERT_GE(static_cast<long>(d.Nix) * d.Niy * d.Niz, 1L << 16);
    expect_mirrored(d, e, row);
  }
}

// Full-grid values along x for one mirrored x axis of three exported nodes:
// +n is the exported node n, -n its negation.
TEST(SymmetryCompletion, MirroredXAxisOfThreeNodes) {
  const struct {
    Export e;
    int pattern[6][5];
  } cases[] = {
      {{.kx = 1},
       {{-3, -2, 1, 2, 3},
        {3, 2, 1, 2, 3},
        {3, 2, 1, 2, 3},  //
        {3, 2, 1, 2, 3},
        {-3, -2, 1, 2, 3},
        {-3, -2, 1, 2, 3}}},
      {{.kx = 2},
       {{3, 2, 1, 2, 3},
        {-3, -2, 1, 2, 3},
        {-3, -2, 1, 2, 3},  //
        {-3, -2, 1, 2, 3},
        {3, 2, 1, 2, 3},
        {3, 2, 1, 2, 3}}},
  };
  // The exported minimum is not used: at 0 or at 0.5, the first exported
  // node is taken as the plane x = 0.
  for (const auto& [plain, pattern] : cases)
    for (const double xmin : {0.0, 0.5}) {
      Export e = plain;
      e.xmin = xmin;
      RunData d = make_export(e);
      complete(d);
      SCOPED_TRACE("key " + std::to_string(e.kx) + " xmin " + std::to_string(e.xmin));
      EXPECT_EQ(d.Nix, 5);
      EXPECT_EQ(d.Ximin, -2.0);
      EXPECT_EQ(d.Ximax, 2.0);
      ASSERT_EQ(d.Xi.size(), 5);
      for (int i = 1; i <= 5; ++i) EXPECT_EQ(d.Xi(i), i - 3.0);
      for (int c = 0; c < 6; ++c)
        for (int k = 1; k <= 3; ++k)
          for (int j = 1; j <= 3; ++j)
            for (int i = 1; i <= 5; ++i) {
              const int n = pattern[c][i - 1];
              EXPECT_EQ(full(d, c, i, j, k), (n < 0 ? -1.0 : 1.0) * exported(c, std::abs(n), j, k))
                  << kNames[c] << " at " << i << "," << j << "," << k;
            }
    }
}

TEST(SymmetryCompletion, ZCentring) {
  const std::string code_line = "  Input symmetry code: isym= " + blanks(11);
  const std::string centred = "  Centered Z: Zimin, Zimax=   -2.00000000000000        2.00000000000000     \r\n";
  const struct {
    Export e;
    double want_min, want_max;
    std::string log;
  } cases[] = {
      // Exported from 0 to L = 4 over the whole length: centred to -L/2..L/2.
      {{.nz = 5, .zmin = 0.0, .zmax = 4.0}, -2.0, 2.0, code_line + "0\r\n" + centred},
      {{.nz = 5, .zmin = -1.0, .zmax = 3.0}, -2.0, 2.0, code_line + "0\r\n" + centred},
      {{.nz = 5, .zmin = -0.5, .zmax = 0.5}, -0.5, 0.5, code_line + "0\r\n"},
      // A mirrored z axis is symmetric by construction.
      {{.kz = 1, .nz = 5, .zmin = 0.0, .zmax = 3.0}, -3.0, 3.0, code_line + "1\r\n"},
      {{.kz = 2, .nz = 5, .zmin = 0.0, .zmax = 3.0}, -3.0, 3.0, code_line + "2\r\n"},
  };
  for (const auto& t : cases) {
    RunData d = make_export(t.e);
    const std::string log = complete(d);
    SCOPED_TRACE("key " + std::to_string(t.e.kz) + " z " + std::to_string(t.e.zmin) + ".." + std::to_string(t.e.zmax));
    EXPECT_EQ(log, t.log);
    EXPECT_EQ(d.Zimin, t.want_min);
    EXPECT_EQ(d.Zimax, t.want_max);
    ASSERT_EQ(d.Zi.size(), d.Niz);
    const double step = (t.want_max - t.want_min) / (d.Niz - 1);
    for (int k = 1; k <= d.Niz; ++k) EXPECT_EQ(d.Zi(k), t.want_min + (k - 1) * step) << k;
    // Centring relabels the nodes only: the field stays at its indices.
    if (t.e.kz == 0) {
      for (int k = 1; k <= 5; ++k) EXPECT_EQ(d.Ez(2, 2, k), exported(2, 2, 2, k));
    }
    // x and y are never centred.
    EXPECT_EQ(d.Ximin, 0.0);
    EXPECT_EQ(d.Xi(1), 0.0);
    EXPECT_EQ(d.Xi(3), 2.0);
  }
}

TEST(SymmetryCompletion, CodeRecordShowsThePlainInteger) {
  // The exported z range is already symmetric or mirrored: no centring record.
  const struct {
    Export e;
    std::string digits;
  } cases[] = {
      {{}, blanks(11) + "0"},
      {{.kz = 1, .zmin = 0}, blanks(11) + "1"},
      {{.ky = 1, .kz = 2, .zmin = 0}, blanks(10) + "12"},
      {{.kx = 1, .kz = 2, .zmin = 0}, blanks(9) + "102"},
      {{.kx = 2, .ky = 2, .kz = 2, .zmin = 0}, blanks(9) + "222"},
  };
  for (const auto& t : cases) {
    RunData d = make_export(t.e);
    EXPECT_EQ(complete(d), "  Input symmetry code: isym= " + t.digits + "\r\n");
  }
}

TEST(SymmetryCompletion, LargestExportsFillTheLargestGrid) {
  // Unit steps from 0 on the mirrored axes, so that every node coordinate is exact.
  const Export cases[] = {
      {.kx = 1, .nx = 13, .xmax = 12},
      {.ky = 2, .ny = 13, .ymax = 12},
      {.kx = 2, .ky = 1, .nx = 13, .ny = 13, .xmax = 12, .ymax = 12},
      {.kz = 1, .nz = 4001, .zmin = 0, .zmax = 4000},
  };
  for (const Export& t : cases) {
    RunData d = make_export(t);
    complete(d);
    SCOPED_TRACE(std::to_string(t.nx) + "x" + std::to_string(t.ny) + "x" + std::to_string(t.nz));
    const int mx = t.kx ? 2 * t.nx - 1 : t.nx, my = t.ky ? 2 * t.ny - 1 : t.ny, mz = t.kz ? 2 * t.nz - 1 : t.nz;
    EXPECT_EQ(d.Nix, mx);
    EXPECT_EQ(d.Niy, my);
    EXPECT_EQ(d.Niz, mz);
    EXPECT_LE(mx, kMaxNxy);
    EXPECT_LE(my, kMaxNxy);
    EXPECT_LE(mz, kMaxNz);
    ASSERT_EQ(d.Xi.size(), mx);
    ASSERT_EQ(d.Yi.size(), my);
    ASSERT_EQ(d.Zi.size(), mz);
    // The plane node lies at 0.
    if (t.kx) {
      EXPECT_EQ(d.Xi(1), -(t.nx - 1.0));
      EXPECT_EQ(d.Xi(t.nx), 0.0);
      EXPECT_EQ(d.Xi(mx), t.nx - 1.0);
    }
    if (t.ky) {
      EXPECT_EQ(d.Yi(t.ny), 0.0);
    }
    if (t.kz) {
      EXPECT_EQ(d.Zi(1), -(t.nz - 1.0));
      EXPECT_EQ(d.Zi(t.nz), 0.0);
      EXPECT_EQ(d.Zi(mz), t.nz - 1.0);
    }
    // The far corners come from the last exported node.
    EXPECT_EQ(full(d, 1, mx, my, mz), exported(1, t.nx, t.ny, t.nz));
    EXPECT_EQ(std::abs(full(d, 1, 1, 1, 1)), exported(1, t.kx ? t.nx : 1, t.ky ? t.ny : 1, t.kz ? t.nz : 1));
    // Only the exported nodes are stored.
    EXPECT_EQ(d.Ex.size(), static_cast<std::size_t>(t.nx) * t.ny * t.nz);
  }
}

}  // namespace
}  // namespace wk
