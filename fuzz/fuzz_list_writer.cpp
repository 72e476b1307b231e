// Fuzzes the list-write writer with random item lists and checks the layout:
// no line longer than 80 columns, every line ended by CR LF, every number in
// its full field width.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_support.hpp"
#include "io/list_writer.hpp"

namespace {

std::string read_all(const std::string& path) {
  std::string s;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) std::abort();
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  std::fclose(f);
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = wk::fuzz::scratch_dir() + "/list.txt";
  std::size_t numbers = 0;
  std::size_t text_bytes = 0;
  {
    wk::OutFile out(8, path);
    wk::ListWriter w(out);
    std::size_t p = 0;
    while (p < size) {
      const std::uint8_t op = data[p++];
      switch (op % 4) {
        case 0: {  // a text of up to 255 bytes
          const std::size_t n = p < size ? data[p++] : 0;
          const std::size_t m = n < size - p ? n : size - p;
          w.text(std::string_view(reinterpret_cast<const char*>(data + p), m));
          text_bytes += m;
          p += m;
          break;
        }
        case 1: {
          std::int32_t v = 0;
          const std::size_t m = size - p < sizeof v ? size - p : sizeof v;
          std::memcpy(&v, data + p, m);
          p += m;
          w.integer(v);
          ++numbers;
          break;
        }
        case 2: {
          double v = 0;
          const std::size_t m = size - p < sizeof v ? size - p : sizeof v;
          std::memcpy(&v, data + p, m);
          p += m;
          w.real(v);
          ++numbers;
          break;
        }
        default:
          w.end();
      }
    }
    w.end();
    out.commit();
  }
  const std::string s = read_all(path);
  std::size_t start = 0;
  while (start < s.size()) {
    const std::size_t end = s.find("\r\n", start);
    if (end == std::string::npos) std::abort();  // every line is CR LF ended
    if (end - start > 80) std::abort();          // never past 80 columns
    start = end + 2;
  }
  // Nothing is lost: every text byte and every number's field is in the file.
  if (s.size() < text_bytes + numbers * 12) std::abort();
  return 0;
}
