// The field-map file in its three layouts, the run summary, the format stop,
// and what a failed write leaves on disk.
#include "output/output.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "io/error.hpp"
#include "io/out_file.hpp"
#include "output/field_map.hpp"
#include "support/format0_reader.hpp"
#include "support/run_support.hpp"
#include "support/test_support.hpp"

namespace wk {
namespace {

namespace fs = std::filesystem;
using test::ChangeDir;
using test::crlf_lines;
using test::kListZero;
using test::list_int;
using test::list_whole;
using test::read_file;
using test::TempDir;
using test::write_file;

// Value of component c (0..5 for Exo .. Bzo) at node (i, j, k): distinct
// whole numbers, negative for B, so that every value shows its place.
double node_value(int c, int i, int j, int k) {
  const double v = 1000.0 * (c % 3 + 1) + 100.0 * i + 10.0 * j + k;
  return c < 3 ? v : -v;
}

// An output grid filled in by hand, as regridding leaves it.
RunData output_grid(int nx, int ny, int nz, int fmt) {
  RunData d;
  d.fnum = 7;
  d.fmt = fmt;
  d.elen = 10.0;
  d.aper = 1.0;
  d.symX = 0;
  d.symY = 0;
  d.symZ = 1;
  d.Nox = nx;
  d.Noy = ny;
  d.Noz = nz;
  d.Xmin = -1.0;
  d.Xmax = 1.0;
  d.Ymin = -2.0;
  d.Ymax = 2.0;
  d.Zmin = -5.0;
  d.Zmax = 5.0;
  d.Xo.resize(nx);
  d.Yo.resize(ny);
  d.Zo.resize(nz);
  for (int i = 1; i <= nx; ++i) d.Xo(i) = i - 3;
  for (int j = 1; j <= ny; ++j) d.Yo(j) = 2 * j;
  for (int k = 1; k <= nz; ++k) d.Zo(k) = -5 * k;
  FieldArray* arrays[6] = {&d.Exo, &d.Eyo, &d.Ezo, &d.Bxo, &d.Byo, &d.Bzo};
  for (int c = 0; c < 6; ++c) {
    arrays[c]->resize(nx, ny, nz);
    for (int k = 1; k <= nz; ++k)
      for (int j = 1; j <= ny; ++j)
        for (int i = 1; i <= nx; ++i) (*arrays[c])(i, j, k) = node_value(c, i, j, k);
  }
  return d;
}

// The output phase: the map opened, written and put in place.
void write_map(RunData& d, ListWriter& log) {
  OutFile map = open_field_map(d, log);
  write_field_map(d, map);
  map.commit();
}

// Runs the output phase in dir with a fresh log (kept elsewhere); returns
// the log's text.
std::string run_output(RunData& d, const fs::path& dir) {
  ChangeDir cd(dir);
  test::LogCapture log;
  write_map(d, log.log());
  return log.text();
}

// The names of the files in dir.
std::vector<std::string> listing(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// The start of a file-layer error about the field map.
const char* const kMapError = "wavecalc_to_kaven: unit 7 (eh_VRQ.#07): ";

const std::string kNameLine = crlf_lines({"  Output field file name = eh_VRQ.#07"});

TEST(FieldMapName, TwoDigitsOrTwoAsterisks) {
  const struct {
    std::int32_t fnum;
    const char* name;
  } cases[] = {
      {0, "eh_VRQ.#00"},          {1, "eh_VRQ.#01"},
      {7, "eh_VRQ.#07"},          {12, "eh_VRQ.#12"},
      {99, "eh_VRQ.#99"},         {100, "eh_VRQ.#**"},
      {-1, "eh_VRQ.#**"},         {-9, "eh_VRQ.#**"},
      {2147483647, "eh_VRQ.#**"}, {-2147483647 - 1, "eh_VRQ.#**"},
  };
  for (const auto& c : cases) EXPECT_EQ(field_map_name(c.fnum), c.name) << c.fnum;
}

TEST(FieldMapFormat0, RecordsOfTheSmallGridReadBackFromTheLayout) {
  TempDir dir;
  RunData d = output_grid(2, 2, 3, 0);
  d.elen = 12.5;
  d.aper = -0.0;  // the sign bit of a zero survives the binary form
  d.symX = 2;
  d.symY = -1;
  d.symZ = 1;
  write_file(dir / "eh_VRQ.#07", std::string(5000, 'x'));  // a longer map of an earlier run
  EXPECT_EQ(run_output(d, dir.path()), kNameLine);
  EXPECT_EQ(listing(dir.path()), std::vector<std::string>{"eh_VRQ.#07"});
  EXPECT_EQ(fs::file_size(dir / "eh_VRQ.#07"), 764u);

  const test::Format0Map m = test::read_format0(dir / "eh_VRQ.#07");
  EXPECT_EQ(m.record_lengths, (std::vector<std::int32_t>{20, 12, 16, 16, 24, 96, 96, 96, 96, 96, 96, 4}));
  EXPECT_EQ(m.elen, 12.5);
  EXPECT_TRUE(m.aper == 0.0 && std::signbit(m.aper));
  EXPECT_EQ(m.zero, 0);
  EXPECT_EQ(m.keys, (std::array<std::int32_t, 3>{2, -1, 1}));
  EXPECT_EQ(m.Xo, (std::vector<double>{-2, -1}));
  EXPECT_EQ(m.Yo, (std::vector<double>{2, 4}));
  EXPECT_EQ(m.Zo, (std::vector<double>{-5, -10, -15}));
  for (int c = 0; c < 6; ++c) {
    std::vector<double> want;  // x fastest, z slowest
    for (int k = 1; k <= 3; ++k)
      for (int j = 1; j <= 2; ++j)
        for (int i = 1; i <= 2; ++i) want.push_back(node_value(c, i, j, k));
    EXPECT_EQ(m.fields[static_cast<std::size_t>(c)], want) << "component " << c;
  }
  EXPECT_EQ(m.end_marker, -99);

  // The first bytes as the layout table gives them.
  const std::string bytes = read_file(dir / "eh_VRQ.#07");
  EXPECT_EQ(bytes.substr(0, 4), std::string("\x14\0\0\0", 4));
  EXPECT_EQ(bytes.substr(4, 8), std::string("\0\0\0\0\0\0\x29\x40", 8));  // 12.5
  EXPECT_EQ(bytes.substr(bytes.size() - 12), std::string("\x04\0\0\0\x9d\xff\xff\xff\x04\0\0\0", 12));
}

TEST(FieldMapFormat1, SameRecordsAsListWritesThreeValuesALine) {
  TempDir dir;
  RunData d = output_grid(5, 1, 2, 1);
  d.Yo(1) = 0.0;
  EXPECT_EQ(run_output(d, dir.path()), kNameLine);

  std::vector<std::string> want = {
      list_whole(10) + list_whole(1) + list_int(0),
      list_int(0) + list_int(0) + list_int(1),
      list_whole(-2) + list_whole(-1) + kListZero,  // Xo: five values take 3 + 2
      list_whole(1) + list_whole(2),
      kListZero,                         // Yo
      list_whole(-5) + list_whole(-10),  // Zo
  };
  for (int c = 0; c < 6; ++c) {
    // Ten values, x fastest: lines of 3, 3, 3, 1.
    std::vector<long long> v;
    for (int k = 1; k <= 2; ++k)
      for (int i = 1; i <= 5; ++i) v.push_back(static_cast<long long>(node_value(c, i, 1, k)));
    want.push_back(list_whole(v[0]) + list_whole(v[1]) + list_whole(v[2]));
    want.push_back(list_whole(v[3]) + list_whole(v[4]) + list_whole(v[5]));
    want.push_back(list_whole(v[6]) + list_whole(v[7]) + list_whole(v[8]));
    want.push_back(list_whole(v[9]));
  }
  want.push_back(list_int(-99));
  EXPECT_EQ(read_file(dir / "eh_VRQ.#07"), crlf_lines(want));
}

TEST(FieldMapFormat2, HeaderThenTwoLinesPerNodeZFastest) {
  TempDir dir;
  RunData d = output_grid(2, 2, 2, 2);
  EXPECT_EQ(run_output(d, dir.path()), kNameLine);

  std::vector<std::string> want = {
      list_int(2),
      list_int(0) + list_int(0) + list_int(1),
      list_whole(-1) + list_whole(1) + list_int(2),
      list_whole(-2) + list_whole(2) + list_int(2),
      list_whole(-5) + list_whole(5) + list_int(2),
  };
  for (int i = 1; i <= 2; ++i)
    for (int j = 1; j <= 2; ++j)
      for (int k = 1; k <= 2; ++k) {
        const auto v = [&](int c) { return static_cast<long long>(node_value(c, i, j, k)); };
        want.push_back(list_whole(v(0)) + list_whole(v(1)) + list_whole(v(2)));
        want.push_back(list_whole(v(3)) + list_whole(v(4)) + list_whole(v(5)));
      }
  const std::string text = read_file(dir / "eh_VRQ.#07");
  EXPECT_EQ(text.substr(0, 14), "           2\r\n");
  EXPECT_EQ(text, crlf_lines(want));
}

TEST(FieldMapFormat, OtherCodesStopBeforeAnyFileIsOpened) {
  for (std::int32_t fmt : {3, -1, 7, 100}) {
    TempDir dir;
    RunData d = output_grid(2, 2, 3, fmt);
    ChangeDir cd(dir.path());
    test::LogCapture log;
    EXPECT_RUN_ERROR(write_map(d, log.log()), kExitStop, " Not a valid KAVEN 3D field format: use 0, 1 or 2 ") << fmt;
    EXPECT_EQ(log.text(), kNameLine) << fmt;
    EXPECT_TRUE(fs::is_empty(dir.path())) << fmt;
  }
}

TEST(RunSummary, FiveLinesWithTheFirstAndLastNodes) {
  TempDir dir;
  RunData d = output_grid(3, 2, 3, 0);
  d.elen = 10.0;
  d.aper = 1.5;
  d.Xo(1) = -0.5;
  d.Xo(3) = 0.5;
  d.Xmin = -0.25;  // the stored limits are not what the summary shows
  d.Xmax = 0.25;
  d.Yo(1) = -0.0;
  d.Yo(2) = 2.0;
  d.Zo(1) = -5.0;
  d.Zo(3) = 5.0;
  d.Zmax = 4.0;
  test::LogCapture log;
  write_summary(d, log.log());
  const std::string keys = "  Symmetry Keys: X, Y, Z =            0           0           1";
  EXPECT_EQ(keys.size(), 63u);  // a blank, the 26-character text, three 12-column integers
  EXPECT_EQ(log.text(),
            crlf_lines({
                "  Element Length & Aperture = " + list_whole(10) + "   1.50000000000000     ",
                keys,
                "  Field X limits = " + std::string(" -0.500000000000000     ") + "  0.500000000000000     ",
                "  Field Y limits = " + kListZero + list_whole(2),
                "  Field Z limits = " + list_whole(-5) + list_whole(5),
            }));
}

// Restores the file-size limit and the SIGXFSZ action on leaving the scope.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old_);
    old_action_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lim = old_;
    lim.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &lim);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, old_action_);
  }

 private:
  rlimit old_{};
  void (*old_action_)(int) = SIG_DFL;
};

TEST(FieldMapFailure, FailedWriteKeepsTheEarlierMapAndLeavesNoTemporary) {
  for (std::int32_t fmt : {0, 1, 2}) {
    TempDir dir;
    write_file(dir / "eh_VRQ.#07", "field map of an earlier run");
    RunData d = output_grid(25, 25, 40, fmt);  // 200 kB per array in format 0
    ChangeDir cd(dir.path());
    test::LogCapture log;
    EXPECT_RUN_ERROR(
        {
          FileSizeLimit limit(64 * 1024);
          write_map(d, log.log());
        },
        kExitFileError, kMapError)
        << fmt;
    EXPECT_EQ(read_file("eh_VRQ.#07"), "field map of an earlier run") << fmt;
    EXPECT_EQ(listing(dir.path()), std::vector<std::string>{"eh_VRQ.#07"}) << fmt;
  }
}

TEST(FieldMapFailure, MissingFolderIsAFileError) {
  // The working folder removed under the run: the file cannot be created.
  TempDir dir;
  fs::create_directory(dir / "gone");
  test::LogCapture log;
  RunData d = output_grid(2, 2, 3, 0);
  ChangeDir cd(dir / "gone");
  fs::remove(dir / "gone");
  EXPECT_RUN_ERROR(write_map(d, log.log()), kExitFileError, kMapError);
}

}  // namespace
}  // namespace wk
