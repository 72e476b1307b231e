// Bad inputs through the real executable, each in a temporary folder: the
// exit status, the one stderr line, the log left behind, and that an earlier
// field map survives every failed run byte for byte with no temporary left.
//
// The base case is a quarter structure (keys 1 1 0) of 3 x 3 x 3 points,
// x, y, z in {0, 1, 2}, z fastest, with Ez = 2 V/m, H = (-y, x, 0) A/m
// (circulating about the axis) and every other component 0, converted onto
// an output grid inside its full grid: it converts normally and without a
// warning, so each case below fails for its one defect.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "support/test_support.hpp"

namespace wk {
namespace {

namespace fs = std::filesystem;
using test::Control;
using test::crlf_lines;
using test::join;
using test::kEarlierMap;
using test::kLog;
using test::kMap;
using test::read_file;
using test::replace_all;
using test::run_converter;
using test::TempDir;
using test::write_file;

// The lines of the base E export, or of the H export; complex exports carry
// E's real parts then 0 0 0, and H's field as imaginary parts after 0 0 0.
std::vector<std::string> base_lines(bool complex, char field = 'E') {
  return test::small_export_lines(0, [&](int x, int y, int) {
    const std::string values = field == 'E' ? " 0 0 2" : " " + std::to_string(-y) + " " + std::to_string(x) + " 0";
    return (complex && field == 'H' ? " 0 0 0" : "") + values + (complex && field == 'E' ? " 0 0 0" : "");
  });
}

// stderr without the warning about the scale of E against B: the base case's
// B is some 4000 times what the displacement current of its Ez makes it.
std::string without_scale_warning(std::string err) {
  const std::string head = "wavecalc_to_kaven: warning: the Maxwell check's mean ratio avg_rRL1 = ";
  const std::size_t at = err.find(head);
  if (at != std::string::npos && (at == 0 || err[at - 1] == '\n')) err.erase(at, err.find('\n', at) + 1 - at);
  return err;
}

// The base control file: z over the full grid's 2 cm (elen 2), x and y from
// 0 to the 1 cm aperture.
Control base_control() {
  Control c;
  c.elen = "2.0";
  return c;
}

// Writes the base case (control file and both exports) into dir.
void write_base_case(const fs::path& dir, bool complex = false) {
  write_file(dir / "wavecalc_to_kaven.dat", base_control().text());
  write_file(dir / "efield.txt", join(base_lines(complex)));
  write_file(dir / "hfield.txt", join(base_lines(complex, 'H')));
}

// The names in dir, sorted.
std::set<std::string> names_in(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Log blocks of the base case, typed from the list-write layout.
const std::string kZero = test::kListZero, kOne = test::list_whole(1), kTwo = test::list_whole(2),
                  kThree = test::list_int(3);
const std::string kRealOnly = crlf_lines({"  Reading real field components only ..."});
const std::string kGridBlock = crlf_lines({
    "  Input Grid parameters ",
    "  Ximin, Ximax, dXi, Nix = " + kZero + kTwo,
    kOne + kThree,
    "  Yimin, Yimax, dYi, Niy = " + kZero + kTwo,
    kOne + kThree,
    "  Zimin, Zimax, dZi, Niz = " + kZero + kTwo,
    kOne + kThree,
    "  iord=          321",
    "  ------------------------------ ",
});
// The log of a run that failed in the reading pass of a real-only export.
const std::string kLogToGridBlock = test::constants_log_block_1_3GHz() + kRealOnly + kGridBlock;

// A quarter of the grid step of the base case, as the refusals print it.
const std::string kQuarterStep = "(0.25, 0.25, 0.25)";

struct BadCase {
  std::string name;
  std::function<void(const fs::path&)> make;  // writes the case into the folder
  int status;
  std::string err;  // the stderr line: a stop message as printed, other messages without the program name
  std::string log;  // the whole log left behind; "*" when another test types it
};

// Writes the base case changed by `make` into dir, over an earlier field map.
void write_case_over_earlier_map(const fs::path& dir, const std::function<void(const fs::path&)>& make) {
  write_base_case(dir);
  make(dir);
  write_file(dir / kMap, kEarlierMap);
}

// Runs each case over an earlier field map: the run must fail as stated and
// leave the map as it was, with nothing else added to the folder but the log.
void expect_failures(const std::vector<BadCase>& cases) {
  for (const BadCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    write_case_over_earlier_map(dir.path(), c.make);
    std::set<std::string> before = names_in(dir.path());
    before.insert(kLog);

    // A run that hangs (on a FIFO, a device) fails the case instead.
    const auto r = run_converter(dir.path(), "timeout 60");
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, "");
    const std::string prefix = c.err.front() == ' ' ? "" : "wavecalc_to_kaven: ";
    EXPECT_EQ(r.err, prefix + c.err + "\n");
    if (c.log != "*") {
      EXPECT_EQ(read_file(dir / kLog), c.log);
    }
    EXPECT_TRUE(read_file(dir / kMap) == kEarlierMap) << "the earlier map was changed";
    EXPECT_EQ(names_in(dir.path()), before);
  }
}

// Replaces line n (1-based) of an export file.
void edit_line(const fs::path& file, int n, const std::function<void(std::vector<std::string>&, int)>& edit) {
  std::vector<std::string> lines = test::lines_of(read_file(file));
  edit(lines, n - 1);
  write_file(file, join(lines));
}

void set_line(const fs::path& file, int n, const std::string& line) {
  edit_line(file, n, [&](std::vector<std::string>& l, int i) { l[static_cast<std::size_t>(i)] = line; });
}

// ---------------------------------------------------------------------------

TEST(BadInputE2E, EmptyAndMissingFiles) {
  expect_failures({
      {"empty control file", [](const fs::path& d) { write_file(d / "wavecalc_to_kaven.dat", ""); }, 2,
       "unit 1 (wavecalc_to_kaven.dat): unexpected end of file after line 0", ""},
      // The first-line check finds no nine values and the scan no point.
      {"empty E export", [](const fs::path& d) { write_file(d / "efield.txt", ""); }, 2,
       "unit 2 (efield.txt): unexpected end of file after line 0: the export holds no point",
       test::constants_log_block_1_3GHz() + kRealOnly},
      {"empty H export", [](const fs::path& d) { write_file(d / "hfield.txt", ""); }, 2,
       "unit 3 (hfield.txt): unexpected end of file after line 0", kLogToGridBlock},
      {"missing H export", [](const fs::path& d) { fs::remove(d / "hfield.txt"); }, 2,
       "unit 3 (hfield.txt): file not found", kLogToGridBlock},
      {"E export of one line", [](const fs::path& d) { write_file(d / "efield.txt", "0 0 0 0 0 2\n"); }, 2,
       "unit 2 (efield.txt): unexpected end of file after line 1: the export holds a single point; every axis needs "
       "at least two",
       test::constants_log_block_1_3GHz() + kRealOnly},
  });
}

TEST(BadInputE2E, FoldersWhereFilesBelong) {
  expect_failures({
      {"control file is a folder",
       [](const fs::path& d) {
         fs::remove(d / "wavecalc_to_kaven.dat");
         fs::create_directory(d / "wavecalc_to_kaven.dat");
       },
       2, "unit 1 (wavecalc_to_kaven.dat): is a folder, not a file", ""},
      {"E export named by a folder",
       [](const fs::path& d) {
         Control c = base_control();
         c.efile = "exports";
         fs::create_directory(d / "exports");
         write_file(d / "wavecalc_to_kaven.dat", c.text());
       },
       2, "unit 2 (exports): is a folder, not a file", test::constants_log_block_1_3GHz()},
      {"H export named by a folder",
       [](const fs::path& d) {
         fs::remove(d / "hfield.txt");
         fs::create_directory(d / "hfield.txt");
       },
       2, "unit 3 (hfield.txt): is a folder, not a file", kLogToGridBlock},
      // The control file names a path inside a folder that does not exist.
      {"E export in a missing folder",
       [](const fs::path& d) {
         Control c = base_control();
         c.efile = "solver/efield.txt";
         write_file(d / "wavecalc_to_kaven.dat", c.text());
       },
       2, "unit 2 (solver/efield.txt): file not found", test::constants_log_block_1_3GHz()},
  });
}

TEST(BadInputE2E, FolderInPlaceOfTheLogOrTheMap) {
  {
    // Nothing can be logged: the run ends before it reads anything.
    TempDir dir;
    write_base_case(dir.path());
    fs::create_directory(dir / kLog);
    const auto r = run_converter(dir.path());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err,
              "wavecalc_to_kaven: unit 8 (wavecalc_to_kaven.log): is a folder, not a file; the log is written there: "
              "remove or rename it\n");
    EXPECT_TRUE(fs::is_empty(dir / kLog));
  }
  {
    // The map is written to a temporary file; putting it in place fails, the
    // temporary is removed and the folder keeps its content.
    TempDir dir;
    write_base_case(dir.path());
    fs::create_directory(dir / kMap);
    write_file(dir / kMap / "note.txt", "kept\n");
    const auto r = run_converter(dir.path());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "wavecalc_to_kaven: unit 7 (eh_VRQ.#01): cannot replace the file: Is a directory\n");
    EXPECT_EQ(names_in(dir / kMap), std::set<std::string>{"note.txt"});
    EXPECT_EQ(names_in(dir.path()),
              (std::set<std::string>{"wavecalc_to_kaven.dat", "efield.txt", "hfield.txt", kLog, kMap}));
    // The map is put in place after the log is complete: the log holds the
    // file-name line and the summary.
    const std::string log = read_file(dir / kLog);
    EXPECT_NE(log.find(crlf_lines({"  Output field file name = eh_VRQ.#01"})), std::string::npos);
    EXPECT_TRUE(ends_with(log, crlf_lines({"  Field Z limits =   -1.00000000000000        1.00000000000000     "})));
  }
}

TEST(BadInputE2E, BinaryAndOverlongContent) {
  // 50 bytes of an executable's header: one token of control bytes, shown as
  // its first 40 characters with '?' for each unprintable byte.
  std::string binary =
      "\x7f"
      "ELF\x02\x01\x01";
  binary += std::string(43, '\0');
  binary += "\n\xff\xfe\n";
  const std::string shown = "\"?ELF" + std::string(36, '?') + "...\"";
  // A megabyte of digits glued to a number: too long to be one, and cut in
  // the message.
  const std::string long_token = "1" + std::string(1 << 20, '0') + "x";
  expect_failures({
      {"binary E export", [&](const fs::path& d) { write_file(d / "efield.txt", binary); }, 2,
       "unit 2 (efield.txt), line 1: " + shown + " is not a real number", test::constants_log_block_1_3GHz()},
      {"binary H export", [&](const fs::path& d) { write_file(d / "hfield.txt", binary); }, 2,
       "unit 3 (hfield.txt), line 1: " + shown + " is not a real number", kLogToGridBlock},
      {"binary control file", [&](const fs::path& d) { write_file(d / "wavecalc_to_kaven.dat", binary); }, 2,
       "unit 1 (wavecalc_to_kaven.dat): unexpected end of file after line 2", ""},
      {"megabyte token in the H export",
       [&](const fs::path& d) { set_line(d / "hfield.txt", 20, "2 0 1 0 " + long_token + " 2"); }, 2,
       "unit 3 (hfield.txt), line 20: \"1" + std::string(39, '0') + "...\" is not a real number", kLogToGridBlock},
  });
}

TEST(BadInputE2E, MegabyteRemarksAreIgnored) {
  // A remark of a megabyte after the values of a line (longer than any
  // read buffer), in the control file and in both exports, changes nothing.
  TempDir plain;
  write_base_case(plain.path());
  ASSERT_EQ(run_converter(plain.path()).status, 0);

  const std::string remark = " " + std::string(1 << 20, 'r');
  TempDir dir;
  write_base_case(dir.path());
  Control c = base_control();
  c.fnorm += remark;
  write_file(dir / "wavecalc_to_kaven.dat", c.text());
  for (const char* name : {"efield.txt", "hfield.txt"}) {
    edit_line(dir / name, 14, [&](std::vector<std::string>& l, int i) { l[static_cast<std::size_t>(i)] += remark; });
  }
  const auto r = run_converter(dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(without_scale_warning(r.err), "");
  EXPECT_EQ(read_file(dir / kLog), read_file(plain / kLog));
  EXPECT_TRUE(read_file(dir / kMap) == read_file(plain / kMap)) << "the maps differ";
}

TEST(BadInputE2E, ExportsOffTheirGridOrEachOther) {
  const std::string off = " is off the input grid: in the loop order of the export this line is node ";
  const std::string tail = ", and a point may lie at most a quarter of the grid step " + kQuarterStep +
                           " from its node; a line is missing, repeated or out of order";
  const std::string node_tail = " (node ";
  const std::string uniform_tail =
      " in the loop order of the export, grid step 1); a coordinate may lie off the uniform grid by what the "
      "printed digits cannot resolve and 1e-3 of a step, here ";
  const std::string fault_tail = ": the grid is not uniform, or a line is missing, repeated or out of order";
  expect_failures({
      // x of node (2, 2, 2) 0.2 steps off the uniform grid: its digits
      // resolve 0.05.
      {"E node off the uniform grid", [](const fs::path& d) { set_line(d / "efield.txt", 14, "0.8 1 1 0 0 2"); }, 1,
       "E export efield.txt, line 14: its x coordinate 0.8 lies 0.2 grid steps from its node at 1" + node_tail +
           "(2, 2, 2)" + uniform_tail + "0.051 steps" + fault_tail,
       kLogToGridBlock},
      // An H export of another grid: every z shifted by 0.3.
      {"H export of another grid",
       [](const fs::path& d) {
         write_file(d / "hfield.txt", join(test::small_export_lines(0, [](int, int, int) { return ".3 0 0 0"; })));
       },
       1, "H export hfield.txt, line 1: the point (0, 0, 0.3)" + off + "(1, 1, 1) at (0, 0, 0)" + tail,
       kLogToGridBlock},
      // Line 5 is node (1, 2, 2) at (0, 1, 1).
      {"missing H line",
       [](const fs::path& d) { edit_line(d / "hfield.txt", 5, [](auto& l, int i) { l.erase(l.begin() + i); }); }, 1,
       "H export hfield.txt, line 5: the point (0, 1, 2)" + off + "(1, 2, 2) at (0, 1, 1)" + tail, kLogToGridBlock},
      {"repeated E line in place of the next", [](const fs::path& d) { set_line(d / "efield.txt", 6, "0 1 1 0 0 2"); },
       1,
       "E export efield.txt, line 6: its z coordinate 1 lies 1 grid steps from its node at 2" + node_tail +
           "(1, 2, 3)" + uniform_tail + "0.001 steps" + fault_tail,
       kLogToGridBlock},
      {"two E lines swapped",
       [](const fs::path& d) { edit_line(d / "efield.txt", 11, [](auto& l, int i) { std::swap(l[i], l[i + 1]); }); }, 1,
       "E export efield.txt, line 11: its z coordinate 2 lies 1 grid steps from its node at 1" + node_tail +
           "(2, 1, 2)" + uniform_tail + "0.001 steps" + fault_tail,
       kLogToGridBlock},
      // A line dropped from the E export changes the grid the scan finds:
      // in its first plane, or in a later one.
      {"missing E line in the first plane",
       [](const fs::path& d) { edit_line(d / "efield.txt", 5, [](auto& l, int i) { l.erase(l.begin() + i); }); }, 1,
       "E export efield.txt: its first plane (lines 1 to 8) holds 8 points, not a whole number of rows of 3 points "
       "along z; the points do not form a regular grid",
       "*"},
      {"missing E line in the last plane",
       [](const fs::path& d) { edit_line(d / "efield.txt", 20, [](auto& l, int i) { l.erase(l.begin() + i); }); }, 1,
       "E export efield.txt: 26 data lines are not a whole number of planes of 9 points (3 rows of 3 points along "
       "z); the export is truncated or has extra lines",
       "*"},
  });
}

TEST(BadInputE2E, FieldValuesThatAreNotFinite) {
  const std::string not_finite = "; the export holds a field that is not finite";
  const std::string complex_log = "*";  // the first line's nine values are logged
  expect_failures({
      {"NaN in E", [](const fs::path& d) { set_line(d / "efield.txt", 10, "1 0 0 0 0 NaN"); }, 1,
       "E export efield.txt, line 10: the value of Ez is nan" + not_finite, kLogToGridBlock},
      {"Infinity in H", [](const fs::path& d) { set_line(d / "hfield.txt", 27, "2 2 2 Infinity 0 0"); }, 1,
       "H export hfield.txt, line 27: the value of Hx is inf" + not_finite, kLogToGridBlock},
      {"-Infinity in the imaginary part of H",
       [](const fs::path& d) {
         write_base_case(d, true);
         set_line(d / "hfield.txt", 3, "0 0 2 0 0 2 0 -Infinity 0");
       },
       1, "H export hfield.txt, line 3: the value of HyIm is -inf" + not_finite, complex_log},
      {"1e999 in E", [](const fs::path& d) { set_line(d / "efield.txt", 2, "0 0 1 1e999 0 2"); }, 2,
       "unit 2 (efield.txt), line 2: \"1e999\" is out of range: a real number is read as a double, 0 or from "
       "4.9e-324 to 1.8e+308 in magnitude",
       kLogToGridBlock},
      {"Infinity as a coordinate", [](const fs::path& d) { set_line(d / "efield.txt", 14, "1 Infinity 1 0 0 2"); }, 1,
       "E export efield.txt, line 14: the value of y is inf; a coordinate must be a finite number", kLogToGridBlock},
  });
}

TEST(BadInputE2E, ScaleThatWouldMirrorOrCollapseTheGrid) {
  // A negative factor turns increasing coordinates into decreasing ones: the
  // whole output grid would fall outside the field and the map be all zero.
  const std::string block_scaled_by_minus_one = crlf_lines({
      "  Input Grid parameters ",
      "  Ximin, Ximax, dXi, Nix = " + kZero + "  -2.00000000000000     ",
      "  -1.00000000000000     " + kThree,
      "  Yimin, Yimax, dYi, Niy = " + kZero + "  -2.00000000000000     ",
      "  -1.00000000000000     " + kThree,
      "  Zimin, Zimax, dZi, Niz = " + kZero + "  -2.00000000000000     ",
      "  -1.00000000000000     " + kThree,
      "  iord=          321",
      "  ------------------------------ ",
  });
  expect_failures({
      {"negative scale",
       [](const fs::path& d) {
         Control c = base_control();
         c.scale = "-1.0";
         write_file(d / "wavecalc_to_kaven.dat", c.text());
       },
       1,
       "the scale factor -1 (control file line 13) must be above 0: a negative factor reverses every axis of the "
       "grid",
       test::constants_log_block_1_3GHz() + kRealOnly + block_scaled_by_minus_one},
      {"zero scale",
       [](const fs::path& d) {
         Control c = base_control();
         c.scale = "0";
         write_file(d / "wavecalc_to_kaven.dat", c.text());
       },
       1, "the scale factor 0 (control file line 13) must be a finite number other than 0", "*"},
  });
}

// Writes the base control file with one change.
void set_control(const fs::path& d, const std::function<void(Control&)>& change) {
  Control c = base_control();
  change(c);
  write_file(d / "wavecalc_to_kaven.dat", c.text());
}

TEST(BadInputE2E, ControlValuesThatCannotDescribeAnElement) {
  const std::string above_0 = " must be a finite number above 0: ";
  expect_failures({
      {"element length NaN", [](const fs::path& d) { set_control(d, [](Control& c) { c.elen = "NaN"; }); }, 1,
       "the element length L nan (control file line 10)" + above_0 + "the output grid spans z from -L/2 to L/2 cm", ""},
      {"aperture 0", [](const fs::path& d) { set_control(d, [](Control& c) { c.aper = "0"; }); }, 1,
       "the aperture R 0 (control file line 11)" + above_0 + "the output grid spans x and y from -R to R cm", ""},
      {"frequency below 0", [](const fs::path& d) { set_control(d, [](Control& c) { c.freq = "-1.3e9"; }); }, 1,
       "the RF frequency -1300000000 (control file line 9)" + above_0 +
           "in Hz, it sets the displacement current of the Maxwell check",
       ""},
      {"Fnorm infinite", [](const fs::path& d) { set_control(d, [](Control& c) { c.fnorm = "Infinity"; }); }, 1,
       "the field normalisation factor Fnorm inf (control file line 12) must be a finite number", ""},
      {"Fnorm 0: a map of zeros", [](const fs::path& d) { set_control(d, [](Control& c) { c.fnorm = "0"; }); }, 1,
       "the field normalisation factor Fnorm is 0 (control file line 12): every value of the field map would be 0; "
       "Fnorm multiplies E and B as read (1 keeps them)",
       ""},
      {"NUL in a file name",
       [](const fs::path& d) { set_control(d, [](Control& c) { c.efile = std::string("efield.txt\0junk", 15); }); }, 1,
       "the file name of the E-field export (control file line 3) \"efield.txt\\x00junk\" holds a NUL byte, which "
       "ends a file name: only the part before it would be opened",
       ""},
  });
}

TEST(BadInputE2E, FieldsThatWouldGiveAWrongMap) {
  expect_failures({
      // scale 0.001 instead of 1: the full grid shrinks to +-0.002 cm, and
      // with 10 z nodes no output node lies inside it.
      {"output grid outside the full grid",
       [](const fs::path& d) {
         set_control(d, [](Control& c) {
           c.scale = "0.001";
           c.counts = "5 5 10";
         });
       },
       1,
       "no node of the output grid lies inside the full grid, so every value of the field map would be 0: the "
       "output grid spans x from 0 to 1, y from 0 to 1, z from -1 to 1 cm (aper and elen, control file lines 10 and "
       "11), the full grid of the exports x from -0.002 to 0.002, y from -0.002 to 0.002, z from -0.001 to 0.001 cm "
       "(their coordinates times scale, line 13)",
       "*"},
      {"a copy of the E export as the H export",
       [](const fs::path& d) {
         write_base_case(d, true);
         write_file(d / "hfield.txt", read_file(d / "efield.txt"));
       },
       1,
       "H export hfield.txt: H is 0 at every point in the columns read, 7 to 9 (HxIm, HyIm, HzIm: the imaginary "
       "parts, with 9 values per line); a cavity mode has both an electric and a magnetic field, so the magnetic "
       "field is missing: check that the exports are the E and the H export of one mode, with the same columns",
       "*"},
      {"9 columns of H against 6 of E",
       [](const fs::path& d) { write_file(d / "hfield.txt", join(base_lines(true, 'H'))); }, 1,
       "H export hfield.txt: its first data line (line 1) holds 9 or more values, the first data line of E export "
       "efield.txt (line 1) 6 values; both exports must have the same columns (x y z and 3 real parts, or x y z, 3 "
       "real and 3 imaginary parts)",
       kLogToGridBlock},
      {"a value that overflows through Fnorm",
       [](const fs::path& d) {
         set_control(d, [](Control& c) { c.fnorm = "1000"; });
         set_line(d / "hfield.txt", 14, "1 1 1 -1 1.5e308 0");
       },
       1,
       "By at the full-grid node (2, 2, 2), at (-1, -1, 0) cm, is -inf gauss after normalisation with Fnorm 1000 "
       "(control file line 12); a field map value must be finite and within 1e+300 in magnitude, so that the "
       "interpolation cannot overflow: check Fnorm and the export's values",
       "*"},
      {"E export cut at a plane, H export whole",
       [](const fs::path& d) { edit_line(d / "efield.txt", 19, [](auto& l, int i) { l.resize(i); }); }, 1,
       "H export hfield.txt, line 19: a point follows the last of the 18 points of the input grid (2 x 3 x 3, as "
       "the E export's scan found it); the export holds more points than that grid, so the E export is cut short "
       "or the two exports come from different runs",
       "*"},
      {"points after a line that is not one", [](const fs::path& d) { set_line(d / "efield.txt", 20, "2 0 1x 0 0 2"); },
       1,
       "E export efield.txt, line 21: a point follows line 20, which does not hold three numbers and so ended the "
       "points of the export; only a footer may follow them: correct line 20 or remove it",
       "*"},
  });
}

TEST(BadInputE2E, NumbersWrittenWrong) {
  const std::string comma =
      " looks like a number written with a decimal comma; the converter reads a decimal point and takes a comma for "
      "a separator between two values: write ";
  expect_failures({
      // A blank inside a number, "2" and "7" for "27".
      {"a line of one number more", [](const fs::path& d) { set_line(d / "efield.txt", 14, "1 1 1 0 0 2 7"); }, 1,
       "E export efield.txt, line 14: the line holds 7 numbers, its first data line (line 1) 6; every data line must "
       "hold as many, or its values are taken from the wrong columns (a blank inside a number, a value missing or "
       "one too many)",
       kLogToGridBlock},
      {"decimal commas in the E export",
       [](const fs::path& d) { write_file(d / "efield.txt", replace_all(join(base_lines(false)), " 2\n", " 2,0\n")); },
       2, "unit 2 (efield.txt), line 1: \"2,0\"" + comma + "\"2.0\"", test::constants_log_block_1_3GHz()},
      {"a decimal comma in a later H line", [](const fs::path& d) { set_line(d / "hfield.txt", 20, "2 0 1 0 2,5 0"); },
       2, "unit 3 (hfield.txt), line 20: \"2,5\"" + comma + "\"2.5\"", kLogToGridBlock},
      {"Fnorm with a decimal comma", [](const fs::path& d) { set_control(d, [](Control& c) { c.fnorm = "1,5"; }); }, 2,
       "unit 1 (wavecalc_to_kaven.dat), line 12: \"1,5\"" + comma + "\"1.5\"", ""},
      {"Noz beyond 32 bits",
       [](const fs::path& d) { set_control(d, [](Control& c) { c.counts = "5 5 99999999999"; }); }, 2,
       "unit 1 (wavecalc_to_kaven.dat), line 14: \"99999999999\" is out of range: an integer lies between "
       "-2147483648 and 2147483647",
       ""},
      {"freq 1e400", [](const fs::path& d) { set_control(d, [](Control& c) { c.freq = "1e400"; }); }, 2,
       "unit 1 (wavecalc_to_kaven.dat), line 9: \"1e400\" is out of range: a real number is read as a double, 0 or "
       "from 4.9e-324 to 1.8e+308 in magnitude",
       ""},
      // Cut at 200 characters, the name would be another file's.
      {"a file name longer than its field",
       [](const fs::path& d) { set_control(d, [](Control& c) { c.hfile = std::string(197, 'h') + ".txt"; }); }, 1,
       "the file name of the H-field export (control file line 4) is 201 characters long; the field holds 200: give "
       "the file a shorter name or path",
       ""},
  });
}

TEST(BadInputE2E, FilesThatAreNoTextExports) {
  expect_failures({
      {"a FIFO as the E export",
       [](const fs::path& d) {
         fs::remove(d / "efield.txt");
         ASSERT_EQ(::mkfifo((d / "efield.txt").c_str(), 0600), 0);
       },
       2, "unit 2 (efield.txt): is a FIFO, not a regular file; the converter reads regular files only",
       test::constants_log_block_1_3GHz()},
      {"/dev/zero as the control file",
       [](const fs::path& d) {
         fs::remove(d / "wavecalc_to_kaven.dat");
         fs::create_symlink("/dev/zero", d / "wavecalc_to_kaven.dat");
       },
       2,
       "unit 1 (wavecalc_to_kaven.dat): is a character device, not a regular file; the converter reads regular "
       "files only",
       ""},
      {"a line of 5 MB",
       [](const fs::path& d) {
         write_file(d / "hfield.txt", join(base_lines(false, 'H')) + std::string(5 << 20, '1'));
       },
       2,
       "unit 3 (hfield.txt), line 28: the line is longer than 4194304 bytes; no line of an export or of the control "
       "file comes near that length, so this is not such a file",
       kLogToGridBlock},
  });
}

TEST(BadInputE2E, MessagesNameTheRealFault) {
  expect_failures({
      {"NaN coordinate in the first plane", [](const fs::path& d) { set_line(d / "efield.txt", 5, "nan 1 1 0 0 2"); },
       1, "E export efield.txt, line 5: the value of x is nan; a coordinate must be a finite number",
       test::constants_log_block_1_3GHz() + kRealOnly},
      // Coordinates that overflow when scaled once gave nodes at NaN.
      {"coordinates beyond 1e300",
       [](const fs::path& d) {
         set_control(d, [](Control& c) { c.scale = "1e-300"; });
         edit_line(d / "efield.txt", 1, [](auto& l, int) {
           for (auto& line : l) line.replace(0, 1, line.substr(0, 1) + "e300");
         });
       },
       1,
       "E export efield.txt: its x coordinates run from 0 to 2e+300, times the scale factor 1e-300 (control file "
       "line 13) from 0 to 2 cm; coordinates beyond 1e+300 in magnitude, as read or scaled, leave no room for the "
       "grid's steps: check the scale factor",
       "*"},
      {"a bad last line", [](const fs::path& d) { set_line(d / "efield.txt", 27, "2 2 2.0.0 0 0 2"); }, 1,
       "E export efield.txt, line 27: the line does not hold three numbers, and the 26 points before it are not a "
       "whole number of planes of 9 points (3 rows of 3 points along z), so it is no footer: a point is written "
       "wrong there, or the export is truncated",
       "*"},
      {"the last two lines swapped",
       [](const fs::path& d) { edit_line(d / "efield.txt", 26, [](auto& l, int i) { std::swap(l[i], l[i + 1]); }); }, 1,
       "E export efield.txt: its last point (2, 2, 1) does not end a row and a plane as the first row and plane "
       "end, at z = 2 and y = 2; the grid's range is taken from the last point, so the last lines are out of order, "
       "or a line is missing or repeated near the end",
       "*"},
      {"CR-only line ends",
       [](const fs::path& d) {
         std::string text = read_file(d / "efield.txt");
         std::replace(text.begin(), text.end(), '\n', '\r');
         write_file(d / "efield.txt", text);
       },
       2,
       "unit 2 (efield.txt): its lines end with a CR alone (the line end of classic Mac OS text files); the "
       "converter reads lines ended by LF or CR LF: convert the file's line ends",
       test::constants_log_block_1_3GHz()},
      {"control bytes and a byte above ASCII in a file name",
       [](const fs::path& d) { set_control(d, [](Control& c) { c.efile = "ef\x1b[31mield\a\x9b.txt"; }); }, 2,
       "unit 2 (\"ef\\x1b[31mield\\x07\\x9b.txt\"): file not found", test::constants_log_block_1_3GHz()},
  });
}

// A quarter structure of 3 x 3 x 8001 points, z fastest over 0 .. 1.2 cm
// printed with 5 digits, with the base case's field; with `jitter_line`,
// the x of that line off by 1e-11.
void write_long_z_case(const fs::path& d, int jitter_line) {
  set_control(d, [](Control& c) { c.elen = "1.2"; });
  for (const char field : {'E', 'H'}) {
    std::string text;
    int line = 0;
    for (int x = 0; x <= 2; ++x) {
      for (int y = 0; y <= 2; ++y) {
        for (int k = 0; k <= 8000; ++k) {
          char line_text[96];
          if (field == 'E') {
            std::snprintf(line_text, sizeof line_text, " %d %.4E 0 0 2\n", y, k * 1.2 / 8000);
          } else {
            std::snprintf(line_text, sizeof line_text, " %d %.4E %d %d 0\n", y, k * 1.2 / 8000, -y, x);
          }
          text += ++line == jitter_line ? std::string("1e-11") : std::to_string(x);
          text += line_text;
        }
      }
    }
    write_file(d / (field == 'E' ? "efield.txt" : "hfield.txt"), text);
  }
}

// The base case with real and imaginary parts, Im Ez = im on every E line.
std::function<void(const fs::path&)> with_im_ez(const std::string& im) {
  return [im](const fs::path& d) {
    write_base_case(d, true);
    write_file(d / "efield.txt", replace_all(join(base_lines(true)), " 0 0 2 0 0 0", " 0 0 2 0 0 " + im));
  };
}

// Runs that end normally: exit status 0, the map written, and on stderr
// exactly the warnings given.
TEST(BadInputE2E, WarningsLeaveTheMapWritten) {
  const std::string no_comparison = "wavecalc_to_kaven: warning: the Maxwell check compared E with B in no slice: ";
  const struct {
    std::string name;
    std::function<void(const fs::path&)> make;
    std::string err;
  } cases[] = {
      // E = (x, y, 0): Ex and Ey vanish on the planes of keys 1 1, as they must.
      {"no Ez on the axis (a dipole-like field)",
       [](const fs::path& d) {
         write_file(d / "efield.txt", join(test::small_export_lines(0, [](int x, int y, int) {
                      return " " + std::to_string(x) + " " + std::to_string(y) + " 0";
                    })));
       },
       no_comparison + "Ez on the axis is 0 in every slice, as in a dipole mode\n"},
      {"an aperture beyond the exported grid",
       [](const fs::path& d) { set_control(d, [](Control& c) { c.aper = "10"; }); },
       no_comparison +
           "the circulation of B on the circle r = aper/2 = 5 cm is 0 in every slice; the circle reaches beyond the "
           "full grid (x from -2 to 2, y from -2 to 2 cm), where B counts as 0\n"
           "wavecalc_to_kaven: warning: 264 of the 275 output nodes lie outside the full grid and are written as 0: "
           "the output grid spans x from 0 to 10, y from 0 to 10, z from -1 to 1 cm (aper and elen, control file "
           "lines 10 and 11), the full grid of the exports x from -2 to 2, y from -2 to 2, z from -1 to 1 cm (their "
           "coordinates times scale, line 13)\n"},
      // A mode exported at 60 degrees: Im Ez = 1.732 Re Ez.
      {"a mode at a phase of 60 degrees", with_im_ez("3.464"),
       "wavecalc_to_kaven: warning: E export efield.txt: its imaginary parts reach 1.73 of its real parts (largest "
       "|Im E| 3.464, largest |Re E| 2 V/m), so the mode was exported at a phase of about 60 degrees; the map holds "
       "only the real parts, cos(phase) = 0.5 of the field: export the mode at phase 0\n"},
      // 1.2e-3, as a solver's export of a mode at phase 0 shows.
      {"imaginary parts of a mode at phase 0", with_im_ez("0.0024"), ""},
      {"an H point 0.2 steps off the E point",
       [](const fs::path& d) { set_line(d / "hfield.txt", 14, "1.2 1 1 -1 1 0"); },
       "wavecalc_to_kaven: warning: H export hfield.txt: 1 of its 27 points lie apart from the points of E export "
       "efield.txt by more than their printed digits and 1e-3 of a grid step, the first at line 14: H point (1.2, 1, "
       "1), E point (1, 1, 1), 0.2 grid steps apart along x; H is taken at the E export's points\n"},
      // z over 0 .. 1.2 on 8001 nodes, printed with 5 digits: above 1 the
      // digits resolve a third of the step.
      {"5-digit coordinates on 8001 z nodes", [](const fs::path& d) { write_long_z_case(d, 0); }, ""},
      // x of line 1000, inside the first row, off by 1e-11.
      {"a jitter of 1e-11 in the first row", [](const fs::path& d) { write_long_z_case(d, 1000); }, ""},
      // An export in metres: its half-width 0.044 times 100 is
      // 4.3999999999999995, against an aperture of 4.4 cm.
      {"the aperture on the full grid's edge, in rounding",
       [](const fs::path& d) {
         set_control(d, [](Control& c) {
           c.scale = "100";
           c.aper = "4.4";
         });
         for (const char field : {'E', 'H'}) {
           std::vector<std::string> lines = base_lines(false, field);
           for (std::string& l : lines) {
             const char* metres[3] = {"0", "0.022", "0.044"};
             const char* z_metres[3] = {"0", "0.01", "0.02"};
             l = std::string(metres[l[0] - '0']) + " " + metres[l[2] - '0'] + " " + z_metres[l[4] - '0'] + l.substr(5);
           }
           write_file(d / (field == 'E' ? "efield.txt" : "hfield.txt"), join(lines));
         }
       },
       // On the boundary, the output grid's last x and y lines are edges of
       // the full grid.
       "wavecalc_to_kaven: warning: 171 of the 275 output nodes lie on edges of the full grid (within half a grid "
       "step of its first or last node along two axes at once), where the interpolation extrapolates and does not "
       "give the exported values: an export that reaches one grid step beyond the aperture avoids it\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    write_case_over_earlier_map(dir.path(), c.make);
    const auto r = run_converter(dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(without_scale_warning(r.err), c.err);
    EXPECT_FALSE(read_file(dir / kMap) == kEarlierMap) << "no map was written";
    EXPECT_EQ(read_file(dir / kLog).find("warning"), std::string::npos);
  }
}

TEST(BadInputE2E, ControlFileLineEndsTabsAndByteOrderMark) {
  TempDir plain;
  write_base_case(plain.path());
  ASSERT_EQ(run_converter(plain.path()).status, 0);
  const std::string plain_log = read_file(plain / kLog);
  const std::string plain_map = read_file(plain / kMap);

  const std::string control = base_control().text();
  using Form = std::function<std::string(const std::vector<std::string>&)>;
  const Form plain_form = [](const std::vector<std::string>& l) { return join(l); };
  const struct {
    const char* name;
    std::string control;
    Form exports;  // the text of an export from its lines
  } cases[] = {
      {"CR LF control file", replace_all(control, "\n", "\r\n"), plain_form},
      {"tabs in the control file", replace_all(control, " ", "\t"), plain_form},
      {"byte-order mark on the control file", "\xEF\xBB\xBF" + control, plain_form},
      // A file name followed by blanks, a tab and a CR keeps only the name.
      {"trailing blanks after the names",
       [&] {
         Control c = base_control();
         c.efile += "  \t";
         c.hfile += "\t \r";
         return c.text();
       }(),
       plain_form},
      {"CR LF exports", control, [](const auto& l) { return join(l, "\r\n"); }},
      {"byte-order mark on the exports", control, [](const auto& l) { return "\xEF\xBB\xBF" + join(l); }},
      {"tab- and comma-separated exports", control, [&](const auto& l) { return replace_all(join(l), " ", ",\t"); }},
      // Everything at once, as an editor on another system may leave it.
      {"CR LF, tabs and a byte-order mark in the control file, CR LF exports",
       "\xEF\xBB\xBF" + replace_all(replace_all(control, " ", "\t"), "\n", "\r\n"),
       [](const auto& l) { return join(l, "\r\n"); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    write_file(dir / "wavecalc_to_kaven.dat", c.control);
    write_file(dir / "efield.txt", c.exports(base_lines(false)));
    write_file(dir / "hfield.txt", c.exports(base_lines(false, 'H')));
    const auto r = run_converter(dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(without_scale_warning(r.err), "");
    EXPECT_EQ(read_file(dir / kLog), plain_log);
    EXPECT_TRUE(read_file(dir / kMap) == plain_map) << "the maps differ";
  }
}

// Permission failures: root reads and writes through any permission bits, so
// these run only for an ordinary user. The folder tests above make the same
// open failures for root.
TEST(BadInputE2E, UnreadableExportAndReadOnlyFolder) {
  if (::geteuid() == 0) GTEST_SKIP() << "running as root, which ignores file permissions";
  {
    TempDir dir;
    write_base_case(dir.path());
    fs::permissions(dir / "efield.txt", fs::perms::none);
    const auto r = run_converter(dir.path());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "wavecalc_to_kaven: unit 2 (efield.txt): cannot open: Permission denied\n");
  }
  {
    // The log exists and may be rewritten, but no map can be made beside it.
    TempDir dir;
    write_base_case(dir.path());
    write_file(dir / kLog, "");
    write_file(dir / kMap, kEarlierMap);
    fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec);
    const auto r = run_converter(dir.path());
    fs::permissions(dir.path(), fs::perms::owner_all);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "wavecalc_to_kaven: unit 7 (eh_VRQ.#01): cannot open for writing: Permission denied\n");
    EXPECT_TRUE(read_file(dir / kMap) == kEarlierMap) << "the earlier map was changed";
    EXPECT_EQ(names_in(dir.path()),
              (std::set<std::string>{"wavecalc_to_kaven.dat", "efield.txt", "hfield.txt", kLog, kMap}));
  }
}

}  // namespace
}  // namespace wk
