#include "output/output.hpp"

#include <cassert>
#include <string_view>

#include "io/error.hpp"
#include "io/file_units.hpp"
#include "io/out_file.hpp"
#include "output/field_map.hpp"

namespace wk {

std::string field_map_name(std::int32_t fnum) {
  std::string name = "eh_VRQ.#";
  if (fnum < 0 || fnum > 99) {
    // A number that needs more than two characters, sign included.
    name += "**";
  } else {
    name += static_cast<char>('0' + fnum / 10);
    name += static_cast<char>('0' + fnum % 10);
  }
  return name;
}

OutFile open_field_map(const RunData& d, ListWriter& log) {
  const std::string name = field_map_name(d.fnum);
  // The log shows the first 10 characters of the blank-padded name: all of it.
  log.record(" Output field file name = ", std::string_view(name).substr(0, 10));
  // Checked this late on purpose, not with the control file: a run with a
  // wrong code still logs every phase, down to the file name.
  if (d.fmt < 0 || d.fmt > 2) stop(" Not a valid KAVEN 3D field format: use 0, 1 or 2 ");
  // Renamed over the target only once every byte is out: a failed write
  // leaves no truncated field map and keeps the map of an earlier run.
  return OutFile(kUnitOutput, name, OutFile::Mode::Replace);
}

void write_field_map(const RunData& d, OutFile& map) {
  output_detail::write_field_map_to(d, map);
  // Every byte in the temporary: a map that cannot be written fails here,
  // before the summary is logged.
  map.flush();
}

void write_binary_field_map(const RunData& d, OutFile& map, const SliceSource& source) {
  assert(d.fmt == 0);
  output_detail::write_binary_records(d, map, source);
}

void write_summary(const RunData& d, ListWriter& log) {
  log.record(" Element Length & Aperture = ", d.elen, d.aper);
  log.record(" Symmetry Keys: X, Y, Z = ", d.symX, d.symY, d.symZ);
  // The first and last node coordinates, not the stored Xmin ... Zmax: the
  // two differ by the rounding of the node formula.
  log.record(" Field X limits = ", d.Xo(1), d.Xo(d.Nox));
  log.record(" Field Y limits = ", d.Yo(1), d.Yo(d.Noy));
  log.record(" Field Z limits = ", d.Zo(1), d.Zo(d.Noz));
}

}  // namespace wk
