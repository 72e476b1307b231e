// Output grid and regridding driver.
//
// The output grid spans the aperture in x and y and the element length in z
// (cm), starting at 0 on an axis whose output symmetry key is set. The field
// is copied when the output grid is the full grid of a whole-structure
// export, and otherwise sampled at every output node by EB3D_APPR.
#include "regrid/regrid.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <functional>
#include <system_error>
#include <thread>

namespace wk {

namespace {

// Two limits closer than this (absolute, cm) are taken as the same.
constexpr double kSameLimit = 1e-6;

// Below this many output nodes a second thread costs more than it saves.
constexpr long kThreadedNodes = 1L << 16;

bool same_limit(double full, double out) { return std::fabs(full - out) < kSameLimit; }

// Node n of a uniform axis: (n - 1) * step + min, the first node exactly on
// the lower limit.
void fill_output_nodes(NodeArray& nodes, double min, double max, int n, double& step) {
  step = (max - min) / (n - 1);
  nodes.resize(n);
  for (int i = 1; i <= n; ++i) nodes(i) = (i - 1) * step + min;
}

// Output grid equal to the full grid of an export of the whole structure.
bool output_is_full_grid(const RunData& d) {
  return same_limit(d.Zimax, d.Zmax) && same_limit(d.Yimax, d.Ymax) && same_limit(d.Ximax, d.Xmax) &&
         same_limit(d.Zimin, d.Zmin) && same_limit(d.Yimin, d.Ymin) && same_limit(d.Ximin, d.Xmin) &&
         d.Noz == d.Niz && d.Noy == d.Niy && d.isym == 0 && d.Nox == d.Nix;
}

// Samples the field at the output nodes of z slices k_begin..k_end-1
// (0-based). Every node is independent of the others.
void interpolate_slices(RunData& d, int k_begin, int k_end) {
  // Offsets of the output grid against the full grid, cm (none).
  const double x_off = 0.0, y_off = 0.0, z_off = 0.0;
  double* out[6] = {d.Exo.data(), d.Eyo.data(), d.Ezo.data(), d.Bxo.data(), d.Byo.data(), d.Bzo.data()};
  double E[3], B[3];
  for (int k = k_begin + 1; k <= k_end; ++k) {
    const double z = z_off + d.Zo(k);
    for (int j = 1; j <= d.Noy; ++j) {
      const double y = y_off + d.Yo(j);
      std::size_t at = d.Exo.index(1, j, k);
      for (int i = 1; i <= d.Nox; ++i, ++at) {
        EB3D_APPR(d, x_off + d.Xo(i), y, z, E, B);
        out[0][at] = E[0];
        out[1][at] = E[1];
        out[2][at] = E[2];
        out[3][at] = B[0];
        out[4][at] = B[1];
        out[5][at] = B[2];
      }
    }
  }
}

void interpolate_output(RunData& d) {
  const long nodes = static_cast<long>(d.Nox) * d.Noy * d.Noz;
  if (nodes < kThreadedNodes || d.Noz < 2) {
    interpolate_slices(d, 0, d.Noz);
    return;
  }
  // Two halves of the z range; the slices are disjoint, so the result does
  // not depend on the split.
  const int half = d.Noz / 2;
  std::thread upper;
  try {
    upper = std::thread(interpolate_slices, std::ref(d), half, d.Noz);
  } catch (const std::system_error&) {
    interpolate_slices(d, 0, d.Noz);
    return;
  }
  interpolate_slices(d, 0, half);
  upper.join();
}

}  // namespace

void build_output_grid(RunData& d, ListWriter& log) {
  assert(d.Nox >= 2 && d.Noy >= 2 && d.Noz >= 2);
  assert(d.Nox <= kMaxNxy && d.Noy <= kMaxNxy && d.Noz <= kMaxNz);

  // Only whether an output key is zero matters here.
  d.Xmin = -d.aper;
  d.Xmax = d.aper;
  if (d.symX != 0) d.Xmin = 0;
  d.Ymin = -d.aper;
  d.Ymax = d.aper;
  if (d.symY != 0) d.Ymin = 0;
  d.Zmin = -d.elen / 2;
  d.Zmax = d.elen / 2;
  if (d.symZ != 0) d.Zmin = 0;

  fill_output_nodes(d.Xo, d.Xmin, d.Xmax, d.Nox, d.dXo);
  fill_output_nodes(d.Yo, d.Ymin, d.Ymax, d.Noy, d.dYo);
  fill_output_nodes(d.Zo, d.Zmin, d.Zmax, d.Noz, d.dZo);

  log.record(" Output grid parameters ");
  log.record(" Xmin, Xmax, Nox = ", d.Xmin, d.Xmax, d.Nox);
  log.record(" Ymin, Ymax, Noy = ", d.Ymin, d.Ymax, d.Noy);
  log.record(" Zmin, Zmax, Noz = ", d.Zmin, d.Zmax, d.Noz);
  log.record(" ------------------------------ ");

  FieldArray* out[6] = {&d.Exo, &d.Eyo, &d.Ezo, &d.Bxo, &d.Byo, &d.Bzo};
  for (FieldArray* a : out) a->resize(d.Nox, d.Noy, d.Noz);

  if (output_is_full_grid(d)) {
    log.record(" Same symmetry and grid, No need for interpolation", ", Simply write the field ...");
    // Same counts, so the same x-fastest layout: the arrays copy as a whole.
    const FieldArray* full[6] = {&d.Ex, &d.Ey, &d.Ez, &d.Bx, &d.By, &d.Bz};
    for (int c = 0; c < 6; ++c) {
      assert(full[c]->size() == out[c]->size());
      const std::size_t n = std::min(full[c]->size(), out[c]->size());
      std::copy(full[c]->data(), full[c]->data() + n, out[c]->data());
    }
    return;
  }
  log.record(" Symmetry or grid are different, Interpolate ...");
  interpolate_output(d);
}

}  // namespace wk
