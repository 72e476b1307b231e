// The grid scan's pieces, internal to src/field: what the scan of the E
// export finds in the export's own units, the scan itself (grid_scan.cpp),
// its count of the points to the end of the file (point_count.cpp) and the
// refusal of grids that cannot be converted (grid_checks.cpp).
#pragma once

#include <cstdint>

#include "io/input_file.hpp"
#include "io/line_source.hpp"
#include "model/run_data.hpp"

namespace wk::field_detail {

// What the scan found, in export units.
struct ScanResult {
  double first[3] = {0, 0, 0};     // coordinates of line 1
  double last[3] = {0, 0, 0};      // coordinates of the last line read
  int first_digit[3] = {0, 0, 0};  // exponents of the last printed digits of first and last
  int last_digit[3] = {0, 0, 0};
  double step[3] = {0, 0, 0};       // first change of each coordinate
  double row_end[3] = {0, 0, 0};    // the last point of the first row (line row_points)
  double plane_end[3] = {0, 0, 0};  // the last point of the first plane (line plane_points)
  std::int32_t iord = 0;
  int fast = 0, mid = 0, slow = 0;
  long row_points = 0;    // points of the first row
  long plane_points = 0;  // points of the first plane
  long points = 0;        // points in the file
  long count[3] = {0, 0, 0};
  long end_line = 0;     // the line, not a point, that ended scan 3 (0: the end of the file)
  long point_after = 0;  // the first later line that starts with a point (0: none)
};

// Scans 1 to 3 of the E export into r (see grid_scan.cpp).
void scan(InputText& e_text, ScanResult& r);

// How scan 3 ended: the points read in all, and for a scan that a line
// which is not a point ended, that line and the first later line that
// starts with a point (line numbers of the file, 0 for none).
struct ScanEnd {
  long n = 0;
  long end_line = 0;
  long point_after = 0;
};

// Scan 3, after n points read from in (a reader of `text`): reads points of
// three numbers until a read does not succeed; returns how it ended and puts
// the coordinates of the last point into cur, and the exponents of their
// last printed digits into cur_digit (left as they are when no point is
// read).
ScanEnd count_to_end(InputText& text, FreeFormReader& in, long n, double* cur, int* cur_digit);

// Refuses the grids that cannot be converted into a correct field map.
void refuse_unusable_grid(const RunData& d, const ScanResult& r);

}  // namespace wk::field_detail
