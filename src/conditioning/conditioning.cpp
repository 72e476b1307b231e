// Field maxima and normalisation, and the sign correction.
#include "conditioning/conditioning.hpp"

#include <cmath>
#include <cstddef>
#include <initializer_list>

#include "conditioning/conditioning_detail.hpp"
#include "regrid/regrid.hpp"

namespace wk {

namespace conditioning_detail {

double axis_Ez(const RunData& d, double z) {
  double E[3], B[3];
  EB3D_APPR(d, 0.0, 0.0, z, E, B);
  return E[2];
}

}  // namespace conditioning_detail

namespace {

// Applies f to every node value of the array. Each node is independent, so
// the storage order serves as well as the x-outermost node loops.
template <class F>
void for_each_node(FieldArray& a, F f) {
  double* v = a.data();
  const std::size_t n = a.size();
  for (std::size_t i = 0; i < n; ++i) v[i] = f(v[i]);
}

}  // namespace

void normalise_fields(RunData& d, ListWriter& log) {
  log.record(" Full input grid ");
  log.record(" Ximin, Ximax, Nix = ", d.Ximin, d.Ximax, d.Nix);
  log.record(" Yimin, Yimax, Niy = ", d.Yimin, d.Yimax, d.Niy);
  log.record(" Zimin, Zimax, Niz = ", d.Zimin, d.Zimax, d.Niz);
  log.record(kLogSeparator);

  // Both maxima are taken before scaling, in V/m, and logged in MV/m.
  log.record(" Input Max E-field (MV/m)= ", d.Ez_max_read / 1e6);
  double axis_max = 0;
  for (int iz = 1; iz <= d.Niz; ++iz) {
    const double ez = std::fabs(conditioning_detail::axis_Ez(d, d.Zi(iz)));
    if (ez > axis_max) axis_max = ez;
  }
  log.record(" Input Max E-field on Axis (MV/m)= ", axis_max / 1e6);
  log.record(" Renomalized using Fnorm= ", d.Fnorm);
  log.record(kLogSeparator);

  // E: V/m -> V/cm; H (A/m) -> B (gauss) through mu1 in Gs*m/A.
  const double Fnorm = d.Fnorm, mu1 = d.mu1;
  for (FieldArray* a : {&d.Ex, &d.Ey, &d.Ez}) for_each_node(*a, [=](double v) { return (Fnorm * v) / 100; });
  for (FieldArray* a : {&d.Bx, &d.By, &d.Bz}) for_each_node(*a, [=](double v) { return (Fnorm * v) * mu1; });
}

void correct_signs(RunData& d, ListWriter& log, bool signs_incompatible) {
  if (signs_incompatible) {
    // Walk up the axis from the first z node while |Ez| rises strictly: the
    // node before the first one that does not rise is the first maximum. A
    // walk still rising at the last node stops there.
    double mxEz = -9e9, mxsg = 0;
    for (int iz = 1; iz <= d.Niz; ++iz) {
      const double ez = conditioning_detail::axis_Ez(d, d.Zi(iz));
      const double a = std::fabs(ez);
      if (!(a > mxEz)) break;
      mxEz = a;
      // A zero first maximum has no sign; it is taken as 0 (B is reversed).
      mxsg = a == 0 ? 0.0 : ez / a;
    }
    log.record(" 1st Max of Ez: mxEz, mxsg = ", mxEz, mxsg);

    // Reverse the field whose sign disagrees with a positive first Ez peak.
    const bool switch_E = mxsg < 0;
    if (switch_E) {
      log.record(" Maxwell Equations: -> Switching E-field sign");
    } else {
      log.record(" Maxwell Equations: -> Switching B-field sign");
    }
    FieldArray* const E[] = {&d.Ex, &d.Ey, &d.Ez};
    FieldArray* const B[] = {&d.Bx, &d.By, &d.Bz};
    FieldArray* const* reversed = switch_E ? E : B;
    for (int c = 0; c < 3; ++c) for_each_node(*reversed[c], [](double v) { return -v; });
  }
  log.record(kLogSeparator);
}

}  // namespace wk
