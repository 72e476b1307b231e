// The block-formatted text records against the item-by-item list writes
// they stand for: same bytes for every record length, at every block cut.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "io/error.hpp"
#include "io/list_writer.hpp"
#include "io/out_file.hpp"
#include "output/field_map.hpp"
#include "support/run_support.hpp"

namespace wk {
namespace {

using test::read_file;
using test::TempDir;

// Doubles of every kind the field layout distinguishes: fixed and exponent
// form, both signs, zeros, values that round up to the next decade, and the
// non-numbers.
std::vector<double> mixed_values(std::size_t n) {
  const double special[] = {0.0,
                            -0.0,
                            0.1,
                            0.09999999999999999,
                            999999999999999.9,
                            1e15,
                            -1e-300,
                            5e-324,
                            std::numeric_limits<double>::infinity(),
                            -std::numeric_limits<double>::infinity(),
                            std::numeric_limits<double>::quiet_NaN()};
  std::mt19937_64 rng(12345);
  std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
  std::uniform_int_distribution<int> exponent(-20, 20);
  std::vector<double> v(n);
  for (std::size_t t = 0; t < n; ++t) {
    v[t] = t % 7 == 3 ? special[(t / 7) % std::size(special)] : std::ldexp(mantissa(rng), 3 * exponent(rng));
  }
  return v;
}

// What the list writer writes for the record, one item at a time.
std::string reference_record(const std::vector<double>& v, const std::string& path) {
  {
    OutFile out(7, path);
    ListWriter w(out);
    for (double x : v) w.real(x);
    w.end();
    out.commit();
  }
  return read_file(path);
}

TEST(TextBlocks, RealRecordMatchesListWritesAtEveryCut) {
  TempDir dir;
  const std::size_t lengths[] = {0, 1, 2, 3, 4, 5, 6, 7, 11, 12, 13, 100, 301};
  const output_detail::TextBlocking cuts[] = {{1, 1}, {2, 1}, {3, 2}, {5, 3}, {7, 7}, {1000, 10}};
  for (std::size_t n : lengths) {
    const std::vector<double> v = mixed_values(n);
    const std::string want = reference_record(v, (dir / "reference").string());
    for (const auto& cut : cuts) {
      const std::string path = (dir / "blocks").string();
      {
        OutFile out(7, path, OutFile::Mode::Rewrite, 256);  // a buffer smaller than one block
        output_detail::write_real_record(out, v.data(), v.size(), cut);
        out.commit();
      }
      EXPECT_EQ(read_file(path), want) << "n = " << n << ", block " << cut.block << ", piece " << cut.piece;
    }
  }
}

TEST(TextBlocks, NodeLinesMatchPerNodeListWrites) {
  TempDir dir;
  const struct { int nx, ny, nz; } grids[] = {{1, 1, 1}, {2, 3, 4}, {3, 2, 5}, {4, 1, 7}};
  const output_detail::TextBlocking cuts[] = {{1, 1}, {2, 1}, {5, 2}, {7, 3}, {1000, 1000}};
  for (const auto& g : grids) {
    RunData d;
    d.Nox = g.nx;
    d.Noy = g.ny;
    d.Noz = g.nz;
    FieldArray* arrays[6] = {&d.Exo, &d.Eyo, &d.Ezo, &d.Bxo, &d.Byo, &d.Bzo};
    const std::vector<double> v = mixed_values(6u * static_cast<std::size_t>(g.nx * g.ny * g.nz));
    std::size_t at = 0;
    for (FieldArray* a : arrays) {
      a->resize(g.nx, g.ny, g.nz);
      for (std::size_t t = 0; t < a->size(); ++t) a->data()[t] = v[at++];
    }
    const std::string ref_path = (dir / "reference").string();
    {
      OutFile out(7, ref_path);
      ListWriter w(out);
      for (int i = 1; i <= g.nx; ++i)
        for (int j = 1; j <= g.ny; ++j)
          for (int k = 1; k <= g.nz; ++k)
            w.record(d.Exo(i, j, k), d.Eyo(i, j, k), d.Ezo(i, j, k), d.Bxo(i, j, k), d.Byo(i, j, k), d.Bzo(i, j, k));
      out.commit();
    }
    const std::string want = read_file(ref_path);
    for (const auto& cut : cuts) {
      const std::string path = (dir / "blocks").string();
      {
        OutFile out(7, path, OutFile::Mode::Rewrite, 256);
        output_detail::write_node_lines(d, out, cut);
        out.commit();
      }
      EXPECT_EQ(read_file(path), want) << g.nx << "x" << g.ny << "x" << g.nz << ", block " << cut.block << ", piece "
                                       << cut.piece;
    }
  }
}

TEST(TextBlocks, WriteErrorInALongRecordReachesTheCaller) {
  const std::vector<double> v = mixed_values(3000);
  EXPECT_RUN_ERROR(
      {
        OutFile out(7, "/dev/full", OutFile::Mode::Rewrite, 256);
        output_detail::write_real_record(out, v.data(), v.size(), {10, 3});
        out.commit();
      },
      kExitFileError, "unit 7 (/dev/full): write error");
}

}  // namespace
}  // namespace wk
