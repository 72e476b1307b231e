#include "io/list_writer.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "support/run_support.hpp"

namespace wk {
namespace {

using test::blanks;

class ListWriterTest : public ::testing::Test {
 protected:
  // Runs `body` on a ListWriter over a fresh file and returns the bytes written.
  template <class Body>
  std::string written(Body body) {
    test::LogCapture capture;
    body(capture.log());
    return capture.text();
  }
};

TEST_F(ListWriterTest, RecordLayouts) {
  const double pi = 3.141592653589793;
  EXPECT_EQ(written([](ListWriter& w) { w.record(" Constants used "); }), "  Constants used \r\n");
  EXPECT_EQ(written([&](ListWriter& w) { w.record(" pi  = ", pi, " rad "); }),
            "  pi  =    3.14159265358979       rad \r\n");
  EXPECT_EQ(written([](ListWriter& w) { w.record(std::int32_t{2}); }), blanks(11) + "2\r\n");
  // A record without items is one blank.
  EXPECT_EQ(written([](ListWriter& w) { w.end(); }), " \r\n");
  // Two texts in a row get no separator.
  EXPECT_EQ(written([](ListWriter& w) {
              w.record(" Same symmetry and grid, No need for interpolation", ", Simply write the field ...");
            }),
            "  Same symmetry and grid, No need for interpolation, Simply write the field ...\r\n");
  // Text then an integer: the integer's own blanks separate it.
  EXPECT_EQ(written([](ListWriter& w) { w.record(" iord= ", std::int32_t{321}); }), "  iord=          321\r\n");
}

TEST_F(ListWriterTest, EightyColumnsAndWrapping) {
  // 1 + 19 + 24 + 24 + 12 = 80: stays on one line.
  const std::string line = written([](ListWriter& w) { w.record(" Xmin, Xmax, Nox = ", -1.0, 1.0, std::int32_t{25}); });
  EXPECT_EQ(line, "  Xmin, Xmax, Nox =   -1.00000000000000        1.00000000000000     " + blanks(10) + "25\r\n");
  EXPECT_EQ(line.size(), 82u);

  // Six doubles: two lines of three.
  const std::string six = written([](ListWriter& w) { w.record(1.0, 2.0, 3.0, 4.0, 5.0, 6.0); });
  const std::string third = blanks(3) + "3.00000000000000" + blanks(5);
  ASSERT_EQ(six.size(), 2u * 74u);
  EXPECT_EQ(six.substr(48, 26), third + "\r\n");

  // A text, three doubles and an integer: the third double starts line 2 in column 1.
  const std::string grid =
      written([](ListWriter& w) { w.record(" Ximin, Ximax, dXi, Nix = ", 0.0, 0.1, 0.1, std::int32_t{2}); });
  EXPECT_EQ(grid, "  Ximin, Ximax, dXi, Nix = " + blanks(2) + "0.000000000000000E+000" + blanks(2) +
                      "0.100000000000000" + blanks(5) + "\r\n" + blanks(2) + "0.100000000000000" + blanks(5) +
                      blanks(11) + "2\r\n");

  // A number, then a text that no longer fits: the text starts a new line with its blank.
  const std::string wrapped = written([](ListWriter& w) { w.record(1.0, 2.0, 3.0, " a text of twelve"); });
  EXPECT_EQ(wrapped.substr(72), " \r\n  a text of twelve\r\n");
}

TEST_F(ListWriterTest, NoLineIsLongerThanEightyColumns) {
  const std::string long_text(200, 'x');
  const std::string out = written([&](ListWriter& w) {
    w.record(long_text, 1.0, std::int32_t{5}, long_text, 2.0);
    w.record(std::string(80, 'y'));
  });
  std::size_t start = 0;
  int lines = 0;
  while (start < out.size()) {
    const std::size_t end = out.find("\r\n", start);
    ASSERT_NE(end, std::string::npos);
    EXPECT_LE(end - start, 80u);
    start = end + 2;
    ++lines;
  }
  EXPECT_GE(lines, 7);
  // Every character of the texts is kept.
  EXPECT_EQ(std::count(out.begin(), out.end(), 'x'), 400);
  EXPECT_EQ(std::count(out.begin(), out.end(), 'y'), 80);
}

}  // namespace
}  // namespace wk
