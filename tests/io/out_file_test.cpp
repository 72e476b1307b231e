#include "io/out_file.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "io/error.hpp"
#include "support/run_support.hpp"

namespace wk {
namespace {

namespace fs = std::filesystem;

int count_entries(const fs::path& dir) {
  int n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir)) ++n;
  return n;
}

TEST(OutFile, ReplaceModeRenamesOnlyOnCommit) {
  test::TempDir dir;
  const auto target = dir / "map.bin";
  test::write_file(target, "old map");
  {
    OutFile f(7, target.string(), OutFile::Mode::Replace, 256);
    f.write(std::string(1000, 'n'));  // more than the buffer: several writes
    EXPECT_EQ(test::read_file(target), "old map");
    f.commit();
  }
  EXPECT_EQ(test::read_file(target), std::string(1000, 'n'));
  EXPECT_EQ(count_entries(dir.path()), 1);
}

TEST(OutFile, UncommittedReplacementLeavesTheOldFileAndNoTemporary) {
  test::TempDir dir;
  const auto target = dir / "map.bin";
  test::write_file(target, "old map");
  {
    OutFile f(7, target.string(), OutFile::Mode::Replace);
    f.write("partial");
    f.flush();
  }  // a run that ends early never commits
  EXPECT_EQ(test::read_file(target), "old map");
  EXPECT_EQ(count_entries(dir.path()), 1);
}

TEST(OutFile, WriteFailuresAreFileErrors) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  OutFile f(7, "/dev/full", OutFile::Mode::Rewrite, 256);
  EXPECT_RUN_ERROR(
      {
        f.write(std::string(1000, 'x'));
        f.commit();
      },
      kExitFileError, "wavecalc_to_kaven: unit 7 (/dev/full): write error: No space left on device");
}

TEST(OutFile, OpenFailureNamesTheFile) {
  test::TempDir dir;
  const auto target = dir / "no_such_folder" / "map.bin";
  EXPECT_RUN_ERROR(OutFile(7, target.string(), OutFile::Mode::Replace), kExitFileError,
                   "unit 7 (" + target.string() + "): cannot open for writing");
}

}  // namespace
}  // namespace wk
