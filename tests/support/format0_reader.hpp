// Reader of binary (format 0) KAVEN field maps, written from the record
// layout alone: every record is a 4-byte little-endian length L, L bytes of
// little-endian data, and L again. It knows nothing of the converter's
// writer and decodes bytes itself, so it reads the same on any host.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace wk::test {

struct Format0Map {
  double elen = 0, aper = 0;
  std::int32_t zero = -1;              // the integer after the aperture
  std::array<std::int32_t, 3> keys{};  // symX, symY, symZ
  std::vector<double> Xo, Yo, Zo;
  // Exo, Eyo, Ezo, Bxo, Byo, Bzo, each Nox*Noy*Noz values, x fastest.
  std::array<std::vector<double>, 6> fields;
  std::int32_t end_marker = 0;               // -99 in a well-formed file
  std::vector<std::int32_t> record_lengths;  // the leading length of each record
};

// Reads the twelve framed records of a format-0 file. Throws
// std::runtime_error when a trailing length differs from the leading one, a
// record has the wrong size for its content, or bytes follow the last record.
Format0Map read_format0(const std::filesystem::path& p);

}  // namespace wk::test
