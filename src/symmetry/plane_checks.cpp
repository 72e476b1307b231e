// What the exported field says about the symmetry keys of the control file.
//
// A component that changes sign under the mirror across a plane and is
// continuous there vanishes on the plane. For the plane a = 0 of axis a and
// key K, R_K is the largest value on the plane of the components that key K
// reverses, each relative to the largest |E| (E components) or |H| (H
// components) of the export, taken at a = 0 by linear extrapolation from the
// first two node planes (the first node may lie up to a quarter step off the
// plane). Key 1 reverses exactly the components that key 2 keeps, so the
// largest value on the plane of each component gives R_1 and R_2; the
// completion's pass over the export gathers them (ExportedPlanes).
//
// Measured on analytic pillbox modes (TM010, TM011, TM012, TM110 in two
// polarisations and turned by 30 degrees, TE111; halves to eighths): a key
// that fits gives R of 0 clean, the noise with 1e-7 and 1e-3 noise, and up
// to 2.7e-3 with the first node 0.24 of a step off the plane on a grid of a
// tenth of the cavity radius; a key that does not fit gives R >= 0.12 once
// the export reaches a tenth of the radius (0.5 to 1 typically). The
// threshold lies between, a factor four and twelve from either side.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "model/symmetry_keys.hpp"
#include "symmetry/symmetry.hpp"

namespace wk {

namespace {

constexpr double kFitsPlane = 1e-2;

// R_1 and R_2 of the plane of axis a (R[1], R[2]; R[0] unused). A field
// that is 0 throughout counts as fitting.
struct PlaneFit {
  double R[3] = {0, 0, 0};
};

PlaneFit plane_fit(const ExportedPlanes& seen, int a) {
  const double peak[2] = {std::max({seen.peak[0], seen.peak[1], seen.peak[2]}),
                          std::max({seen.peak[3], seen.peak[4], seen.peak[5]})};
  PlaneFit fit;
  for (int c = 0; c < kFieldComponents; ++c) {
    const double p = peak[c < 3 ? 0 : 1];
    if (!(p > 0)) continue;
    const int key = key_flips(1, a, c) ? 1 : 2;
    fit.R[key] = std::max(fit.R[key], seen.on_plane[a][c] / p);
  }
  return fit;
}

std::string r_text(double r) {
  char buf[32];
  const int n = std::snprintf(buf, sizeof buf, "%.2g", r);
  return std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
}

// "Ey, Ez and Hx": the components that key K reverses across the plane of a.
std::string reversed_components(int key, int a) {
  std::vector<std::string> names;
  for (int c = 0; c < kFieldComponents; ++c)
    if (key_flips(key, a, c)) names.push_back(kComponentName[c]);
  return names[0] + ", " + names[1] + " and " + names[2];
}

}  // namespace

std::vector<std::string> symmetry_plane_warnings(const RunData& d, const ExportedPlanes& seen) {
  std::vector<std::string> warnings;
  if (*std::max_element(std::begin(seen.peak), std::end(seen.peak)) == 0) return warnings;  // every key fits 0
  const int keys[3] = {d.isymX, d.isymY, d.isymZ};
  const int n[3] = {d.Nix, d.Niy, d.Niz};
  const double min[3] = {d.Ximin, d.Yimin, d.Zimin};
  const double max[3] = {d.Ximax, d.Yimax, d.Zimax};
  const std::string fits = " (at most " + r_text(kFitsPlane) + " fits)";
  for (int a = 0; a < 3; ++a) {
    const double step = n[a] > 1 ? (max[a] - min[a]) / (n[a] - 1) : 0.0;
    const std::string axis(1, "xyz"[a]);
    const std::string head =
        axis + " key " + std::to_string(keys[a]) + " (control file line " + std::to_string(kSymmetryKeysLine) + "): ";
    const std::string plane = "the plane " + axis + " = 0";
    if (keys[a] == 1 || keys[a] == 2) {
      const int key = keys[a], other = 3 - key;
      const PlaneFit fit = plane_fit(seen, a);
      if (!(fit.R[key] > kFitsPlane)) continue;
      std::string w = head + reversed_components(key, a) + ", which this key reverses across " + plane +
                      ", do not vanish there: R = " + r_text(fit.R[key]) + " of the export's largest |E| and |H|" +
                      fits + ", so the mirrored part of the map is wrong; ";
      w += fit.R[other] <= kFitsPlane
               ? "key " + std::to_string(other) + " fits (R = " + r_text(fit.R[other]) + ")"
               : std::string("neither key fits: the field has no mirror symmetry across this plane");
      warnings.push_back(w);
    } else if (a < 2 && step > 0 && std::fabs(min[a]) <= step / 4 && max[a] > 0) {
      // Key 0 on an export that starts on the plane: a half export given
      // key 0 leaves the full grid on one side of the plane. An end plate
      // on z looks like a plane of key 2, so z is not judged.
      const PlaneFit fit = plane_fit(seen, a);
      const int key = fit.R[1] <= fit.R[2] ? 1 : 2;
      if (!(fit.R[key] <= kFitsPlane)) continue;
      warnings.push_back(head + "the export starts on " + plane +
                         " and its field has a mirror symmetry there, as a half export has: key " +
                         std::to_string(key) + " fits (R = " + r_text(fit.R[key]) +
                         "); with key 0 nothing is mirrored and the full grid covers only " + axis + " >= 0");
    }
  }
  return warnings;
}

}  // namespace wk
