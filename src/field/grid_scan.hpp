// The grid scan's pieces, internal to src/field: what the scan of the E
// export finds in the export's own units, the scan itself (grid_scan.cpp),
// its count of the points to the end of the file (point_count.cpp) and the
// refusal of grids that cannot be converted (grid_checks.cpp).
#pragma once

#include <cstdint>
#include <functional>

#include "io/input_file.hpp"
#include "field/field.hpp"
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
  int row_end_digit[3] = {0, 0, 0};  // the exponents of their last printed digits
  int plane_end_digit[3] = {0, 0, 0};
  std::uint64_t first_offset = 0;  // where the first point's line starts
  std::uint64_t second_line = 0;   // where the second point's line starts
  std::uint64_t second_plane = 0;  // where the second plane's first line starts
  std::int32_t iord = 0;
  int fast = 0, mid = 0, slow = 0;
  long row_points = 0;    // points of the first row
  long plane_points = 0;  // points of the first plane
  long points = 0;        // points in the file
  long count[3] = {0, 0, 0};
  long end_line = 0;     // the line, not a point, that ended scan 3 (0: the end of the file)
  long point_after = 0;  // the first later line that starts with a point (0: none)
};

// What a reading begun once the first plane is scanned did with the E text.
enum class AheadRead {
  not_begun,  // the scan goes on
  scanned,    // it read the text to its end as scan 3 does: r is complete
  text_used,  // it gave text back that scan 3 would read: scan again
};

// Scans 1 to 3 of the E export into r (see grid_scan.cpp); between scans 2
// and 3, `ahead` (if any) may read on. False when it used the text up.
bool scan(InputText& e_text, ScanResult& r, const std::function<AheadRead(ScanResult&)>& ahead = {});

// Begins the reading pass of both exports once scans 1 and 2 have found
// the loop order and the first plane (export_reader.cpp): the two exports
// are read to their ends into the input-grid arrays, the slow coordinate's
// checks left until its count and range are known, and kept in
// exports.ahead. Of a regular E export (one point a line
// to its end or to a footer) it completes scan 3 in r.
AheadRead read_ahead(RunData& d, Exports& exports, ScanResult& r);

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
