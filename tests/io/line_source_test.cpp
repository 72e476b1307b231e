#include "io/line_source.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/error.hpp"
#include "support/run_support.hpp"

namespace wk {
namespace {

std::vector<std::string> all_lines(const std::string& content) {
  test::TempDir dir;
  test::write_file(dir / "f.txt", content);
  LineSource src(2, (dir / "f.txt").string());
  std::vector<std::string> lines;
  std::string_view line;
  while (src.next_line(line)) lines.emplace_back(line);
  return lines;
}

TEST(LineSource, LineEndsAndByteOrderMark) {
  using L = std::vector<std::string>;
  EXPECT_EQ(all_lines("a\nb\n"), (L{"a", "b"}));
  EXPECT_EQ(all_lines("a\r\nb\r\n"), (L{"a", "b"}));
  EXPECT_EQ(all_lines("a\nlast"), (L{"a", "last"}));
  EXPECT_EQ(all_lines("\xEF\xBB\xBFx\n"), (L{"x"}));
  EXPECT_EQ(all_lines("\n\n"), (L{"", ""}));
  EXPECT_EQ(all_lines(""), L{});
  // The control file is read as it is, even when it starts like a gzip file.
  EXPECT_EQ(all_lines("\x1f\x8b\n"), (L{"\x1f\x8b"}));
}

// Reading from a byte offset, and the offsets of the lines read: what a
// reader that splits a file at a line start relies on.
TEST(LineSource, StartAtAnOffsetAndLineOffsets) {
  // "a" at 0, "bb" at 2 (CR LF), "" at 6, "ccc" at 7 without a line end.
  const std::string content = "a\nbb\r\n\nccc";
  const struct {
    std::uint64_t start;
    std::vector<std::string> lines;
    std::vector<std::uint64_t> line_offsets;
    std::vector<std::uint64_t> next_offsets;
  } cases[] = {
      {0, {"a", "bb", "", "ccc"}, {0, 2, 6, 7}, {2, 6, 7, 10}},
      {2, {"bb", "", "ccc"}, {2, 6, 7}, {6, 7, 10}},
      {3, {"b", "", "ccc"}, {3, 6, 7}, {6, 7, 10}},  // from inside a line: its rest
      {7, {"ccc"}, {7}, {10}},
      {10, {}, {}, {}},
  };
  {
    for (const auto& c : cases) {
      test::TempDir dir;
      test::write_file(dir / "f.txt", content);
      LineSource src(2, (dir / "f.txt").string());
      src.start_at(c.start);
      std::vector<std::string> lines;
      std::vector<std::uint64_t> line_offsets, next_offsets;
      std::string_view line;
      while (src.next_line(line)) {
        lines.emplace_back(line);
        line_offsets.push_back(src.line_offset());
        next_offsets.push_back(src.next_offset());
      }
      EXPECT_EQ(lines, c.lines) << c.start;
      EXPECT_EQ(line_offsets, c.line_offsets) << c.start;
      EXPECT_EQ(next_offsets, c.next_offsets) << c.start;
    }
  }
  // A byte-order mark belongs to the start of the file only.
  test::TempDir dir;
  test::write_file(dir / "bom.txt", "\xEF\xBB\xBFx\ny\n");
  LineSource src(2, (dir / "bom.txt").string());
  std::string_view line;
  ASSERT_TRUE(src.next_line(line));
  EXPECT_EQ(line, "x");
  EXPECT_EQ(src.line_offset(), 3u);
  EXPECT_EQ(src.next_offset(), 5u);
}

TEST(LineSource, OpenFailuresNameUnitAndFile) {
  test::TempDir dir;
  const std::string missing = (dir / "nope.txt").string();
  EXPECT_RUN_ERROR(LineSource(2, missing), kExitFileError,
                   "wavecalc_to_kaven: unit 2 (" + missing + "): file not found");
  EXPECT_RUN_ERROR(LineSource(3, dir.path().string()), kExitFileError,
                   "wavecalc_to_kaven: unit 3 (" + dir.path().string() + "): is a folder, not a file");
}

TEST(FreeFormReader, ReadsAcrossLinesEachReadOnANewLine) {
  test::TempDir dir;
  test::write_file(dir / "c.txt", "1 2\n3 remark\n4 5 6\n6.5d0 remark\n\n7\n");
  LineSource src(1, (dir / "c.txt").string());
  FreeFormReader in(src);
  std::int32_t three[3];
  in.ints(three, 3);  // 1 2 from line 1, 3 from line 2 (its remark ignored)
  EXPECT_EQ(three[2], 3);
  in.ints(three, 1);  // a new read starts on line 3; 5 and 6 are left
  EXPECT_EQ(three[0], 4);
  double v = 0;
  in.reals(&v, 1);
  EXPECT_EQ(v, 6.5);
  in.reals(&v, 1);  // the empty line is passed over
  EXPECT_EQ(v, 7.0);
  EXPECT_EQ(src.line_number(), 6);
  EXPECT_RUN_ERROR(in.reals(&v, 1), kExitFileError, "unexpected end of file after line 6");
}

TEST(FreeFormReader, UnreadableValuesNameLineAndToken) {
  test::TempDir dir;
  const std::string path = (dir / "c.txt").string();
  test::write_file(dir / "c.txt", "1.5\nabc\n2.5 3\n");
  LineSource src(1, path);
  FreeFormReader in(src);
  std::int32_t k = 0;
  EXPECT_RUN_ERROR(in.ints(&k, 1), kExitFileError,
                   "wavecalc_to_kaven: unit 1 (" + path + "), line 1: \"1.5\" is not an integer");
  double v = 0;
  EXPECT_RUN_ERROR(in.reals(&v, 1), kExitFileError,
                   "wavecalc_to_kaven: unit 1 (" + path + "), line 2: \"abc\" is not a real number");
  double two[2];
  EXPECT_EQ(in.try_reals(two, 2), FreeFormReader::Status::ok);
  EXPECT_EQ(in.try_reals(two, 2), FreeFormReader::Status::end_of_file);
}

TEST(QuoteToken, BinaryAndHugeTokensStayOneShortLine) {
  EXPECT_EQ(quote_token("abc"), "\"abc\"");
  EXPECT_EQ(quote_token(std::string("a\0\x01\xff", 4)), "\"a???\"");
  EXPECT_EQ(quote_token(std::string(1000, 'x')), "\"" + std::string(40, 'x') + "...\"");
}

}  // namespace
}  // namespace wk
