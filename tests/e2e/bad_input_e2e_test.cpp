// Bad inputs through the real executable, each in a temporary folder: the
// exit status, the one stderr line, the log left behind, and that an earlier
// field map survives every failed run byte for byte with no temporary left.
//
// The base case is a quarter structure (keys 1 1 0) of 3 x 3 x 3 points,
// x, y, z in {0, 1, 2}, z fastest, with Ez = 2 V/m and every other component
// 0: it converts normally, so each case below fails for its one defect.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

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
using test::read_file;
using test::run_converter;
using test::TempDir;
using test::write_file;

const char* const kMap = "eh_VRQ.#01";
const char* const kLog = "wavecalc_to_kaven.log";
const char* const kEarlierMap = "a field map of an earlier run\n";

// The lines of the base export; complex exports carry the imaginary parts
// 0 0 0 after the real parts.
std::vector<std::string> base_lines(bool complex) {
  std::vector<std::string> lines;
  for (int x = 0; x <= 2; ++x)
    for (int y = 0; y <= 2; ++y)
      for (int z = 0; z <= 2; ++z) {
        lines.push_back(std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(z) + " 0 0 2" +
                        (complex ? " 0 0 0" : ""));
      }
  return lines;
}

std::string join(const std::vector<std::string>& lines, const char* eol = "\n") {
  std::string s;
  for (const auto& l : lines) s += l + eol;
  return s;
}

// Writes the base case (control file and both exports) into dir.
void write_base_case(const fs::path& dir, bool complex = false) {
  write_file(dir / "wavecalc_to_kaven.dat", Control{}.text());
  write_file(dir / "efield.txt", join(base_lines(complex)));
  write_file(dir / "hfield.txt", join(base_lines(complex)));
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
const std::string kZero = "  0.000000000000000E+000";
const std::string kOne = "   1.00000000000000     ";
const std::string kTwo = "   2.00000000000000     ";
const std::string kThree = "           3";
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

// Runs each case over an earlier field map: the run must fail as stated and
// leave the map as it was, with nothing else added to the folder but the log.
void expect_failures(const std::vector<BadCase>& cases) {
  for (const BadCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    write_base_case(dir.path());
    c.make(dir.path());
    write_file(dir / kMap, kEarlierMap);
    std::set<std::string> before = names_in(dir.path());
    before.insert(kLog);

    const auto r = run_converter(dir.path());
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
  std::vector<std::string> lines;
  const std::string text = read_file(file);
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
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
         Control c;
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
         Control c;
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
    EXPECT_EQ(r.err, "wavecalc_to_kaven: unit 8 (wavecalc_to_kaven.log): cannot open for writing: Is a directory\n");
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
    EXPECT_TRUE(ends_with(log, crlf_lines({"  Field Z limits =   -5.00000000000000        5.00000000000000     "})));
  }
}

TEST(BadInputE2E, BinaryAndOverlongContent) {
  // 50 bytes of an executable's header: one token of control bytes, shown as
  // its first 40 characters with '?' for each unprintable byte.
  std::string binary = "\x7f" "ELF\x02\x01\x01";
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
       "unit 3 (hfield.txt), line 20: \"1" + std::string(39, '0') + "...\" is not a real number",
       kLogToGridBlock},
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
  Control c;
  c.fnorm += remark;
  write_file(dir / "wavecalc_to_kaven.dat", c.text());
  for (const char* name : {"efield.txt", "hfield.txt"}) {
    edit_line(dir / name, 14, [&](std::vector<std::string>& l, int i) { l[static_cast<std::size_t>(i)] += remark; });
  }
  const auto r = run_converter(dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(read_file(dir / kLog), read_file(plain / kLog));
  EXPECT_TRUE(read_file(dir / kMap) == read_file(plain / kMap)) << "the maps differ";
}

TEST(BadInputE2E, ExportsOffTheirGridOrEachOther) {
  const std::string off = " is off the input grid: in the loop order of the export this line is node ";
  const std::string tail = ", and a point may lie at most a quarter of the grid step " + kQuarterStep +
                           " from its node; a line is missing, repeated or out of order";
  expect_failures({
      // E and H each within a quarter step of node (2, 2, 2) at (1, 1, 1),
      // but 0.4 apart: written by different runs.
      {"E and H apart",
       [](const fs::path& d) {
         set_line(d / "efield.txt", 14, "0.8 1 1 0 0 2");
         set_line(d / "hfield.txt", 14, "1.2 1 1 0 0 2");
       },
       1,
       "E export efield.txt and H export hfield.txt disagree at line 14: E point (0.8, 1, 1), H point (1.2, 1, 1), "
       "more than a quarter of the grid step " +
           kQuarterStep + " apart; the two exports must hold the same points in the same order",
       kLogToGridBlock},
      // An H export of another grid: every z shifted by 0.3.
      {"H export of another grid",
       [](const fs::path& d) {
         std::vector<std::string> lines;
         for (int x = 0; x <= 2; ++x)
           for (int y = 0; y <= 2; ++y)
             for (int z = 0; z <= 2; ++z)
               lines.push_back(std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(z) + ".3 0 0 0");
         write_file(d / "hfield.txt", join(lines));
       },
       1, "H export hfield.txt, line 1: the point (0, 0, 0.3)" + off + "(1, 1, 1) at (0, 0, 0)" + tail,
       kLogToGridBlock},
      // Line 5 is node (1, 2, 2) at (0, 1, 1).
      {"missing H line",
       [](const fs::path& d) {
         edit_line(d / "hfield.txt", 5, [](auto& l, int i) { l.erase(l.begin() + i); });
       },
       1, "H export hfield.txt, line 5: the point (0, 1, 2)" + off + "(1, 2, 2) at (0, 1, 1)" + tail,
       kLogToGridBlock},
      {"repeated E line in place of the next",
       [](const fs::path& d) { set_line(d / "efield.txt", 6, "0 1 1 0 0 2"); }, 1,
       "E export efield.txt, line 6: the point (0, 1, 1)" + off + "(1, 2, 3) at (0, 1, 2)" + tail, kLogToGridBlock},
      {"two E lines swapped",
       [](const fs::path& d) {
         edit_line(d / "efield.txt", 11, [](auto& l, int i) { std::swap(l[i], l[i + 1]); });
       },
       1, "E export efield.txt, line 11: the point (1, 0, 2)" + off + "(2, 1, 2) at (1, 0, 1)" + tail,
       kLogToGridBlock},
      // A line dropped from the E export changes the grid the scan finds:
      // in its first plane, or in a later one.
      {"missing E line in the first plane",
       [](const fs::path& d) {
         edit_line(d / "efield.txt", 5, [](auto& l, int i) { l.erase(l.begin() + i); });
       },
       1,
       "E export efield.txt: its first plane (lines 1 to 8) holds 8 points, not a whole number of rows of 3 points "
       "along z; the points do not form a regular grid",
       "*"},
      {"missing E line in the last plane",
       [](const fs::path& d) {
         edit_line(d / "efield.txt", 20, [](auto& l, int i) { l.erase(l.begin() + i); });
       },
       1,
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
      // Overflowing numbers are no numbers at all.
      {"1e999 in E", [](const fs::path& d) { set_line(d / "efield.txt", 2, "0 0 1 1e999 0 2"); }, 2,
       "unit 2 (efield.txt), line 2: \"1e999\" is not a real number", kLogToGridBlock},
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
         Control c;
         c.scale = "-1.0";
         write_file(d / "wavecalc_to_kaven.dat", c.text());
       },
       1,
       "the scale factor -1 (control file line 13) must be above 0: a negative factor reverses every axis of the "
       "grid",
       test::constants_log_block_1_3GHz() + kRealOnly + block_scaled_by_minus_one},
      {"zero scale",
       [](const fs::path& d) {
         Control c;
         c.scale = "0";
         write_file(d / "wavecalc_to_kaven.dat", c.text());
       },
       1, "the scale factor 0 (control file line 13) must be a finite number other than 0", "*"},
  });
}

TEST(BadInputE2E, SixDigitCoordinatesPassOnTheLargestGrid) {
  // z from 1 to 2 in 8000 steps of 1.25e-4, printed with six significant
  // digits (1.00013 for 1.000125): each coordinate is off by up to 5e-6, and
  // the first step by 4 %, yet every point lies well within a quarter step
  // (3.1e-5) of its node.
  TempDir dir;
  Control c;
  c.out_keys = "0 0 0";
  c.counts = "3 3 11";
  write_file(dir / "wavecalc_to_kaven.dat", c.text());
  std::string e;
  char line[96];
  for (int x = 0; x <= 1; ++x)
    for (int y = 0; y <= 1; ++y)
      for (int k = 0; k <= 8000; ++k) {
        std::snprintf(line, sizeof line, "%.6g %.6g %.6g 0 0 2\n", 0.5 * x, 0.5 * y, 1 + k / 8000.0);
        e += line;
      }
  write_file(dir / "efield.txt", e);
  write_file(dir / "hfield.txt", e);
  const auto r = run_converter(dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  // The full grid: z centred on 0 over its 8001 nodes.
  const std::string log = read_file(dir / kLog);
  EXPECT_NE(log.find(crlf_lines({"  Zimin, Zimax, Niz =  -0.500000000000000       0.500000000000000     ",
                                 "        8001"})),
            std::string::npos);
  EXPECT_TRUE(fs::is_regular_file(dir / kMap));
}

TEST(BadInputE2E, ControlFileLineEndsTabsAndByteOrderMark) {
  TempDir plain;
  write_base_case(plain.path());
  ASSERT_EQ(run_converter(plain.path()).status, 0);
  const std::string plain_log = read_file(plain / kLog);
  const std::string plain_map = read_file(plain / kMap);

  const auto replace_all = [](std::string s, const std::string& from, const std::string& to) {
    for (std::size_t p = s.find(from); p != std::string::npos; p = s.find(from, p + to.size())) s.replace(p, 1, to);
    return s;
  };
  const std::string control = Control{}.text();
  const struct {
    const char* name;
    std::string control;
    std::string exports;
  } cases[] = {
      {"CR LF control file", replace_all(control, "\n", "\r\n"), join(base_lines(false))},
      {"tabs in the control file", replace_all(control, " ", "\t"), join(base_lines(false))},
      {"byte-order mark on the control file", "\xEF\xBB\xBF" + control, join(base_lines(false))},
      // A file name followed by blanks, a tab and a CR keeps only the name.
      {"trailing blanks after the names",
       [&] {
         Control c;
         c.efile += "  \t";
         c.hfile += "\t \r";
         return c.text();
       }(),
       join(base_lines(false))},
      {"CR LF exports", control, join(base_lines(false), "\r\n")},
      {"byte-order mark on the exports", control, "\xEF\xBB\xBF" + join(base_lines(false))},
      {"tab- and comma-separated exports", control, replace_all(join(base_lines(false)), " ", ",\t")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    write_file(dir / "wavecalc_to_kaven.dat", c.control);
    write_file(dir / "efield.txt", c.exports);
    write_file(dir / "hfield.txt", c.exports);
    const auto r = run_converter(dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(dir / kLog), plain_log);
    EXPECT_TRUE(read_file(dir / kMap) == plain_map) << "the maps differ";
  }
}

// Runs the converter in dir with its stdout and stderr going to files in
// out_dir (dir itself may be read-only); returns the exit status.
int run_in(const fs::path& dir, const fs::path& out_dir, std::string& err) {
  const std::string cmd = "cd '" + dir.string() + "' && '" WK_EXECUTABLE "' >'" + (out_dir / "out").string() +
                          "' 2>'" + (out_dir / "err").string() + "' </dev/null";
  const int rc = std::system(cmd.c_str());
  err = read_file(out_dir / "err");
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

// Permission failures: root reads and writes through any permission bits, so
// these run only for an ordinary user. The folder tests above make the same
// open failures for root.
TEST(BadInputE2E, UnreadableExportAndReadOnlyFolder) {
  if (::geteuid() == 0) GTEST_SKIP() << "running as root, which ignores file permissions";
  TempDir out;
  std::string err;
  {
    TempDir dir;
    write_base_case(dir.path());
    fs::permissions(dir / "efield.txt", fs::perms::none);
    EXPECT_EQ(run_in(dir.path(), out.path(), err), 2);
    EXPECT_EQ(err, "wavecalc_to_kaven: unit 2 (efield.txt): cannot open: Permission denied\n");
  }
  {
    // The log exists and may be rewritten, but no map can be made beside it.
    TempDir dir;
    write_base_case(dir.path());
    write_file(dir / kLog, "");
    write_file(dir / kMap, kEarlierMap);
    fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec);
    const int status = run_in(dir.path(), out.path(), err);
    fs::permissions(dir.path(), fs::perms::owner_all);
    EXPECT_EQ(status, 2);
    EXPECT_EQ(err, "wavecalc_to_kaven: unit 7 (eh_VRQ.#01): cannot open for writing: Permission denied\n");
    EXPECT_TRUE(read_file(dir / kMap) == kEarlierMap) << "the earlier map was changed";
    EXPECT_EQ(names_in(dir.path()),
              (std::set<std::string>{"wavecalc_to_kaven.dat", "efield.txt", "hfield.txt", kLog, kMap}));
  }
}

}  // namespace
}  // namespace wk
