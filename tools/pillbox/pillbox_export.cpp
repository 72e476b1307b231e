// pillbox_export: writes solver-like ASCII exports of an eigenmode of a closed
// pillbox cavity (TM01p, TM11p or TE11p), and the control file that converts
// them, into one folder.
//
// The exports have one point per line, x y z (mm) then the field values,
// blank-separated: 9 columns (real and imaginary parts of Ex Ey Ez, or of Hx
// Hy Hz) or 6 columns (real-valued eigenmode amplitudes). The points form a
// regular grid written in any of the six loop orders. A quarter structure
// covers x, y >= 0 (symmetry planes x = 0 and y = 0: both magnetic walls for
// a TM01p mode, keys 1 1 0; one electric and one magnetic wall for the dipole
// modes); a full structure covers -xmax..xmax (keys 0 0 0).
// Node coordinates are formed so that a quarter grid of n points and a full
// grid of 2n - 1 points share their nodes bit for bit, and mirrored points get
// field values that differ in sign only.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
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

Writes the E and H exports of an eigenmode of a closed cylindrical pillbox
cavity (end plates at z = 0 and z = Lc) as the field solver writes them, and
the control file wavecalc_to_kaven.dat that converts them, into one folder.
Phasor convention exp(j w t), E real and H imaginary (H peaks a quarter
period after E), kz = p pi/Lc, u = kc r:
  TM01p, kc = 2.404825557695773/Rc (zero of J0):
    Ez = E0 J0(u) cos(kz z), Er = (kz/kc) E0 J1(u) sin(kz z)
    Hphi = j (w eps0/kc) E0 J1(u) cos(kz z)
  TM11p, kc = 3.831705970207512/Rc (zero of J1), psi = J1(u) cos(phi):
    Ez = E0 psi cos(kz z), Et = -(kz/kc^2) E0 grad psi sin(kz z)
    Ht = j (w eps0/kc^2) E0 (grad psi x z) cos(kz z)
  TE11p, kc = 1.841183781340659/Rc (zero of J1'), psi = J1(u) cos(phi),
  A = 2 E0/kc:
    Et = A (z x grad psi) sin(kz z)           (on the axis Ey = E0 sin(kz z))
    Hz = -j (kc^2 A/(w mu0)) psi sin(kz z), Ht = -j (kz A/(w mu0)) grad psi cos(kz z)
  A trailing y in the mode's name turns the dipole pattern by 90 degrees:
  psi = J1(u) sin(phi).

Cavity and mode:
  --mode NAME      TM01p, TM11p, TM11py, TE11p or TE11py with the digit p of
                   half waves along z: TM010, TM011, TM110, TM110y, TE111, ...
                   (TM010); TE modes need p >= 1
  --Rc MM          cavity radius in mm (88)
  --Lc MM          cavity length in mm (115)
  --p N            half waves along z: 0 for TM010, 1 for TM011, ... (0);
                   with --mode, the same p as the mode's name
  --E0 V/M         field scale in V/m; negative reverses the phase (1e6):
                   TM01p: Ez on the axis at z = 0; TM11p: the factor E0
                   above (largest |Ez| 0.5819 E0); TE11p: the peak transverse
                   E on the axis
  --noise A        adds to every real part of E and imaginary part of H a
                   uniform random number in [-A, A) times the largest
                   component of that field in the export (0): a solver's
                   rounding noise
Export grid (coordinates written in mm):
  --quarter        export x, y >= 0 (default), with the mode's symmetry keys:
                   TM01p 1 1, TM11p 2 1, TM11py 1 2, TE11p 1 2, TE11py 2 1
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

Prints the case on stdout: frequency, files, and, for TM01p, what the
converter should find (the Maxwell slice ratio -(kc r/2)/J1(kc r) at
r = aper/2).
)";

struct Options {
  double Rc = 88, Lc = 115;  // mm
  int p = 0;
  wk::pillbox::Family family = wk::pillbox::Family::TM01;
  wk::pillbox::Turn turn = wk::pillbox::Turn::X;
  std::string mode;  // as given, empty without --mode
  int mode_p = -1;   // p of --mode, -1 without it
  int given_p = -1;  // p of --p, -1 without it
  double E0 = 1e6;   // V/m
  double noise = 0;
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

// A mode's name: TM01, TM11 or TE11, the digits of p, and for the dipole
// families an optional y.
void to_mode(Options& o, std::string_view n, const char* v) {
  using wk::pillbox::Family;
  const std::string_view s = v;
  const std::string_view fam = s.substr(0, 4);
  o.family = fam == "TM01" ? Family::TM01 : fam == "TM11" ? Family::TM11 : Family::TE11;
  std::string_view digits = s.size() > 4 ? s.substr(4) : std::string_view();
  o.turn = wk::pillbox::Turn::X;
  if (o.family != Family::TM01 && digits.ends_with('y')) {
    o.turn = wk::pillbox::Turn::Y;
    digits.remove_suffix(1);
  }
  const bool known = fam == "TM01" || fam == "TM11" || fam == "TE11";
  int p = -1;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), p);
  if (!known || digits.empty() || ec != std::errc() || end != digits.data() + digits.size() || p < 0)
    bad(std::string(n) + ": " + v + " is not one of TM01p, TM11p, TM11py, TE11p, TE11py (p a number: TM110, TE111)");
  o.mode = v;
  o.mode_p = p;
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
    {"--mode", [](O& o, N n, V v) { to_mode(o, n, v); }},
    {"--p", [](O& o, N n, V v) { o.given_p = to_int(n, v); }},
    {"--noise", [](O& o, N n, V v) { o.noise = to_double(n, v); }},
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
  if (o.mode_p >= 0 && o.given_p >= 0 && o.mode_p != o.given_p)
    bad("--p " + std::to_string(o.given_p) + " contradicts --mode " + o.mode);
  o.p = o.mode_p >= 0 ? o.mode_p : o.given_p >= 0 ? o.given_p : 0;
  if (o.xmax < 0) o.xmax = o.Rc / 2;
  if (o.zmax < 0) o.zmax = o.Lc;
  if (o.out_counts[2] < 0) o.out_counts[2] = o.nz;
  const Mode shape(o.family, o.turn, 1, 1, 0, 1);
  const int quarter_keys[2] = {shape.key_x(), shape.key_y()};
  for (int n = 0; n < 3; ++n) {
    if (o.out_keys[n] < 0) o.out_keys[n] = n == 2 ? o.zkey : (o.full ? 0 : quarter_keys[n]);
  }

  if (!(o.Rc > 0) || !(o.Lc > 0)) bad("--Rc and --Lc must be positive");
  if (o.p < 0) bad("--p must be 0 or more");
  if (o.family == wk::pillbox::Family::TE11 && o.p < 1) bad("a TE11p mode needs p >= 1");
  if (!(o.noise >= 0)) bad("--noise must be 0 or more");
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

// A solver's rounding noise: uniform numbers in [-1, 1) from a fixed
// sequence (splitmix64), so that a noisy export is the same on every run.
class Noise {
 public:
  double next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) * 0x1p-52 - 1.0;
  }

 private:
  std::uint64_t state_ = 20261208;
};

// Adds noise times the largest component of E, resp. H, over the export to
// every component of f.
void add_noise(wk::pillbox::Field& f, double e_amp, double h_amp, Noise& noise) {
  for (double* v : {&f.Ex, &f.Ey, &f.Ez}) *v += e_amp * noise.next();
  for (double* v : {&f.Hx, &f.Hy, &f.Hz}) *v += h_amp * noise.next();
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

  // The noise's scale: the largest component of each field in the export.
  double e_noise = 0, h_noise = 0;
  if (o.noise > 0) {
    for (const Mode::Transverse& t : tr) {
      for (const Mode::Longitudinal& l : lo) {
        const wk::pillbox::Field f = mode.field(t, l);
        e_noise = std::max({e_noise, std::fabs(f.Ex), std::fabs(f.Ey), std::fabs(f.Ez)});
        h_noise = std::max({h_noise, std::fabs(f.Hx), std::fabs(f.Hy), std::fabs(f.Hz)});
      }
    }
    e_noise *= o.noise;
    h_noise *= o.noise;
  }
  Noise noise;

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
        wk::pillbox::Field f = mode.field(tr[j * static_cast<std::size_t>(o.nx) + i], lo[k]);
        if (o.noise > 0) add_noise(f, e_noise, h_noise, noise);
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

  const int key_x = o.full ? 0 : mode.key_x(), key_y = o.full ? 0 : mode.key_y();
  const std::string keys = std::to_string(key_x) + " " + std::to_string(key_y) + " " + std::to_string(o.zkey);
  std::string t;
  t += mode.name() + " mode of a pillbox cavity, Rc = " + exact(o.Rc) + " mm, Lc = " + exact(o.Lc) +
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
  std::printf("pillbox_export: %s mode, Rc = %g mm, Lc = %g mm, f = %.6f MHz\n", mode.name().c_str(), o.Rc, o.Lc,
              mode.frequency() * 1e-6);
  std::printf("  %s/%s, %s/%s: %d x %d x %d points, %s structure, %d columns, loop order %d\n", o.dir.c_str(),
              o.efile.c_str(), o.dir.c_str(), o.hfile.c_str(), o.nx, o.ny, o.nz, o.full ? "full" : "quarter", o.columns,
              o.order);
  std::printf("  %s/wavecalc_to_kaven.dat: aper = %g cm, elen = %g cm, output %d x %d x %d, format %d\n", o.dir.c_str(),
              cv.aper, cv.elen, o.out_counts[0], o.out_counts[1], o.out_counts[2], o.fmt);
  if (mode.family() != wk::pillbox::Family::TM01) {
    std::printf("  no Ez on the axis: the converter's slice-by-slice Maxwell check has nothing to compare\n");
    return;
  }
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
    const Mode mode(o.family, o.turn, o.Rc * 1e-3, o.Lc * 1e-3, o.p, o.E0);
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
