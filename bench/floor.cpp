// The least any converter must do with a pair of exports: read both files and
// parse every number with std::from_chars on one thread, summing them.
// Usage: bench_floor E_EXPORT H_EXPORT   (prints the sum and the count)
#include <charconv>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

bool is_sep(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == ','; }

bool sum_file(const char* path, double& sum, long& count) {
  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return false;
  std::vector<char> buf(1 << 20);
  std::size_t keep = 0;
  for (;;) {
    const std::size_t n = std::fread(buf.data() + keep, 1, buf.size() - keep, f);
    const bool last = n == 0;
    const char* p = buf.data();
    const char* end = buf.data() + keep + n;
    // Parse only tokens known to be complete: up to the last separator of the block.
    const char* stop = end;
    if (!last) {
      while (stop > p && !is_sep(stop[-1])) --stop;
    }
    while (p < stop) {
      while (p < stop && is_sep(*p)) ++p;
      if (p == stop) break;
      double v = 0;
      const auto r = std::from_chars(p, stop, v);
      if (r.ec != std::errc()) {
        std::fclose(f);
        return false;
      }
      sum += v;
      ++count;
      p = r.ptr;
    }
    keep = static_cast<std::size_t>(end - stop);
    std::memmove(buf.data(), stop, keep);
    if (last) break;
  }
  std::fclose(f);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bench_floor E_EXPORT H_EXPORT\n");
    return 2;
  }
  double sum = 0;
  long count = 0;
  for (int i = 1; i < 3; ++i) {
    if (!sum_file(argv[i], sum, count)) {
      std::fprintf(stderr, "bench_floor: cannot read %s\n", argv[i]);
      return 2;
    }
  }
  std::printf("%ld numbers, sum %.17g\n", count, sum);
  return 0;
}
