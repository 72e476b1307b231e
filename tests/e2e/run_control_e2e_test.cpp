// The real executable in a temporary folder: exit status, stderr, and the
// files left on disk, for the run-control part of a conversion.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "support/test_support.hpp"

namespace wk {
namespace {

using test::Control;
using test::crlf_lines;
using test::read_file;
using test::run_converter;
using test::TempDir;
using test::write_file;

const std::string kConstantsBlock = test::constants_log_block_1_3GHz();

// A 3 x 3 x 3 export with z fastest, every field value zero but Ez = 2 V/m.
std::string small_export(bool complex) {
  std::string s;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) {
        s += std::to_string(i) + " " + std::to_string(j) + " " + std::to_string(k) + " 0 0 2";
        s += complex ? " 0 0 0\n" : "\n";
      }
  return s;
}

TEST(RunControlE2E, MissingControlFileLeavesAnEmptyLog) {
  TempDir dir;
  write_file(dir / "wavecalc_to_kaven.log", "an old log\n");
  const auto r = run_converter(dir.path());
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "wavecalc_to_kaven: unit 1 (wavecalc_to_kaven.dat): file not found\n");
  EXPECT_EQ(read_file(dir / "wavecalc_to_kaven.log"), "");
}

TEST(RunControlE2E, OversizedOutputGridStopsWithAnEmptyLog) {
  for (const char* counts : {"26 25 8001", "25 26 8001", "25 25 8002"}) {
    TempDir dir;
    Control c;
    c.counts = counts;
    write_file(dir / "wavecalc_to_kaven.dat", c.text());
    const auto r = run_converter(dir.path());
    EXPECT_EQ(r.status, 1) << counts;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, " Output grid larger than max KAVEN grid \n");
    EXPECT_EQ(read_file(dir / "wavecalc_to_kaven.log"), "");
  }
}

TEST(RunControlE2E, BadControlFilesAreFileErrors) {
  const struct {
    std::string text;
    std::string err;
  } cases[] = {
      {"a\nb\ne\nh\n1 1 0\n", "unit 1 (wavecalc_to_kaven.dat): unexpected end of file after line 5"},
      {[] { Control c; c.fnum = "1.0"; return c.text(); }(), "unit 1 (wavecalc_to_kaven.dat), line 6: \"1.0\" is not an integer"},
      {[] { Control c; c.fmt = "zero"; return c.text(); }(), "unit 1 (wavecalc_to_kaven.dat), line 7: \"zero\" is not an integer"},
      {[] { Control c; c.aper = "wide"; return c.text(); }(), "unit 1 (wavecalc_to_kaven.dat), line 11: \"wide\" is not a real number"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    write_file(dir / "wavecalc_to_kaven.dat", c.text);
    const auto r = run_converter(dir.path());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "wavecalc_to_kaven: " + c.err + "\n");
    EXPECT_EQ(read_file(dir / "wavecalc_to_kaven.log"), "");
  }
}

TEST(RunControlE2E, MissingEExportKeepsTheConstantsBlock) {
  TempDir dir;
  write_file(dir / "wavecalc_to_kaven.dat", Control{}.text());
  const auto r = run_converter(dir.path());
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "wavecalc_to_kaven: unit 2 (efield.txt): file not found\n");
  EXPECT_EQ(read_file(dir / "wavecalc_to_kaven.log"), kConstantsBlock);
}

TEST(RunControlE2E, LogStartsWithConstantsFirstLineAndReadingLine) {
  TempDir dir;
  write_file(dir / "wavecalc_to_kaven.dat", Control{}.text());
  write_file(dir / "efield.txt", small_export(true));
  write_file(dir / "hfield.txt", small_export(true));
  run_converter(dir.path());
  const std::string want = kConstantsBlock + crlf_lines({
                               "  0.000000000000000E+000  0.000000000000000E+000  0.000000000000000E+000",
                               "  0.000000000000000E+000  0.000000000000000E+000   2.00000000000000     ",
                               "  0.000000000000000E+000  0.000000000000000E+000  0.000000000000000E+000",
                               "  Reading real & imaginary field components ...",
                           });
  EXPECT_EQ(read_file(dir / "wavecalc_to_kaven.log").substr(0, want.size()), want);
}

TEST(RunControlE2E, WindowsLineEndsTabsAndByteOrderMarkReadAsPlainText) {
  TempDir plain_dir;
  write_file(plain_dir / "wavecalc_to_kaven.dat", Control{}.text());
  write_file(plain_dir / "efield.txt", small_export(false));
  write_file(plain_dir / "hfield.txt", small_export(false));
  const auto plain = run_converter(plain_dir.path());
  const std::string plain_log = read_file(plain_dir / "wavecalc_to_kaven.log");
  ASSERT_NE(plain_log.find("Reading real field components only"), std::string::npos);

  std::string windows = Control{}.text();
  std::string converted;
  for (char ch : windows) {
    if (ch == '\n') converted += "\r\n";
    else if (ch == ' ') converted += '\t';
    else converted += ch;
  }
  converted = "\xEF\xBB\xBF" + converted;
  std::string export_crlf;
  for (char ch : small_export(false)) {
    if (ch == '\n') export_crlf += "\r\n";
    else export_crlf += ch;
  }
  TempDir dir;
  write_file(dir / "wavecalc_to_kaven.dat", converted);
  write_file(dir / "efield.txt", export_crlf);
  write_file(dir / "hfield.txt", export_crlf);
  const auto r = run_converter(dir.path());
  EXPECT_EQ(r.status, plain.status);
  EXPECT_EQ(r.err, plain.err);
  EXPECT_EQ(read_file(dir / "wavecalc_to_kaven.log"), plain_log);
}

// The files of dir with their content.
std::map<std::string, std::string> folder(const TempDir& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    files[e.path().filename().string()] = read_file(e.path());
  }
  return files;
}

// Arguments print or are refused, touching no file: neither in an empty
// folder nor in one holding a whole case and an earlier log.
TEST(CommandLineE2E, ArgumentsOnlyPrintOrAreRefused) {
  const std::string usage = "; usage: wavecalc_to_kaven [--help | --version]\n";
  const std::string version = std::string("wavecalc_to_kaven ") + WK_VERSION + "\nConverts an RF cavity eigenmode";
  const struct {
    const char* args;
    int status;
    std::string out;  // a piece of stdout; "" when stdout must be empty
    std::string err;
  } cases[] = {
      {"--help", 0, "Reads   wavecalc_to_kaven.dat", ""},
      {"--help", 0, version, ""},
      {"--version", 0, version, ""},
      {"-h", 2, "", "wavecalc_to_kaven: unknown argument \"-h\"" + usage},
      {"efield.txt", 2, "", "wavecalc_to_kaven: unknown argument \"efield.txt\"" + usage},
      {"--version --help", 2, "", "wavecalc_to_kaven: one option at most" + usage},
      {"--help ''", 2, "", "wavecalc_to_kaven: unknown argument \"\"" + usage},
  };
  for (bool with_case : {false, true}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.args) + (with_case ? " beside a case" : " in an empty folder"));
      TempDir dir;
      if (with_case) {
        write_file(dir / "wavecalc_to_kaven.dat", Control{}.text());
        write_file(dir / "efield.txt", small_export(false));
        write_file(dir / "hfield.txt", small_export(false));
        write_file(dir / "wavecalc_to_kaven.log", "an old log\n");
      }
      const auto before = folder(dir);
      const auto r = run_converter(dir.path(), "", c.args);
      EXPECT_EQ(r.status, c.status);
      EXPECT_EQ(r.err, c.err);
      if (c.out.empty()) {
        EXPECT_EQ(r.out, "");
      } else {
        EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
      }
      EXPECT_EQ(folder(dir), before);
    }
  }
}

}  // namespace
}  // namespace wk
