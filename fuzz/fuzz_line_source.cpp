// Fuzzes the line input under the text readers (a file read whole). Lines, their tokens and the free-form reads of
// three reals must be exactly those of the plain reference reader: the same lines and line numbers, the same tokens,
// and for each read the same outcome and the same values.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.hpp"
#include "io/error.hpp"
#include "io/file_units.hpp"
#include "io/line_source.hpp"
#include "io/number_scan.hpp"

namespace {

using wk::fuzz::ReferenceReader;
using wk::fuzz::require;

void check_tokens(std::string_view line) {
  wk::TokenCursor cur(line);
  std::string_view got;
  std::string_view want;
  std::size_t p = 0;
  for (;;) {
    const bool more = cur.next(got);
    require(more == ReferenceReader::next_token(line, p, want));
    if (!more) return;
    require(got.data() == want.data() && got.size() == want.size());
    std::int32_t k = 0;
    wk::parse_int(got, k);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = wk::fuzz::scratch_dir() + "/lines.txt";
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  wk::fuzz::write_bytes(path, text);

  try {
    wk::LineSource src(wk::kUnitE, path);
    ReferenceReader ref(text);
    std::string_view want;
    std::string_view got;
    long count = 0;
    for (;;) {
      const bool more = src.next_line(got);
      require(more == ref.next_line(want));
      if (!more) break;
      ++count;
      require(got == want && src.line_number() == count);
      check_tokens(got);
    }
  } catch (const wk::RunError&) {
    // A readable file must read to its end; only a file without any LF
    // whose one line holds a CR (lines ended by a CR alone) is refused.
    std::string_view rest = text.substr(text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0);
    if (!rest.empty() && rest.back() == '\r') rest.remove_suffix(1);
    require(text.find('\n') == std::string_view::npos && rest.find('\r') != std::string_view::npos);
    return 0;
  }

  // Free-form reads of three reals, as the grid scan makes them, to the
  // first that fails; then one that must end the run with a one-line message
  // unless it succeeds.
  try {
    wk::LineSource src(wk::kUnitE, path);
    wk::FreeFormReader in(src);
    ReferenceReader ref(text);
    double v[3];
    double w[3];
    for (;;) {
      const auto status = in.try_reals(v, 3);
      require(status == ref.reals(w, 3));
      if (status != wk::FreeFormReader::Status::ok) break;
      for (int a = 0; a < 3; ++a) require(wk::fuzz::same_real(v[a], w[a]));
    }
    in.reals(v, 3);
  } catch (const wk::RunError& e) {
    wk::fuzz::require_one_line(e.what());
  }
  return 0;
}
