#include "support/format0_reader.hpp"

#include <cstring>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>

#include "support/test_support.hpp"

namespace wk::test {

namespace {

std::uint64_t le_bytes(const std::string& s, std::size_t at, int n) {
  std::uint64_t u = 0;
  for (int b = n - 1; b >= 0; --b) u = (u << 8) | static_cast<unsigned char>(s[at + static_cast<std::size_t>(b)]);
  return u;
}

std::int32_t le_int32(const std::string& s, std::size_t at) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(le_bytes(s, at, 4)));
}

double le_double(const std::string& s, std::size_t at) {
  const std::uint64_t u = le_bytes(s, at, 8);
  double v;
  std::memcpy(&v, &u, sizeof v);
  return v;
}

class RecordCursor {
 public:
  explicit RecordCursor(std::string bytes) : s_(std::move(bytes)) {}

  // Returns the offset of the next record's data and its length.
  std::pair<std::size_t, std::size_t> next(Format0Map& m) {
    ++record_;
    need(4, "leading length");
    const std::int32_t len = le_int32(s_, pos_);
    if (len < 0) fail("negative record length");
    const auto n = static_cast<std::size_t>(len);
    const std::size_t data = pos_ + 4;
    pos_ = data;
    need(n + 4, "record data and trailing length");
    if (le_int32(s_, data + n) != len) fail("trailing length differs from leading length");
    pos_ = data + n + 4;
    m.record_lengths.push_back(len);
    return {data, n};
  }

  std::vector<double> doubles(Format0Map& m) {
    const auto [at, n] = next(m);
    if (n % 8 != 0) fail("record of doubles with a length not a multiple of 8");
    std::vector<double> v(n / 8);
    for (std::size_t t = 0; t < v.size(); ++t) v[t] = le_double(s_, at + 8 * t);
    return v;
  }

  const std::string& bytes() const { return s_; }
  bool at_end() const { return pos_ == s_.size(); }

  [[noreturn]] void fail(const std::string& what) const {
    throw std::runtime_error("format 0 file, record " + std::to_string(record_) + " at byte " + std::to_string(pos_) +
                             ": " + what);
  }

 private:
  void need(std::size_t n, const char* what) {
    if (s_.size() - pos_ < n) fail(std::string("file ends inside the ") + what);
  }

  std::string s_;
  std::size_t pos_ = 0;
  int record_ = 0;
};

}  // namespace

Format0Map read_format0(const std::filesystem::path& p) {
  RecordCursor c(read_file(p));
  Format0Map m;

  auto [at, n] = c.next(m);
  if (n != 20) c.fail("record 1 is not 20 bytes");
  m.elen = le_double(c.bytes(), at);
  m.aper = le_double(c.bytes(), at + 8);
  m.zero = le_int32(c.bytes(), at + 16);

  std::tie(at, n) = c.next(m);
  if (n != 12) c.fail("record 2 is not 12 bytes");
  for (std::size_t t = 0; t < 3; ++t) m.keys[t] = le_int32(c.bytes(), at + 4 * t);

  m.Xo = c.doubles(m);
  m.Yo = c.doubles(m);
  m.Zo = c.doubles(m);
  const std::size_t nodes = m.Xo.size() * m.Yo.size() * m.Zo.size();
  for (auto& f : m.fields) {
    f = c.doubles(m);
    if (f.size() != nodes) c.fail("field record does not hold Nox*Noy*Noz values");
  }

  std::tie(at, n) = c.next(m);
  if (n != 4) c.fail("end record is not 4 bytes");
  m.end_marker = le_int32(c.bytes(), at);
  if (!c.at_end()) c.fail("bytes after the end record");
  return m;
}

}  // namespace wk::test
