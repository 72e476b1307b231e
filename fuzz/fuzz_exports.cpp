// Fuzzes the readers of the two field exports: the choice of columns, the
// grid scan and the reading pass, then the symmetry completion of whatever
// they accept.
//
// Input layout, so that the corpus stays readable text:
//   line 1        isymX isymY isymZ scale [gz]   (keys taken modulo 3;
//                 missing or unreadable items keep 0 0 0 and 1.0; with gz
//                 both exports are written gzip-compressed, and must read
//                 exactly as the plain text)
//   then          the E export, up to the first NUL byte
//   after the NUL the H export; without a NUL the H export is the E export
//
// Besides the sanitizers: the scan must end where a plain reader of three
// numbers at a time fails, its maxima being the last point read; an accepted
// export must give consistent data: the input arrays sized to the scanned
// grid, finite values, the largest |Ez| equal to the one stored, and a full
// grid within the KAVEN limits whose node coordinates are finite and
// increase along every axis (a map sampled on a decreasing or broken grid
// would be zero or garbage). A refusal must be a one-line message.
#include <unistd.h>
#include <zlib.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "field/field.hpp"
#include "fuzz_support.hpp"
#include "io/error.hpp"
#include "io/list_writer.hpp"
#include "io/number_scan.hpp"
#include "io/out_file.hpp"
#include "model/run_data.hpp"
#include "run/run.hpp"
#include "symmetry/symmetry.hpp"

namespace {

using wk::fuzz::require;

// Inputs above this size are skipped: a few thousand export lines reach every
// branch of the readers, and a longer input only slows the search down.
constexpr std::size_t kMaxInput = 16384;

// Returns whether the exports are to be written gzip-compressed.
bool read_header(std::string_view line, wk::RunData& d) {
  wk::TokenCursor cur(line);
  std::string_view tok;
  std::int32_t* keys[3] = {&d.isymX, &d.isymY, &d.isymZ};
  for (std::int32_t* key : keys) {
    std::int32_t v = 0;
    if (!cur.next(tok) || !wk::parse_int(tok, v)) return false;
    *key = (v % 3 + 3) % 3;
  }
  double scale = 0;
  if (cur.next(tok) && wk::parse_real(tok, scale)) d.scale = scale;
  return cur.next(tok) && tok == "gz";
}

// The gzip file that inflates to `text`.
std::string gzip_bytes(std::string_view text) {
  z_stream z{};
  require(deflateInit2(&z, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK);
  std::string out(deflateBound(&z, static_cast<uLong>(text.size())) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  require(deflate(&z, Z_FINISH) == Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

void check_error(const wk::RunError& e) {
  require(e.status() == wk::kExitStop || e.status() == wk::kExitFileError);
  wk::fuzz::require_one_line(e.what());
}

// The scan reads points of three numbers to the first read that fails: the
// last point read gives the maxima, and an accepted grid holds every point.
void check_scan(std::string_view e_text, const wk::RunData& d, bool accepted) {
  if (d.iord == 0) return;  // lines 1 and 2 at one point: nothing scanned
  wk::fuzz::ReferenceReader ref(e_text);
  double p[3];
  double last[3] = {0, 0, 0};
  long n = 0;
  while (ref.reals(p, 3) == wk::FreeFormReader::Status::ok) {
    ++n;
    for (int a = 0; a < 3; ++a) last[a] = p[a];
  }
  require(wk::fuzz::same_real(d.Ximax, last[0] * d.scale));
  require(wk::fuzz::same_real(d.Yimax, last[1] * d.scale));
  require(wk::fuzz::same_real(d.Zimax, last[2] * d.scale));
  if (accepted) require(static_cast<long>(d.Nix) * d.Niy * d.Niz == n);
}

void check_input_arrays(const wk::RunData& d) {
  require(d.Nix >= 2 && d.Niy >= 2 && d.Niz >= 2);
  require(d.Nix <= wk::kMaxNxy && d.Niy <= wk::kMaxNxy && d.Niz <= wk::kMaxNz);
  double ez_max = 0;
  for (const wk::FieldArray* f : {&d.Exi, &d.Eyi, &d.Ezi, &d.Hxi, &d.Hyi, &d.Hzi}) {
    require(f->nx() == d.Nix && f->ny() == d.Niy && f->nz() == d.Niz);
    for (std::size_t n = 0; n < f->size(); ++n) require(std::isfinite(f->data()[n]));
  }
  for (std::size_t n = 0; n < d.Ezi.size(); ++n) {
    if (std::fabs(d.Ezi.data()[n]) > ez_max) ez_max = std::fabs(d.Ezi.data()[n]);
  }
  require(d.Ez_max_read == ez_max);
}

void check_axis(const wk::NodeArray& nodes, int count, int limit) {
  require(count >= 3 && count <= limit && nodes.size() == count);
  for (int n = 1; n <= count; ++n) {
    require(std::isfinite(nodes(n)));
    if (n > 1) require(nodes(n) > nodes(n - 1));
  }
}

void check_full_grid(const wk::RunData& d) {
  check_axis(d.Xi, d.Nix, wk::kMaxNxy);
  check_axis(d.Yi, d.Niy, wk::kMaxNxy);
  check_axis(d.Zi, d.Niz, wk::kMaxNz);
  const int nodes[3] = {d.Nix, d.Niy, d.Niz};
  for (int a = 0; a < 3; ++a) require(d.full_map.at[a].size() == static_cast<std::size_t>(nodes[a]) + 1);
  const wk::FullGrid full(d);
  for (int c = 0; c < 6; ++c)
    for (int k = 1; k <= d.Niz; ++k)
      for (int j = 1; j <= d.Niy; ++j)
        for (int i = 1; i <= d.Nix; ++i) require(std::isfinite(full(c, i, j, k)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool in_scratch = ::chdir(wk::fuzz::scratch_dir().c_str()) == 0;
  if (!in_scratch || size > kMaxInput) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  const std::size_t header_end = input.find('\n');
  const std::string_view header = input.substr(0, header_end);
  const std::string_view body =
      header_end == std::string_view::npos ? std::string_view() : input.substr(header_end + 1);
  const std::size_t nul = body.find('\0');
  const std::string_view e_text = body.substr(0, nul);
  const std::string_view h_text = nul == std::string_view::npos ? e_text : body.substr(nul + 1);

  wk::RunData d;
  d.scale = 1.0;
  const bool gzip = read_header(header, d);
  d.Efile = "efield.txt";
  d.Hfile = "hfield.txt";
  wk::fuzz::write_bytes(d.Efile, gzip ? gzip_bytes(e_text) : std::string(e_text));
  wk::fuzz::write_bytes(d.Hfile, gzip ? gzip_bytes(h_text) : std::string(h_text));

  wk::OutFile log_file(wk::kUnitLog, "fuzz.log", wk::OutFile::Mode::Rewrite, 4096);
  wk::ListWriter log(log_file);
  wk::Exports exports(d.Efile, d.Hfile);
  try {
    wk::choose_line_layout(d, log, exports);
  } catch (const wk::RunError& e) {
    check_error(e);
    return 0;
  }
  bool scanned = false;
  try {
    wk::scan_input_grid(d, log, exports);
    scanned = true;
  } catch (const wk::RunError& e) {
    check_error(e);
    // A refusal comes after the records and the log block; a file error
    // before them.
    if (e.status() != wk::kExitStop) return 0;
  }
  check_scan(e_text, d, scanned);
  if (!scanned) return 0;
  try {
    wk::read_exports(d, exports);
    check_input_arrays(d);
    wk::complete_symmetry(d, log);
    check_full_grid(d);
  } catch (const wk::RunError& e) {
    check_error(e);
  }
  return 0;
}
