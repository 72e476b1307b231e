#include "physics/pillbox_case.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <stdexcept>

namespace wk::test {

namespace fs = std::filesystem;

namespace {

// The lines of a log, without their CR LF.
std::vector<std::string> log_lines(const std::string& log) {
  std::vector<std::string> lines = lines_of(log);
  for (std::string& line : lines)
    if (!line.empty() && line.back() == '\r') line.pop_back();
  return lines;
}

// A fixed-width field of a formatted line; NaN when it does not hold a number
// (a field of asterisks, or a line too short).
double field(std::string_view line, std::size_t pos, std::size_t width) {
  if (line.size() < pos + width) return std::numeric_limits<double>::quiet_NaN();
  const std::string f(line.substr(pos, width));
  char* end = nullptr;
  const double v = std::strtod(f.c_str(), &end);
  if (end == f.c_str() || f.find_first_not_of(' ', static_cast<std::size_t>(end - f.c_str())) != std::string::npos)
    return std::numeric_limits<double>::quiet_NaN();
  return v;
}

// Running maximum that keeps a NaN once it meets one, so that a map holding
// NaN never passes for an accurate one.
void keep_max(double& acc, double v) {
  if (!(v <= acc)) acc = v;
}

}  // namespace

std::string exact(double v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string map_name(int fnum) {
  char two[3];
  std::snprintf(two, sizeof two, "%02d", fnum);
  return std::string("eh_VRQ.#") + two;
}

void generate(const PillboxCase& c, const fs::path& dir) {
  std::string cmd = std::string("'") + WK_PILLBOX + "' --dir '" + dir.string() + "'";
  cmd += " --Rc " + exact(c.Rc) + " --Lc " + exact(c.Lc) + " --mode " + c.mode().name() + " --E0 " + exact(c.E0);
  if (c.noise > 0) cmd += " --noise " + exact(c.noise);
  cmd += c.full ? " --full" : " --quarter";
  cmd += " --xmax " + exact(c.xmax) + " --zmin " + exact(c.zmin) + " --zmax " + exact(c.zmax);
  cmd += " --zorigin " + exact(c.zorigin) + " --zkey " + std::to_string(c.zkey);
  cmd += " --nx " + std::to_string(c.nx) + " --ny " + std::to_string(c.ny) + " --nz " + std::to_string(c.nz);
  cmd += " --order " + std::to_string(c.order) + " --columns " + std::to_string(c.columns);
  if (c.gzip) cmd += " --gzip";
  cmd += " --fnum " + std::to_string(c.fnum) + " --fmt " + std::to_string(c.fmt);
  cmd += " --out-keys " + c.out_keys + " --out-counts " + c.out_counts;
  cmd += " --fnorm " + c.fnorm + " --aper " + c.aper + " --elen " + c.elen;
  const fs::path out = dir / ".generator.txt";
  cmd += " >'" + out.string() + "' 2>&1";
  if (std::system(cmd.c_str()) != 0) throw std::runtime_error("generator failed: " + read_file(out));
  fs::remove(out);
}

Converted convert(const PillboxCase& c, const fs::path& dir) {
  generate(c, dir);
  Converted r;
  r.run = run_converter(dir);
  r.log = read_file(dir / "wavecalc_to_kaven.log");
  const fs::path map = dir / map_name(c.fnum);
  if (c.fmt == 0 && file_exists(map)) r.map = read_format0(map);
  return r;
}

std::vector<SliceLine> slice_lines(const std::string& log) {
  static constexpr std::string_view kHead = "  iz, zz, I_H, I_E, ratio= ";
  std::vector<SliceLine> out;
  for (std::string_view line : log_lines(log)) {
    if (line.substr(0, kHead.size()) != kHead) continue;
    SliceLine s;
    const double iz = field(line, 27, 5);
    s.iz = std::isnan(iz) ? -1 : static_cast<int>(iz);
    s.zz = field(line, 34, 14);
    s.I_H = field(line, 50, 14);
    s.I_E = field(line, 66, 14);
    s.ratio = field(line, 80, 14);
    out.push_back(s);
  }
  return out;
}

std::vector<double> log_values(const std::string& log, std::string_view text) {
  for (std::string_view line : log_lines(log)) {
    if (line.size() < text.size() + 1 || line[0] != ' ' || line.substr(1, text.size()) != text) continue;
    std::vector<double> values;
    std::string rest(line.substr(1 + text.size()));
    const char* p = rest.c_str();
    for (;;) {
      char* end = nullptr;
      const double v = std::strtod(p, &end);
      if (end == p) break;
      values.push_back(v);
      p = end;
    }
    return values;
  }
  ADD_FAILURE() << "no log line \"" << text << "\"";
  return {};
}

bool log_has_line(const std::string& log, std::string_view text) {
  const auto lines = log_lines(log);
  return std::any_of(lines.begin(), lines.end(), [&](std::string_view l) {
    return l.size() > text.size() && l[0] == ' ' && l.substr(1, text.size()) == text;
  });
}

double max_relative_difference(const Format0Map& a, const Format0Map& ref) {
  if (a.Xo != ref.Xo || a.Yo != ref.Yo || a.Zo != ref.Zo) return std::numeric_limits<double>::infinity();
  double worst = 0;
  for (std::size_t f = 0; f < 6; ++f) {
    const std::vector<double>& x = a.fields[f];
    const std::vector<double>& y = ref.fields[f];
    if (x.size() != y.size()) return std::numeric_limits<double>::infinity();
    double scale = 0, diff = 0;
    for (std::size_t n = 0; n < y.size(); ++n) {
      scale = std::max(scale, std::fabs(y[n]));
      keep_max(diff, std::fabs(x[n] - y[n]));
    }
    keep_max(worst, scale > 0 ? diff / scale : diff);
  }
  return worst;
}

MapError map_error(const Format0Map& m, const PillboxCase& c, double sign_E, double sign_B) {
  const pillbox::Mode mode = c.mode();
  const double fnorm = c.fnorm_value();
  const double mu1 = pillbox::kMu0 * 10000;  // Gs*m/A
  const std::size_t nx = m.Xo.size(), ny = m.Yo.size(), nz = m.Zo.size();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (const auto& f : m.fields)
    if (nx * ny * nz == 0 || f.size() != nx * ny * nz) return {nan, nan};
  double dE = 0, dB = 0, maxE = 0, maxB = 0;
  std::size_t n = 0;
  for (std::size_t k = 0; k < nz; ++k) {
    for (std::size_t j = 0; j < ny; ++j) {
      for (std::size_t i = 0; i < nx; ++i, ++n) {
        // Converter coordinates are cm; the mode wants m.
        const pillbox::Field f = mode.field(m.Xo[i] / 100, m.Yo[j] / 100, c.z_mm(m.Zo[k]) / 1000);
        const double E[3] = {f.Ex, f.Ey, f.Ez};
        const double H[3] = {f.Hx, f.Hy, f.Hz};
        for (int a = 0; a < 3; ++a) {
          const double e = sign_E * fnorm * E[a] / 100;  // V/m -> V/cm
          const double b = sign_B * fnorm * mu1 * H[a];  // A/m -> gauss
          keep_max(dE, std::fabs(m.fields[static_cast<std::size_t>(a)][n] - e));
          keep_max(dB, std::fabs(m.fields[static_cast<std::size_t>(a) + 3][n] - b));
          keep_max(maxE, std::fabs(e));
          keep_max(maxB, std::fabs(b));
        }
      }
    }
  }
  return {dE / maxE, dB / maxB};
}

}  // namespace wk::test
