#include "io/out_file.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include "io/error.hpp"
#include "io/input_file.hpp"

namespace wk {

namespace {

// The files an interrupted run settles: the Keep file whose buffered bytes
// go out (the log) and the temporary of the Replace file (the field map).
// Set on the main thread, read by the interrupt handler, which runs there too.
std::atomic<OutFile*> g_keep{nullptr};
std::atomic<const char*> g_temp{nullptr};
// Set once a Replace file has taken its target's place.
std::atomic<bool> g_replaced{false};

// Names tried for the temporary before giving up: a name that exists (a
// temporary left by a killed run of the same process number, or a planted
// link) is never opened, the next one is tried.
constexpr int kTempNames = 100;
// Looks at a log's name before giving up when it keeps changing under the
// run (another run replacing its log at the same moment).
constexpr int kOpenAttempts = 100;

// Blocks every signal that can be blocked for the life of the object: the
// interrupt handler must not see a flush half done, a temporary not yet
// registered for removal, or a map half put in place.
class InterruptsHeld {
 public:
  InterruptsHeld() {
    sigset_t s;
    sigfillset(&s);
    pthread_sigmask(SIG_BLOCK, &s, &old_);
  }
  ~InterruptsHeld() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
  InterruptsHeld(const InterruptsHeld&) = delete;
  InterruptsHeld& operator=(const InterruptsHeld&) = delete;

 private:
  sigset_t old_;
};

// The folder of a path, for a temporary beside it.
std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The name under which the kernel shows an open descriptor; linking it
// gives a file without a name (O_TMPFILE) its first one.
std::string descriptor_path(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

}  // namespace

OutFile::OutFile(int unit, std::string path, Mode mode, std::size_t buffer_bytes)
    : unit_(unit), path_(std::move(path)), mode_(mode), buf_(buffer_bytes < 256 ? 256 : buffer_bytes) {
  if (mode_ == Mode::Rewrite) {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) fail("cannot open for writing", errno);
    return;
  }
  if (mode_ == Mode::Keep) {
    open_kept();
    g_keep.store(this);
    return;
  }
  // Signals wait until the temporary is registered for removal.
  InterruptsHeld held;
  // A file without a name in the target's folder (so that it lands on the
  // target's file system), named only at commit(): a run ended by any
  // signal, SIGKILL included, or by a crash leaves nothing behind.
  fd_ = ::open(folder_of(path_).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
  struct stat st;
  if (fd_ >= 0 && ::stat(descriptor_path(fd_).c_str(), &st) == 0) return;
  if (fd_ >= 0) ::close(fd_);
  // Where the file system cannot (or /proc is missing), a named temporary:
  // O_EXCL never opens a file or follows a link that is already there.
  fd_ = -1;
  const int err = for_each_temp_name([&](const std::string& name) {
    fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    return fd_ >= 0;
  });
  if (fd_ < 0) fail("cannot open for writing", err);
}

int OutFile::for_each_temp_name(const std::function<bool(const std::string&)>& take) {
  const std::string base = path_ + ".tmp" + std::to_string(::getpid());
  for (int k = 0; k < kTempNames; ++k) {
    std::string name = k == 0 ? base : base + "." + std::to_string(k);
    if (take(name)) {
      temp_path_ = std::move(name);
      g_temp.store(temp_path_.c_str());
      return 0;
    }
    if (errno != EEXIST) break;
  }
  return errno;
}

OutFile::~OutFile() {
  if (fd_ >= 0) {
    if (mode_ != Mode::Replace) {
      // The log keeps every line written before an early end of the run.
      try {
        flush();
      } catch (...) {
      }
    }
    const int fd = fd_;
    fd_ = -1;
    ::close(fd);
  }
  if (!committed_ && !temp_path_.empty()) ::unlink(temp_path_.c_str());
  if (lock_fd_ >= 0) ::close(lock_fd_);
  OutFile* self = this;
  g_keep.compare_exchange_strong(self, nullptr);
  if (!temp_path_.empty()) {
    const char* temp = temp_path_.c_str();
    g_temp.compare_exchange_strong(temp, nullptr);
  }
}

void OutFile::fail(std::string_view what, int err) const {
  std::string text(what);
  if (err != 0) {
    text += ": ";
    text += std::strerror(err);
  }
  file_error(unit_, path_, 0, text);
}

// Bytes handed to one write(2). A single write of tens of megabytes into the
// page cache costs several times what the same bytes cost in pieces of a few
// hundred kilobytes (measured: 240 MB in 40 MB writes 0.7-0.9 s, in 256 KB
// writes 0.06 s).
constexpr std::size_t kWritePiece = std::size_t{1} << 18;

void OutFile::drain(const char* data, std::size_t n) const { put(data, n, -1); }

void OutFile::write_at(std::uint64_t offset, const char* data, std::size_t n) const {
  assert(len_ == 0);
  put(data, n, static_cast<std::int64_t>(offset));
}

void OutFile::put(const char* data, std::size_t n, std::int64_t offset) const {
  while (n > 0) {
    const std::size_t piece = n < kWritePiece ? n : kWritePiece;
    const ssize_t w = offset < 0 ? ::write(fd_, data, piece) : ::pwrite(fd_, data, piece, static_cast<off_t>(offset));
    if (w < 0) {
      if (errno == EINTR) continue;
      fail("write error", errno);
    }
    if (w == 0) fail("write error", 0);
    data += w;
    n -= static_cast<std::size_t>(w);
    if (offset >= 0) offset += w;
  }
}

void OutFile::flush() {
  if (fd_ < 0 || len_ == 0) return;
  // The Keep file's bytes are written out by an interrupt too: never both.
  std::optional<InterruptsHeld> held;
  if (g_keep.load() == this) held.emplace();
  const std::size_t n = len_;
  len_ = 0;
  drain(buf_.data(), n);
}

void OutFile::make_room(std::size_t n) {
  flush();
  if (buf_.size() < n) buf_.resize(n);
}

void OutFile::write_slow(const char* data, std::size_t n) {
  flush();
  if (n >= buf_.size()) {
    drain(data, n);
    return;
  }
  std::memcpy(buf_.data(), data, n);
  publish(n);
}

void OutFile::commit() {
  flush();
  InterruptsHeld held;
  if (mode_ == Mode::Replace && temp_path_.empty()) {
    // The file without a name gets a temporary one, then the target's.
    const std::string fd_path = descriptor_path(fd_);
    const int err = for_each_temp_name([&](const std::string& name) {
      return ::linkat(AT_FDCWD, fd_path.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
    });
    if (err != 0) fail("cannot replace the file", err);
  }
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) fail("write error on close", errno);
  if (mode_ == Mode::Replace) {
    if (std::rename(temp_path_.c_str(), path_.c_str()) != 0) fail("cannot replace the file", errno);
    // The name may be taken by another file from now on.
    const char* temp = temp_path_.c_str();
    g_temp.compare_exchange_strong(temp, nullptr);
    g_replaced.store(true);
  }
  committed_ = true;
}

namespace {

bool is_regular(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

// Tries a lock that another process may hold: 1 taken, 0 held elsewhere,
// -1 failed (errno).
int try_flock(int fd) {
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return 1;
  return errno == EWOULDBLOCK ? 0 : -1;
}

}  // namespace

void OutFile::open_kept() {
  // Names that change between the look and the open (another run replacing
  // its log) are looked at again.
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    struct stat st;
    if (::lstat(path_.c_str(), &st) != 0) {
      if (errno != ENOENT) fail("cannot open for writing", errno);
      fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
      if (fd_ >= 0) {
        fresh_ = true;
        return;
      }
      if (errno == EEXIST) continue;
      fail("cannot open for writing", errno);
    }
    // A file that is not a regular one would block the run (a FIFO) or
    // take the log from it (a device, a folder): the name must be freed.
    if (S_ISDIR(st.st_mode)) fail("is a folder, not a file; the log is written there: remove or rename it", 0);
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
      fail(std::string("is ") + kind_of_file(st.st_mode) +
               ", not a regular file; the log is written there: remove or rename it",
           0);
    }
    // A link is opened (for the lock) only when it leads to a regular file;
    // one that leads to a device or nowhere has nothing to lock.
    struct stat target;
    if (S_ISLNK(st.st_mode) && (::stat(path_.c_str(), &target) != 0 || !S_ISREG(target.st_mode))) return;
    fd_ = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | (S_ISLNK(st.st_mode) ? 0 : O_NOFOLLOW));
    if (fd_ >= 0) return;
    if (errno != ENOENT && errno != ELOOP) fail("cannot open for writing", errno);
  }
  fail("cannot open for writing: the name keeps changing", 0);
}

bool OutFile::try_lock() {
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    // Only a file of its own is locked.
    if (fd_ < 0 || !is_regular(fd_)) return true;
    const int got = try_flock(fd_);
    if (got == 0) return false;
    if (got < 0) fail("cannot lock", errno);
    // A run that replaced the log and has ended since let go of the file
    // it left without a name: the lock is on the file the name holds now.
    if (is_file(path_)) break;
    ::close(fd_);
    fd_ = -1;
    open_kept();
  }
  // The lock belongs to the open file and lasts while any descriptor of it
  // is open: this one keeps it after commit() has closed fd_.
  lock_fd_ = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
  if (lock_fd_ < 0) fail("cannot lock", errno);
  return true;
}

bool OutFile::start_afresh() {
  if (fresh_) return true;
  // Another name of the old log (a hard link) or the file a link leads to
  // keeps it as it was.
  if (::unlink(path_.c_str()) != 0 && errno != ENOENT) fail("cannot replace the file", errno);
  const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (errno == EEXIST) return false;  // taken by a run started meanwhile
    fail("cannot open for writing", errno);
  }
  const int got = try_flock(fd);
  const int err = errno;
  if (got <= 0) ::close(fd);
  if (got == 0) return false;
  if (got < 0) fail("cannot lock", err);
  // A run that opened the old file and locks it now finds the name taken
  // by this file, and this file locked.
  for (const int old : {fd_, lock_fd_}) {
    if (old >= 0) ::close(old);
  }
  fd_ = fd;
  lock_fd_ = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
  if (lock_fd_ < 0) fail("cannot lock", errno);
  fresh_ = true;
  return true;
}

bool OutFile::is_file(const std::string& path) const {
  struct stat mine, theirs;
  return ::fstat(fd_ >= 0 ? fd_ : lock_fd_, &mine) == 0 && ::stat(path.c_str(), &theirs) == 0 &&
         mine.st_dev == theirs.st_dev && mine.st_ino == theirs.st_ino;
}

bool same_file(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool OutFile::settle_after_interrupt() noexcept {
  if (const char* temp = g_temp.load()) ::unlink(temp);
  OutFile* keep = g_keep.load();
  if (keep == nullptr) return g_replaced.load();
  const int fd = *static_cast<volatile int*>(&keep->fd_);
  std::size_t n = *static_cast<volatile std::size_t*>(&keep->len_);
  std::atomic_signal_fence(std::memory_order_acquire);
  const char* p = keep->buf_.data();
  while (fd >= 0 && n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) break;
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return g_replaced.load();
}

}  // namespace wk
