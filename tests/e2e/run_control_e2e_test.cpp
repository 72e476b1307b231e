// The real executable in a temporary folder: exit status, stderr, and the
// files left on disk, for the run-control part of a conversion.
#include <gtest/gtest.h>

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

// A 3 x 3 x 3 export, every field value zero but Ez = 2 V/m.
std::string small_export(bool complex) {
  return test::join(test::small_export_lines(0, [&](int, int, int) { return complex ? " 0 0 2 0 0 0" : " 0 0 2"; }));
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
      {[] {
         Control c;
         c.fnum = "1.0";
         return c.text();
       }(),
       "unit 1 (wavecalc_to_kaven.dat), line 6: \"1.0\" is not an integer"},
      {[] {
         Control c;
         c.fmt = "zero";
         return c.text();
       }(),
       "unit 1 (wavecalc_to_kaven.dat), line 7: \"zero\" is not an integer"},
      {[] {
         Control c;
         c.aper = "wide";
         return c.text();
       }(),
       "unit 1 (wavecalc_to_kaven.dat), line 11: \"wide\" is not a real number"},
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
  const std::string want =
      kConstantsBlock + crlf_lines({
                            "  0.000000000000000E+000  0.000000000000000E+000  0.000000000000000E+000",
                            "  0.000000000000000E+000  0.000000000000000E+000   2.00000000000000     ",
                            "  0.000000000000000E+000  0.000000000000000E+000  0.000000000000000E+000",
                            "  Reading real & imaginary field components ...",
                        });
  EXPECT_EQ(read_file(dir / "wavecalc_to_kaven.log").substr(0, want.size()), want);
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
      const auto before = test::snapshot(dir.path());
      const auto r = run_converter(dir.path(), "", c.args);
      EXPECT_EQ(r.status, c.status);
      EXPECT_EQ(r.err, c.err);
      if (c.out.empty()) {
        EXPECT_EQ(r.out, "");
      } else {
        EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
      }
      EXPECT_EQ(test::snapshot(dir.path()), before);
    }
  }
}

}  // namespace
}  // namespace wk
