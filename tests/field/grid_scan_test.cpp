// The case tables below are laid out by hand, one case a line.
// clang-format off
// The grid scan of the E export: the log block, and the exports it refuses.
// Loop orders and line forms are tested with the reading pass.
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "field/field.hpp"
#include "field/field_fixture.hpp"

namespace wk::test {
namespace {

std::string coords_only(const Node&) { return ""; }

std::string grid_text(int nx, int ny, int nz) {
  TestGrid g;
  g.n[0] = nx;
  g.n[1] = ny;
  g.n[2] = nz;
  return join(export_lines(g, 123, coords_only));
}

TEST(GridScan, WorkedExampleGivesItsLogBlock) {
  FieldRun run;
  run.d.scale = 0.1;
  run.write_exports(grid_text(2, 3, 4), "");
  scan_input_grid(run.d, run.log, run.exports());
  // Doubles in 24 columns, integers in 12; the third double of a grid line
  // does not fit after the 27 columns of the text and two doubles.
  const std::string& zero = test::kListZero;
  const std::string r0_1 = "  0.100000000000000     ";
  const std::string expected = crlf_lines({
      "  Input Grid parameters ",
      "  Ximin, Ximax, dXi, Nix = " + zero + r0_1,
      r0_1 + "           2",
      "  Yimin, Yimax, dYi, Niy = " + zero + "  0.400000000000000     ",
      "  0.200000000000000                3",
      "  Zimin, Zimax, dZi, Niz = " + zero + "   1.50000000000000     ",
      "  0.500000000000000                4",
      "  iord=          123",
      "  ------------------------------ ",
  });
  EXPECT_EQ(run.log_text(), expected);
}

TEST(GridScan, DecreasingCoordinatesAreReportedThenRefused) {
  // They would give a full grid whose first node lies above its last, and a
  // map that is zero everywhere.
  TestGrid g;
  g.n[0] = 3;
  g.first[0] = 2;
  g.step[0] = -1;
  FieldRun run;
  run.d.scale = 2.0;
  run.d.isymX = 0;
  run.write_exports(join(export_lines(g, 312, coords_only)), "");
  EXPECT_RUN_ERROR(scan_input_grid(run.d, run.log, run.exports()), kExitStop,
                   "E export efield.txt: its x coordinates decrease (from 2 on line 1 to 0 on the last line); the "
                   "converter needs coordinates that increase along every axis");
  EXPECT_EQ(run.d.iord, 312);
  EXPECT_EQ(run.d.Ximin, 4.0);
  EXPECT_EQ(run.d.Ximax, 0.0);
  EXPECT_EQ(run.d.dXi, -2.0);
}

TEST(GridScan, MirroredAxisMustStartOnItsPlane) {
  TestGrid g;
  g.n[0] = 3;
  g.first[0] = 0.5;
  g.step[0] = 0.75;
  FieldRun run;
  run.d.isymX = 1;
  run.d.isymY = 0;
  run.d.isymZ = 0;
  run.write_exports(join(export_lines(g, 123, coords_only)), "");
  EXPECT_RUN_ERROR(scan_input_grid(run.d, run.log, run.exports()), kExitStop,
                   "E export efield.txt: with the symmetry key 1 of the x axis (control file line 5) its first node "
                   "must lie on the plane x = 0, but lies at 0.5 (grid step 0.75)");
  // Without a mirror on x the same export is fine.
  FieldRun plain;
  plain.d.isymX = 0;
  plain.d.isymY = 0;
  plain.d.isymZ = 0;
  plain.write_exports(join(export_lines(g, 123, coords_only)), "");
  scan_input_grid(plain.d, plain.log, plain.exports());
  EXPECT_EQ(plain.d.Nix, 3);
}

TEST(GridScan, GridsAtTheSizeLimitsPass) {
  const int cases[][6] = {
      // nx, ny, nz, symmetry keys
      {13, 3, 3, 1, 0, 0}, {25, 3, 3, 0, 0, 0}, {3, 13, 3, 0, 2, 0},
      {2, 2, 4001, 1, 1, 2}, {2, 2, 8001, 1, 1, 0}, {2, 3, 3, 2, 0, 0},
  };
  for (const auto& c : cases) {
    FieldRun run;
    run.d.isymX = c[3];
    run.d.isymY = c[4];
    run.d.isymZ = c[5];
    run.write_exports(grid_text(c[0], c[1], c[2]), "");
    scan_input_grid(run.d, run.log, run.exports());
    EXPECT_EQ((Node{run.d.Nix, run.d.Niy, run.d.Niz}), (Node{c[0], c[1], c[2]}));
  }
}

TEST(GridScan, UnusableGridsAreRefusedAfterTheLogBlock) {
  const std::string example = grid_text(2, 3, 4);
  struct Case {
    std::string text;
    int keys[3];
    double scale;
    std::string message, log_part;
  };
  const Case cases[] = {
      {"2 4 6\n2 4 6\n1 4 6\n", {1, 1, 0}, 0.5,
       "E export efield.txt: lines 1 and 2 have the same coordinates (2, 4, 6), so the order of its points cannot "
       "be found",
       // iord, counts and steps stay 0; the ranges are lines 1 and 2.
       "  Ximin, Ximax, dXi, Nix =    1.00000000000000        1.00000000000000     \r\n"
       "  0.000000000000000E+000           0\r\n"},
      {example.substr(0, example.size() - 7), {1, 1, 0}, 1,
       "E export efield.txt: 23 data lines are not a whole number of planes of 6 points (3 rows of 2 points along "
       "x); the export is truncated or has extra lines",
       "  iord=          123\r\n"},
      {example + "0 0 20\n", {1, 1, 0}, 1, "E export efield.txt: 25 data lines are not", ""},
      {"0 0 0\n1 0 0\n0 2 0\n1 2 0\n2 2 0\n0 0 5\n", {1, 1, 0}, 1,
       "E export efield.txt: its first plane (lines 1 to 5) holds 5 points, not a whole number of rows of 2 points "
       "along x; the points do not form a regular grid",
       ""},
      {grid_text(26, 3, 3), {0, 0, 0}, 1,
       "E export efield.txt: its grid of 26 x 3 x 3 points is larger than the largest KAVEN grid of 25 x 25 x 8001",
       "          26\r\n"},
      {grid_text(2, 2, 8002), {1, 1, 0}, 1, "its grid of 2 x 2 x 8002 points is larger", ""},
      {grid_text(14, 3, 3), {1, 1, 0}, 1,
       "E export efield.txt: with the symmetry keys 1 1 0 (control file line 5) its grid of 14 x 3 x 3 points "
       "completes to a full grid of 27 x 5 x 3 nodes, larger than the largest KAVEN grid of 25 x 25 x 8001 (a "
       "mirrored x or y axis admits at most 13 input nodes, a mirrored z axis 4001)",
       ""},
      {grid_text(2, 2, 4002), {1, 1, 1}, 1, "completes to a full grid of 3 x 3 x 8003 nodes", ""},
      {example, {0, 1, 0}, 1,
       "E export efield.txt: with the symmetry keys 0 1 0 (control file line 5) the full grid has 2 nodes along x "
       "(2 in the export); every axis needs at least 3 nodes",
       ""},
      {grid_text(3, 2, 3), {0, 0, 0}, 1, "the full grid has 2 nodes along y", ""},
      {example, {1, 1, 0}, 0, "the scale factor 0 (control file line 13) must be a finite number other than 0", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    FieldRun run;
    run.d.isymX = c.keys[0];
    run.d.isymY = c.keys[1];
    run.d.isymZ = c.keys[2];
    run.d.scale = c.scale;
    run.write_exports(c.text, "");
    EXPECT_RUN_ERROR(scan_input_grid(run.d, run.log, run.exports()), kExitStop, c.message);
    const std::string log = run.log_text();
    EXPECT_EQ(log.rfind("  Input Grid parameters \r\n", 0), 0u) << log;
    EXPECT_NE(log.find("  ------------------------------ \r\n"), std::string::npos) << log;
    EXPECT_NE(log.find(c.log_part), std::string::npos) << log;
  }
}

TEST(GridScan, ExportsEndingBeforeEveryAxisChangedAreFileErrors) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "unit 2 (efield.txt): unexpected end of file after line 0: the export holds no point"},
      {"0 0 0 1 2 3\n", "unexpected end of file after line 1: the export holds a single point"},
      {"0 0 0\n1 0 0\n2 0 0\n",
       "unexpected end of file after line 3: y and z never change, so the grid has a single point along them"},
      {grid_text(2, 3, 1), "after line 6: z never changes, so the grid has a single point along it"},
      {"0 0 0\n1 0 0\n2 zero 0\n", "unit 2 (efield.txt), line 3: \"zero\" is not a real number"},
      {"0 0 0\n1 0 0\n0 1 0\n1 1 z=0\n", "line 4: \"z=0\" is not a real number"},
  };
  for (const auto& [text, message] : cases) {
    FieldRun run;
    run.write_exports(text, "");
    EXPECT_RUN_ERROR(scan_input_grid(run.d, run.log, run.exports()), kExitFileError, message);
  }
  FieldRun run;
  EXPECT_RUN_ERROR(scan_input_grid(run.d, run.log, run.exports()), kExitFileError, "unit 2 (efield.txt): file not found");
}

// A long export: 5 x 5 x 8001 points, x fastest, z slowest, 200025 lines of
// about 33 bytes. The scan counts the second half of a file this long on a
// second thread; whatever the lines hold, the count and the last point must
// be those of a reader that takes one point after the other, each read
// starting on a new line and going on into the next while numbers are
// missing, until a read fails.
struct LongExport {
  static constexpr int kPlane = 25;
  static constexpr int kLines = kPlane * 8001;
  std::vector<std::string> lines;
  LongExport() {
    for (int k = 0; k < 8001; ++k) {
      for (int j = 0; j < 5; ++j) {
        for (int i = 0; i < 5; ++i) lines.push_back(point(i, j, k) + " 1.2345678901E+02 -2.5");
      }
    }
  }
  // The coordinates of line n (0-based) as written.
  static std::string point(int i, int j, int k) {
    return std::to_string(i) + " " + std::to_string(j) + " " + num(0.5 * k);
  }
  static std::array<double, 3> coords(int n) {
    return {static_cast<double>(n % 5), static_cast<double>(n / 5 % 5), 0.5 * (n / kPlane)};
  }
};

TEST(GridScan, LongExportCountsAsOneReaderFromStartToEnd) {
  using Lines = std::vector<std::string>;
  // Points first .. last written over two lines each: "x y" and "z ...",
  // the first line led by `lead` blanks.
  const auto split = [](Lines& l, int first, int last, std::size_t lead = 0) {
    Lines out;
    out.reserve(l.size() + static_cast<std::size_t>(last - first + 1));
    for (int n = 0; n < static_cast<int>(l.size()); ++n) {
      const std::string& whole = l[static_cast<std::size_t>(n)];
      if (n < first || n > last) {
        out.push_back(whole);
        continue;
      }
      const std::size_t second_blank = whole.find(' ', whole.find(' ') + 1);
      out.push_back(std::string(lead, ' ') + whole.substr(0, second_blank));
      out.push_back(whole.substr(second_blank + 1));
    }
    l.swap(out);
  };
  const int L = LongExport::kLines;
  const struct {
    const char* what;
    std::function<void(Lines&)> change;
    const char* line_end;
    long points;     // points read in all; 0: refused for a point after a footer
    int last_point;  // the line (0-based, of the export as first written) of the last point
  } cases[] = {
      {"as written", [](Lines&) {}, "\n", L, L - 1},
      {"footer in the second half", [](Lines& l) { l.resize(150001); l[150000] = "end of data"; }, "\n", 150000,
       149999},
      {"footer in the first half", [](Lines& l) { l.resize(60002); l[60000] = "end of"; l[60001] = "data"; }, "\n",
       60000, 59999},
      // A point after a footer, found from each place where the count can end.
      {"line 150002: a point follows line 150001", [](Lines& l) { l[150000] = "end of data"; }, "\n", 0, 0},
      {"line 60002: a point follows line 60001", [](Lines& l) { l[60000] = "end of data"; }, "\n", 0, 0},
      {"line 190003: a point follows line 190001",
       [](Lines& l) {
         l[180000] = "0D0 0.0D+00 " + num(0.5 * (180000 / 25)) + "D0 1 2";
         l[190000] = "end of data";
         l[190001] = "";
       },
       "\n", 0, 0},
      {"Fortran exponent late in the file",
       [](Lines& l) { l[180000] = "0D0 0.0D+00 " + num(0.5 * (180000 / 25)) + "D0 1 2"; }, "\n", L, L - 1},
      {"a point over two lines in the second half", [&](Lines& l) { split(l, 170000, 170000); }, "\n", L, L - 1},
      // Wherever the middle falls: between two points (the second thread
      // starts on a point's first line), or between the two lines of one
      // point, most of whose bytes are on its first line.
      {"points over two lines all around the middle", [&](Lines& l) { split(l, 95000, 105000); }, "\n", L, L - 1},
      {"points with a long first line all around the middle", [&](Lines& l) { split(l, 95000, 105000, 60); },
       "\n", L, L - 1},
      {"an empty line before a point", [](Lines& l) { l.insert(l.begin() + 120001, ""); }, "\n", L, L - 1},
      {"CR LF line ends and a last empty line", [](Lines& l) { l.push_back(""); }, "\r\n", L, L - 1},
      {"a last line of two numbers", [](Lines& l) { l.back() = "1 2"; }, "\n", L - 1, L - 2},
  };
  const LongExport base;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Lines lines = base.lines;
    c.change(lines);
    std::string text;
    for (const std::string& l : lines) text += l + c.line_end;
    FieldRun run;
    run.d.isymX = run.d.isymY = run.d.isymZ = 0;
    run.write_exports(text, "");
    const auto scan = [&] { scan_input_grid(run.d, run.log, run.exports()); };
    if (c.points == 0) {
      EXPECT_RUN_ERROR(scan(), kExitStop, c.what);
      continue;
    }
    if (c.points % LongExport::kPlane == 0) {
      scan();
      EXPECT_EQ(run.d.Niz, c.points / LongExport::kPlane);
    } else {
      EXPECT_RUN_ERROR(scan(), kExitStop,
                       "the " + std::to_string(c.points) + " points before it are not a whole number of planes of 25 "
                       "points");
    }
    const std::array<double, 3> last = LongExport::coords(c.last_point);
    EXPECT_EQ(run.d.Ximax, last[0]);
    EXPECT_EQ(run.d.Yimax, last[1]);
    EXPECT_EQ(run.d.Zimax, last[2]);
    EXPECT_EQ(run.d.iord, 123);
    EXPECT_EQ(run.d.Nix, 5);
    EXPECT_EQ(run.d.Niy, 5);
  }
}

}  // namespace
}  // namespace wk::test
