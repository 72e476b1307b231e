// The least any converter must do with a pair of exports, done carefully on
// one thread: both files memory-mapped (MADV_SEQUENTIAL) and walked line by
// line in step, the nine numbers of each line parsed with std::from_chars,
// the field values stored into six arrays with x fastest (the real parts of
// E, the imaginary parts of H), the rest of each line skipped with memchr.
//
// Usage: bench_floor E_EXPORT H_EXPORT NX NY NZ IORD
//   NX NY NZ: points per axis; IORD: the loop order (digits for x, y, z,
//   1 fastest .. 3 slowest). Prints the number of points and a checksum.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Mapped {
  const char* p = nullptr;
  const char* end = nullptr;
};

bool map_file(const char* path, Mapped& m) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || st.st_size <= 0) {
    ::close(fd);
    return false;
  }
  const auto size = static_cast<std::size_t>(st.st_size);
  void* a = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  ::close(fd);
  if (a == MAP_FAILED) return false;
  ::madvise(a, size, MADV_SEQUENTIAL);
  m.p = static_cast<const char*>(a);
  m.end = m.p + size;
  return true;
}

// Parses nine numbers of the line at m.p into v and moves m.p past the line.
bool nine(Mapped& m, double* v) {
  const char* p = m.p;
  for (int a = 0; a < 9; ++a) {
    while (p < m.end && (*p == ' ' || *p == '\t')) ++p;
    const auto r = std::from_chars(p, m.end, v[a]);
    if (r.ec != std::errc()) return false;
    p = r.ptr;
  }
  const void* nl = std::memchr(p, '\n', static_cast<std::size_t>(m.end - p));
  m.p = nl != nullptr ? static_cast<const char*>(nl) + 1 : m.end;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr, "usage: bench_floor E_EXPORT H_EXPORT NX NY NZ IORD\n");
    return 2;
  }
  const long n[3] = {std::atol(argv[3]), std::atol(argv[4]), std::atol(argv[5])};
  const int iord = std::atoi(argv[6]);
  const int digit[3] = {iord / 100, iord / 10 % 10, iord % 10};
  int fast = 0, mid = 0, slow = 0;
  for (int a = 0; a < 3; ++a) {
    if (digit[a] == 1) fast = a;
    if (digit[a] == 2) mid = a;
    if (digit[a] == 3) slow = a;
  }
  Mapped e, h;
  if (!map_file(argv[1], e) || !map_file(argv[2], h)) {
    std::fprintf(stderr, "bench_floor: cannot map the exports\n");
    return 2;
  }
  const std::size_t points = static_cast<std::size_t>(n[0] * n[1] * n[2]);
  std::vector<double> out[6];
  for (auto& o : out) o.resize(points);
  const std::size_t stride[3] = {1, static_cast<std::size_t>(n[0]), static_cast<std::size_t>(n[0] * n[1])};
  double ve[9], vh[9];
  long idx[3];
  for (idx[slow] = 0; idx[slow] < n[slow]; ++idx[slow]) {
    for (idx[mid] = 0; idx[mid] < n[mid]; ++idx[mid]) {
      for (idx[fast] = 0; idx[fast] < n[fast]; ++idx[fast]) {
        if (!nine(e, ve) || !nine(h, vh)) {
          std::fprintf(stderr, "bench_floor: unreadable line\n");
          return 2;
        }
        const std::size_t at = static_cast<std::size_t>(idx[0]) * stride[0] +
                               static_cast<std::size_t>(idx[1]) * stride[1] +
                               static_cast<std::size_t>(idx[2]) * stride[2];
        out[0][at] = ve[3];
        out[1][at] = ve[4];
        out[2][at] = ve[5];
        out[3][at] = vh[6];
        out[4][at] = vh[7];
        out[5][at] = vh[8];
      }
    }
  }
  double sum = 0;
  for (const auto& o : out) {
    for (const double x : o) sum += x;
  }
  std::printf("%zu points, checksum %.17g\n", points, sum);
  return 0;
}
