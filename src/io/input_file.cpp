#include "io/input_file.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>

#if WK_INFLATE_ISAL
#include <isa-l/igzip_lib.h>
#else
#include <zlib.h>
#endif

#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <new>
#include <thread>

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

#if !WK_INFLATE_ISAL
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
#endif

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

// Gives the whole pages of base[from, to) back, moving from on to their end.
void give_back(char* base, std::size_t& from, std::size_t to) {
  to = to / page_size() * page_size();
  if (to <= from) return;
  ::madvise(base + from, to - from, MADV_DONTNEED);
  from = to;
}

// The inflated text is written in pieces of this size at most: a reader
// waiting for text gets it a piece at a time.
constexpr std::size_t kPieceBytes = std::size_t{1} << 20;

// A reader waiting for a text backs its memory in steps of this size,
constexpr std::size_t kBackAheadBytes = std::size_t{4} << 20;
// and at most this far ahead of the text there.
constexpr std::size_t kBackAheadMaxBytes = std::size_t{64} << 20;

// The compressed file's pages are given back behind the inflation in steps
// of this size.
constexpr std::size_t kInputReleaseBytes = std::size_t{1} << 20;

// The address space set aside for the text of a compressed file of
// `compressed` bytes: room for the most text it may hold, which costs
// nothing where the address space is not limited. Under a limit (ulimit
// -v), what it is expected to hold: the size its gzip trailer gives when
// that is plausible (a one-member file), else four times its own size,
// and some to spare; the room grows in place if the text needs more.
std::size_t text_room(std::size_t max_bytes, std::size_t expected, std::size_t compressed) {
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return max_bytes + 1;
  const std::size_t guess = expected >= compressed / 2 ? expected + 1 : 4 * compressed + 1;
  return std::min(guess + guess / 8 + (std::size_t{1} << 20), max_bytes + 1);
}

// Inflates the gzip members of a file one after another: ISA-L's inflate
// where the build has it (some five times as fast as zlib's), zlib's
// otherwise. Both check each member's CRC and length.
class MemberInflater {
 public:
  enum class Result { more, member_end, damaged };

#if WK_INFLATE_ISAL
  MemberInflater() : state_(std::make_unique<inflate_state>()) { next_member(); }
  bool opened() const { return true; }
  void next_member() {
    isal_inflate_init(state_.get());
    state_->crc_flag = ISAL_GZIP;
  }
  // Inflates in[at, n) into out[used, room) as far as it goes, moving at
  // and used on.
  Result step(const unsigned char* in, std::size_t n, std::size_t& at, char* out, std::size_t room,
              std::size_t& used) {
    inflate_state& z = *state_;
    const auto in_chunk = static_cast<std::uint32_t>(std::min<std::size_t>(n - at, UINT32_MAX));
    const auto out_chunk = static_cast<std::uint32_t>(std::min<std::size_t>(room - used, UINT32_MAX));
    z.next_in = const_cast<std::uint8_t*>(in + at);
    z.avail_in = in_chunk;
    z.next_out = reinterpret_cast<std::uint8_t*>(out + used);
    z.avail_out = out_chunk;
    const int r = isal_inflate(&z);
    at += in_chunk - z.avail_in;
    used += out_chunk - z.avail_out;
    if (r != ISAL_DECOMP_OK) return Result::damaged;
    return z.block_state == ISAL_BLOCK_FINISH ? Result::member_end : Result::more;
  }

 private:
  std::unique_ptr<inflate_state> state_;
#else
  bool opened() { return stream_.opened || stream_.open(); }
  void next_member() { inflateReset(&stream_.z); }
  Result step(const unsigned char* in, std::size_t n, std::size_t& at, char* out, std::size_t room,
              std::size_t& used) {
    const int r = stream_.step(in, n, at, out, room, used);
    if (r == Z_STREAM_END) return Result::member_end;
    // Z_BUF_ERROR: no progress possible, which a full output allows.
    if (r == Z_OK || (r == Z_BUF_ERROR && stream_.z.avail_out == 0)) return Result::more;
    return Result::damaged;
  }

 private:
  GzipStream stream_;
#endif
};

}  // namespace

// The inflation of a compressed file: the file mapped, the text's memory
// (address space for the most text the file may hold, pages taken as the
// text is written), and, for a streamed text, the thread that inflates it
// and what it and the readers tell each other.
struct InputText::Stream {
  MappedInput in;
  char* out = nullptr;
  std::atomic<std::size_t> out_bytes{0};  // grows (in place) only on the inflating thread
  std::size_t max_bytes = 0;
  const char* limit = "";
  std::size_t window = 0;

  // Bytes of text written, with kDone set once the inflation has ended
  // (error then says whether it failed).
  static constexpr std::uint64_t kDone = std::uint64_t{1} << 63;
  std::atomic<std::uint64_t> produced{0};
  std::exception_ptr error;
  // What the readers gave back, and the most text one of them waits for.
  std::atomic<std::uint64_t> released{0};
  std::atomic<std::uint64_t> wanted{0};
  std::atomic<bool> cancelled{false};
  // Inflated to its end only to see whether it is intact: nobody reads the
  // text any more, so it is given back as it is written.
  std::atomic<bool> draining{false};
  // Changed with each of the three above, to wake the inflating thread.
  std::atomic<std::uint32_t> wake{0};
  std::jthread thread;

  // Of the inflating thread: the compressed bytes given back, and, for a
  // text with a window, the end of the memory that holds pages (written or
  // moved there) and how much of what the readers gave back has been moved.
  std::size_t in_released = 0;
  std::size_t frontier = 0;
  std::size_t recycled = 0;
  bool recycling = true;
  // Of the readers: the end of the memory they have backed ahead of the
  // inflation while they waited for it, and how far that may go (the
  // size the file's gzip trailer gives, for a file of one member).
  std::atomic<std::uint64_t> backed{0};
  std::size_t expected = 0;

  ~Stream() {
    if (out != nullptr) ::munmap(out, out_bytes);
  }

  void poke() {
    wake.fetch_add(1, std::memory_order_release);
    wake.notify_all();
  }
  void publish(std::uint64_t value) {
    produced.store(value, std::memory_order_release);
    produced.notify_all();
  }
  // More room for the text, in place, since the readers hold on to where
  // it is: false when the address space beyond it is taken.
  bool grow() {
    const std::size_t now = out_bytes.load(std::memory_order_relaxed);
    const std::size_t to = std::min(2 * now, large_block_bytes(max_bytes + 1));
    if (::mremap(out, now, to, 0) == MAP_FAILED) return false;
#ifdef MADV_HUGEPAGE
    ::madvise(out, to, MADV_HUGEPAGE);
#endif
    out_bytes.store(to, std::memory_order_release);
    return true;
  }
  // Backs the text's memory up to `end` before it is written: in a text
  // with a window, with the pages of text the readers gave back, moved from
  // behind them to the front (mremap moves whole huge pages without copying
  // them), so that the text is written into memory that is already there
  // instead of the kernel clearing fresh pages for each piece.
  void back_to(std::size_t end) {
    while (window != 0 && recycling && frontier < end) {
      const std::size_t given = released.load(std::memory_order_acquire);
      const std::size_t want = large_block_bytes(end - frontier);
      if (given <= recycled || frontier + want > out_bytes) {
        // Nothing to move: the pages are taken fresh as they are written.
        frontier += want;
        return;
      }
      const std::size_t k = std::min(given - recycled, want);
      if (::mremap(out + recycled, k, k, MREMAP_MAYMOVE | MREMAP_FIXED, out + frontier) == MAP_FAILED) {
        recycling = false;
        return;
      }
      recycled += k;
      frontier += k;
    }
  }
  // Of a reader waiting for the text, up to `have` bytes there: backs the
  // next stretch of memory ahead of the inflation, so that the kernel's
  // clearing of fresh pages, which costs as much as the inflating, is done
  // on the reader's core; false when there is nothing to back.
  bool back_ahead(std::size_t have) {
    const std::size_t base = have / kHugePageBytes * kHugePageBytes;
    // A trailer that claims more than the file holds costs a stretch only.
    const std::size_t limit = std::min(
        {large_block_bytes(expected), out_bytes.load(std::memory_order_acquire), base + kBackAheadMaxBytes});
    std::uint64_t seen = backed.load(std::memory_order_relaxed);
    std::uint64_t from;
    std::uint64_t to;
    do {
      from = std::max<std::uint64_t>(seen, base);
      if (from >= limit) return false;
      to = std::min<std::uint64_t>(from + kBackAheadBytes, limit);
    } while (!backed.compare_exchange_weak(seen, to));
#ifdef MADV_POPULATE_WRITE
    // Pages already there are left as they are.
    return ::madvise(out + from, to - from, MADV_POPULATE_WRITE) == 0;
#else
    return false;
#endif
  }
  // Waits until the text may grow past `used` bytes: within the window
  // ahead of what the readers gave back, or up to what one of them waits
  // for. False when the text is no longer wanted.
  bool room_past(std::size_t used) {
    for (;;) {
      const std::uint32_t seen = wake.load(std::memory_order_acquire);
      if (cancelled.load(std::memory_order_acquire)) return false;
      if (window == 0 || draining.load(std::memory_order_acquire)) return true;
      const std::uint64_t limit = std::max(released.load(std::memory_order_acquire) + window,
                                           wanted.load(std::memory_order_acquire));
      if (used < limit) return true;
      wake.wait(seen, std::memory_order_acquire);
    }
  }
};

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
  if (stream_ && stream_->thread.joinable()) {
    stream_->cancelled.store(true, std::memory_order_release);
    stream_->poke();
    stream_->thread.join();
  }
  stream_.reset();
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
  MemberInflater inflater;
  if (!inflater.opened()) file_error(unit_, path_, 0, "not enough memory to inflate the file");
  // A damaged stream only ends the block: the whole inflation reports it.
  std::size_t at = 0;
  std::size_t used = 0;
  bool whole = false;
  FirstDataLine first;
  while (used < kStartMax && !first.ended(start.get(), used)) {
    const std::size_t piece_end = std::min(kStartMax, used + kStartStep);
    const MemberInflater::Result r = inflater.step(in, n, at, start.get(), piece_end, used);
    if (r == MemberInflater::Result::member_end) {
      whole = at == n;
      // Another member follows, or the stream ends here.
      if (n - at < 2 || in[at] != kGzipMagic[0] || in[at + 1] != kGzipMagic[1]) break;
      inflater.next_member();
    } else if (r == MemberInflater::Result::damaged || (at == n && used < piece_end)) {
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
  // The check reads its block as the whole text, before the stream exists.
  if (inflating.check_start != nullptr) check_start(static_cast<const unsigned char*>(in.p), size, inflating);
  stream_ = std::make_unique<Stream>();
  Stream& s = *stream_;
  std::swap(s.in.p, in.p);
  std::swap(s.in.n, in.n);
  // The last four bytes of a gzip member give its inflated size (modulo
  // 2^32): of a one-member file, the size to expect.
  if (size >= 4) {
    const unsigned char* t = static_cast<const unsigned char*>(s.in.p) + size - 4;
    s.expected = t[0] | std::size_t{t[1]} << 8 | std::size_t{t[2]} << 16 | std::size_t{t[3]} << 24;
  }

  // Room for text up to one byte past the limit: a text that fills it is
  // too big. Only the pages written are ever backed by memory.
  s.max_bytes = inflating.max_bytes;
  s.limit = inflating.limit;
  try {
    s.out_bytes = large_block_bytes(text_room(s.max_bytes, s.expected, size));
    s.out = static_cast<char*>(reserve_large_block(s.out_bytes));
  } catch (const std::bad_alloc&) {
    s.out = nullptr;
    file_error(unit_, path_, 0, "not enough memory to inflate the file");
  }
  data_ = s.out;

  if (inflating.stream) {
    s.window = inflating.window;
    if (s.window != 0) release_step_ = std::max(s.window / 4, kHugePageBytes);
    try {
      s.thread = std::jthread([this] {
        Stream& st = *stream_;
        std::size_t used = 0;
        try {
          inflate_text(used);
        } catch (...) {
          st.error = std::current_exception();
        }
        st.publish(used | Stream::kDone);
      });
      return;
    } catch (...) {
      // No thread to be had: the text is inflated whole here.
      s.window = 0;
      release_step_ = kReleaseStepBytes;
    }
  }
  std::size_t used = 0;
  inflate_text(used);
  s.publish(used | Stream::kDone);
}

void InputText::inflate_text(std::size_t& used) {
  Stream& s = *stream_;
  const auto* const bytes = static_cast<const unsigned char*>(s.in.p);
  const std::size_t size = s.in.n;
  const auto corrupt = [&](std::string_view what) {
    file_error(unit_, path_, 0,
               std::string("the gzip-compressed file ") + std::string(what) +
                   "; unpack it with gzip -d to see what is wrong, or export it again");
  };
  const auto too_big = [&] {
    file_error(unit_, path_, 0,
               "the gzip-compressed file unpacks to more than " + std::to_string(s.max_bytes) + " bytes, " + s.limit +
                   "; it is no export");
  };
  MemberInflater inflater;
  if (!inflater.opened()) file_error(unit_, path_, 0, "not enough memory to inflate the file");
  // Up to one byte past the limit: a text that fills that is too big.
  const auto room = [&] { return std::min(s.out_bytes.load(std::memory_order_relaxed), s.max_bytes + 1); };
  std::size_t at = 0;
  std::size_t drained = 0;  // text given back while draining
  // One member after another (gzip files may be concatenated).
  bool member_open = true;
  while (at < size || member_open) {
    if (!member_open) {
      if (size - at < 2 || bytes[at] != kGzipMagic[0] || bytes[at + 1] != kGzipMagic[1]) {
        corrupt("has data after the end of its compressed stream");
      }
      inflater.next_member();
      member_open = true;
    }
    if (used == room()) {
      if (room() > s.max_bytes) too_big();
      if (!s.grow()) file_error(unit_, path_, 0, "not enough memory to inflate the file");
    }
    if (!s.room_past(used)) return;  // nobody reads the text any more
    const std::size_t piece_end = std::min(room(), used + kPieceBytes);
    s.back_to(piece_end);
    const MemberInflater::Result r = inflater.step(bytes, size, at, s.out, piece_end, used);
    if (r == MemberInflater::Result::damaged || (r == MemberInflater::Result::more && at == size && used < piece_end)) {
      corrupt("is corrupt or truncated");
    }
    if (r == MemberInflater::Result::member_end) member_open = false;
    s.publish(used);
    // The compressed bytes are not read again.
    if (at - s.in_released >= kInputReleaseBytes) give_back(static_cast<char*>(s.in.p), s.in_released, at);
    if (s.draining.load(std::memory_order_acquire) && used - drained >= kPieceBytes) give_back(s.out, drained, used);
  }
  if (used > s.max_bytes) too_big();
}

void InputText::check_intact() {
  if (!stream_) return;
  Stream& s = *stream_;
  if (s.thread.joinable()) {
    s.draining.store(true, std::memory_order_release);
    s.poke();
    for (std::uint64_t p = s.produced.load(std::memory_order_acquire); (p & Stream::kDone) == 0;
         p = s.produced.load(std::memory_order_acquire)) {
      s.produced.wait(p, std::memory_order_acquire);
    }
  }
  if (s.error) std::rethrow_exception(s.error);
}

bool InputText::complete() const {
  // A text whose inflation failed is never complete: its readers meet the
  // failure at its end.
  return !stream_ || ((stream_->produced.load(std::memory_order_acquire) & Stream::kDone) != 0 && !stream_->error);
}

std::size_t InputText::available() const {
  if (!stream_) return size_;
  return static_cast<std::size_t>(stream_->produced.load(std::memory_order_acquire) & ~Stream::kDone);
}

std::size_t InputText::wait_beyond(std::size_t have) {
  if (!stream_) return size_;
  Stream& s = *stream_;
  std::uint64_t want = s.wanted.load(std::memory_order_relaxed);
  while (want < have + 1 && !s.wanted.compare_exchange_weak(want, have + 1)) {
  }
  s.poke();
  for (;;) {
    const std::uint64_t p = s.produced.load(std::memory_order_acquire);
    const std::uint64_t bytes = p & ~Stream::kDone;
    if (bytes > have) return static_cast<std::size_t>(bytes);
    if ((p & Stream::kDone) != 0) {
      if (s.error) std::rethrow_exception(s.error);
      return static_cast<std::size_t>(bytes);
    }
    // A text kept whole is written into fresh memory: back some of it
    // meanwhile. A text with a window reuses its pages.
    if (s.window == 0 && s.back_ahead(static_cast<std::size_t>(bytes))) continue;
    s.produced.wait(p, std::memory_order_acquire);
  }
}

std::size_t InputText::expected_size() const {
  if (stream_ && !complete()) return stream_->expected;
  return available();
}

void InputText::release_before(std::size_t offset) {
  char* base = nullptr;
  std::size_t grain = page_size();
  if (stream_) {
    base = stream_->out;
    offset = std::min(offset, available());
    // Whole huge pages of an inflated text, so that none is split.
    grain = kHugePageBytes;
  } else if (region_ != nullptr) {
    base = static_cast<char*>(region_);
    offset = std::min(offset, size_);
  } else {
    return;
  }
  const std::size_t end = offset / grain * grain;
  if (end <= released_) return;
  // A text inflated within a window hands its pages to the inflation, which
  // moves them to the front, as long as it goes on.
  if (!stream_ || stream_->window == 0 || complete()) ::madvise(base + released_, end - released_, MADV_DONTNEED);
  released_ = end;
  if (stream_) {
    // The inflation may run on into the window again.
    stream_->released.store(end, std::memory_order_release);
    stream_->poke();
  }
}

}  // namespace wk
