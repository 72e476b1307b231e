// Maxwell consistency check: Ampere-Maxwell law in integral form, slice by
// slice along z.
//
// On a circle of radius r = aper/2 around the axis the circulation of H,
// I_H = (r/100) * sum(Bphi * dphi) / mu1, is compared with the displacement
// current through the disc, I_E = -eps0 * omeg * pi * r^2 * Ez0 * 0.01, with
// Ez0 the on-axis Ez of the slice. Lengths are in cm, E in V/cm and B in
// gauss (both times Fnorm), so the factors 1/100 and 0.01 make both currents
// amperes. For a consistent pair of maps I_E/I_H is close to +1 or -1.
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "conditioning/conditioning.hpp"
#include "conditioning/conditioning_detail.hpp"
#include "io/error.hpp"
#include "io/two_threads.hpp"
#include "regrid/regrid.hpp"

namespace wk {

namespace conditioning_detail {

RatioVerdict judge_ratio(double avg_rRL1) {
  const double a = std::fabs(avg_rRL1);
  if (!(a <= 2)) return RatioVerdict::Stop;
  if (a > 1.5) return RatioVerdict::Warn;
  return RatioVerdict::Accept;
}

double slice_ratio(double I_H, double I_E, double running_sRL1) {
  if (I_H != 0) return I_E / I_H;
  if (I_E == 0) return running_sRL1 < 0 ? -1.0 : 1.0;
  return 0.0;
}

}  // namespace conditioning_detail

namespace {

constexpr int kCirclePoints = 360;

// The circle's midpoints at 0.5, 1.5, ..., 359.5 degrees. phi advances by
// repeated addition of dphi, so its last bits are those of the running sum.
struct Circle {
  double dphi;
  std::array<double, kCirclePoints> cosphi, sinphi;
};

Circle make_circle(double pi) {
  Circle c;
  c.dphi = 2 * pi / 360;
  double phi = c.dphi / 2;
  for (int n = 0; n < kCirclePoints; ++n) {
    c.cosphi[static_cast<std::size_t>(n)] = std::cos(phi);
    c.sinphi[static_cast<std::size_t>(n)] = std::sin(phi);
    phi = phi + c.dphi;
  }
  return c;
}

// The stencils of the circle's points on the x and y axes of the full
// grid: the same in every slice.
struct CircleStencils {
  std::array<AxisStencil, kCirclePoints> x, y;
};

CircleStencils circle_stencils(const RunData& d, const Circle& circle, double r) {
  CircleStencils s;
  for (std::size_t n = 0; n < kCirclePoints; ++n) {
    s.x[n] = axis_stencil(d.Xi, d.Nix, r * circle.cosphi[n]);
    s.y[n] = axis_stencil(d.Yi, d.Niy, r * circle.sinphi[n]);
  }
  return s;
}

// The two currents of the slices iz = first, first + stride, ... up to
// Niz - 1, stored at index iz. Each slice depends only on the field arrays,
// so slices may be computed in any order and on any thread.
void slice_currents(const RunData& d, const Circle& circle, int first, int stride, std::vector<double>& I_H,
                    std::vector<double>& I_E) {
  const double r = d.aper / 2;
  const CircleStencils points = circle_stencils(d, circle, r);
  PointStencil w;
  for (int iz = first; iz <= d.Niz - 1; iz += stride) {
    const double zz = d.Zi(iz);
    const AxisStencil sz = axis_stencil(d.Zi, d.Niz, zz);
    double S = 0;
    for (std::size_t n = 0; n < kCirclePoints; ++n) {
      // Only Bx and By of the point are needed: B is 0 outside the grid.
      double Bx = 0, By = 0;
      if (point_stencil(d, points.x[n], points.y[n], sz, w)) {
        Bx = stencil_value(d.Bx.data(), w);
        By = stencil_value(d.By.data(), w);
      }
      const double Bphi = circle.cosphi[n] * By - circle.sinphi[n] * Bx;
      S = S + Bphi * circle.dphi;
    }
    double ih = S / d.mu1;
    ih = (r / 100) * ih;
    const double Ez0 = conditioning_detail::axis_Ez(d, zz);
    double ie = -(d.eps0 * d.omeg * d.pi * (r * r) * Ez0);
    ie = ie * 0.01;
    I_H[static_cast<std::size_t>(iz)] = ih;
    I_E[static_cast<std::size_t>(iz)] = ie;
  }
}

void all_slice_currents(const RunData& d, const Circle& circle, std::vector<double>& I_H, std::vector<double>& I_E) {
  const std::size_t points = static_cast<std::size_t>(d.Niz - 2) * kCirclePoints;
  // Odd slices on one thread, even ones on the other; interleaving balances
  // the work when part of the circle lies outside the grid.
  on_two_threads(points, [&](int part) { slice_currents(d, circle, 2 + part, 2, I_H, I_E); });
}

// Both currents of a slice are sums over the field (and the frequency and
// the aperture): one that overflowed would make every ratio meaningless.
void refuse_overflowed_currents(const RunData& d, int iz, double ih, double ie) {
  if (std::isfinite(ih) && std::isfinite(ie)) return;
  refuse("the currents of the Maxwell check in slice iz = " + std::to_string(iz) + " (z = " + message_number(d.Zi(iz)) +
         " cm) are not finite: I_H = " + message_number(ih) + " A, I_E = " + message_number(ie) +
         " A; check the frequency (control file line 9), the aperture (line 11) "
         "and Fnorm (line 12)");
}

// The warning of a check in which no slice compared E with B.
std::string nothing_compared(const RunData& d, bool any_ie, bool any_ih) {
  const double r = d.aper / 2;
  const std::string circle = "the circle r = aper/2 = " + message_number(r) + " cm";
  std::string why;
  if (!any_ie) {
    why = "Ez on the axis is 0 in every slice, as in a dipole mode";
  } else if (!any_ih) {
    why = "the circulation of B on " + circle + " is 0 in every slice";
    const bool inside = d.Xi(1) <= -r && r <= d.Xi(d.Nix) && d.Yi(1) <= -r && r <= d.Yi(d.Niy);
    if (!inside) {
      why += "; the circle reaches beyond the full grid (x from " + message_number(d.Xi(1)) + " to " +
             message_number(d.Xi(d.Nix)) + ", y from " + message_number(d.Yi(1)) + " to " +
             message_number(d.Yi(d.Niy)) + " cm), where B counts as 0";
    }
  } else {
    why = "no slice had both a non-zero Ez on the axis and a non-zero circulation of B on " + circle;
  }
  return "the Maxwell check compared E with B in no slice: " + why;
}

}  // namespace

bool check_maxwell(RunData& d, ListWriter& log) {
  log.record(" Checking Maxwell Equations ... ");
  log.record();

  double avg_sRL1 = 0, avg_rRL1 = 0, max_rRL1 = 0, min_rRL1 = 9e9;
  // Whether some slice had a displacement current, a circulation, both.
  bool any_ie = false, any_ih = false, any_both = false;

  if (d.Niz > 2) {
    const Circle circle = make_circle(d.pi);
    const std::size_t n = static_cast<std::size_t>(d.Niz);
    std::vector<double> I_H(n, 0.0), I_E(n, 0.0);
    all_slice_currents(d, circle, I_H, I_E);

    for (int iz = 2; iz <= d.Niz - 1; ++iz) {
      refuse_overflowed_currents(d, iz, I_H[static_cast<std::size_t>(iz)], I_E[static_cast<std::size_t>(iz)]);
    }

    // The ratio of a slice without current depends on the sum so far: the
    // statistics and the lines go in slice order.
    char line[conditioning_detail::kSliceLineLength];
    for (int iz = 2; iz <= d.Niz - 1; ++iz) {
      const double ih = I_H[static_cast<std::size_t>(iz)];
      const double ie = I_E[static_cast<std::size_t>(iz)];
      any_ie |= ie != 0;
      any_ih |= ih != 0;
      any_both |= ie != 0 && ih != 0;
      const double ratio = conditioning_detail::slice_ratio(ih, ie, avg_sRL1);
      if (ratio != 0) {
        avg_sRL1 = avg_sRL1 + ratio / std::fabs(ratio);
        avg_rRL1 = avg_rRL1 + ratio;
      }
      if (std::fabs(ratio) > max_rRL1) max_rRL1 = std::fabs(ratio);
      if (std::fabs(ratio) < min_rRL1) min_rRL1 = std::fabs(ratio);
      conditioning_detail::format_slice_line(iz, d.Zi(iz), ih, ie, ratio, line);
      log.line(std::string_view(line, conditioning_detail::kSliceLineLength));
    }
  }

  log.record();
  // Divided by the number of z nodes, not by the Niz - 2 slices examined.
  avg_sRL1 = avg_sRL1 / d.Niz;
  avg_rRL1 = avg_rRL1 / d.Niz;
  d.avg_sRL1 = avg_sRL1;
  d.avg_rRL1 = avg_rRL1;
  d.max_rRL1 = max_rRL1;
  d.min_rRL1 = min_rRL1;
  log.record(" avg_sRL1= ", avg_sRL1);
  log.record(" avg_rRL1= ", avg_rRL1);
  log.record(" max_rRL1= ", max_rRL1);
  log.record(" min_rRL1= ", min_rRL1);
  log.record();

  switch (conditioning_detail::judge_ratio(avg_rRL1)) {
    case conditioning_detail::RatioVerdict::Stop:
      stop(" Maxwell Equations Not Verified: Ratio > 2 ");
    case conditioning_detail::RatioVerdict::Warn:
      log.record(" Warning: Maxwell Equations: Ratio > 1.5 ");
      break;
    case conditioning_detail::RatioVerdict::Accept:
      break;
  }

  if (!any_both) d.warnings.push_back(nothing_compared(d, any_ie, any_ih));

  if (avg_sRL1 < 0) {
    log.record(" Maxwell Equations: E and B Signs Not Compatible");
    return true;
  }
  return false;
}

}  // namespace wk
