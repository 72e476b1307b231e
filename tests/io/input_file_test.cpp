#include "io/input_file.hpp"

#include <gtest/gtest.h>

#include <string>

#include "io/error.hpp"
#include "support/run_support.hpp"
#include "support/test_support.hpp"

namespace wk {
namespace {

std::string text_of(const std::string& content) {
  test::TempDir dir;
  test::write_file(dir / "export.dat", content);
  InputText in(2, (dir / "export.dat").string());
  return std::string(in.text());
}

TEST(InputText, GzipInflatesToThePlainTextWhateverTheName) {
  const std::string big = [] {
    std::string s;
    for (int i = 0; i < 200000; ++i) s += std::to_string(i) + " 1.5E+00 -2.25e-3\n";
    return s;
  }();
  for (const std::string& plain : {std::string(""), std::string("1 2 3\n"), big}) {
    EXPECT_EQ(text_of(plain), plain);
    EXPECT_EQ(text_of(test::gzip_bytes(plain)), plain);
    // Concatenated gzip files inflate to the concatenated texts.
    EXPECT_EQ(text_of(test::gzip_bytes(plain) + test::gzip_bytes("x\n")), plain + "x\n");
  }
  // The magic bytes alone decide: a plain text that does not start with
  // them is taken as it is.
  EXPECT_EQ(text_of("\x1f not gzip"), "\x1f not gzip");
}

TEST(InputText, DamagedGzipIsAFileErrorNamingUnitAndFile) {
  const std::string gz = test::gzip_bytes(std::string(100000, '7') + "\n");
  std::string corrupt = gz;
  corrupt[corrupt.size() / 2] ^= 0x55;
  corrupt[corrupt.size() - 6] ^= 0x55;  // the checksum too, if the data still inflates
  const struct {
    const char* name;
    std::string bytes;
    const char* what;
  } cases[] = {
      {"truncated", gz.substr(0, gz.size() - 9), "is corrupt or truncated"},
      {"cut in its header", gz.substr(0, 5), "is corrupt or truncated"},
      {"corrupt", corrupt, "is corrupt or truncated"},
      {"trailing bytes", gz + "junk", "has data after the end of its compressed stream"},
  };
  for (const auto& c : cases) {
    test::TempDir dir;
    test::write_file(dir / "h.txt", c.bytes);
    const std::string path = (dir / "h.txt").string();
    EXPECT_RUN_ERROR(InputText(3, path), kExitFileError, "unit 3 (" + path + "): the gzip-compressed file " + c.what)
        << c.name;
  }
}

TEST(InputText, GzipThatUnpacksBeyondItsLimitIsAFileError) {
  const std::string text(1000, '7');
  const std::string members = test::gzip_bytes(text.substr(0, 600)) + test::gzip_bytes(text.substr(600));
  for (const std::string& gz : {test::gzip_bytes(text), members}) {
    test::TempDir dir;
    test::write_file(dir / "e.txt", gz);
    const std::string path = (dir / "e.txt").string();
    EXPECT_EQ(InputText(2, path, InputText::Gzip::inflate, Inflating{1000, "the limit"}).text(), text);
    EXPECT_RUN_ERROR(InputText(2, path, InputText::Gzip::inflate, Inflating{999, "the limit"}), kExitFileError,
                     "unit 2 (" + path + "): the gzip-compressed file unpacks to more than 999 bytes, the limit; it is "
                     "no export");
  }
}

// A text of several MiB whose last member's size (in the trailer) is a
// tenth of it: the room grows from small pages into huge ones, and what is
// read after a release is intact.
TEST(InputText, LargeGzipTextGrowsIntoHugePagesAndReadsAfterARelease) {
  std::string text(5 << 20, ' ');
  for (std::size_t i = 0; i < text.size(); i += 61) text[i] = static_cast<char>('0' + i % 10);
  const std::size_t cut = text.size() / 10 * 9;
  test::TempDir dir;
  test::write_file(dir / "e.txt", test::gzip_bytes(text.substr(0, cut)) + test::gzip_bytes(text.substr(cut)));
  InputText in(2, (dir / "e.txt").string());
  ASSERT_EQ(in.text(), text);
  const std::size_t from = (3 << 20) + 12345;
  in.release_before(from);
  EXPECT_EQ(in.text().substr(from), text.substr(from));
}

TEST(InputText, FolderAndMissingFile) {
  test::TempDir dir;
  EXPECT_RUN_ERROR(InputText(2, dir.path().string()), kExitFileError, "is a folder, not a file");
  EXPECT_RUN_ERROR(InputText(2, (dir / "none.txt").string()), kExitFileError, "file not found");
}

// Released pages of a mapped file read back from the file.
TEST(InputText, ReleasedPagesOfAPlainFileReadAgain) {
  std::string s(3 << 16, 'a');
  for (std::size_t i = 0; i < s.size(); i += 97) s[i] = static_cast<char>('0' + i % 10);
  test::TempDir dir;
  test::write_file(dir / "f", s);
  InputText in(2, (dir / "f").string());
  in.release_before(s.size() - 5);
  EXPECT_EQ(in.text(), s);
}

}  // namespace
}  // namespace wk
