// Shared by the fuzz targets: a private scratch folder for the files the
// converter reads, made once per process and removed at its normal end; the
// checks every target makes; and a plain reference of the free-form reads.
#pragma once

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "io/line_source.hpp"
#include "io/number_scan.hpp"

namespace wk::fuzz {

inline const std::string& scratch_dir() {
  static const std::string dir = [] {
    // Static, so that the exit handler still finds it after the string is gone.
    static char templ[] = "/tmp/wk_fuzz_XXXXXX";
    if (::mkdtemp(templ) == nullptr) std::abort();
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(templ, ec);
    });
    return std::string(templ);
  }();
  return dir;
}

inline void write_bytes(const std::string& path, std::string_view bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
  std::fclose(f);
}

// Ends the process (a finding) unless ok holds.
inline void require(bool ok) {
  if (!ok) std::abort();
}

// The message of a refusal or a file error is printed as one line on stderr:
// printable ASCII only, whatever bytes the input held.
inline void require_one_line(const char* message) {
  for (const char* p = message; *p != '\0'; ++p) require(*p >= 0x20 && *p < 0x7f);
}

// The free-form reads of the file layer done the plain way, as the oracle
// of the buffered ones: lines split at LF (a CR just before it dropped, a
// UTF-8 byte-order mark at the start skipped, a last line without LF kept),
// tokens split at blanks, tabs, commas, CR, VT and FF and each read whole by
// parse_real; a read of n reals starts on a new line and goes on into the
// next lines while values are missing.
class ReferenceReader {
 public:
  explicit ReferenceReader(std::string_view text) : text_(text) {
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
  }

  bool next_line(std::string_view& line) {
    if (pos_ >= text_.size()) return false;
    std::size_t end = text_.find('\n', pos_);
    const std::size_t next = end == std::string_view::npos ? text_.size() : end + 1;
    if (end == std::string_view::npos) end = text_.size();
    if (end > pos_ && text_[end - 1] == '\r') --end;
    line = text_.substr(pos_, end - pos_);
    pos_ = next;
    return true;
  }

  // The next token of line from p on, or false at the line's end.
  static bool next_token(std::string_view line, std::size_t& p, std::string_view& token) {
    while (p < line.size() && is_separator(line[p])) ++p;
    if (p == line.size()) return false;
    const std::size_t start = p;
    while (p < line.size() && !is_separator(line[p])) ++p;
    token = line.substr(start, p - start);
    return true;
  }

  FreeFormReader::Status reals(double* out, int n) {
    int got = 0;
    std::string_view line;
    std::string_view token;
    while (got < n) {
      if (!next_line(line)) return FreeFormReader::Status::end_of_file;
      std::size_t p = 0;
      while (got < n && next_token(line, p, token)) {
        if (!parse_real(token, out[got])) return FreeFormReader::Status::bad_value;
        ++got;
      }
    }
    return FreeFormReader::Status::ok;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

// The same double, NaN for NaN and with its sign for a zero.
inline bool same_real(double a, double b) {
  if (a != a || b != b) return a != a && b != b;
  return a == b && std::signbit(a) == std::signbit(b);
}

}  // namespace wk::fuzz
