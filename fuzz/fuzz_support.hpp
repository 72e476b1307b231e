// Shared by the fuzz targets: a private scratch folder for the files the
// converter reads, made once per process.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace wk::fuzz {

inline const std::string& scratch_dir() {
  static const std::string dir = [] {
    char templ[] = "/tmp/wk_fuzz_XXXXXX";
    const char* d = ::mkdtemp(templ);
    if (d == nullptr) std::abort();
    return std::string(d);
  }();
  return dir;
}

inline void write_bytes(const std::string& path, std::string_view bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
  std::fclose(f);
}

}  // namespace wk::fuzz
