#include "io/input_file.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>

#if WK_INFLATE_LIBDEFLATE
#include <libdeflate.h>
#endif
#include <zlib.h>

#include <algorithm>
#include <memory>
#include <new>

#include "io/error.hpp"
#include "io/large_block.hpp"
#include "io/line_source.hpp"

namespace wk {

namespace {

constexpr unsigned char kGzipMagic[2] = {0x1f, 0x8b};

// The first block of a compressed file: inflated in steps of this many
// bytes until its first line holding more than separators has ended, up to
// the longest line read and its line end.
constexpr std::size_t kStartStep = std::size_t{1} << 16;
constexpr std::size_t kStartMax = kMaxLineBytes + 2;

// A zlib stream inflating gzip members, ended however the caller ends.
struct GzipStream {
  z_stream z{};
  bool opened = false;
  bool open() { return opened = inflateInit2(&z, 16 + MAX_WBITS) == Z_OK; }
  // Inflates in[at, n) into out[used, room) as far as it goes, moving at
  // and used on; zlib's result.
  int step(const unsigned char* in, std::size_t n, std::size_t& at, char* out, std::size_t room, std::size_t& used) {
    const std::size_t in_chunk = std::min<std::size_t>(n - at, UINT_MAX);
    const std::size_t out_chunk = std::min<std::size_t>(room - used, UINT_MAX);
    z.next_in = const_cast<Bytef*>(in + at);
    z.avail_in = static_cast<uInt>(in_chunk);
    z.next_out = reinterpret_cast<Bytef*>(out + used);
    z.avail_out = static_cast<uInt>(out_chunk);
    const int r = ::inflate(&z, Z_NO_FLUSH);
    at += in_chunk - z.avail_in;
    used += out_chunk - z.avail_out;
    return r;
  }
  ~GzipStream() {
    if (opened) inflateEnd(&z);
  }
};

// Watches text as it grows for the end of its first data line: a line end
// after the first byte that is not a separator or a line end.
class FirstDataLine {
 public:
  // True when text[0, n) holds the end; text[0, seen) was looked at before.
  bool ended(const char* text, std::size_t n) {
    for (; start_ == kNone && seen_ < n; ++seen_) {
      const char c = text[seen_];
      if (c != ' ' && c != '\t' && c != ',' && c != '\r' && c != '\n') start_ = seen_;
    }
    if (start_ == kNone || seen_ >= n) return false;
    const bool found = std::memchr(text + seen_, '\n', n - seen_) != nullptr;
    seen_ = n;
    return found;
  }

 private:
  static constexpr std::size_t kNone = ~std::size_t{0};
  std::size_t start_ = kNone;
  std::size_t seen_ = 0;
};

// Closes a file descriptor however the constructor ends.
struct FdCloser {
  int fd;
  ~FdCloser() { ::close(fd); }
};

// A read-only mapping of a whole file, unmapped however the caller ends.
struct MappedInput {
  void* p = MAP_FAILED;
  std::size_t n = 0;
  ~MappedInput() {
    if (p != MAP_FAILED) ::munmap(p, n);
  }
};

bool starts_with_gzip_magic(int fd) {
  unsigned char head[2] = {0, 0};
  ssize_t got;
  do {
    got = ::pread(fd, head, 2, 0);
  } while (got < 0 && errno == EINTR);
  return got == 2 && head[0] == kGzipMagic[0] && head[1] == kGzipMagic[1];
}

std::size_t page_size() {
  static const std::size_t n = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  return n;
}

std::size_t page_rounded(std::size_t bytes) { return (bytes + page_size() - 1) / page_size() * page_size(); }

// Room for the inflated text: anonymous memory, untouched pages costing
// nothing, in huge pages where the kernel offers them when it is large (see
// io/large_block.hpp), grown by remapping when a stream inflates to more
// than expected.
class OutRegion {
 public:
  explicit OutRegion(std::size_t bytes) {
    if (bytes < kHugePageBytes) {
      n_ = page_rounded(bytes);
      p_ = ::mmap(nullptr, n_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (p_ == MAP_FAILED) p_ = nullptr;
      return;
    }
    try {
      n_ = large_block_bytes(bytes);
      p_ = map_large_block(n_);
    } catch (const std::bad_alloc&) {
      p_ = nullptr;
    }
  }
  ~OutRegion() {
    if (p_ != nullptr) ::munmap(p_, n_);
  }
  bool mapped() const { return p_ != nullptr; }
  char* data() const { return static_cast<char*>(p_); }
  std::size_t size() const { return n_; }
  bool grow_to(std::size_t bytes) {
    bytes = bytes < kHugePageBytes ? page_rounded(bytes) : large_block_bytes(bytes);
    void* q = ::mremap(p_, n_, bytes, MREMAP_MAYMOVE);
    if (q == MAP_FAILED) return false;
    p_ = q;
    n_ = bytes;
#ifdef MADV_HUGEPAGE
    if (n_ >= kHugePageBytes) ::madvise(p_, n_, MADV_HUGEPAGE);
#endif
    return true;
  }
  // Hands the mapping over to its new owner.
  void* release() {
    void* q = p_;
    p_ = nullptr;
    return q;
  }

 private:
  void* p_ = nullptr;
  std::size_t n_ = 0;
};

}  // namespace

const char* kind_of_file(unsigned mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

InputText::InputText(int unit, std::string path, Gzip gzip, const Inflating& inflating)
    : unit_(unit), path_(std::move(path)) {
  // O_NONBLOCK: opening a FIFO without a writer would otherwise wait for
  // ever; a regular file reads the same with it.
  const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    const int err = errno;
    if (err == ENOENT) file_error(unit_, path_, 0, "file not found");
    file_error(unit_, path_, 0, std::string("cannot open: ") + std::strerror(err));
  }
  const FdCloser closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    file_error(unit_, path_, 0, std::string("read error: ") + std::strerror(err));
  }
  // Only a regular file has a whole text to read: a FIFO has no size and
  // a device such as /dev/zero no end.
  if (S_ISDIR(st.st_mode)) file_error(unit_, path_, 0, "is a folder, not a file");
  if (!S_ISREG(st.st_mode)) {
    file_error(
        unit_, path_, 0,
        std::string("is ") + kind_of_file(st.st_mode) + ", not a regular file; the converter reads regular files only");
  }
  const auto size = static_cast<std::size_t>(st.st_size);
  if (size == 0) return;
  if (gzip == Gzip::inflate && starts_with_gzip_magic(fd)) {
    compressed_ = true;
    inflate(fd, size, inflating);
  } else {
    map_plain(fd, size);
  }
}

InputText::~InputText() {
  if (region_ != nullptr) ::munmap(region_, region_bytes_);
}

void InputText::map_plain(int fd, std::size_t size) {
  void* p = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (p == MAP_FAILED) {
    const int err = errno;
    file_error(unit_, path_, 0, std::string("read error: ") + std::strerror(err));
  }
  ::madvise(p, size, MADV_SEQUENTIAL);
  region_ = p;
  region_bytes_ = size;
  data_ = static_cast<const char*>(p);
  size_ = size;
}

void InputText::check_start(const unsigned char* in, std::size_t n, const Inflating& inflating) {
  const std::unique_ptr<char[]> start(new char[kStartMax]);
  GzipStream s;
  if (!s.open()) file_error(unit_, path_, 0, "not enough memory to inflate the file");
  // A damaged stream only ends the block: the whole inflation reports it.
  std::size_t at = 0;
  std::size_t used = 0;
  bool whole = false;
  FirstDataLine first;
  while (used < kStartMax && !first.ended(start.get(), used)) {
    const int r = s.step(in, n, at, start.get(), std::min(kStartMax, used + kStartStep), used);
    if (r == Z_STREAM_END) {
      whole = at == n;
      // Another member follows, or the stream ends here.
      if (n - at < 2 || in[at] != kGzipMagic[0] || in[at + 1] != kGzipMagic[1]) break;
      inflateReset(&s.z);
    } else if (r != Z_OK) {
      break;
    }
  }
  // The text is the block for the time of the check (a check that ends the
  // run ends the construction, and nothing reads the text afterwards).
  data_ = start.get();
  size_ = used;
  inflating.check_start(*this, whole);
  data_ = "";
  size_ = 0;
}

void InputText::inflate(int fd, std::size_t size, const Inflating& inflating) {
  MappedInput in;
  in.p = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (in.p == MAP_FAILED) {
    const int err = errno;
    file_error(unit_, path_, 0, std::string("read error: ") + std::strerror(err));
  }
  in.n = size;
  ::madvise(in.p, size, MADV_SEQUENTIAL);
  const auto* const bytes = static_cast<const unsigned char*>(in.p);
  if (inflating.check_start != nullptr) check_start(bytes, size, inflating);
  const std::size_t max_bytes = inflating.max_bytes;
  const auto too_big = [&] {
    file_error(unit_, path_, 0,
               "the gzip-compressed file unpacks to more than " + std::to_string(max_bytes) + " bytes, " +
                   inflating.limit + "; it is no export");
  };
  const auto corrupt = [&](std::string_view what) {
    file_error(unit_, path_, 0,
               std::string("the gzip-compressed file ") + std::string(what) +
                   "; unpack it with gzip -d to see what is wrong, or export it again");
  };

  // The last four bytes of a gzip member give its inflated size (modulo
  // 2^32): of a one-member file, the size to expect.
  std::size_t expect = 4 * size;
  if (size >= 4) {
    const unsigned char* t = bytes + size - 4;
    const std::size_t isize = t[0] | std::size_t{t[1]} << 8 | std::size_t{t[2]} << 16 | std::size_t{t[3]} << 24;
    if (isize >= size / 2) expect = isize;
  }
  if (expect > max_bytes) expect = max_bytes;
  OutRegion out(expect + 1);
  if (!out.mapped()) file_error(unit_, path_, 0, "not enough memory to inflate the file");
  // Room for output up to one byte past the limit: a text that fills it is
  // too big.
  const auto room = [&] { return std::min(out.size(), max_bytes + 1); };
  const auto grow = [&] {
    if (room() > max_bytes) too_big();
    if (!out.grow_to(std::min(2 * out.size(), max_bytes + 1))) {
      file_error(unit_, path_, 0, "not enough memory to inflate the file");
    }
  };
  std::size_t used = 0;
  std::size_t at = 0;

#if WK_INFLATE_LIBDEFLATE
  struct Decompressor {
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    ~Decompressor() {
      if (d != nullptr) libdeflate_free_decompressor(d);
    }
  } dec;
  if (dec.d == nullptr) file_error(unit_, path_, 0, "not enough memory to inflate the file");
  // One member after another (gzip files may be concatenated).
  while (at < size) {
    if (size - at < 2 || bytes[at] != kGzipMagic[0] || bytes[at + 1] != kGzipMagic[1]) {
      corrupt("has data after the end of its compressed stream");
    }
    std::size_t in_used = 0;
    std::size_t out_got = 0;
    const libdeflate_result r = libdeflate_gzip_decompress_ex(dec.d, bytes + at, size - at, out.data() + used,
                                                              room() - used, &in_used, &out_got);
    if (r == LIBDEFLATE_INSUFFICIENT_SPACE) {
      grow();
      continue;
    }
    if (r != LIBDEFLATE_SUCCESS) corrupt("is corrupt or truncated");
    used += out_got;
    at += in_used;
  }
#else
  GzipStream s;
  if (!s.open()) file_error(unit_, path_, 0, "not enough memory to inflate the file");
  bool member_open = true;
  while (at < size || member_open) {
    if (!member_open) {
      if (size - at < 2 || bytes[at] != kGzipMagic[0] || bytes[at + 1] != kGzipMagic[1]) {
        corrupt("has data after the end of its compressed stream");
      }
      inflateReset(&s.z);
      member_open = true;
    }
    if (used == room()) grow();
    const int r = s.step(bytes, size, at, out.data(), room(), used);
    if (r == Z_STREAM_END) {
      member_open = false;
    } else if (r == Z_BUF_ERROR && s.z.avail_out == 0) {
      continue;  // more room needed
    } else if (r != Z_OK || (at == size && s.z.avail_out != 0)) {
      corrupt("is corrupt or truncated");
    }
  }
#endif
  if (used > max_bytes) too_big();

  region_bytes_ = out.size();
  region_ = out.release();
  data_ = static_cast<const char*>(region_);
  size_ = used;
}

void InputText::release_before(std::size_t offset) {
  if (region_ == nullptr) return;
  if (offset > size_) offset = size_;
  // Whole huge pages of an inflated text, so that none is split.
  const std::size_t grain = compressed_ && region_bytes_ >= kHugePageBytes ? kHugePageBytes : page_size();
  const std::size_t end = offset / grain * grain;
  if (end <= released_) return;
  ::madvise(static_cast<char*>(region_) + released_, end - released_, MADV_DONTNEED);
  released_ = end;
}

}  // namespace wk
