// Preloaded into the converter (LD_PRELOAD) by the interrupt tests: raises
// the signal numbered by WK_SIGNAL_AT_MAP_WRITE just before the first
// write(2) to a temporary field map, the moment at which an interrupted run
// has its map half written and its log lines still buffered; or the one
// numbered by WK_SIGNAL_AFTER_MAP_RENAME right after the field map was
// renamed into place. With WK_NO_TMPFILE set, opening a file without a
// name (O_TMPFILE) fails as on a file system that cannot make one. Built
// without the project's sanitizer flags, so that it needs no runtime of its
// own.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {

bool is_temporary_map(int fd) {
  // "/proc/self/fd/" and the descriptor's digits.
  char link[32] = "/proc/self/fd/";
  char digits[12];
  int n = 0;
  for (int v = fd; n == 0 || v > 0; v /= 10) digits[n++] = static_cast<char>('0' + v % 10);
  std::size_t at = std::strlen(link);
  while (n > 0) link[at++] = digits[--n];
  link[at] = '\0';
  char target[4096];
  const ssize_t len = ::readlink(link, target, sizeof target - 1);
  if (len <= 0) return false;
  target[len] = '\0';
  // A named temporary, or a file without a name (O_TMPFILE), which the
  // kernel shows as "/folder/#INODE (deleted)".
  return (std::strstr(target, "/eh_VRQ.#") != nullptr && std::strstr(target, ".tmp") != nullptr) ||
         (std::strstr(target, "/#") != nullptr && std::strstr(target, " (deleted)") != nullptr);
}

}  // namespace

extern "C" ssize_t write(int fd, const void* data, std::size_t n) {
  using Write = ssize_t (*)(int, const void*, std::size_t);
  static const Write real = reinterpret_cast<Write>(::dlsym(RTLD_NEXT, "write"));
  static const char* const signo = std::getenv("WK_SIGNAL_AT_MAP_WRITE");
  if (signo != nullptr && is_temporary_map(fd)) ::raise(std::atoi(signo));
  return real(fd, data, n);
}

extern "C" int rename(const char* from, const char* to) {
  using Rename = int (*)(const char*, const char*);
  static const Rename real = reinterpret_cast<Rename>(::dlsym(RTLD_NEXT, "rename"));
  static const char* const signo = std::getenv("WK_SIGNAL_AFTER_MAP_RENAME");
  const int r = real(from, to);
  if (signo != nullptr && r == 0 && std::strstr(to, "eh_VRQ.#") != nullptr) ::raise(std::atoi(signo));
  return r;
}

extern "C" int open(const char* path, int flags, ...) {
  using Open = int (*)(const char*, int, ...);
  static const Open real = reinterpret_cast<Open>(::dlsym(RTLD_NEXT, "open"));
  static const bool no_tmpfile = std::getenv("WK_NO_TMPFILE") != nullptr;
  mode_t mode = 0;
  if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
    va_list args;
    va_start(args, flags);
    mode = va_arg(args, mode_t);
    va_end(args);
  }
  if (no_tmpfile && (flags & O_TMPFILE) == O_TMPFILE) {
    errno = EOPNOTSUPP;
    return -1;
  }
  return real(path, flags, mode);
}
