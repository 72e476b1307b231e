#include "io/line_source.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "io/error.hpp"
#include "io/number_scan.hpp"

namespace wk {

namespace {

// What a file that is not a regular file is, for the message.
const char* kind_of(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

}  // namespace

LineSource::LineSource(int unit, std::string path, std::size_t block_bytes)
    : unit_(unit), path_(std::move(path)), buf_(block_bytes < 64 ? 64 : block_bytes) {
  // O_NONBLOCK: opening a FIFO without a writer would otherwise wait for
  // ever; a regular file reads the same with it.
  fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) {
    const int err = errno;
    if (err == ENOENT) file_error(unit_, path_, 0, "file not found");
    file_error(unit_, path_, 0, std::string("cannot open: ") + std::strerror(err));
  }
  // Only a regular file has an end that every reader meets in the same
  // place: each export is opened several times, and a FIFO would give its
  // content to the first reader only, a device such as /dev/zero never end.
  struct stat st {};
  if (::fstat(fd_, &st) == 0 && !S_ISREG(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    if (S_ISDIR(st.st_mode)) file_error(unit_, path_, 0, "is a folder, not a file");
    file_error(unit_, path_, 0,
               std::string("is ") + kind_of(st.st_mode) + ", not a regular file; the converter reads regular files only");
  }
}

LineSource::~LineSource() {
  if (fd_ >= 0) ::close(fd_);
}

void LineSource::fail(std::string_view what) const { file_error(unit_, path_, line_number_, what); }

void LineSource::fail_end_of_file() const {
  file_error(unit_, path_, 0, "unexpected end of file after line " + std::to_string(line_number_));
}

void LineSource::start_at(std::uint64_t offset) {
  if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) {
    const int err = errno;
    file_error(unit_, path_, 0, std::string("cannot seek: ") + std::strerror(err));
  }
  base_ = offset;
  pos_ = filled_ = 0;
  eof_ = false;
  line_number_ = 0;
  // A byte-order mark can only stand at the start of the file.
  first_block_ = offset == 0;
  from_start_ = offset == 0;
}

bool LineSource::refill() {
  if (eof_) return false;
  if (pos_ > 0) {
    std::memmove(buf_.data(), buf_.data() + pos_, filled_ - pos_);
    base_ += pos_;
    filled_ -= pos_;
    pos_ = 0;
  }
  // A line longer than the buffer: grow it (rare, never per line in a normal
  // file), up to room for the longest line and its CR LF.
  if (filled_ == buf_.size()) {
    if (filled_ >= kMaxLineBytes + 2) {
      if (line_number_ == 0) check_line_ends(std::string_view(buf_.data(), filled_));
      file_error(unit_, path_, line_number_ + 1,
                 "the line is longer than " + std::to_string(kMaxLineBytes) +
                     " bytes; no line of an export or of the control file comes near that length, so this is not "
                     "such a file");
    }
    buf_.resize(std::min(buf_.size() * 2, kMaxLineBytes + 2));
  }
  for (;;) {
    const ssize_t r = ::read(fd_, buf_.data() + filled_, buf_.size() - filled_);
    if (r < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      file_error(unit_, path_, line_number_ + 1, std::string("read error: ") + std::strerror(err));
    }
    if (r == 0) {
      eof_ = true;
      return false;
    }
    filled_ += static_cast<std::size_t>(r);
    if (first_block_) {
      first_block_ = false;
      if (filled_ >= 3 && std::memcmp(buf_.data(), "\xEF\xBB\xBF", 3) == 0) pos_ = 3;
    }
    return true;
  }
}

void LineSource::check_line_ends(std::string_view first_line) const {
  // Lines ended by a CR alone make the whole file one line without a line
  // end: every reader would report a missing line or a single point instead.
  if (!from_start_ || first_line.find('\r') == std::string_view::npos) return;
  file_error(unit_, path_, 0,
             "its lines end with a CR alone (the line end of classic Mac OS text files); the converter reads lines "
             "ended by LF or CR LF: convert the file's line ends");
}

bool LineSource::next_line(std::string_view& line) {
  for (;;) {
    const char* start = buf_.data() + pos_;
    const void* nl = std::memchr(start, '\n', filled_ - pos_);
    if (nl != nullptr) {
      const char* end = static_cast<const char*>(nl);
      pos_ = static_cast<std::size_t>(end - buf_.data()) + 1;
      if (end > start && end[-1] == '\r') --end;
      line = std::string_view(start, static_cast<std::size_t>(end - start));
      line_offset_ = base_ + static_cast<std::uint64_t>(start - buf_.data());
      ++line_number_;
      return true;
    }
    if (!refill()) {
      if (pos_ == filled_) return false;
      // Last line without a line end.
      const char* end = buf_.data() + filled_;
      start = buf_.data() + pos_;
      pos_ = filled_;
      if (end > start && end[-1] == '\r') --end;
      line = std::string_view(start, static_cast<std::size_t>(end - start));
      line_offset_ = base_ + static_cast<std::uint64_t>(start - buf_.data());
      // A file without any LF: a CR in it can only be a line end.
      if (++line_number_ == 1) check_line_ends(line);
      return true;
    }
  }
}

FreeFormReader::Status FreeFormReader::try_reals(double* out, int n) {
  std::string_view line;
  if (n <= 0) return Status::ok;
  if (!src_.next_line(line)) return Status::end_of_file;
  return try_reals_from(line, out, n);
}

FreeFormReader::Status FreeFormReader::try_reals_from(std::string_view line, double* out, int n) {
  int got = 0;
  for (;;) {
    const char* p = line.data();
    const char* const end = p + line.size();
    while (got < n) {
      while (p < end && is_separator(*p)) ++p;
      if (p == end) break;
      if (const char* q = parse_plain_real(p, end, out[got])) {
        p = q;
        ++got;
        continue;
      }
      bool ok = false;
      const char* const start = p;
      p = scan_real(p, end, out[got], ok);
      if (!ok) {
        bad_token_ = std::string_view(start, static_cast<std::size_t>(p - start));
        return Status::bad_value;
      }
      ++got;
    }
    if (got >= n) return Status::ok;
    if (!src_.next_line(line)) return Status::end_of_file;
  }
}

void FreeFormReader::reals(double* out, int n) {
  switch (try_reals(out, n)) {
    case Status::ok:
      return;
    case Status::end_of_file:
      src_.fail_end_of_file();
    case Status::bad_value:
      src_.fail(quote_token(bad_token_) + " is not a real number");
  }
}

void FreeFormReader::ints(std::int32_t* out, int n) {
  int got = 0;
  std::string_view line;
  while (got < n) {
    if (!src_.next_line(line)) src_.fail_end_of_file();
    TokenCursor cur(line);
    std::string_view tok;
    while (got < n && cur.next(tok)) {
      if (!parse_int(tok, out[got])) src_.fail(quote_token(tok) + " is not an integer");
      ++got;
    }
  }
}

std::string_view FreeFormReader::text_line() {
  std::string_view line;
  if (!src_.next_line(line)) src_.fail_end_of_file();
  return line;
}

}  // namespace wk
