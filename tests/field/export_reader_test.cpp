// The scan and the reading pass of the E and H exports together: where each
// value lands in every loop order, layout and line form, the largest |Ez|,
// and the faults of damaged exports, reported as a reader taking one E line
// and then one H line would meet them.
#include "field/field.hpp"
#include "field/field_fixture.hpp"

#include <tuple>

namespace wk::test {
namespace {

constexpr int kH = 9;  // component numbers of the test field: E 0..8, H 9..17

// Replaces number `column` (0-based) of a line of single-blank-separated numbers.
void set_token(std::string& line, int column, const std::string& word) {
  std::size_t start = 0;
  for (int c = 0; c < column; ++c) start = line.find(' ', start) + 1;
  const std::size_t end = line.find(' ', start);
  line.replace(start, end == std::string::npos ? end : end - start, word);
}

// The log written when the E export starts with `text`, and icplx.
std::pair<std::string, int> layout_log(const std::string& text) {
  FieldRun run;
  write_file(run.dir.path() / run.d.Efile, text);
  choose_line_layout(run.d, run.log, run.exports());
  return {run.log_text(), run.d.icplx};
}

TEST(FirstDataLine, NineValuesSelectRealAndImaginaryParts) {
  const std::string nine = crlf_lines({
      "  0.000000000000000E+000  0.000000000000000E+000  -5.00000000000000     ",
      "   1.00000000000000        2.00000000000000        3.00000000000000     ",
      "   4.00000000000000        5.00000000000000        6.00000000000000     ",
      "  Reading real & imaginary field components ...",
  });
  // Nine values of 20 characters: the ninth starts far beyond column 132.
  std::string long_line;
  for (int n = 0; n < 9; ++n) long_line += " 1.2345678901234567e+00";
  const struct {
    std::string text;
    int icplx;
    std::string log;  // empty: only icplx is checked
  } cases[] = {
      {"0.0 0.0 -5.0 1 2 3 4 5 6\n", 1, nine},
      // Blank lines before the first data line do not decide.
      {"\n \t\n0.0 0.0 -5.0 1 2 3 4 5 6\n", 1, nine},
      {"0.0 0.0 -5.0 1 2 3\n0 0 1 0 0 0 0 0 0\n", 0, "  Reading real field components only ...\r\n"},
      {long_line + "\n", 1, ""},
  };
  for (const auto& c : cases) {
    const auto [log, icplx] = layout_log(c.text);
    EXPECT_EQ(icplx, c.icplx) << c.text;
    if (!c.log.empty()) {
      EXPECT_EQ(log, c.log) << c.text;
    }
  }
  EXPECT_RUN_ERROR(layout_log("0 0 0 1 2 x 4 5 6\n"), kExitFileError,
                   "unit 2 (efield.txt), line 1: \"x\" is not a real number");
}

TEST(FieldInput, EveryLoopOrderLayoutAndLineFormFillsTheSameNodes) {
  using Form = std::string (*)(std::string);
  const std::pair<const char*, Form> forms[] = {
      {"plain", [](std::string t) { return t; }},
      {"byte-order mark, tabs, CR LF",
       [](std::string t) { return "\xEF\xBB\xBF" + replace_all(replace_all(t, " ", "\t"), "\n", " \r\n"); }},
      {"commas", [](std::string t) { return replace_all(t, " ", " , "); }},
      {"D exponents", [](std::string t) { return replace_all(replace_all(t, " ", "D0 "), "\n", "D+00\n"); }},
      {"a remark after the values", [](std::string t) { return replace_all(t, "\n", "   remark 7\n"); }},
      {"a footer", [](std::string t) { return t + "End of field export\n24 points\n"; }},
  };
  const TestGrid g;
  for (const int icplx : {0, 1}) {
    const int values = icplx == 1 ? 9 : 6;
    for (const int iord : kLoopOrders) {
      for (const auto& [name, form] : forms) {
        SCOPED_TRACE(std::to_string(icplx) + " " + std::to_string(iord) + " " + name);
        FieldRun run;
        run.d.icplx = icplx;
        run.d.scale = 0.1;
        run.write_exports(
            form(join(export_lines(g, iord, [&](const Node& n) { return field_values(n, values); }))),
            form(join(export_lines(g, iord, [&](const Node& n) { return field_values(n, values, kH); }))));
        scan_input_grid(run.d, run.log, run.exports());
        const RunData& d = run.d;
        EXPECT_EQ(d.iord, iord);
        const double records[] = {d.Ximin, d.Ximax, d.dXi, d.Yimin, d.Yimax, d.dYi, d.Zimin, d.Zimax, d.dZi};
        const double expected[] = {0, 1 * 0.1, 1 * 0.1, 0, 4 * 0.1, 2 * 0.1, 0, 15 * 0.1, 5 * 0.1};
        for (int r = 0; r < 9; ++r) EXPECT_EQ(records[r], expected[r]) << r;
        ASSERT_EQ(d.Nix * 100 + d.Niy * 10 + d.Niz, 234);

        read_exports(run.d, run.exports());
        // E's real parts; H's imaginary parts (its components 3..5) when the
        // lines carry both.
        const int h_first = icplx == 1 ? kH + 3 : kH;
        for (const Node& n : visit_order(123, g)) {
          const double got[] = {d.Exi(n[0], n[1], n[2]), d.Eyi(n[0], n[1], n[2]), d.Ezi(n[0], n[1], n[2]),
                                d.Hxi(n[0], n[1], n[2]), d.Hyi(n[0], n[1], n[2]), d.Hzi(n[0], n[1], n[2])};
          for (int c = 0; c < 6; ++c) ASSERT_EQ(got[c], field_value(n, c < 3 ? c : h_first + c - 3)) << c;
        }
        EXPECT_EQ(d.Ez_max_read, 3000.0 + 200 + 30 + 4);
      }
    }
  }
}

TEST(FieldInput, LargestEzIsTheLargestMagnitudeOfTheRealPart) {
  struct Case {
    int icplx;
    std::vector<std::tuple<int, int, std::string>> values;  // line, column (5 for Ez), value as written
    double expected;
  };
  const Case cases[] = {
      {0, {{1, 5, "-5"}, {2, 5, "3"}, {3, 5, "4"}}, 5},
      {0, {{24, 5, "4.5"}, {1, 5, "-4.25"}}, 4.5},
      {0, {}, 0},
      {0, {{7, 5, "-0.0"}}, 0},
      {1, {{1, 5, "1"}, {2, 5, "-2"}, {3, 8, "-9"}}, 2},  // EzIm does not count
  };
  for (const Case& c : cases) {
    // Ex and the last H component 1 everywhere: neither field is missing.
    std::vector<std::string> lines =
        export_lines(TestGrid{}, 123, [&](const Node&) { return c.icplx ? " 1 0 0 0 0 0" : " 1 0 0"; });
    const std::vector<std::string> h_lines =
        export_lines(TestGrid{}, 123, [&](const Node&) { return c.icplx ? " 0 0 0 0 0 1" : " 0 0 1"; });
    for (const auto& [line, column, v] : c.values) set_token(lines[static_cast<std::size_t>(line - 1)], column, v);
    FieldRun run;
    run.d.icplx = c.icplx;
    run.write_exports(join(lines), join(h_lines));
    scan_input_grid(run.d, run.log, run.exports());
    read_exports(run.d, run.exports());
    EXPECT_EQ(run.d.Ez_max_read, c.expected);
  }
}

TEST(FieldInput, TheFirstFaultInReadingOrderIsReported) {
  // 9000 points, step 0.5 on every axis (a quarter step is 0.125): long
  // enough for a reader to notice the other one's failure.
  TestGrid g;
  g.n[0] = g.n[1] = 3;
  g.n[2] = 1000;
  g.step[0] = g.step[1] = g.step[2] = 0.5;
  using Edit = void (*)(std::vector<std::string>&);
  const Edit none = [](std::vector<std::string>&) {};
  struct Case {
    int icplx;
    Edit e, h;
    int status;
    std::string message;
  };
  const Case cases[] = {
      {0, [](auto& l) { set_token(l[49], 4, "2.0x"); }, none, kExitFileError,
       "unit 2 (efield.txt), line 50: \"2.0x\" is not a real number"},
      {0, none, [](auto& l) { set_token(l[8998], 5, "Hz"); }, kExitFileError, "unit 3 (hfield.txt), line 8999: \"Hz\""},
      {0, [](auto& l) { l.resize(7000); }, none, kExitFileError,
       "unit 2 (efield.txt): unexpected end of file after line 7000"},
      {0, none, [](auto& l) { l.resize(6000); }, kExitFileError,
       "unit 3 (hfield.txt): unexpected end of file after line 6000"},
      // Two faults: the earlier line wins, E wins a tie.
      {0, [](auto& l) { set_token(l[8499], 3, "?"); }, [](auto& l) { set_token(l[99], 3, "?"); }, kExitFileError,
       "unit 3 (hfield.txt), line 100:"},
      {0, [](auto& l) { set_token(l[99], 3, "?"); }, [](auto& l) { set_token(l[8499], 3, "?"); }, kExitFileError,
       "unit 2 (efield.txt), line 100:"},
      {0, [](auto& l) { set_token(l[4999], 3, "?"); }, [](auto& l) { set_token(l[4999], 3, "?"); }, kExitFileError,
       "unit 2 (efield.txt), line 5000:"},
      {0, [](auto& l) { l.resize(7000); }, [](auto& l) { set_token(l[7000], 3, "?"); }, kExitFileError,
       "unit 2 (efield.txt): unexpected end of file after line 7000"},
      // H's lines are long, so E meets its fault at line 8000 well before H
      // reaches line 6000: H must still read on to its own, earlier fault.
      {0, [](auto& l) { set_token(l[7999], 3, "?"); },
       [](auto& l) {
         for (auto& line : l) line += " " + std::string(2000, 'r');
         set_token(l[5999], 3, "?");
       },
       kExitFileError, "unit 3 (hfield.txt), line 6000:"},
      // Values that are not finite, in any column read.
      {0, [](auto& l) { set_token(l[3000], 3, "?"); }, [](auto& l) { set_token(l[2998], 4, "NaN"); }, kExitStop,
       "H export hfield.txt, line 2999: the value of Hy is nan; the export holds a field that is not finite"},
      {0, none, [](auto& l) { set_token(l[23], 5, "-Infinity"); }, kExitStop,
       "H export hfield.txt, line 24: the value of Hz is -inf"},
      {1, none, [](auto& l) { set_token(l[1], 8, "Infinity"); }, kExitStop,
       "H export hfield.txt, line 2: the value of HzIm is inf"},
      {1, [](auto& l) { set_token(l[8], 6, "nan"); }, none, kExitStop,
       "E export efield.txt, line 9: the value of ExIm is nan"},
      // Points off the grid: line 30 is node (3, 1, 4) at (1, 0, 1.5). The
      // rest of the message is typed in the end-to-end test of bad exports.
      {0, [](auto& l) { set_token(l[29], 0, "1.2"); }, [](auto& l) { set_token(l[8999], 3, "?"); }, kExitStop,
       "E export efield.txt, line 30: its x coordinate 1.2 lies 0.4 grid steps from its node at 1 (node (3, 1, 4) "
       "in the loop order of the export, grid step 0.5); a coordinate may lie off the uniform grid by what the "
       "printed digits cannot resolve and 1e-3 of a step, here 0.101 steps"},
      {0, [](auto& l) { set_token(l[29], 2, "1.65"); }, none, kExitStop, "line 30: its z coordinate 1.65 lies 0.3"},
      {0, [](auto& l) { l.insert(l.begin() + 5, l[4]); }, none, kExitStop,
       "E export efield.txt, line 6: its x coordinate 0.5 lies 1 grid steps from its node at 1 (node (3, 2, 1)"},
      {0, [](auto& l) { l.erase(l.begin() + 9); }, none, kExitStop,
       "E export efield.txt, line 10: its x coordinate 0.5 lies 1 grid steps from its node at 0"},
      {0, none, [](auto& l) { std::swap(l[2], l[3]); }, kExitStop,
       "H export hfield.txt, line 3: the point (0, 0.5, 0) is off the input grid"},
      // A line of one number more (a blank inside a number) or one less.
      {0, none, [](auto& l) { set_token(l[6999], 4, "1.5 7"); }, kExitStop,
       "H export hfield.txt, line 7000: the line holds 10 numbers, its first data line (line 1) 9; every data line "
       "must hold as many"},
      {1, [](auto& l) { set_token(l[3], 8, ""); }, none, kExitStop,
       "E export efield.txt, line 4: the line holds 11 numbers, its first data line (line 1) 12"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    const int values = c.icplx == 1 ? 9 : 6;
    std::vector<std::string> e = export_lines(g, 123, [&](const Node& n) { return field_values(n, values); });
    std::vector<std::string> h = export_lines(g, 123, [&](const Node& n) { return field_values(n, values, kH); });
    c.e(e);
    c.h(h);
    FieldRun run;
    run.d.icplx = c.icplx;
    // What the scan finds for g.
    run.d.iord = 123;
    run.d.Nix = run.d.Niy = 3;
    run.d.Niz = 1000;
    run.write_exports(join(e), join(h));
    run.exports().scanned = {{0, 0, 0}, {1, 1, 499.5}};
    EXPECT_RUN_ERROR(read_exports(run.d, run.exports()), c.status, c.message);
  }
  FieldRun run;
  run.write_exports("0 0 0 1 2 3\n", "");
  std::filesystem::remove(run.d.Hfile);
  EXPECT_RUN_ERROR(read_exports(run.d, run.exports()), kExitFileError, "unit 3 (hfield.txt): file not found");
}

TEST(FieldInput, SixDigitCoordinatesOnTheLongestGridPass) {
  // z from 1 to 2 in 8000 steps of 1.25e-4, written with six significant
  // digits: line 5 says 1.00012, a first step 4% short that would put the
  // last node 320 steps before the end of the range.
  TestGrid g;
  g.n[0] = g.n[1] = 2;
  g.n[2] = 8001;
  g.first[2] = 1;
  g.step[0] = g.step[1] = 0.1;
  g.step[2] = 1.0 / 8000;
  std::string e, h;
  char coords[64];
  for (const Node& n : visit_order(123, g)) {
    std::snprintf(coords, sizeof coords, "%.6g %.6g %.6g", g.coord(0, n[0]), g.coord(1, n[1]), g.coord(2, n[2]));
    e += coords + field_values(n, 3) + "\n";
    h += coords + field_values(n, 3, kH) + "\n";
  }
  FieldRun run;
  run.d.scale = 10.0;
  run.write_exports(e, h);
  scan_input_grid(run.d, run.log, run.exports());
  EXPECT_EQ(run.d.Niz, 8001);
  EXPECT_NE(run.d.dZi, 10.0 / 8000);  // the first difference, reported as found
  read_exports(run.d, run.exports());
  EXPECT_EQ(run.d.Ezi(2, 2, 8001), field_value(Node{2, 2, 8001}, 2));
  EXPECT_EQ(run.d.Hzi(1, 2, 4000), field_value(Node{1, 2, 4000}, kH + 2));
}

}  // namespace
}  // namespace wk::test
