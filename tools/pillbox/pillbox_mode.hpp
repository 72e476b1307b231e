// Eigenmodes of a closed cylindrical pillbox cavity: the monopole family
// TM01p, the dipole family TM11p and the lowest transverse-electric family
// TE11p, the dipole ones in either of two orientations.
//
// Cavity of radius Rc with end plates at z = 0 and z = Lc, axis along z.
// Phasor convention exp(j w t). With kc = x/Rc (x a zero of J0, of J1 or of
// J1' after the family), kz = p pi/Lc and k^2 = kc^2 + kz^2, w = c k, and a
// transverse pattern psi(x, y) that solves (laplacian_t + kc^2) psi = 0:
//   TM: Ez  = E0 psi cos(kz z)
//       Et  = -(kz/kc^2) E0 grad_t psi sin(kz z)
//       Ht  = j (w eps0/kc^2) E0 (grad_t psi x z) cos(kz z)
//   TE: Et  = A (z x grad_t psi) sin(kz z)
//       Hz  = -j (kc^2 A/(w mu0)) psi sin(kz z)
//       Ht  = -j (kz A/(w mu0)) grad_t psi cos(kz z)
// with psi = J0(kc r) for TM01p and J1(kc r) cos(phi) ("x": the longitudinal
// field largest along the x axis) or J1(kc r) sin(phi) ("y": the same field
// turned by 90 degrees) for the dipole families. E is real and H purely
// imaginary: the magnetic field peaks a quarter period after the electric
// field, and curl Re E = w mu0 Im H. Tangential E vanishes on the mantle
// (psi = 0 there for TM, d psi/dr = 0 for TE) and on the end plates.
//
// Everything here is in SI units: lengths in m, E in V/m, H in A/m.
#pragma once

#include <cmath>
#include <string>

namespace wk::pillbox {

inline constexpr double kPi = 3.141592653589793;
inline constexpr double kC = 299792458.0;                // m/s
inline constexpr double kMu0 = (kPi * 4) * 1e-7;         // T*m/A
inline constexpr double kEps0 = 1 / ((kC * kC) * kMu0);  // F/m
inline constexpr double kJ01 = 2.404825557695773;        // first zero of J0
inline constexpr double kJ11 = 3.831705970207512;        // first zero of J1
inline constexpr double kJp11 = 1.841183781340659;       // first zero of J1'

// The field at one point: real part of E, imaginary part of H.
struct Field {
  double Ex = 0, Ey = 0, Ez = 0;  // V/m
  double Hx = 0, Hy = 0, Hz = 0;  // A/m
};

enum class Family { TM01, TM11, TE11 };
// Orientation of a dipole pattern: psi ~ cos(phi) (X) or sin(phi) (Y).
enum class Turn { X, Y };

class Mode {
 public:
  // TM01p. Rc, Lc in m; p >= 0 the number of half waves along z; E0 the
  // peak Ez on the axis in V/m.
  Mode(double Rc, double Lc, int p, double E0) : Mode(Family::TM01, Turn::X, Rc, Lc, p, E0) {}

  // Any family. E0 in V/m: for TM01p the peak Ez on the axis, for TM11p the
  // factor of J1(kc r) cos(phi) in Ez (its largest |Ez| is 0.5819 E0, at
  // r = 0.4805 Rc), for TE11p the peak of the transverse E on the axis.
  // TE11p needs p >= 1.
  Mode(Family family, Turn turn, double Rc, double Lc, int p, double E0)
      : family_(family),
        turn_(turn),
        Rc_(Rc),
        Lc_(Lc),
        p_(p),
        E0_(E0),
        kc_((family == Family::TM01 ? kJ01 : family == Family::TM11 ? kJ11 : kJp11) / Rc),
        kz_(p * kPi / Lc),
        k_(std::sqrt(kc_ * kc_ + kz_ * kz_)),
        omega_(kC * k_),
        er_amp_(family == Family::TE11 ? 2 * E0 : (kz_ / kc_) * E0),
        h_amp_(family == Family::TE11 ? (kz_ * (2 * E0)) / (omega_ * kMu0) : (omega_ * kEps0 / kc_) * E0),
        hz_amp_(family == Family::TE11 ? (kc_ * (2 * E0)) / (omega_ * kMu0) : 0) {}

  // Factors of the field that depend on the transverse position only: the
  // pattern psi and g = -grad_t psi/kc. For TM01p psi = J0(kc r) and
  // g = J1(kc r) (x/r, y/r) (zero on the axis, where the transverse field
  // vanishes).
  struct Transverse {
    double j0 = 1, j1x = 0, j1y = 0;  // psi, gx, gy
  };
  Transverse transverse(double x, double y) const {
    const double r = std::hypot(x, y);
    Transverse t;
    if (family_ == Family::TM01) {
      t.j0 = std::cyl_bessel_j(0.0, kc_ * r);
      if (r > 0) {
        const double j1 = std::cyl_bessel_j(1.0, kc_ * r);
        t.j1x = j1 * (x / r);
        t.j1y = j1 * (y / r);
      }
      return t;
    }
    // psi = (J1(u)/u) a with u = kc r and a = kc x (X) or kc y (Y); then
    // -d psi/d a = (J2(u)/u^2) a a - J1(u)/u and -d psi/d b = (J2(u)/u^2) a b
    // for the other coordinate b. Both quotients tend to 1/2 and 1/8 on the
    // axis. A mirror image in x or y changes the sign of a or b only, so the
    // values differ in sign only, bit for bit.
    const double u = kc_ * r;
    const double j1u = u > 0 ? std::cyl_bessel_j(1.0, u) / u : 0.5;
    const double j2u2 = u > 0 ? std::cyl_bessel_j(2.0, u) / (u * u) : 0.125;
    const double a = kc_ * (turn_ == Turn::X ? x : y), b = kc_ * (turn_ == Turn::X ? y : x);
    const double ga = (j2u2 * a) * a - j1u, gb = (j2u2 * a) * b;
    t.j0 = j1u * a;
    t.j1x = turn_ == Turn::X ? ga : gb;
    t.j1y = turn_ == Turn::X ? gb : ga;
    return t;
  }

  // cos(kz z) and sin(kz z).
  struct Longitudinal {
    double cz = 1, sz = 0;
  };
  Longitudinal longitudinal(double z) const { return {std::cos(kz_ * z), std::sin(kz_ * z)}; }

  // TM: Et = er_amp g sin(kz z), Ht = h_amp (-gy, gx) cos(kz z), Ez = E0 psi
  // cos(kz z); for TM01p Er = er_amp J1 sin(kz z) and Hphi = h_amp J1
  // cos(kz z). TE (A = 2 E0/kc): Et = er_amp (gy, -gx) sin(kz z),
  // Ht = h_amp g cos(kz z), Hz = -hz_amp psi sin(kz z). A point and its
  // mirror image across x = 0 or y = 0 get values that differ in sign only,
  // bit for bit.
  Field field(const Transverse& t, const Longitudinal& l) const {
    Field f;
    if (family_ == Family::TE11) {
      f.Ex = (er_amp_ * t.j1y) * l.sz;
      f.Ey = -((er_amp_ * t.j1x) * l.sz);
      f.Ez = 0;
      f.Hx = (h_amp_ * t.j1x) * l.cz;
      f.Hy = (h_amp_ * t.j1y) * l.cz;
      f.Hz = -((hz_amp_ * t.j0) * l.sz);
      return f;
    }
    f.Ex = (er_amp_ * t.j1x) * l.sz;
    f.Ey = (er_amp_ * t.j1y) * l.sz;
    f.Ez = (E0_ * t.j0) * l.cz;
    f.Hx = -((h_amp_ * t.j1y) * l.cz);
    f.Hy = (h_amp_ * t.j1x) * l.cz;
    f.Hz = 0;
    return f;
  }
  Field field(double x, double y, double z) const { return field(transverse(x, y), longitudinal(z)); }

  Family family() const { return family_; }
  Turn turn() const { return turn_; }
  // TM010, TM011, TM110, TE111y, ...: the orientation Y is named, X is not.
  std::string name() const {
    const char* f = family_ == Family::TM01 ? "TM01" : family_ == Family::TM11 ? "TM11" : "TE11";
    return f + std::to_string(p_) + (family_ != Family::TM01 && turn_ == Turn::Y ? "y" : "");
  }
  // Symmetry keys of the planes x = 0 and y = 0 for this mode: 1 where the
  // tangential H vanishes, 2 where the tangential E vanishes.
  int key_x() const { return family_ == Family::TM01 ? 1 : ((family_ == Family::TM11) == (turn_ == Turn::X) ? 2 : 1); }
  int key_y() const { return family_ == Family::TM01 ? 1 : 3 - key_x(); }

  double Rc() const { return Rc_; }
  double Lc() const { return Lc_; }
  int p() const { return p_; }
  double E0() const { return E0_; }
  double kc() const { return kc_; }                        // 1/m
  double kz() const { return kz_; }                        // 1/m
  double k() const { return k_; }                          // 1/m
  double omega() const { return omega_; }                  // rad/s
  double frequency() const { return omega_ / (2 * kPi); }  // Hz

  // TM01p: ratio of the displacement current through a disc of radius r
  // (the axis value of Ez taken over the whole disc) to the circulation of H
  // around it, -eps0 w pi r^2 Ez(0)/(2 pi r Hphi(r)) = -(kc r/2)/J1(kc r).
  // It does not depend on z or p: both currents carry the same cos(kz z).
  // The sign is that of E real against H imaginary in the exp(j w t)
  // convention.
  double slice_ratio(double r) const {
    const double x = kc_ * r;
    return -(x / 2) / std::cyl_bessel_j(1.0, x);
  }

 private:
  Family family_;
  Turn turn_;
  double Rc_, Lc_;
  int p_;
  double E0_;
  double kc_, kz_, k_, omega_;
  double er_amp_;  // TM: (kz/kc) E0; TE: A kc = 2 E0; V/m
  double h_amp_;   // TM: (w eps0/kc) E0; TE: kz A kc/(w mu0); A/m
  double hz_amp_;  // TE: kc^2 A/(w mu0); A/m
};

}  // namespace wk::pillbox
