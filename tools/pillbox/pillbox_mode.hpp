// TM01p eigenmodes of a closed cylindrical pillbox cavity.
//
// Cavity of radius Rc with end plates at z = 0 and z = Lc, axis along z.
// Phasor convention exp(j w t). With kc = j01/Rc (j01 the first zero of J0),
// kz = p pi/Lc and k^2 = kc^2 + kz^2, w = c k:
//   Ez   = E0 J0(kc r) cos(kz z)
//   Er   = (kz/kc) E0 J1(kc r) sin(kz z)
//   Hphi = j (w eps0/kc) E0 J1(kc r) cos(kz z)
// E is real and H purely imaginary: the magnetic field peaks a quarter period
// after the electric field. Ez vanishes on the mantle (J0(j01) = 0) and Er on
// the end plates (sin(kz z) = 0), so both metal walls are satisfied.
//
// Everything here is in SI units: lengths in m, E in V/m, H in A/m.
#pragma once

#include <cmath>

namespace wk::pillbox {

inline constexpr double kPi = 3.141592653589793;
inline constexpr double kC = 299792458.0;                // m/s
inline constexpr double kMu0 = (kPi * 4) * 1e-7;         // T*m/A
inline constexpr double kEps0 = 1 / ((kC * kC) * kMu0);  // F/m
inline constexpr double kJ01 = 2.404825557695773;        // first zero of J0

// The field at one point: real part of E, imaginary part of H.
struct Field {
  double Ex = 0, Ey = 0, Ez = 0;  // V/m
  double Hx = 0, Hy = 0, Hz = 0;  // A/m
};

class Mode {
 public:
  // Rc, Lc in m; p >= 0 the number of half waves along z; E0 the peak Ez
  // on the axis in V/m.
  Mode(double Rc, double Lc, int p, double E0)
      : Rc_(Rc),
        Lc_(Lc),
        p_(p),
        E0_(E0),
        kc_(kJ01 / Rc),
        kz_(p * kPi / Lc),
        k_(std::sqrt(kc_ * kc_ + kz_ * kz_)),
        omega_(kC * k_),
        er_amp_((kz_ / kc_) * E0),
        h_amp_((omega_ * kEps0 / kc_) * E0) {}

  // Factors of the field that depend on the transverse position only:
  // J0(kc r) and J1(kc r) times the direction cosines x/r and y/r (zero on the
  // axis, where the transverse field vanishes).
  struct Transverse {
    double j0 = 1, j1x = 0, j1y = 0;
  };
  Transverse transverse(double x, double y) const {
    const double r = std::hypot(x, y);
    Transverse t;
    t.j0 = std::cyl_bessel_j(0.0, kc_ * r);
    if (r > 0) {
      const double j1 = std::cyl_bessel_j(1.0, kc_ * r);
      t.j1x = j1 * (x / r);
      t.j1y = j1 * (y / r);
    }
    return t;
  }

  // cos(kz z) and sin(kz z).
  struct Longitudinal {
    double cz = 1, sz = 0;
  };
  Longitudinal longitudinal(double z) const { return {std::cos(kz_ * z), std::sin(kz_ * z)}; }

  // Er = er_amp J1 sin(kz z), split along x and y; Hphi = h_amp J1 cos(kz z),
  // with Hx = -Hphi y/r and Hy = Hphi x/r. A point and its mirror image
  // across x = 0 or y = 0 get values that differ in sign only, bit for bit.
  Field field(const Transverse& t, const Longitudinal& l) const {
    Field f;
    f.Ex = (er_amp_ * t.j1x) * l.sz;
    f.Ey = (er_amp_ * t.j1y) * l.sz;
    f.Ez = (E0_ * t.j0) * l.cz;
    f.Hx = -((h_amp_ * t.j1y) * l.cz);
    f.Hy = (h_amp_ * t.j1x) * l.cz;
    f.Hz = 0;
    return f;
  }
  Field field(double x, double y, double z) const { return field(transverse(x, y), longitudinal(z)); }

  double Rc() const { return Rc_; }
  double Lc() const { return Lc_; }
  int p() const { return p_; }
  double E0() const { return E0_; }
  double kc() const { return kc_; }                        // 1/m
  double kz() const { return kz_; }                        // 1/m
  double k() const { return k_; }                          // 1/m
  double omega() const { return omega_; }                  // rad/s
  double frequency() const { return omega_ / (2 * kPi); }  // Hz

  // Ratio of the displacement current through a disc of radius r (the axis
  // value of Ez taken over the whole disc) to the circulation of H around
  // it, -eps0 w pi r^2 Ez(0)/(2 pi r Hphi(r)) = -(kc r/2)/J1(kc r). It does
  // not depend on z or p: both currents carry the same cos(kz z). The sign
  // is that of E real against H imaginary in the exp(j w t) convention.
  double slice_ratio(double r) const {
    const double x = kc_ * r;
    return -(x / 2) / std::cyl_bessel_j(1.0, x);
  }

 private:
  double Rc_, Lc_;
  int p_;
  double E0_;
  double kc_, kz_, k_, omega_;
  double er_amp_;  // (kz/kc) E0, V/m
  double h_amp_;   // (w eps0/kc) E0, A/m
};

}  // namespace wk::pillbox
