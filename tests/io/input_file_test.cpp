#include "io/input_file.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "io/error.hpp"
#include "io/line_source.hpp"
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

// A streamed text read line by line, given back behind the reader: its
// lines are those of the unpacked file, whether it is kept whole (window 0)
// or inflated a window ahead into pages reused from behind the reader, in
// one gzip member or two. A file cut short ends the reading at the cut, and
// check_intact finds the cut beyond what a reader read.
TEST(InputText, StreamedTextReadsAsTheUnpackedFile) {
  std::string text;
  for (int i = 0; text.size() < (std::size_t{12} << 20); ++i) text += std::to_string(i) + " 1.25E+00 -2.5e-3\n";
  text += "a last line without its end";
  const std::string one = test::gzip_bytes(text);
  const std::size_t cut = text.size() / 3;
  const std::string two = test::gzip_bytes(text.substr(0, cut)) + test::gzip_bytes(text.substr(cut));
  test::TempDir dir;
  const std::string path = (dir / "e.txt.gz").string();
  const auto streamed = [&](std::size_t window) {
    Inflating inflating;
    inflating.stream = true;
    inflating.window = window;
    return std::make_unique<InputText>(2, path, InputText::Gzip::inflate, inflating);
  };
  // The lines of `in` that differ from the text's, and the count read.
  const auto read_all = [&](InputText& in, long& lines) {
    LineSource src(in);
    src.release_as_read();
    std::string_view line;
    std::size_t at = 0;
    long wrong = 0;
    lines = 0;
    while (src.next_line(line)) {
      const std::size_t end = std::min(text.find('\n', at), text.size());
      wrong += line != std::string_view(text).substr(at, end - at);
      at = end + 1;
      ++lines;
    }
    return wrong;
  };
  const long text_lines = static_cast<long>(std::count(text.begin(), text.end(), '\n')) + 1;
  for (const std::string* gz : {&one, &two}) {
    for (const std::size_t window : {std::size_t{0}, std::size_t{1} << 20}) {
      test::write_file(path, *gz);
      const auto in = streamed(window);
      long lines = 0;
      EXPECT_EQ(read_all(*in, lines), 0) << window;
      EXPECT_EQ(lines, text_lines);
      EXPECT_TRUE(in->complete());
      in->check_intact();
    }
  }
  test::write_file(path, one.substr(0, one.size() / 4 * 3));
  const std::string cut_short = "unit 2 (" + path + "): the gzip-compressed file is corrupt or truncated";
  long lines = 0;
  EXPECT_RUN_ERROR(read_all(*streamed(std::size_t{1} << 20), lines), kExitFileError, cut_short);
  const auto in = streamed(std::size_t{1} << 20);
  LineSource src(*in);
  std::string_view line;
  ASSERT_TRUE(src.next_line(line));
  EXPECT_EQ(line, "0 1.25E+00 -2.5e-3");
  EXPECT_RUN_ERROR(in->check_intact(), kExitFileError, cut_short);
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
