// Field input: the grid scan of the E export and the reading pass of both exports.
#pragma once

#include <exception>
#include <memory>
#include <string>

#include "io/input_file.hpp"
#include "io/list_writer.hpp"
#include "io/number_scan.hpp"
#include "model/run_data.hpp"

namespace wk {

namespace field_detail {
// The reading of both exports begun during the grid scan (export_reader.cpp).
struct ReadAhead;
struct ReadAheadDeleter {
  void operator()(ReadAhead* ahead) const;
};
}  // namespace field_detail

// The E and H exports of a run: their texts, each read from its file once
// for the whole run (mapped, or, when gzip-compressed, inflated on a thread
// of its own a window ahead of its reading, as the reading pass begun
// during the grid scan reads both once), and the range the grid scan found
// in the E export's own units. Exports that reading cannot take are opened
// again and read as before: E by the grid scan and then by the reading pass. A file that cannot be opened
// is reported when its text is first asked for, so that the run meets its
// faults in the order a reader of E first, then H, would; a compressed file
// damaged further on, where a reader meets the damage.
class Exports {
 public:
  Exports(const std::string& efile, const std::string& hfile);
  ~Exports() { ahead.reset(); }  // its readers read the texts
  Exports(const Exports&) = delete;
  Exports& operator=(const Exports&) = delete;
  // Opens both files again, for a reading from their starts after a reading
  // that gave their texts back: E then kept whole, for a grid scan and a
  // reading pass.
  void reopen();
  InputText& e() { return get(e_, e_error_); }
  InputText& h() { return get(h_, h_error_); }
  // For a run that fails while reading them: ends it with the damage of a
  // compressed export (E's first) when one is damaged beyond what was read,
  // since what a reader met in it may be the damage's garbage.
  void refuse_damaged();

  // The first and the last point of the E export as read, before the
  // scale: set by the grid scan, the reading pass places its nodes between
  // them.
  struct Range {
    double first[3] = {0, 0, 0};
    double last[3] = {0, 0, 0};
    // The exponents of their coordinates' last printed digits: the nodes
    // placed between them are known to half a unit of those digits.
    int first_digit[3] = {kExactDigit, kExactDigit, kExactDigit};
    int last_digit[3] = {kExactDigit, kExactDigit, kExactDigit};
  };
  Range scanned;

  // The reading pass as begun during the grid scan, while the texts were
  // inflated: taken by read_exports when it is what reading them now would
  // give, else read again.
  std::unique_ptr<field_detail::ReadAhead, field_detail::ReadAheadDeleter> ahead;

 private:
  void open(bool e_whole);
  static InputText& get(const std::unique_ptr<InputText>& text, const std::exception_ptr& error);

  std::unique_ptr<InputText> e_, h_;
  std::exception_ptr e_error_, h_error_;
  std::string efile_, hfile_;
};

// Looks at the first data line of the E export (blank lines before it are
// passed over): nine values select real and imaginary parts (icplx = 1) and
// are logged, fewer real parts only; writes the reading line. A token among
// the first nine that is no number is a file error.
void choose_line_layout(RunData& d, ListWriter& log, Exports& exports);

// Scans the E export for its loop order, counts, ranges and steps, refuses
// exports that cannot be converted, and writes the " Input Grid parameters " block.
//
// Sets iord, Nix/Niy/Niz, Ximin..Zimax (first and last line's coordinates
// times scale) and dXi/dYi/dZi (first change of each coordinate times scale),
// and the first and last point as read in exports.scanned. The log block is written first; then the run is refused
// (exit status 1) when the first two lines share their coordinates, when the line count is not a whole number of rows
// and planes, when the grid or its completion by the symmetry keys exceeds 25 x 25 x 8001 or has fewer than 3 nodes on
// an axis, or when scale is 0 or not finite. An export that ends before every axis has changed, or an unreadable line
// before the last coordinate has changed, is a file-layer error (exit status 2).
void scan_input_grid(RunData& d, ListWriter& log, Exports& exports);

// Reads the E and H exports in step into the input-grid arrays and keeps the
// largest |Ez| as read.
//
// Sizes Exi..Hzi to Nix x Niy x Niz and stores E's real parts and H's real
// parts (icplx 0) or imaginary parts (icplx 1), each line at the node its loop
// indices give, the nodes placed between exports.scanned's first and last
// point; Ez_max_read gets the largest |Ez| (V/m). A short export, an
// unreadable number or one written with a decimal comma is a file-layer
// error; a line of another count of numbers than its export's first data
// line, an E line off the uniform grid by more than its digits and 1e-3 of
// a step, an H line off its node by more than a quarter step (or that rule)
// or than that from its E line, or a value that is not finite is refused.
// H points apart from E's by more than the digits of both and 1e-3 of a
// step, and a 9-column E export whose imaginary parts reach 1e-2 of its
// real parts (a mode at a phase), are warned of in d.warnings. Of several
// faults, the one a reader taking one E line and then one H line would meet
// first is reported. Refused too: an H export whose first data line holds
// another number of values than the E export's (before any point is read),
// a point after the grid's last in either export, and a field (E or H) that
// is 0 at every point.
void read_exports(RunData& d, Exports& exports);

}  // namespace wk
