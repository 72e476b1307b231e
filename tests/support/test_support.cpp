#include "support/test_support.hpp"

#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace wk::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
  static std::mt19937_64 rng{std::random_device{}()};
  for (;;) {
    path_ = fs::temp_directory_path() /
            ("wk_test_" + std::to_string(::getpid()) + "_" + std::to_string(rng() % 1000000007));
    std::error_code ec;
    if (fs::create_directory(path_, ec)) return;
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

ChangeDir::ChangeDir(const fs::path& dir) : old_(fs::current_path()) { fs::current_path(dir); }
ChangeDir::~ChangeDir() {
  std::error_code ec;
  fs::current_path(old_, ec);
}

void write_file(const fs::path& p, std::string_view content) {
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!f) throw std::runtime_error("cannot write " + p.string());
}

std::string gzip_bytes(std::string_view text) {
  z_stream z{};
  if (deflateInit2(&z, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2 failed");
  }
  std::string out(deflateBound(&z, static_cast<uLong>(text.size())) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int r = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  if (r != Z_STREAM_END) throw std::runtime_error("deflate failed");
  return out;
}

std::string read_file(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + p.string());
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

bool file_exists(const fs::path& p) {
  std::error_code ec;
  return fs::exists(p, ec);
}

std::map<std::string, std::string> snapshot(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    files[name] = e.is_symlink() ? "-> " + fs::read_symlink(e.path()).string() : read_file(e.path());
  }
  return files;
}

std::vector<std::string> small_export_lines(int first_xy, const std::function<std::string(int, int, int)>& values) {
  std::vector<std::string> lines;
  for (int x = first_xy; x <= first_xy + 2; ++x)
    for (int y = first_xy; y <= first_xy + 2; ++y)
      for (int z = 0; z <= 2; ++z) {
        lines.push_back(std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(z) + values(x, y, z));
      }
  return lines;
}

std::string join(const std::vector<std::string>& lines, std::string_view eol) {
  std::string out;
  for (const auto& l : lines) {
    out += l;
    out += eol;
  }
  return out;
}

std::vector<std::string> lines_of(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const std::size_t nl = text.find('\n');
    lines.emplace_back(text.substr(0, nl));
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
  }
  return lines;
}

std::string replace_all(std::string s, std::string_view from, std::string_view to) {
  for (std::size_t p = s.find(from); p != std::string::npos; p = s.find(from, p + to.size()))
    s.replace(p, from.size(), to);
  return s;
}

std::string list_whole(long long n) {
  const std::string digits = std::to_string(n < 0 ? -n : n);
  const std::string num = (n < 0 ? "-" : "") + digits + "." + std::string(15 - digits.size(), '0');
  return std::string(19 - num.size(), ' ') + num + "     ";
}

std::string list_int(int n) {
  const std::string s = std::to_string(n);
  return std::string(12 - s.size(), ' ') + s;
}

std::string crlf_lines(const std::vector<std::string>& lines) { return join(lines, "\r\n"); }

std::string constants_log_block(const std::string& freq_field, const std::string& omeg_field) {
  return crlf_lines({
      "  Constants used ",
      "  pi  =    3.14159265358979       rad ",
      "  c   =    299792458.000000       m/s ",
      "  mu0 =   1.256637061435917E-006  T*m/A ",
      "  mu1 =   1.256637061435917E-002  Gs*m/A ",
      "  eps0=   8.854187817620389E-012  F/m ",
      // The blank that separates a number from the text after it, then the text.
      "  freq= " + freq_field + " " + " Hz ",
      "  omeg= " + omeg_field + " " + " rad*Hz ",
      "  ------------------------------ ",
  });
}

std::string constants_log_block_1_3GHz() {
  return constants_log_block("   1300000000.00000     ", "   8168140899.33346     ");
}

std::string Control::text() const {
  std::string t;
  t += "Control file of a test run\n";
  t += "second line of free text\n";
  t += efile + "\n";
  t += hfile + "\n";
  t += keys + "\n";
  t += fnum + "\n";
  t += fmt + "\n";
  t += out_keys + "\n";
  t += freq + "\n";
  t += elen + "\n";
  t += aper + "\n";
  t += fnorm + "\n";
  t += scale + "\n";
  t += counts + "\n";
  return t;
}

RunResult run_converter(const fs::path& dir, const std::string& shell_prefix, const std::string& args) {
  const TempDir streams;
  const fs::path out = streams / "stdout.txt";
  const fs::path err = streams / "stderr.txt";
  const std::string cmd = "cd '" + dir.string() + "' && " + shell_prefix + " '" + WK_EXECUTABLE + "' " + args + " >'" +
                          out.string() + "' 2>'" + err.string() + "' </dev/null";
  const int rc = std::system(cmd.c_str());
  RunResult r;
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : 128 + WTERMSIG(rc);
  r.out = read_file(out);
  r.err = read_file(err);
  return r;
}

}  // namespace wk::test
