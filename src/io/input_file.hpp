// The whole text of an input file as one byte range, read once.
//
// A plain file is mapped into memory (read ahead sequentially); a file that
// starts with the gzip magic bytes 1f 8b is inflated once, whole, into memory
// of its own, whatever its name. Either way the reader sees the same bytes
// as in the unpacked file. A file that cannot be opened or mapped, a folder,
// a corrupt or truncated compressed stream, and one that unpacks to more
// than its limit end the run with a file-layer error naming the unit and the
// file (exit status 2).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace wk {

// What a file that is not a regular one is, for a message: "a FIFO", "a
// character device", "a block device", "a socket" (st_mode of stat).
const char* kind_of_file(unsigned mode);

// The most text an export can hold: the largest grid, 25 x 25 x 8001 =
// 5,000,625 points, one a line, at 512 bytes a line, twice the longest line
// a solver writes (nine numbers of 17 significant digits and their
// separators, some 250 bytes): 2,560,320,000 bytes.
inline constexpr std::size_t kMaxExportBytes = std::size_t{25 * 25 * 8001} * 512;

class InputText;

// How a compressed file is inflated.
struct Inflating {
  // The most its text may hold, and what that limit is, for the message.
  std::size_t max_bytes = kMaxExportBytes;
  const char* limit = "the most an export of the largest grid holds (25 x 25 x 8001 lines of 512 bytes)";
  // Called once the first block is inflated and before the rest is, with
  // the text holding that block (the first line holding more than
  // separators whole, unless the line is longer than a line may be);
  // `whole` when it is all of the file's text. Ends the run when the file
  // is no export, so that a small file that unpacks to gigabytes of
  // something else is refused at once.
  void (*check_start)(InputText& start, bool whole) = nullptr;
};

class InputText {
 public:
  // Whether a file that starts with the gzip magic bytes is inflated (the
  // field exports) or taken as it is (the control file).
  enum class Gzip { inflate, as_is };

  InputText(int unit, std::string path, Gzip gzip = Gzip::inflate, const Inflating& inflating = Inflating());
  ~InputText();
  InputText(const InputText&) = delete;
  InputText& operator=(const InputText&) = delete;

  // The file's text (for a compressed file, the text it inflates to).
  std::string_view text() const { return {data_, size_}; }
  bool compressed() const { return compressed_; }
  int unit() const { return unit_; }
  const std::string& path() const { return path_; }

  // Gives back the memory of the text before byte `offset` (whole pages),
  // so that reading a large file front to back keeps only a window of it
  // resident. A mapped file's pages are mapped again from the page cache if
  // read later; an inflated text's pages read as zeros afterwards, so only
  // text that will not be read again may be released.
  void release_before(std::size_t offset);

 private:
  void map_plain(int fd, std::size_t size);
  void inflate(int fd, std::size_t size, const Inflating& inflating);
  // Inflates the start of the compressed file `in` and hands it to the check.
  void check_start(const unsigned char* in, std::size_t n, const Inflating& inflating);

  int unit_;
  std::string path_;
  const char* data_ = "";
  std::size_t size_ = 0;
  void* region_ = nullptr;  // the mapping that holds the text, if any
  std::size_t region_bytes_ = 0;
  std::size_t released_ = 0;  // bytes from the start already given back
  bool compressed_ = false;
};

}  // namespace wk
