#include "io/out_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "io/error.hpp"

namespace wk {

OutFile::OutFile(int unit, std::string path, Mode mode, std::size_t buffer_bytes)
    : unit_(unit), path_(std::move(path)), mode_(mode), buf_(buffer_bytes < 256 ? 256 : buffer_bytes) {
  std::string open_path = path_;
  if (mode_ == Mode::Replace) {
    // Same folder as the target, so that the final rename stays on one file system.
    temp_path_ = path_ + ".tmp" + std::to_string(::getpid());
    open_path = temp_path_;
  }
  fd_ = ::open(open_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    const int err = errno;
    temp_path_.clear();
    fail("cannot open for writing", err);
  }
}

OutFile::~OutFile() {
  if (fd_ >= 0) {
    if (mode_ == Mode::Rewrite) {
      // The log keeps every line written before an early end of the run.
      try {
        flush();
      } catch (...) {
      }
    }
    ::close(fd_);
  }
  if (!committed_ && !temp_path_.empty()) ::unlink(temp_path_.c_str());
}

void OutFile::fail(std::string_view what, int err) {
  std::string text(what);
  if (err != 0) {
    text += ": ";
    text += std::strerror(err);
  }
  file_error(unit_, path_, 0, text);
}

void OutFile::drain(const char* data, std::size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd_, data, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      fail("write error", errno);
    }
    if (w == 0) fail("write error", 0);
    data += w;
    n -= static_cast<std::size_t>(w);
  }
}

void OutFile::flush() {
  if (fd_ < 0 || len_ == 0) return;
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
  len_ = n;
}

void OutFile::commit() {
  flush();
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) fail("write error on close", errno);
  if (mode_ == Mode::Replace) {
    if (std::rename(temp_path_.c_str(), path_.c_str()) != 0) fail("cannot replace the file", errno);
  }
  committed_ = true;
}

}  // namespace wk
