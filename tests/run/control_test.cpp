#include <gtest/gtest.h>

#include <string>

#include "io/error.hpp"
#include "run/run.hpp"
#include "support/run_support.hpp"

namespace wk {
namespace {

// Reads the control file `text` in a fresh folder.
RunData read_control(const std::string& text) {
  test::TempDir dir;
  test::ChangeDir cd(dir.path());
  test::write_file(kControlFile, text);
  RunData d;
  read_control_file(d);
  return d;
}

TEST(ControlFile, ReadsFourteenLines) {
  test::Control c;
  c.efile = "E field.txt   ";  // inner blank kept, trailing blanks dropped
  c.keys = "1, 2 ,0";
  c.out_keys = "1\t0\t1";
  c.freq = "1.3D9";
  c.elen = "10";
  c.aper = "0.5e0";
  c.fnorm = "-2.5";
  c.scale = "0.1";
  c.counts = "25 25 8001";
  const RunData d = read_control(c.text());
  EXPECT_EQ(d.Efile, "E field.txt");
  EXPECT_EQ(d.Hfile, "hfield.txt");
  EXPECT_EQ(d.isymX, 1);
  EXPECT_EQ(d.isymY, 2);
  EXPECT_EQ(d.isymZ, 0);
  EXPECT_EQ(d.fnum, 1);
  EXPECT_EQ(d.fmt, 0);
  EXPECT_EQ(d.symX, 1);
  EXPECT_EQ(d.symY, 0);
  EXPECT_EQ(d.symZ, 1);
  EXPECT_EQ(d.freq, 1.3e9);
  EXPECT_EQ(d.elen, 10.0);
  EXPECT_EQ(d.aper, 0.5);
  EXPECT_EQ(d.Fnorm, -2.5);
  EXPECT_EQ(d.scale, 0.1);
  EXPECT_EQ(d.Nox, 25);
  EXPECT_EQ(d.Noy, 25);
  EXPECT_EQ(d.Noz, 8001);
}

TEST(ControlFile, RemarksWindowsLineEndsAndContinuedLines) {
  // Remarks after the values, CR LF line ends, and the third key on the next
  // line: every later item then shifts by one line.
  const std::string text =
      "title\r\nsecond\r\ne.txt\r\nh.txt \r\n1 1\r\n0 keys continue here\r\n7 file number\r\n2\r\n"
      "0 0 1 output keys\r\n1.0e9 Hz\r\n12.5\r\n0.75\r\n1\r\n0.1\r\n5 6 7\r\n";
  const RunData d = read_control(text);
  EXPECT_EQ(d.Efile, "e.txt");
  EXPECT_EQ(d.Hfile, "h.txt");
  EXPECT_EQ(d.isymZ, 0);
  EXPECT_EQ(d.fnum, 7);
  EXPECT_EQ(d.fmt, 2);
  EXPECT_EQ(d.symZ, 1);
  EXPECT_EQ(d.freq, 1.0e9);
  EXPECT_EQ(d.elen, 12.5);
  EXPECT_EQ(d.aper, 0.75);
  EXPECT_EQ(d.Fnorm, 1.0);
  EXPECT_EQ(d.scale, 0.1);
  EXPECT_EQ(d.Nox, 5);
  EXPECT_EQ(d.Noz, 7);
}

TEST(ControlFile, BadValuesAreFileErrors) {
  const struct {
    std::string test::Control::*field;
    const char* value;
    const char* message;
  } cases[] = {
      {&test::Control::fnum, "1.5", "line 6: \"1.5\" is not an integer"},
      {&test::Control::fmt, "zero", "line 7: \"zero\" is not an integer"},
      {&test::Control::keys, "1 1 x", "line 5: \"x\" is not an integer"},
      {&test::Control::freq, "fast", "line 9: \"fast\" is not a real number"},
      {&test::Control::counts, "5 5 1e3", "line 14: \"1e3\" is not an integer"},
  };
  for (const auto& c : cases) {
    test::Control ctl;
    ctl.*(c.field) = c.value;
    EXPECT_RUN_ERROR(read_control(ctl.text()), kExitFileError,
                     std::string("wavecalc_to_kaven: unit 1 (wavecalc_to_kaven.dat), ") + c.message);
  }
  EXPECT_RUN_ERROR(read_control("a\nb\ne\nh\n1 1 0\n1\n0\n"), kExitFileError,
                   "wavecalc_to_kaven: unit 1 (wavecalc_to_kaven.dat): unexpected end of file after line 7");
}

TEST(ControlValues, GridLimitsKeysAndOrderOfTheChecks) {
  const std::string too_large = " Output grid larger than max KAVEN grid ";
  const struct {
    int nox, noy, noz, kx, ky, kz;
    int status;
    std::string message;  // empty: only the status is checked
  } cases[] = {
      {25, 25, 8001, 0, 1, 2, 0, ""},
      {26, 25, 8001, 0, 0, 0, kExitStop, too_large},
      {25, 26, 8001, 0, 0, 0, kExitStop, too_large},
      {25, 25, 8002, 0, 0, 0, kExitStop, too_large},
      {26, 1, 8002, 3, 0, 0, kExitStop, too_large},  // the size check comes first
      {1, 5, 5, 0, 0, 0, kExitStop,
       "wavecalc_to_kaven: output grid of 1 x 5 x 5 nodes (control file line 14): every axis needs at least 2 nodes"},
      {5, 5, 0, 0, 0, 0, kExitStop, ""},
      {5, 5, 5, 0, -1, 0, kExitStop,
       "wavecalc_to_kaven: input symmetry key of the y axis is -1 (control file line 5): a key must be 0, 1 or 2"},
      {5, 5, 5, 0, 0, 3, kExitStop, ""},
  };
  for (const auto& c : cases) {
    RunData d;
    d.Nox = c.nox;
    d.Noy = c.noy;
    d.Noz = c.noz;
    d.isymX = c.kx;
    d.isymY = c.ky;
    d.isymZ = c.kz;
    d.freq = 1.3e9;
    d.elen = 10;
    d.aper = 1;
    d.Fnorm = 1;
    if (c.status == 0) {
      EXPECT_FALSE(test::run_error_of([&] { check_control_values(d); })) << c.nox << " " << c.noy << " " << c.noz;
    } else {
      EXPECT_RUN_ERROR(check_control_values(d), c.status, c.message) << c.nox << " " << c.noy << " " << c.noz;
    }
  }
}

TEST(Constants, ValuesAndLogBlock) {
  RunData d;
  d.freq = 0;  // accepted: omeg = 0
  test::LogCapture log;
  compute_constants(d, log.log());
  EXPECT_NEAR(d.mu0, 1.2566370614e-6, 1e-16);
  EXPECT_NEAR(d.mu1, 1.2566370614e-2, 1e-12);
  EXPECT_NEAR(d.eps0, 8.8541878176e-12, 1e-21);
  EXPECT_EQ(d.omeg, 0.0);
  const std::string& zero = test::kListZero;
  EXPECT_EQ(log.text(), test::constants_log_block(zero, zero));
}

}  // namespace
}  // namespace wk
