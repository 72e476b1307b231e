// pillbox_export: writes solver-like ASCII exports of a TM01p mode of a closed
// pillbox cavity, and the control file that converts them, into one folder.
//
// The exports have one point per line, x y z (mm) then the field values,
// blank-separated: 9 columns (real and imaginary parts of Ex Ey Ez, or of Hx
// Hy Hz) or 6 columns (real-valued eigenmode amplitudes). The points form a
// regular grid written in any of the six loop orders. A quarter structure
// covers x, y >= 0 (symmetry planes x = 0 and y = 0, both magnetic walls for
// a TM01p mode, keys 1 1 0); a full structure covers -xmax..xmax (keys 0 0 0).
// Node coordinates are formed so that a quarter grid of n points and a full
// grid of 2n - 1 points share their nodes bit for bit, and mirrored points get
// field values that differ in sign only.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <zlib.h>

#include "pillbox/pillbox_mode.hpp"

namespace {

namespace fs = std::filesystem;
using wk::pillbox::Mode;

constexpr const char* kHelp = R"(usage: pillbox_export [options]

Writes the E and H exports of a TM01p mode of a closed cylindrical pillbox
cavity (end plates at z = 0 and z = Lc) as the field solver writes them, and
the control file wavecalc_to_kaven.dat that converts them, into one folder.
Phasor convention exp(j w t), kc = 2.404825557695773/Rc, kz = p pi/Lc:
  Ez = E0 J0(kc r) cos(kz z), Er = (kz/kc) E0 J1(kc r) sin(kz z)   (real)
  Hphi = j (w eps0/kc) E0 J1(kc r) cos(kz z)                        (imaginary)

Cavity and mode:
  --Rc MM          cavity radius in mm (88)
  --Lc MM          cavity length in mm (115)
  --p N            half waves along z: 0 for TM010, 1 for TM011, ... (0)
  --E0 V/M         Ez on the axis at z = 0, V/m; negative reverses the phase (1e6)
Export grid (coordinates written in mm):
  --quarter        export x, y >= 0, symmetry keys 1 1 0 (default)
  --full           export the full cross-section, keys 0 0 0
  --xmax MM        transverse extent: x, y in 0..xmax or -xmax..xmax (Rc/2)
  --zmin MM        first z (0)
  --zmax MM        last z (Lc)
  --zorigin MM     z written as z - zorigin (0); with --zmin Lc/2 --zorigin Lc/2
                   the export is the half cavity beyond its middle plane
  --zkey K         z symmetry key of the control file (0); the middle plane is
                   an electric wall (2) for even p, a magnetic wall (1) for odd p
  --nx N --ny N --nz N
                   points along each axis in the export (7, 7, 201); a full
                   export needs 2n - 1 points to match a quarter one of n
  --order IORD     loop order: digits for x, y, z, 1 fastest .. 3 slowest (321)
  --columns 9|6    9: x y z, real parts, imaginary parts (default);
                   6: x y z and the real-valued eigenmode amplitudes: the
                   real part of E, the imaginary part of H
  --digits N       significant digits of every number (11)
Files:
  --dir DIR        output folder, created if missing (.)
  --efile NAME     E export (pillbox_E.txt)
  --hfile NAME     H export (pillbox_H.txt)
  --gzip           write both exports gzip-compressed, their names ending in
                   .gz (pillbox_E.txt.gz, pillbox_H.txt.gz by default)
Control file (lengths in cm; the export's mm are scaled by 0.1):
  --fnum N         output file number (1)
  --fmt F          field-map format 0, 1 or 2 (0)
  --out-keys X,Y,Z output symmetry keys (the export's keys)
  --out-counts NX,NY,NZ
                   output grid points (11,11,nz)
  --fnorm F        normalisation factor (1)
  --aper CM        aperture: output grid half-width, Maxwell circle aper/2
                   (xmax/20: half the exported half-width, in cm)
  --elen CM        element length: output grid z range (zmax - zmin)/10
  --help           this text

Prints the case on stdout: frequency, files, and what the converter should
find (the Maxwell slice ratio -(kc r/2)/J1(kc r) at r = aper/2).
)";

struct Options {
  double Rc = 88, Lc = 115;  // mm
  int p = 0;
  double E0 = 1e6;  // V/m
  bool full = false;
  double xmax = -1;  // mm; < 0: Rc/2
  double zmin = 0;
  double zmax = -1;    // mm; < 0: Lc
  double zorigin = 0;  // mm
  int zkey = 0;
  int nx = 7, ny = 7, nz = 201;
  int order = 321;
  int columns = 9;
  int digits = 11;
  std::string dir = ".";
  std::string efile = "pillbox_E.txt";
  std::string hfile = "pillbox_H.txt";
  bool gzip = false;
  int fnum = 1, fmt = 0;
  int out_keys[3] = {-1, -1, -1};
  int out_counts[3] = {11, 11, -1};
  std::string fnorm = "1";
  std::string aper, elen;  // as given, empty: derived from the grid
  bool help = false;
};

[[noreturn]] void bad(const std::string& what) { throw std::invalid_argument(what); }

double to_double(std::string_view opt, const char* s) {
  char* end = nullptr;
  const double v = std::strtod(s, &end);
  if (end == s || *end != '\0' || !std::isfinite(v)) bad(std::string(opt) + ": not a number: " + s);
  return v;
}

// A real of the control file, kept as the user wrote it.
std::string real_text(std::string_view opt, const char* s) {
  to_double(opt, s);
  return s;
}

int to_int(std::string_view opt, std::string_view s) {
  int v = 0;
  const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || p != s.data() + s.size()) bad(std::string(opt) + ": not an integer: " + std::string(s));
  return v;
}

void to_triple(std::string_view opt, std::string_view s, int (&out)[3]) {
  for (int n = 0; n < 3; ++n) {
    const std::size_t comma = s.find(',');
    if ((n < 2) != (comma != std::string_view::npos)) bad(std::string(opt) + ": expected three values A,B,C");
    out[n] = to_int(opt, s.substr(0, comma));
    s = n < 2 ? s.substr(comma + 1) : std::string_view();
  }
}

// The options that take a value, and where the value goes.
struct ValueOption {
  std::string_view name;
  void (*set)(Options& o, std::string_view name, const char* v);
};
using O = Options;
using N = std::string_view;
using V = const char*;
constexpr ValueOption kValueOptions[] = {
    {"--Rc", [](O& o, N n, V v) { o.Rc = to_double(n, v); }},
    {"--Lc", [](O& o, N n, V v) { o.Lc = to_double(n, v); }},
    {"--p", [](O& o, N n, V v) { o.p = to_int(n, v); }},
    {"--E0", [](O& o, N n, V v) { o.E0 = to_double(n, v); }},
    {"--xmax", [](O& o, N n, V v) { o.xmax = to_double(n, v); }},
    {"--zmin", [](O& o, N n, V v) { o.zmin = to_double(n, v); }},
    {"--zmax", [](O& o, N n, V v) { o.zmax = to_double(n, v); }},
    {"--zorigin", [](O& o, N n, V v) { o.zorigin = to_double(n, v); }},
    {"--zkey", [](O& o, N n, V v) { o.zkey = to_int(n, v); }},
    {"--nx", [](O& o, N n, V v) { o.nx = to_int(n, v); }},
    {"--ny", [](O& o, N n, V v) { o.ny = to_int(n, v); }},
    {"--nz", [](O& o, N n, V v) { o.nz = to_int(n, v); }},
    {"--order", [](O& o, N n, V v) { o.order = to_int(n, v); }},
    {"--columns", [](O& o, N n, V v) { o.columns = to_int(n, v); }},
    {"--digits", [](O& o, N n, V v) { o.digits = to_int(n, v); }},
    {"--dir", [](O& o, N, V v) { o.dir = v; }},
    {"--efile", [](O& o, N, V v) { o.efile = v; }},
    {"--hfile", [](O& o, N, V v) { o.hfile = v; }},
    {"--fnum", [](O& o, N n, V v) { o.fnum = to_int(n, v); }},
    {"--fmt", [](O& o, N n, V v) { o.fmt = to_int(n, v); }},
    {"--out-keys", [](O& o, N n, V v) { to_triple(n, v, o.out_keys); }},
    {"--out-counts", [](O& o, N n, V v) { to_triple(n, v, o.out_counts); }},
    {"--fnorm", [](O& o, N n, V v) { o.fnorm = real_text(n, v); }},
    {"--aper", [](O& o, N n, V v) { o.aper = real_text(n, v); }},
    {"--elen", [](O& o, N n, V v) { o.elen = real_text(n, v); }},
};

Options parse_options(int argc, char** argv) {
  Options o;
  for (int a = 1; a < argc; ++a) {
    const std::string_view opt = argv[a];
    if (opt == "--help" || opt == "-h") {
      o.help = true;
      return o;
    }
    if (opt == "--gzip") {
      o.gzip = true;
      continue;
    }
    if (opt == "--quarter" || opt == "--full") {
      o.full = opt == "--full";
      continue;
    }
    const auto* known = std::find_if(std::begin(kValueOptions), std::end(kValueOptions),
                                     [&](const ValueOption& v) { return v.name == opt; });
    if (known == std::end(kValueOptions)) bad("unknown option " + std::string(opt) + " (see --help)");
    if (a + 1 >= argc) bad(std::string(opt) + ": missing value");
    known->set(o, opt, argv[++a]);
  }
  for (std::string* name : {&o.efile, &o.hfile}) {
    if (o.gzip && !name->ends_with(".gz")) *name += ".gz";
  }
  if (o.xmax < 0) o.xmax = o.Rc / 2;
  if (o.zmax < 0) o.zmax = o.Lc;
  if (o.out_counts[2] < 0) o.out_counts[2] = o.nz;
  for (int n = 0; n < 3; ++n) {
    if (o.out_keys[n] < 0) o.out_keys[n] = n == 2 ? o.zkey : (o.full ? 0 : 1);
  }

  if (!(o.Rc > 0) || !(o.Lc > 0)) bad("--Rc and --Lc must be positive");
  if (o.p < 0) bad("--p must be 0 or more");
  if (o.zkey < 0 || o.zkey > 2) bad("--zkey must be 0, 1 or 2");
  if (!(o.xmax > 0)) bad("--xmax must be positive");
  if (!(o.zmax > o.zmin)) bad("--zmax must be greater than --zmin");
  // The mode is a field inside the metal walls only.
  if (std::hypot(o.xmax, o.xmax) > o.Rc || o.zmin < 0 || o.zmax > o.Lc)
    bad("the export grid must lie inside the cavity: xmax sqrt(2) <= Rc and 0 <= zmin < zmax <= Lc");
  if (o.nx < 2 || o.ny < 2 || o.nz < 2) bad("every axis needs at least 2 points");
  const int dx = o.order / 100, dy = o.order / 10 % 10, dz = o.order % 10;
  if (o.order < 123 || o.order > 321 || dx * dy * dz != 6 || dx + dy + dz != 6)
    bad("--order must be one of 123, 132, 213, 231, 312, 321");
  if (o.columns != 6 && o.columns != 9) bad("--columns must be 6 or 9");
  if (o.digits < 1 || o.digits > 17) bad("--digits must be 1 to 17");
  return o;
}

// Shortest text that reads back as the same double.
std::string exact(double v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

// Text output in large blocks: the numbers are formatted with to_chars into a
// buffer that is handed to fwrite (or to zlib, for a gzip file) whenever it
// fills, so writing costs a few system calls per megabytes whatever the grid
// size.
class BlockWriter {
 public:
  static constexpr std::size_t kBlock = std::size_t{1} << 22;
  static constexpr std::size_t kMaxLine = 1024;

  BlockWriter(const fs::path& path, int digits, bool gzip) : path_(path), digits_(digits), buf_(kBlock + kMaxLine) {
    if (gzip) {
      gz_ = gzopen(path.c_str(), "wb6");
    } else {
      f_ = std::fopen(path.c_str(), "wb");
    }
    if (!f_ && !gz_) throw std::runtime_error("cannot create " + path.string() + ": " + std::strerror(errno));
  }
  ~BlockWriter() {
    if (f_) std::fclose(f_);
    if (gz_) gzclose(gz_);
  }
  BlockWriter(const BlockWriter&) = delete;
  BlockWriter& operator=(const BlockWriter&) = delete;

  // One number, preceded by a blank unless it starts the line. A negative
  // zero (a vanishing component times a negative factor) is written as 0.
  void number(double v) {
    if (len_ != line_start_) buf_[len_++] = ' ';
    char* p = buf_.data() + len_;
    const auto r = std::to_chars(p, buf_.data() + buf_.size(), v + 0.0, std::chars_format::general, digits_);
    len_ = static_cast<std::size_t>(r.ptr - buf_.data());
  }
  // Copies text prepared once (a coordinate) like a number.
  void token(std::string_view t) {
    if (len_ != line_start_) buf_[len_++] = ' ';
    std::memcpy(buf_.data() + len_, t.data(), t.size());
    len_ += t.size();
  }
  // Ends the line; returns its length without the line end.
  std::size_t end_line() {
    const std::size_t n = len_ - line_start_;
    buf_[len_++] = '\n';
    if (len_ >= kBlock) flush();
    line_start_ = len_;
    return n;
  }
  void close() {
    flush();
    bool failed = false;
    bool close_failed = false;
    if (gz_) {
      close_failed = gzclose(gz_) != Z_OK;
      gz_ = nullptr;
    } else {
      failed = std::ferror(f_) != 0;
      close_failed = std::fclose(f_) != 0;
      f_ = nullptr;
    }
    if (failed || close_failed) throw std::runtime_error("cannot write " + path_.string());
  }

 private:
  void flush() {
    const bool written =
        len_ == 0 || (gz_ ? gzwrite(gz_, buf_.data(), static_cast<unsigned>(len_)) == static_cast<int>(len_)
                          : std::fwrite(buf_.data(), 1, len_, f_) == len_);
    if (!written) throw std::runtime_error("cannot write " + path_.string() + ": " + std::strerror(errno));
    len_ = 0;
    line_start_ = 0;
  }

  fs::path path_;
  int digits_;
  std::vector<char> buf_;
  std::size_t len_ = 0, line_start_ = 0;
  std::FILE* f_ = nullptr;
  gzFile gz_ = nullptr;
};

// Node coordinates of one transverse axis, mm: 0..xmax (quarter) or
// -xmax..xmax (full), each node as (m/M) xmax so that mirrored nodes are
// exact negatives and a full axis of 2n - 1 nodes contains the n nodes of
// the quarter axis bit for bit.
std::vector<double> transverse_nodes(int n, double xmax, bool full) {
  std::vector<double> v(static_cast<std::size_t>(n));
  const int M = n - 1;
  for (int i = 0; i < n; ++i) {
    const int m = full ? 2 * i - M : i;
    v[static_cast<std::size_t>(i)] = (static_cast<double>(m) / static_cast<double>(M)) * xmax;
  }
  return v;
}

std::vector<double> z_nodes(int n, double zmin, double zmax) {
  std::vector<double> v(static_cast<std::size_t>(n));
  for (int k = 0; k < n; ++k)
    v[static_cast<std::size_t>(k)] = zmin + (static_cast<double>(k) / static_cast<double>(n - 1)) * (zmax - zmin);
  v.back() = zmax;
  return v;
}

std::vector<std::string> as_text(const std::vector<double>& v, int digits) {
  std::vector<std::string> t;
  t.reserve(v.size());
  char buf[40];
  for (double x : v) {
    const auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::general, digits);
    t.emplace_back(buf, r.ptr);
  }
  return t;
}

// The two exports. Returns the length of the E export's first line, which
// the converter inspects (its first 132 characters) to tell 9 from 6 columns.
std::size_t write_exports(const Options& o, const Mode& mode) {
  const std::vector<double> xs = transverse_nodes(o.nx, o.xmax, o.full);
  const std::vector<double> ys = transverse_nodes(o.ny, o.xmax, o.full);
  const std::vector<double> zs = z_nodes(o.nz, o.zmin, o.zmax);
  std::vector<double> zw(zs);
  for (double& z : zw) z -= o.zorigin;
  const std::vector<std::string> xt = as_text(xs, o.digits), yt = as_text(ys, o.digits), zt = as_text(zw, o.digits);

  // The Bessel functions depend on (x, y) only and the cosines on z only:
  // evaluate them once per node of each, not once per point.
  std::vector<Mode::Transverse> tr(static_cast<std::size_t>(o.nx) * static_cast<std::size_t>(o.ny));
  for (int j = 0; j < o.ny; ++j)
    for (int i = 0; i < o.nx; ++i)
      tr[static_cast<std::size_t>(j) * static_cast<std::size_t>(o.nx) + static_cast<std::size_t>(i)] =
          mode.transverse(xs[static_cast<std::size_t>(i)] * 1e-3, ys[static_cast<std::size_t>(j)] * 1e-3);
  std::vector<Mode::Longitudinal> lo(static_cast<std::size_t>(o.nz));
  for (int k = 0; k < o.nz; ++k)
    lo[static_cast<std::size_t>(k)] = mode.longitudinal(zs[static_cast<std::size_t>(k)] * 1e-3);

  BlockWriter ew(fs::path(o.dir) / o.efile, o.digits, o.gzip);
  BlockWriter hw(fs::path(o.dir) / o.hfile, o.digits, o.gzip);
  const bool cplx = o.columns == 9;

  // Loop levels from outermost to innermost: the axis whose digit is 3, 2, 1.
  const int digit[3] = {o.order / 100, o.order / 10 % 10, o.order % 10};
  int level_axis[3] = {0, 0, 0};
  for (int axis = 0; axis < 3; ++axis) level_axis[3 - digit[axis]] = axis;
  const int count[3] = {o.nx, o.ny, o.nz};

  std::size_t first_line = 0;
  bool first = true;
  int idx[3];
  for (idx[level_axis[0]] = 0; idx[level_axis[0]] < count[level_axis[0]]; ++idx[level_axis[0]]) {
    for (idx[level_axis[1]] = 0; idx[level_axis[1]] < count[level_axis[1]]; ++idx[level_axis[1]]) {
      for (idx[level_axis[2]] = 0; idx[level_axis[2]] < count[level_axis[2]]; ++idx[level_axis[2]]) {
        const auto i = static_cast<std::size_t>(idx[0]), j = static_cast<std::size_t>(idx[1]),
                   k = static_cast<std::size_t>(idx[2]);
        const wk::pillbox::Field f = mode.field(tr[j * static_cast<std::size_t>(o.nx) + i], lo[k]);
        for (BlockWriter* w : {&ew, &hw}) {
          w->token(xt[i]);
          w->token(yt[j]);
          w->token(zt[k]);
        }
        if (cplx) {
          // E: real parts, then zero imaginary parts; H: zero real parts,
          // then the imaginary parts.
          ew.number(f.Ex), ew.number(f.Ey), ew.number(f.Ez), ew.number(0), ew.number(0), ew.number(0);
          hw.number(0), hw.number(0), hw.number(0), hw.number(f.Hx), hw.number(f.Hy), hw.number(f.Hz);
        } else {
          ew.number(f.Ex), ew.number(f.Ey), ew.number(f.Ez);
          hw.number(f.Hx), hw.number(f.Hy), hw.number(f.Hz);
        }
        const std::size_t n = ew.end_line();
        hw.end_line();
        if (first) first_line = n;
        first = false;
      }
    }
  }
  ew.close();
  hw.close();
  return first_line;
}

struct CaseValues {
  double aper = 0, elen = 0;  // cm
};

CaseValues write_control(const Options& o, const Mode& mode) {
  CaseValues cv;
  const std::string aper = o.aper.empty() ? exact(o.xmax * 0.05) : o.aper;
  const std::string elen = o.elen.empty() ? exact((o.zmax - o.zmin) * 0.1) : o.elen;
  cv.aper = std::strtod(aper.c_str(), nullptr);
  cv.elen = std::strtod(elen.c_str(), nullptr);

  const int in_keys = o.full ? 0 : 1;
  const std::string keys = std::to_string(in_keys) + " " + std::to_string(in_keys) + " " + std::to_string(o.zkey);
  std::string t;
  t += "TM01" + std::to_string(o.p) + " mode of a pillbox cavity, Rc = " + exact(o.Rc) + " mm, Lc = " + exact(o.Lc) +
       " mm, E0 = " + exact(o.E0) + " V/m\n";
  t += std::string(o.full ? "full structure" : "quarter structure x, y >= 0") + ", " + std::to_string(o.columns) +
       " columns, loop order " + std::to_string(o.order) + ", coordinates in mm\n";
  t += o.efile + "\n";
  t += o.hfile + "\n";
  t += keys + "     input symmetry keys x y z\n";
  t += std::to_string(o.fnum) + "         output file number\n";
  t += std::to_string(o.fmt) + "         output format\n";
  t += std::to_string(o.out_keys[0]) + " " + std::to_string(o.out_keys[1]) + " " + std::to_string(o.out_keys[2]) +
       "     output symmetry keys x y z\n";
  t += exact(mode.frequency()) + "   frequency in Hz\n";
  t += elen + "   element length in cm\n";
  t += aper + "   aperture in cm\n";
  t += o.fnorm + "   field normalisation factor\n";
  t += "0.1   coordinate scale: mm to cm\n";
  t += std::to_string(o.out_counts[0]) + " " + std::to_string(o.out_counts[1]) + " " + std::to_string(o.out_counts[2]) +
       "   output grid points x y z\n";

  const fs::path path = fs::path(o.dir) / "wavecalc_to_kaven.dat";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot create " + path.string() + ": " + std::strerror(errno));
  const bool ok = std::fwrite(t.data(), 1, t.size(), f) == t.size();
  if (std::fclose(f) != 0 || !ok) throw std::runtime_error("cannot write " + path.string());
  return cv;
}

void describe(const Options& o, const Mode& mode, const CaseValues& cv) {
  const double r = cv.aper / 200;  // Maxwell circle radius aper/2, cm -> m
  const double fnorm = std::strtod(o.fnorm.c_str(), nullptr);
  const double hphi = std::fabs(mode.field(r, 0, 0).Hy);  // |Hphi| at z = 0, A/m
  std::printf("pillbox_export: TM01%d mode, Rc = %g mm, Lc = %g mm, f = %.6f MHz\n", o.p, o.Rc, o.Lc,
              mode.frequency() * 1e-6);
  std::printf("  %s/%s, %s/%s: %d x %d x %d points, %s structure, %d columns, loop order %d\n", o.dir.c_str(),
              o.efile.c_str(), o.dir.c_str(), o.hfile.c_str(), o.nx, o.ny, o.nz, o.full ? "full" : "quarter", o.columns,
              o.order);
  std::printf("  %s/wavecalc_to_kaven.dat: aper = %g cm, elen = %g cm, output %d x %d x %d, format %d\n", o.dir.c_str(),
              cv.aper, cv.elen, o.out_counts[0], o.out_counts[1], o.out_counts[2], o.fmt);
  std::printf("  expected Maxwell slice ratio -(kc r/2)/J1(kc r) = %.6f at r = aper/2 = %g cm (kc r = %.4f)\n",
              mode.slice_ratio(r), cv.aper / 2, mode.kc() * r);
  std::printf("  expected fields x Fnorm: Ez(axis, z = 0) = %g V/cm, |Bphi|(r = aper/2, z = 0) = %g gauss\n",
              fnorm * o.E0 / 100, fnorm * hphi * wk::pillbox::kMu0 * 1e4);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options o = parse_options(argc, argv);
    if (o.help) {
      std::fputs(kHelp, stdout);
      return 0;
    }
    const Mode mode(o.Rc * 1e-3, o.Lc * 1e-3, o.p, o.E0);
    fs::create_directories(o.dir);
    const std::size_t first_line = write_exports(o, mode);
    const CaseValues cv = write_control(o, mode);
    describe(o, mode, cv);
    if (o.columns == 9 && first_line > 132)
      std::fprintf(stderr,
                   "pillbox_export: warning: the first E line has %zu characters; the converter looks for nine "
                   "values in the first 132 only and will read real parts only (use fewer --digits)\n",
                   first_line);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pillbox_export: %s\n", e.what());
    return 1;
  }
  return 0;
}
