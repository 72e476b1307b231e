// Rewrites an export in the fixed-width scientific layout that field solvers
// write: every number right-aligned in 18 columns as d.ddddddddddE+XX, eleven
// significant digits. The generator writes the shortest form instead ("0",
// "1000000"); the values are those of the generator's 11-digit output, so the
// conversion of either file gives the same field, but this one holds the
// bytes a solver export of the same grid holds (about 163 per line of nine
// values), which is what the benchmark must read.
// Usage: bench_sci_export IN OUT
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int kWidth = 18;
constexpr int kPrecision = 10;  // digits after the point: 11 significant

bool is_blank(char c) { return c == ' ' || c == '\t' || c == ',' || c == '\r'; }

// Uniform in [-1, 1), from a fixed sequence (splitmix64).
double next_uniform() {
  static std::uint64_t state = 20261208;
  std::uint64_t z = (state += 0x9E3779B97F4A7C15u);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  z ^= z >> 31;
  return static_cast<double>(z >> 11) * 0x1p-52 - 1.0;
}

// The solver's noise on the field values v[3 ..] of one line (see above).
void add_noise(std::vector<double>& v) {
  double largest = 0;
  for (std::size_t i = 3; i < v.size(); ++i) largest = std::max(largest, std::fabs(v[i]));
  for (std::size_t i = 3; i < v.size(); ++i) {
    v[i] = v[i] != 0 ? v[i] * (1 + 1e-7 * next_uniform()) : 1e-9 * largest * next_uniform();
  }
}

// Rewrites one line [p, end) (without its line end) into out, with the
// solver's noise when `noise`; false when a token is not a number.
bool rewrite_line(const char* p, const char* end, bool noise, std::vector<char>& out) {
  static std::vector<double> values;
  values.clear();
  while (p < end) {
    while (p < end && is_blank(*p)) ++p;
    if (p == end) break;
    double v = 0;
    const auto r = std::from_chars(p, end, v);
    if (r.ec != std::errc()) return false;
    p = r.ptr;
    values.push_back(v);
  }
  if (noise) add_noise(values);
  for (const double v : values) {
    char num[40];
    const auto w = std::to_chars(num, num + sizeof num, v + 0.0, std::chars_format::scientific, kPrecision);
    int n = static_cast<int>(w.ptr - num);
    // Upper-case exponent letter, as the solver writes it.
    for (int i = 0; i < n; ++i) {
      if (num[i] == 'e') num[i] = 'E';
    }
    const std::size_t at = out.size();
    const int pad = n < kWidth ? kWidth - n : 1;
    out.resize(at + static_cast<std::size_t>(pad + n), ' ');
    std::memcpy(out.data() + at + pad, num, static_cast<std::size_t>(n));
  }
  out.push_back('\n');
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const bool noise = argc == 4 && std::strcmp(argv[1], "--noise") == 0;
  if (noise) ++argv;
  if (argc != (noise ? 4 : 3)) {
    std::fprintf(stderr, "usage: bench_sci_export [--noise] IN OUT\n");
    return 2;
  }
  std::FILE* in = std::fopen(argv[1], "rb");
  if (in == nullptr) {
    std::fprintf(stderr, "bench_sci_export: cannot read %s\n", argv[1]);
    return 2;
  }
  std::FILE* out = std::fopen(argv[2], "wb");
  if (out == nullptr) {
    std::fprintf(stderr, "bench_sci_export: cannot write %s\n", argv[2]);
    return 2;
  }
  std::vector<char> buf(1 << 20);
  std::vector<char> text;
  text.reserve(1 << 22);
  std::size_t keep = 0;
  bool ok = true;
  for (;;) {
    const std::size_t n = std::fread(buf.data() + keep, 1, buf.size() - keep, in);
    const bool last = n == 0;
    const char* p = buf.data();
    const char* end = buf.data() + keep + n;
    for (;;) {
      const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
      if (nl == nullptr) {
        if (last && p < end) {
          ok = ok && rewrite_line(p, end, noise, text);
          p = end;
        }
        break;
      }
      ok = ok && rewrite_line(p, nl, noise, text);
      p = nl + 1;
    }
    if (text.size() >= (1 << 21)) {
      ok = ok && std::fwrite(text.data(), 1, text.size(), out) == text.size();
      text.clear();
    }
    keep = static_cast<std::size_t>(end - p);
    std::memmove(buf.data(), p, keep);
    if (last) break;
    if (keep == buf.size()) buf.resize(2 * buf.size());
  }
  ok = ok && std::fwrite(text.data(), 1, text.size(), out) == text.size();
  ok = std::fclose(out) == 0 && ok;
  std::fclose(in);
  if (!ok) {
    std::fprintf(stderr, "bench_sci_export: %s is not an export of numbers, or %s cannot be written\n", argv[1],
                 argv[2]);
    return 2;
  }
  return 0;
}
