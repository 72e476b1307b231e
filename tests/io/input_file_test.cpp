#include "io/input_file.hpp"

#include <gtest/gtest.h>

#include <string>

#include "io/error.hpp"
#include "support/test_support.hpp"

namespace wk {
namespace {

std::string text_of(const std::string& content) {
  test::TempDir dir;
  test::write_file(dir / "export.dat", content);
  InputText in(2, (dir / "export.dat").string());
  return std::string(in.text());
}

// The message and status of the error that opening `content` as unit 3 gives.
RunError error_of(const std::string& content) {
  test::TempDir dir;
  test::write_file(dir / "h.txt", content);
  try {
    InputText in(3, (dir / "h.txt").string());
  } catch (const RunError& e) {
    return e;
  }
  return RunError("no error", 0);
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
    const RunError e = error_of(c.bytes);
    EXPECT_EQ(e.status(), kExitFileError) << c.name;
    EXPECT_NE(std::string(e.what()).find("unit 3 ("), std::string::npos) << c.name << ": " << e.what();
    EXPECT_NE(std::string(e.what()).find("h.txt"), std::string::npos) << c.name << ": " << e.what();
    EXPECT_NE(std::string(e.what()).find(c.what), std::string::npos) << c.name << ": " << e.what();
  }
}

TEST(InputText, FolderAndMissingFile) {
  test::TempDir dir;
  for (const auto& [name, what] : {std::pair{"", "is a folder, not a file"}, std::pair{"none.txt", "file not found"}}) {
    try {
      InputText in(2, (dir / name).string());
      ADD_FAILURE() << name;
    } catch (const RunError& e) {
      EXPECT_EQ(e.status(), kExitFileError);
      EXPECT_NE(std::string(e.what()).find(what), std::string::npos) << e.what();
    }
  }
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
