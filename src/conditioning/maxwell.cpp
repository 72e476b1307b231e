// Maxwell consistency check: Ampere-Maxwell law in integral form, slice by
// slice along z.
//
// On a circle of radius r = aper/2 around the axis the circulation of H,
// I_H = (r/100) * sum(Bphi * dphi) / mu1, is compared with the displacement
// current through the disc, I_E = -eps0 * omeg * pi * r^2 * Ez0 * 0.01, with
// Ez0 the on-axis Ez of the slice. Lengths are in cm, E in V/cm and B in
// gauss (both times Fnorm), so the factors 1/100 and 0.01 make both currents
// amperes. For a consistent pair of maps I_E/I_H is close to +1 or -1.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
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
    s.x[n] = axis_stencil(d, 0, r * circle.cosphi[n]);
    s.y[n] = axis_stencil(d, 1, r * circle.sinphi[n]);
  }
  return s;
}

// The two currents and the on-axis Ez of each slice.
struct SliceFields {
  std::vector<double> I_H, I_E, Ez0;
};

// The two currents and the on-axis Ez of the slices iz = first,
// first + stride, ... up to Niz - 1, stored at index iz. Each slice depends
// only on the field arrays, so slices may be computed in any order and on
// any thread.
void slice_currents(const RunData& d, const Circle& circle, int first, int stride, SliceFields& s) {
  const double r = d.aper / 2;
  const CircleStencils points = circle_stencils(d, circle, r);
  PointStencil w;
  for (int iz = first; iz <= d.Niz - 1; iz += stride) {
    const double zz = d.Zi(iz);
    const AxisStencil sz = axis_stencil(d, 2, zz);
    double S = 0;
    for (std::size_t n = 0; n < kCirclePoints; ++n) {
      // Only Bx and By of the point are needed: B is 0 outside the grid.
      double Bx = 0, By = 0;
      if (point_stencil(points.x[n], points.y[n], sz, w)) {
        Bx = stencil_value(d, 3, w);
        By = stencil_value(d, 4, w);
      }
      const double Bphi = circle.cosphi[n] * By - circle.sinphi[n] * Bx;
      S = S + Bphi * circle.dphi;
    }
    double ih = S / d.mu1;
    ih = (r / 100) * ih;
    const double Ez0 = conditioning_detail::axis_Ez(d, zz);
    double ie = -(d.eps0 * d.omeg * d.pi * (r * r) * Ez0);
    ie = ie * 0.01;
    const auto at = static_cast<std::size_t>(iz);
    s.I_H[at] = ih;
    s.I_E[at] = ie;
    s.Ez0[at] = Ez0;
  }
}

void all_slice_currents(const RunData& d, const Circle& circle, SliceFields& s) {
  const std::size_t points = static_cast<std::size_t>(d.Niz - 2) * kCirclePoints;
  // Odd slices on one thread, even ones on the other; interleaving balances
  // the work when part of the circle lies outside the grid.
  on_two_threads(points, [&](int part) { slice_currents(d, circle, 2 + part, 2, s); });
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

// What the slices of the axial check held: whether some slice had on-axis
// Ez, displacement current, circulation, both currents; and, over the
// slices with both currents, the largest on-axis |Ez| relative to the
// largest component of E on the full grid.
struct AxisFindings {
  bool any_ez = false, any_ie = false, any_ih = false, any_both = false;
  bool evidence = false;
  double ez_level = 0;
};

// c with its sign and five digits.
std::string correlation(double c) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%+.5f", c);
  return buf;
}

// "curl E against omega B correlates with c = ..., relative residual ...".
std::string faraday_figures(const RunData::Faraday& f) {
  return "curl E against omega B correlates with c = " + correlation(f.c) + ", relative residual " +
         short_number(f.residual);
}

// Why the axial check holds no evidence.
std::string no_evidence(const RunData& d, const AxisFindings& a) {
  const double r = d.aper / 2;
  const std::string circle = "the circle r = aper/2 = " + message_number(r) + " cm";
  if (a.any_both) {
    return "the Maxwell check compared noise: in the slices it compared, Ez on the axis reaches " +
           short_number(a.ez_level) + " of the largest E component of the full grid, a real field at least " +
           message_number(conditioning_detail::kAxisFieldLevel);
  }
  const std::string grid = "the full grid (x from " + message_number(d.Xi(1)) + " to " + message_number(d.Xi(d.Nix)) +
                           ", y from " + message_number(d.Yi(1)) + " to " + message_number(d.Yi(d.Niy)) + " cm)";
  std::string why;
  if (!a.any_ez) {
    const bool axis_inside = d.Xi(1) <= 0 && 0 <= d.Xi(d.Nix) && d.Yi(1) <= 0 && 0 <= d.Yi(d.Niy);
    why = axis_inside ? "Ez on the axis is 0 in every slice, as in a dipole mode"
                      : "the axis x = y = 0 lies outside " + grid + ", where Ez counts as 0";
  } else if (!a.any_ie) {
    why = "the displacement current through " + circle +
          " is 0 in every slice although Ez on the axis is not: the circle is too small for the currents to be "
          "represented";
  } else if (!a.any_ih) {
    why = "the circulation of B on " + circle + " is 0 in every slice";
    const bool inside = d.Xi(1) <= -r && r <= d.Xi(d.Nix) && d.Yi(1) <= -r && r <= d.Yi(d.Niy);
    if (!inside) why += "; the circle reaches beyond " + grid + ", where B counts as 0";
  } else {
    why = "no slice had both a non-zero Ez on the axis and a non-zero circulation of B on " + circle;
  }
  return "the Maxwell check compared E with B in no slice: " + why;
}

constexpr const char* kMeaning = " (c = -1 when B is a quarter period after E)";
constexpr const char* kLikelyCauses =
    "; check the columns and phases of the H export (9 columns: imaginary parts), or whether it holds the same mode "
    "as the E export";

// What Faraday's law over the whole grid adds to a check without evidence
// on the axis; nothing when it confirms the signs as they are.
std::string grid_decision(const RunData::Faraday& f, conditioning_detail::FaradayVerdict v) {
  using conditioning_detail::FaradayVerdict;
  const std::string meaning = kMeaning;
  switch (v) {
    case FaradayVerdict::Compatible:
    case FaradayVerdict::NotMade:
      return "";
    case FaradayVerdict::Reversed:
      return "; the sign of B was decided by Faraday's law over the whole grid instead: " + faraday_figures(f) +
             meaning + ", so B was reversed";
    case FaradayVerdict::Unclear:
      break;
  }
  return "; nor do E and B satisfy Faraday's law over the whole grid: " + faraday_figures(f) + meaning +
         kLikelyCauses + "; signs left as exported";
}

}  // namespace

namespace conditioning_detail {

bool slice_has_field(double Ez0, double E_max) { return Ez0 != 0 && std::fabs(Ez0) >= kAxisFieldLevel * E_max; }

SignDecision decide_signs(bool evidence, double avg_sRL1, FaradayVerdict grid) {
  using SC = RunData::SignCorrection;
  if (evidence) {
    const bool axis_reverses = avg_sRL1 < 0;
    const bool disagree = axis_reverses ? grid == FaradayVerdict::Compatible : grid == FaradayVerdict::Reversed;
    return {axis_reverses ? SC::ByAxisPeak : SC::None, disagree};
  }
  return {grid == FaradayVerdict::Reversed ? SC::BFromGrid : SC::None, false};
}

}  // namespace conditioning_detail

void check_maxwell(RunData& d, ListWriter& log) {
  using namespace conditioning_detail;
  d.faraday = check_faraday(d);
  log.record(" Checking Maxwell Equations ... ");
  log.record();

  double avg_sRL1 = 0, avg_rRL1 = 0, max_rRL1 = 0, min_rRL1 = 9e9;
  AxisFindings axis;

  if (d.Niz > 2) {
    const Circle circle = make_circle(d.pi);
    const std::size_t n = static_cast<std::size_t>(d.Niz);
    SliceFields f{std::vector<double>(n, 0.0), std::vector<double>(n, 0.0), std::vector<double>(n, 0.0)};
    all_slice_currents(d, circle, f);

    for (int iz = 2; iz <= d.Niz - 1; ++iz) {
      refuse_overflowed_currents(d, iz, f.I_H[static_cast<std::size_t>(iz)], f.I_E[static_cast<std::size_t>(iz)]);
    }

    // The ratio of a slice without current depends on the sum so far: the
    // statistics and the lines go in slice order.
    char line[kSliceLineLength];
    for (int iz = 2; iz <= d.Niz - 1; ++iz) {
      const auto at = static_cast<std::size_t>(iz);
      const double ih = f.I_H[at];
      const double ie = f.I_E[at];
      axis.any_ez |= f.Ez0[at] != 0;
      axis.any_ie |= ie != 0;
      axis.any_ih |= ih != 0;
      if (ie != 0 && ih != 0) {
        axis.any_both = true;
        axis.evidence |= slice_has_field(f.Ez0[at], d.faraday.E_max);
        axis.ez_level = std::max(axis.ez_level, std::fabs(f.Ez0[at]) / d.faraday.E_max);
      }
      const double ratio = slice_ratio(ih, ie, avg_sRL1);
      if (ratio != 0) {
        avg_sRL1 = avg_sRL1 + ratio / std::fabs(ratio);
        avg_rRL1 = avg_rRL1 + ratio;
      }
      if (std::fabs(ratio) > max_rRL1) max_rRL1 = std::fabs(ratio);
      if (std::fabs(ratio) < min_rRL1) min_rRL1 = std::fabs(ratio);
      format_slice_line(iz, d.Zi(iz), ih, ie, ratio, line);
      log.line(std::string_view(line, kSliceLineLength));
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

  // The mean ratio stops or warns only when it compares real fields: the
  // ratios of slices that carry noise mean nothing.
  if (axis.evidence) {
    switch (judge_ratio(avg_rRL1)) {
      case RatioVerdict::Stop:
        stop(" Maxwell Equations Not Verified: Ratio > 2 ");
      case RatioVerdict::Warn:
        log.record(" Warning: Maxwell Equations: Ratio > 1.5 ");
        break;
      case RatioVerdict::Accept:
        break;
    }
  }

  // A consistent pair gives ratios near +-1: a small mean says that B is far
  // larger than E's displacement current makes it.
  if (axis.evidence && std::fabs(avg_rRL1) < kSmallRatio) {
    d.warnings.push_back("the Maxwell check's mean ratio avg_rRL1 = " + message_number(avg_rRL1) +
                         " is below " + message_number(kSmallRatio) +
                         " in magnitude: E and B differ in scale by a factor of about 1/|avg_rRL1| = " +
                         short_number(1 / std::fabs(avg_rRL1)) +
                         ", B the larger (units of the H export? A/m expected)");
  }

  const FaradayVerdict grid = judge_faraday(d.faraday.c);
  const SignDecision decision = decide_signs(axis.evidence, avg_sRL1, grid);
  if (!axis.evidence) {
    d.warnings.push_back(no_evidence(d, axis) + grid_decision(d.faraday, grid));
  } else if (decision.disagree) {
    d.warnings.push_back("the Maxwell check on the axis finds the signs of E and B " +
                         std::string(avg_sRL1 < 0 ? "incompatible" : "compatible") +
                         " (avg_sRL1 = " + message_number(avg_sRL1) +
                         "), Faraday's law over the whole grid the opposite: " + faraday_figures(d.faraday) +
                         kMeaning + "; the map follows the axis");
  } else if (grid == FaradayVerdict::Unclear) {
    d.warnings.push_back("E and B do not satisfy Faraday's law over the whole grid although the Maxwell check on "
                         "the axis passed: " +
                         faraday_figures(d.faraday) + kMeaning + kLikelyCauses);
  }

  if (decision.correction != RunData::SignCorrection::None) {
    log.record(" Maxwell Equations: E and B Signs Not Compatible");
  }
  d.sign_correction = decision.correction;
}

}  // namespace wk
