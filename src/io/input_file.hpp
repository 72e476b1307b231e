// The whole text of an input file as one byte range, read once.
//
// A plain file is mapped into memory (read ahead sequentially); a file that
// starts with the gzip magic bytes 1f 8b is inflated once, whole, into memory
// of its own, whatever its name. Either way the reader sees the same bytes
// as in the unpacked file. A file that cannot be opened or mapped, a folder,
// and a corrupt or truncated compressed stream end the run with a
// file-layer error naming the unit and the file (exit status 2).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace wk {

// What a file that is not a regular one is, for a message: "a FIFO", "a
// character device", "a block device", "a socket" (st_mode of stat).
const char* kind_of_file(unsigned mode);

class InputText {
 public:
  // Whether a file that starts with the gzip magic bytes is inflated (the
  // field exports) or taken as it is (the control file).
  enum class Gzip { inflate, as_is };

  InputText(int unit, std::string path, Gzip gzip = Gzip::inflate);
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
  void inflate(int fd, std::size_t size);

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
