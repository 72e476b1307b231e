// Fuzzes the control-file reader and the checks made on its values.
#include <unistd.h>

#include <cstdint>
#include <string_view>

#include "fuzz_support.hpp"
#include "io/error.hpp"
#include "run/run.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool in_scratch = ::chdir(wk::fuzz::scratch_dir().c_str()) == 0;
  if (!in_scratch) return 0;
  wk::fuzz::write_bytes(wk::kControlFile, std::string_view(reinterpret_cast<const char*>(data), size));
  wk::RunData d;
  try {
    wk::read_control_file(d);
    wk::check_control_values(d);
  } catch (const wk::RunError& e) {
    wk::fuzz::require(e.status() == wk::kExitStop || e.status() == wk::kExitFileError);
    wk::fuzz::require_one_line(e.what());
  }
  return 0;
}
