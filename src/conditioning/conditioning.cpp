// Field maxima and normalisation, and the sign correction.
#include "conditioning/conditioning.hpp"

#include <cmath>
#include <cstddef>
#include <initializer_list>
#include <string>

#include "conditioning/conditioning_detail.hpp"
#include "io/error.hpp"
#include "io/two_threads.hpp"
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

// The largest field value (V/cm or gauss) a map may hold: the interpolation
// and the Maxwell sums add a few dozen such values with weights up to 2, and
// must stay finite.
constexpr double kLargestField = 1e300;

// Multiplies every node value of the array by f's rule; false when a result
// is not finite or beyond kLargestField.
template <class F>
bool scale_nodes(FieldArray& a, F f) {
  double* v = a.data();
  const std::size_t n = a.size();
  bool sound = true;
  for (std::size_t i = 0; i < n; ++i) {
    v[i] = f(v[i]);
    sound &= std::fabs(v[i]) <= kLargestField;
  }
  return sound;
}

// Refuses the first node, in x-fastest order, whose value of component
// `name` is not sound after normalisation.
[[noreturn]] void refuse_overflow(const RunData& d, int c, const char* name, const char* unit) {
  const FullGrid full(d);
  for (int k = 1; k <= d.Niz; ++k) {
    for (int j = 1; j <= d.Niy; ++j) {
      for (int i = 1; i <= d.Nix; ++i) {
        const double v = full(c, i, j, k);
        if (std::fabs(v) <= kLargestField) continue;
        refuse(std::string(name) + " at the full-grid node (" + std::to_string(i) + ", " + std::to_string(j) + ", " +
               std::to_string(k) + "), at (" + message_number(d.Xi(i)) + ", " + message_number(d.Yi(j)) + ", " +
               message_number(d.Zi(k)) + ") cm, is " + message_number(v) + " " + unit +
               " after normalisation with Fnorm " + message_number(d.Fnorm) +
               " (control file line 12); a field map value must be finite and within " + message_number(kLargestField) +
               " in magnitude, so that the interpolation cannot overflow: check Fnorm and the export's values");
      }
    }
  }
  refuse(std::string(name) + " is not finite after normalisation");
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

  // E: V/m -> V/cm; H (A/m) -> B (gauss) through mu1 in Gs*m/A, on the
  // stored nodes (a mirrored node is a stored one with a sign). A value
  // that overflows here (Fnorm times a huge export value) is refused.
  const double Fnorm = d.Fnorm, mu1 = d.mu1;
  const char* const name[6] = {"Ex", "Ey", "Ez", "Bx", "By", "Bz"};
  // E on one thread, B on the other: every node is scaled on its own.
  bool sound[6];
  on_two_threads(6 * d.stored(0).size(), [&](int part) {
    if (part == 0) {
      for (int c = 0; c < 3; ++c) sound[c] = scale_nodes(d.stored(c), [=](double v) { return (Fnorm * v) / 100; });
    } else {
      for (int c = 3; c < 6; ++c) sound[c] = scale_nodes(d.stored(c), [=](double v) { return (Fnorm * v) * mu1; });
    }
  });
  for (int c = 0; c < 6; ++c) {
    if (!sound[c]) refuse_overflow(d, c, name[c], c < 3 ? "V/cm" : "gauss");
  }
}

void correct_signs(RunData& d, ListWriter& log) {
  if (d.sign_correction != RunData::SignCorrection::None) {
    // Without evidence on the axis there is no Ez peak to choose by: B is
    // reversed and E keeps the export's sign.
    const bool by_axis = d.sign_correction == RunData::SignCorrection::ByAxisPeak;
    // Walk up the axis from the first z node while |Ez| rises strictly: the
    // node before the first one that does not rise is the first maximum. A
    // walk still rising at the last node stops there.
    double mxEz = -9e9, mxsg = 0;
    for (int iz = 1; by_axis && iz <= d.Niz; ++iz) {
      const double ez = conditioning_detail::axis_Ez(d, d.Zi(iz));
      const double a = std::fabs(ez);
      if (!(a > mxEz)) break;
      mxEz = a;
      // A zero first maximum has no sign; it is taken as 0 (B is reversed).
      mxsg = a == 0 ? 0.0 : ez / a;
    }
    if (by_axis) log.record(" 1st Max of Ez: mxEz, mxsg = ", mxEz, mxsg);

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
    // Each array's first half on one thread, its second on the other.
    on_two_threads(3 * reversed[0]->size(), [&](int part) {
      for (int c = 0; c < 3; ++c) {
        double* const v = reversed[c]->data();
        const std::size_t n = reversed[c]->size();
        for (std::size_t i = part == 0 ? 0 : n / 2; i < (part == 0 ? n / 2 : n); ++i) v[i] = -v[i];
      }
    });
  }
  log.record(kLogSeparator);
}

}  // namespace wk
