// Buffered output file of the file layer.
//
// Every write is checked; a failure ends the run with a file-layer error
// naming the unit and the file. Three modes:
//  - Mode::Rewrite: the file is created or truncated in place.
//  - Mode::Keep: the file at the name is opened, or created, without losing
//    what it holds (the log), and start_afresh() replaces it by a new empty
//    file once the run knows it may. The old file is never written: a hard
//    link or a symbolic link at the name keeps the file it shares or leads
//    to. A name that holds a folder, a FIFO, a device or a socket is a
//    file error.
//  - Mode::Replace: the bytes go to a new file without a name (O_TMPFILE) in
//    the target's folder, or where the file system cannot make one, to a
//    new named temporary there; commit() names it and renames it over the
//    target only after the last write and the close have succeeded, so a
//    failed run never leaves a truncated field map or damages an earlier
//    one. An uncommitted temporary is removed by the destructor (one
//    without a name by the kernel, however the process ends).
// An interrupted run (interrupt.hpp) removes the temporary of the open
// Replace file and writes out the buffered bytes of the open Keep file.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace wk {

class OutFile {
 public:
  enum class Mode { Rewrite, Keep, Replace };

  OutFile(int unit, std::string path, Mode mode = Mode::Rewrite, std::size_t buffer_bytes = 1 << 20);
  ~OutFile();
  OutFile(const OutFile&) = delete;
  OutFile& operator=(const OutFile&) = delete;

  void write(const char* data, std::size_t n) {
    if (n <= buf_.size() - len_) {
      std::memcpy(buf_.data() + len_, data, n);
      publish(n);
      return;
    }
    write_slow(data, n);
  }
  void write(std::string_view s) { write(s.data(), s.size()); }

  // Space for at least n bytes at the end of the buffer; the caller fills
  // some of it and then calls commit_tail with the count it wrote.
  char* tail(std::size_t n) {
    if (buf_.size() - len_ < n) make_room(n);
    return buf_.data() + len_;
  }
  void commit_tail(std::size_t n) { publish(n); }

  // Writes n bytes at byte `offset` of the file, past the buffer: the
  // sequential writes go on where they were, so a caller that places bytes
  // this way places all that follow the same way. The buffer must be empty
  // (flushed). Two threads may write at once, at different offsets.
  void write_at(std::uint64_t offset, const char* data, std::size_t n) const;

  void flush();
  // Flushes, closes and, in Replace mode, renames the temporary over the target.
  void commit();

  // Keep mode. Takes an exclusive lock (flock) on the regular file at the
  // name (or that a link there leads to), held until the object is
  // destroyed; false when another process holds a lock on it.
  bool try_lock();
  // Keep mode, before the first write: puts a new empty file, locked, in the
  // old one's place (nothing to do when the name was free at the open).
  // False when another run took the name meanwhile.
  bool start_afresh();
  // True when path names this very file (same device and inode, links followed).
  bool is_file(const std::string& path) const;

  int unit() const { return unit_; }
  const std::string& path() const { return path_; }

  // For the interrupt handler only, async-signal-safe: removes the temporary
  // of the Replace file not yet committed and writes out the bytes buffered
  // for the Keep file. True when a Replace file is already in its place.
  static bool settle_after_interrupt() noexcept;

 private:
  // The buffered bytes grow by n. The fence keeps the bytes ahead of the new
  // count for an interrupt handler that writes them out (no instruction).
  void publish(std::size_t n) {
    std::atomic_signal_fence(std::memory_order_release);
    len_ += n;
  }
  void write_slow(const char* data, std::size_t n);
  void make_room(std::size_t n);
  void drain(const char* data, std::size_t n) const;
  // Writes n bytes at `offset`, or where the file is when offset < 0.
  void put(const char* data, std::size_t n, std::int64_t offset) const;
  [[noreturn]] void fail(std::string_view what, int err) const;
  // Offers the temporary's names in turn (the target's name, ".tmp" and the
  // process number, then ".K" added) to `take` until it takes one or fails
  // otherwise than for a name that exists; the name taken becomes
  // temp_path_, registered for removal by an interrupt. 0, or the errno.
  int for_each_temp_name(const std::function<bool(const std::string&)>& take);
  // Keep mode: opens the file at the name (fd_ stays -1 for a link that
  // leads to no regular file), or creates it when the name is free.
  void open_kept();

  int unit_;
  std::string path_;
  std::string temp_path_;
  Mode mode_;
  int fd_ = -1;
  int lock_fd_ = -1;  // a second descriptor of the Keep file, holding the lock past commit()
  bool committed_ = false;
  bool fresh_ = false;  // Keep mode: the file was created empty by this run
  std::vector<char> buf_;
  std::size_t len_ = 0;
};

// True when both paths name one file (same device and inode, links
// followed); false when either cannot be looked at.
bool same_file(const std::string& a, const std::string& b);

}  // namespace wk
