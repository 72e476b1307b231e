// Helpers of the field-input tests: small exports written in any loop order,
// a run with a log in a temporary folder, and the error a call ends with.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "field/field.hpp"
#include "io/error.hpp"
#include "io/list_writer.hpp"
#include "io/out_file.hpp"
#include "model/run_data.hpp"
#include "support/run_support.hpp"
#include "support/test_support.hpp"

namespace wk::test {

using Node = std::array<int, 3>;  // (i, j, k), 1-based

// The six loop orders, in the order the reading pass tries them.
inline const int kLoopOrders[6] = {321, 312, 213, 231, 123, 132};

// A regular grid: node n of an axis lies at first + (n - 1) * step. The
// default is the 2 x 3 x 4 grid x in {0, 1}, y in {0, 2, 4}, z in {0, 5, 10, 15}.
struct TestGrid {
  int n[3] = {2, 3, 4};
  double first[3] = {0, 0, 0};
  double step[3] = {1, 2, 5};
  double coord(int axis, int node) const { return first[axis] + (node - 1) * step[axis]; }
};

// The nodes of g in the order a solver writes them with loop order iord:
// the axis whose digit is 1 changes fastest, the one whose digit is 3 slowest.
inline std::vector<Node> visit_order(int iord, const TestGrid& g) {
  const int digit[3] = {iord / 100, iord / 10 % 10, iord % 10};
  int axis_of[4] = {0, 0, 0, 0};
  for (int a = 0; a < 3; ++a) axis_of[digit[a]] = a;
  std::vector<Node> out;
  Node n{};
  for (n[axis_of[3]] = 1; n[axis_of[3]] <= g.n[axis_of[3]]; ++n[axis_of[3]]) {
    for (n[axis_of[2]] = 1; n[axis_of[2]] <= g.n[axis_of[2]]; ++n[axis_of[2]]) {
      for (n[axis_of[1]] = 1; n[axis_of[1]] <= g.n[axis_of[1]]; ++n[axis_of[1]]) out.push_back(n);
    }
  }
  return out;
}

// A number as the test exports write it.
inline std::string num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.10g", v);
  return buf;
}

// Distinct exact values for component c at a node, so that a value stored
// at the wrong place or taken from the wrong column is seen.
inline double field_value(const Node& n, int c) {
  const double v = 1000.0 * (c + 1) + 100.0 * n[0] + 10.0 * n[1] + n[2];
  return c % 2 == 0 ? v : -v;
}

// The field values of components first .. first + count - 1, each after a blank.
inline std::string field_values(const Node& n, int count, int first = 0) {
  std::string s;
  for (int c = first; c < first + count; ++c) {
    s += ' ';
    s += num(field_value(n, c));
  }
  return s;
}

// The lines of an export of g in loop order iord: the node's coordinates,
// then values(node).
inline std::vector<std::string> export_lines(const TestGrid& g, int iord,
                                             const std::function<std::string(const Node&)>& values) {
  std::vector<std::string> lines;
  for (const Node& n : visit_order(iord, g)) {
    lines.push_back(num(g.coord(0, n[0])) + " " + num(g.coord(1, n[1])) + " " + num(g.coord(2, n[2])) + values(n));
  }
  return lines;
}

// A temporary folder, made the current one, with a log and the run data as
// the phases before the field input leave it: exports "efield.txt" and
// "hfield.txt", scale 1, symmetry keys 1 1 0.
struct FieldRun {
  FieldRun() {
    d.Efile = "efield.txt";
    d.Hfile = "hfield.txt";
    d.scale = 1.0;
    d.isymX = d.isymY = 1;
  }
  void write_exports(const std::string& e_text, const std::string& h_text) {
    write_file(dir.path() / d.Efile, e_text);
    write_file(dir.path() / d.Hfile, h_text);
    texts.reset();
  }
  std::string log_text() { return log_capture.text(); }
  // The exports as written last, read when first asked for.
  Exports& exports() {
    if (!texts) texts = std::make_unique<Exports>(d.Efile, d.Hfile);
    return *texts;
  }

  TempDir dir;
  ChangeDir cd{dir.path()};
  LogCapture log_capture;
  ListWriter& log = log_capture.log();
  RunData d;
  std::unique_ptr<Exports> texts;
};

}  // namespace wk::test
