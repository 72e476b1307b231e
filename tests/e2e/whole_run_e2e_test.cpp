// A whole conversion through the real executable, on a case small enough to
// type its complete log from the layout rules: a full-structure export
// (keys 0 0 0) of 3 x 3 x 3 points, z fastest, with a uniform Ez of 1 MV/m
// and a uniform Hz of 1 A/m, converted onto the same grid (the copy path).
// A uniform Hz has no circulation, so the Maxwell check compares nothing
// and says so on stderr; the log is that of a field without B.
#include <gtest/gtest.h>

#include <string>

#include "support/format0_reader.hpp"
#include "support/test_support.hpp"

namespace wk {
namespace {

using test::crlf_lines;
using test::read_file;
using test::write_file;

// The 3 x 3 x 3 points around the axis, each with the given field values.
std::string small_export(const char* values) {
  return test::join(test::small_export_lines(-1, [&](int, int, int) { return std::string(values); }));
}

// Writes the case into dir with the given format code.
void write_case(const test::TempDir& dir, const std::string& fmt) {
  test::Control c;
  c.keys = "0 0 0";
  c.fnum = "7";
  c.fmt = fmt;
  c.out_keys = "0 0 0";
  c.freq = "1.3e9";
  c.elen = "2.0";
  c.aper = "1.0";
  c.fnorm = "2.0";
  c.scale = "1.0";
  c.counts = "3 3 3";
  write_file(dir / "wavecalc_to_kaven.dat", c.text());
  write_file(dir / "efield.txt", small_export(" 0 0 1000000 0 0 0"));
  write_file(dir / "hfield.txt", small_export(" 0 0 0 0 0 1"));
}

const std::string kZero = test::kListZero, kOne = test::list_whole(1), kMinusOne = test::list_whole(-1),
                  kTwo = test::list_whole(2);

// The log up to and including the output file name line.
std::string log_up_to_file_name() {
  return test::constants_log_block_1_3GHz() +
         crlf_lines({
             // The first line of the E export: nine values, real and imaginary parts.
             kMinusOne + kMinusOne + kZero,
             kZero + kZero + "   1000000.00000000     ",
             kZero + kZero + kZero,
             "  Reading real & imaginary field components ...",
             "  Input Grid parameters ",
             "  Ximin, Ximax, dXi, Nix = " + kMinusOne + kOne,
             kOne + "           3",
             "  Yimin, Yimax, dYi, Niy = " + kMinusOne + kOne,
             kOne + "           3",
             "  Zimin, Zimax, dZi, Niz = " + kZero + kTwo,
             kOne + "           3",
             "  iord=          321",
             "  ------------------------------ ",
             "  Input symmetry code: isym=            0",
             // z from 0 to 2 is centred on 0.
             "  Centered Z: Zimin, Zimax= " + kMinusOne + kOne,
             "  Full input grid ",
             "  Ximin, Ximax, Nix = " + kMinusOne + kOne,
             "           3",
             "  Yimin, Yimax, Niy = " + kMinusOne + kOne,
             "           3",
             "  Zimin, Zimax, Niz = " + kMinusOne + kOne,
             "           3",
             "  ------------------------------ ",
             "  Input Max E-field (MV/m)= " + kOne,
             "  Input Max E-field on Axis (MV/m)= " + kOne,
             "  Renomalized using Fnorm= " + kTwo,
             "  ------------------------------ ",
             "  Checking Maxwell Equations ... ",
             " ",
             // One slice (iz = 2, z = 0): no circulation, so I_H = 0 and the ratio is
             // 0. I_E = -(eps0 omeg pi r^2 Ez0) 0.01 with r = 0.5 cm and
             // Ez0 = 2e6/100 V/cm is -11.3603530...
             "  iz, zz, I_H, I_E, ratio=     2"
             "  "
             "      0.000000"
             "  "
             "  0.000000E+00"
             "  "
             " -0.113604E+02"
             "      0.000000",
             " ",
             "  avg_sRL1= " + kZero,
             "  avg_rRL1= " + kZero,
             "  max_rRL1= " + kZero,
             "  min_rRL1= " + kZero,
             " ",
             "  ------------------------------ ",
             "  Output grid parameters ",
             "  Xmin, Xmax, Nox = " + kMinusOne + kOne + "           3",
             "  Ymin, Ymax, Noy = " + kMinusOne + kOne + "           3",
             "  Zmin, Zmax, Noz = " + kMinusOne + kOne + "           3",
             "  ------------------------------ ",
             "  Same symmetry and grid, No need for interpolation, Simply write the field ...",
             "  Output field file name = eh_VRQ.#07",
         });
}

TEST(WholeRunE2E, LogAndFieldMapOfACopiedGrid) {
  test::TempDir dir;
  write_case(dir, "0");
  const auto r = test::run_converter(dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "wavecalc_to_kaven: warning: the Maxwell check compared E with B in no slice: the circulation of B on "
            "the circle r = aper/2 = 0.5 cm is 0 in every slice\n");
  const std::string want =
      log_up_to_file_name() + crlf_lines({
                                  "  Element Length & Aperture = " + kTwo + kOne,
                                  "  Symmetry Keys: X, Y, Z =            0           0           0",
                                  "  Field X limits = " + kMinusOne + kOne,
                                  "  Field Y limits = " + kMinusOne + kOne,
                                  "  Field Z limits = " + kMinusOne + kOne,
                              });
  EXPECT_EQ(read_file(dir / "wavecalc_to_kaven.log"), want);

  const auto map = test::read_format0(dir / "eh_VRQ.#07");
  EXPECT_EQ(map.elen, 2.0);
  EXPECT_EQ(map.aper, 1.0);
  EXPECT_EQ(map.Xo, (std::vector<double>{-1, 0, 1}));
  EXPECT_EQ(map.Zo, (std::vector<double>{-1, 0, 1}));
  // E in V/cm times Fnorm: (2 x 1e6) / 100; B in gauss times Fnorm: (2 x 1) mu1.
  EXPECT_EQ(map.fields[2], std::vector<double>(27, 20000.0));
  const double mu1 = ((3.141592653589793 * 4) * 1e-7) * 10000;
  EXPECT_EQ(map.fields[5], std::vector<double>(27, (2.0 * 1) * mu1));
  for (int c : {0, 1, 3, 4}) EXPECT_EQ(map.fields[static_cast<std::size_t>(c)], std::vector<double>(27, 0.0));
  EXPECT_EQ(map.end_marker, -99);
}

TEST(WholeRunE2E, InvalidFormatStopsAfterTheFileNameLine) {
  test::TempDir dir;
  write_case(dir, "3");
  const auto r = test::run_converter(dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, " Not a valid KAVEN 3D field format: use 0, 1 or 2 \n");
  EXPECT_EQ(read_file(dir / "wavecalc_to_kaven.log"), log_up_to_file_name());
  EXPECT_FALSE(test::file_exists(dir / "eh_VRQ.#07"));
}

TEST(WholeRunE2E, FailedWriteLeavesAnEarlierMapUntouched) {
  for (const char* fmt : {"0", "1", "2"}) {
    test::TempDir dir;
    write_case(dir, fmt);
    const std::string earlier(4096, 'k');
    write_file(dir / "eh_VRQ.#07", earlier);
    // SIGXFSZ ignored: a write past the 1 KiB limit fails with EFBIG.
    const auto r = test::run_converter(dir.path(), "trap '' XFSZ; ulimit -f 1;");
    EXPECT_EQ(r.status, 2) << fmt;
    EXPECT_EQ(r.err.rfind("wavecalc_to_kaven: unit 7 (eh_VRQ.#07): write error", 0), 0u) << r.err;
    EXPECT_EQ(read_file(dir / "eh_VRQ.#07"), earlier);
    int entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 5) << "a temporary file was left behind";  // control, 2 exports, log, map
  }
}

}  // namespace
}  // namespace wk
