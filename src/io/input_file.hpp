// The whole text of an input file as one byte range, read once.
//
// A plain file is mapped into memory (read ahead sequentially); a file that
// starts with the gzip magic bytes 1f 8b is inflated once into memory of its
// own, whatever its name: whole before the constructor returns, or, when
// asked, streamed: inflated piece by piece on a thread of its own while the
// readers go through what is there (see LineSource), at most a window ahead
// of what they have given back. Either way the reader sees the same bytes
// as in the unpacked file. A file that cannot be opened or mapped, a folder,
// a corrupt or truncated compressed stream, and one that unpacks to more
// than its limit end the run with a file-layer error naming the unit and the
// file (exit status 2); a streamed text reports the last two to the reader
// that reaches them.
#pragma once

#include <cstddef>
#include <memory>
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

// How much text a reader of a large file reads between two releases of the
// memory behind it.
inline constexpr std::size_t kReleaseStepBytes = std::size_t{16} << 20;

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
  // Streamed: the constructor returns once the first block is checked and
  // the text is inflated on a second thread while it is read (whole here
  // when no thread is to be had).
  bool stream = false;
  // How far a streamed inflation may run ahead of the text its reader has
  // given back (release_before), in bytes; 0: no bound, the whole text is
  // kept. A reader that waits for text beyond the window is served anyway.
  std::size_t window = 0;
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

  // The file's text (for a compressed file, the text it inflates to); of a
  // streamed text, what is inflated so far.
  std::string_view text() const { return {data_, available()}; }
  // Whether text() is all of the text: always, unless it is streamed.
  bool complete() const;
  // Waits until more than `have` bytes of a streamed text are there, or
  // until it is complete, and returns how many are there; ends the run when
  // the inflation failed before `have` bytes and one more.
  std::size_t wait_beyond(std::size_t have);
  // Inflates the rest of a streamed text, keeping none of it, and ends the
  // run when the file is damaged further on (what a reader met before is
  // then no fault of the export's): for a run that fails.
  void check_intact();
  // How many bytes the whole text is expected to hold: its size, or, of a
  // streamed text not yet complete, the size its gzip trailer gives (which
  // a file of several members or of 4 GiB and more does not tell).
  std::size_t expected_size() const;
  bool compressed() const { return compressed_; }
  int unit() const { return unit_; }
  const std::string& path() const { return path_; }

  // Gives back the memory of the text before byte `offset` (whole pages),
  // so that reading a large file front to back keeps only a window of it
  // resident. A mapped file's pages are mapped again from the page cache if
  // read later; an inflated text's pages read as zeros afterwards, so only
  // text that will not be read again may be released.
  void release_before(std::size_t offset);
  // How much text a reader reads between two releases: kReleaseStepBytes,
  // or, of a text inflated within a window, a quarter of the window (whose
  // pages the inflation then reuses sooner).
  std::size_t release_step() const { return release_step_; }

 private:
  void map_plain(int fd, std::size_t size);
  void inflate(int fd, std::size_t size, const Inflating& inflating);
  // Inflates the file into the stream's memory, publishing each piece;
  // `used` counts the bytes written, however it ends.
  void inflate_text(std::size_t& used);
  // Inflates the start of the compressed file `in` and hands it to the check.
  void check_start(const unsigned char* in, std::size_t n, const Inflating& inflating);
  std::size_t available() const;

  struct Stream;  // the inflation of a compressed file (input_file.cpp)

  int unit_;
  std::string path_;
  const char* data_ = "";
  std::size_t size_ = 0;
  void* region_ = nullptr;  // the mapping that holds the text, if any
  std::size_t region_bytes_ = 0;
  std::size_t released_ = 0;  // bytes from the start already given back
  bool compressed_ = false;
  std::unique_ptr<Stream> stream_;  // of a compressed file
  std::size_t release_step_ = kReleaseStepBytes;
};

}  // namespace wk
