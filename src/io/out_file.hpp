// Buffered output file of the file layer.
//
// Every write is checked; a failure ends the run with a file-layer error
// naming the unit and the file. Two modes:
//  - Mode::Rewrite: the file is created or truncated in place (the log).
//  - Mode::Replace: the bytes go to a temporary file in the same folder, and
//    commit() renames it over the target only after the last write and the
//    close have succeeded, so a failed run never leaves a truncated field map
//    or damages an earlier one. An uncommitted temporary is removed by the
//    destructor.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace wk {

class OutFile {
 public:
  enum class Mode { Rewrite, Replace };

  OutFile(int unit, std::string path, Mode mode = Mode::Rewrite, std::size_t buffer_bytes = 1 << 20);
  ~OutFile();
  OutFile(const OutFile&) = delete;
  OutFile& operator=(const OutFile&) = delete;

  void write(const char* data, std::size_t n) {
    if (n <= buf_.size() - len_) {
      std::memcpy(buf_.data() + len_, data, n);
      len_ += n;
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
  void commit_tail(std::size_t n) { len_ += n; }

  void flush();
  // Flushes, closes and, in Replace mode, renames the temporary over the target.
  void commit();

  int unit() const { return unit_; }
  const std::string& path() const { return path_; }

 private:
  void write_slow(const char* data, std::size_t n);
  void make_room(std::size_t n);
  void drain(const char* data, std::size_t n);
  [[noreturn]] void fail(std::string_view what, int err);

  int unit_;
  std::string path_;
  std::string temp_path_;
  Mode mode_;
  int fd_ = -1;
  bool committed_ = false;
  std::vector<char> buf_;
  std::size_t len_ = 0;
};

}  // namespace wk
