// Helpers shared by the tests: temporary folders, files, and runs of the
// real executable.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace wk::test {

// A fresh temporary folder, removed with its content on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Makes the given folder the current one for the lifetime of the object.
class ChangeDir {
 public:
  explicit ChangeDir(const std::filesystem::path& dir);
  ~ChangeDir();

 private:
  std::filesystem::path old_;
};

void write_file(const std::filesystem::path& p, std::string_view content);
std::string read_file(const std::filesystem::path& p);
bool file_exists(const std::filesystem::path& p);
// The gzip file (one member) that inflates to `text`.
std::string gzip_bytes(std::string_view text);

// Every entry of dir: the content of a file, "-> target" for a link.
std::map<std::string, std::string> snapshot(const std::filesystem::path& dir);

// The lines of an export of 3 x 3 x 3 points with z fastest: x and y from
// `first_xy` to first_xy + 2, z from 0 to 2, in steps of 1; each line the
// coordinates "x y z" followed by values(x, y, z).
std::vector<std::string> small_export_lines(int first_xy, const std::function<std::string(int, int, int)>& values);

// n blanks.
inline std::string blanks(int n) { return std::string(static_cast<std::size_t>(n), ' '); }

// Each line followed by eol.
std::string join(const std::vector<std::string>& lines, std::string_view eol = "\n");

// The lines of text, split at each '\n' and without it; a final '\n' ends
// the last line.
std::vector<std::string> lines_of(std::string_view text);

// s with every occurrence of `from` (not empty) replaced by `to`.
std::string replace_all(std::string s, std::string_view from, std::string_view to);

// Joins lines with CR LF, the line end of every line the converter writes.
std::string crlf_lines(const std::vector<std::string>& lines);

// Values as the list-write layout prints them: a real zero; a whole number of
// at most 15 digits as a real, in fixed form with 15 significant digits (as
// many decimals as the digits before the point leave), right-aligned in 19
// columns, then 5 blanks; an integer in 12 columns.
inline const std::string kListZero = "  0.000000000000000E+000";
std::string list_whole(long long n);
std::string list_int(int n);

// The " Constants used " block of the log, typed from the list-write layout,
// with the 24-column fields of the frequency and of omeg as given.
std::string constants_log_block(const std::string& freq_field, const std::string& omeg_field);
// The block for a frequency of 1.3 GHz, the default of Control.
std::string constants_log_block_1_3GHz();

// A control file with the given values (line 3 and 4 the export names).
struct Control {
  std::string efile = "efield.txt";
  std::string hfile = "hfield.txt";
  std::string keys = "1 1 0";
  std::string fnum = "1";
  std::string fmt = "0";
  std::string out_keys = "1 1 0";
  std::string freq = "1.3e9";
  std::string elen = "10.0";
  std::string aper = "1.0";
  std::string fnorm = "1.0";
  std::string scale = "1.0";
  std::string counts = "5 5 11";
  std::string text() const;
};

// Result of a run of the real converter in a folder.
struct RunResult {
  int status = -1;
  std::string out;  // stdout
  std::string err;  // stderr
};
// Runs the converter executable in dir. `shell_prefix` is put before the
// command inside sh -c (for example "ulimit -f 10;"), `args` after it.
// Its stdout and stderr go to a folder of their own: dir may be read-only.
RunResult run_converter(const std::filesystem::path& dir, const std::string& shell_prefix = "",
                        const std::string& args = "");

// What a run leaves in its folder, and a stand-in for the map of an earlier
// run that a failed run must leave as it was.
inline constexpr const char* kLog = "wavecalc_to_kaven.log";
inline constexpr const char* kMap = "eh_VRQ.#01";
inline constexpr const char* kEarlierMap = "a field map of an earlier run\n";

}  // namespace wk::test
