// Faraday's law over the whole full grid.
//
// A map holds E at its peak and B a quarter period later, so at every point
// curl E = -omega B: with E real and B = j Bi in the exp(j w t) convention,
// curl E = -j w B becomes curl E = w Bi, and the map's B is -Bi. Lengths in
// cm, E in V/cm and B in gauss (both times Fnorm) make this
//   curl E [V/cm^2] = -1e-8 omeg B [gauss].
// The check forms curl E by central differences at every interior node of
// the full grid and reduces the comparison with w' B (w' = 1e-8 omeg) to
// one correlation
//   c = sum(curl E . w'B) / sqrt(sum |curl E|^2 sum |w'B|^2),
// -1 for a map that obeys Faraday's law, +1 for one whose B is reversed,
// near 0 for an E and a B that do not belong together.
//
// The differences of every axis span about the same length, the largest
// step of the grid: an axis m times finer than the coarsest one is
// differenced over m nodes on either side. A solver's rounding noise eps on
// the values adds eps/(2 m h) to a difference of step h; over the fine z
// steps of a long grid (8001 nodes) that noise would swamp the curl, while
// over the coarsest step it stays below the field's own variation. The
// nodes within m of an axis's ends are not interior.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "conditioning/conditioning_detail.hpp"
#include "io/two_threads.hpp"

namespace wk::conditioning_detail {

namespace {

// One axis of the differences: the reach m and 1 / (u(k + m) - u(k - m)) at
// index k for the interior nodes k = m + 1 .. n - m.
struct Differences {
  int m = 1;
  std::vector<double> inv;
};

// Mean step of an axis of n nodes; 0 for an axis of fewer than 3 nodes,
// which has no interior node.
double mean_step(const NodeArray& u, int n) { return n >= 3 ? (u(n) - u(1)) / (n - 1) : 0.0; }

Differences differences(const NodeArray& u, int n, double largest_step) {
  Differences d;
  const double h = mean_step(u, n);
  // Reach the largest step, but keep at least half the nodes interior.
  if (h > 0 && largest_step > h) {
    d.m = static_cast<int>(std::min(std::lround(largest_step / h), static_cast<long>(std::max(1, (n - 1) / 4))));
  }
  d.inv.assign(static_cast<std::size_t>(std::max(n, 0)) + 1, 0.0);
  for (int k = d.m + 1; k <= n - d.m; ++k) d.inv[static_cast<std::size_t>(k)] = 1 / (u(k + d.m) - u(k - d.m));
  return d;
}

struct Sums {
  double ab = 0, aa = 0, bb = 0;  // curl E . w'B, |curl E|^2, |w'B|^2
  double E_max = 0;               // largest |component| of E
};

// The products over the interior nodes of the z planes k_first .. k_last.
void add_planes(const RunData& d, const FullGrid& g, const Differences (&diff)[3], double w, int k_first, int k_last,
                Sums& s) {
  const int nx = d.Nix, ny = d.Niy, nz = d.Niz;
  const int mx = diff[0].m, my = diff[1].m, mz = diff[2].m;
  enum { Ex, Ey, Ez, Bx, By, Bz };
  for (int k = k_first; k <= k_last; ++k) {
    const bool interior_k = k > mz && k <= nz - mz;
    const double iz = interior_k ? diff[2].inv[static_cast<std::size_t>(k)] : 0;
    for (int j = 1; j <= ny; ++j) {
      if (!interior_k || j <= my || j > ny - my) continue;
      const double iy = diff[1].inv[static_cast<std::size_t>(j)];
      // The rows of the node, and those my nodes before and after along y,
      // mz along z.
      const FullGrid::Row ey = g.row(Ey, j, k), ez = g.row(Ez, j, k);
      const FullGrid::Row bxr = g.row(Bx, j, k), byr = g.row(By, j, k), bzr = g.row(Bz, j, k);
      const FullGrid::Row ex_yp = g.row(Ex, j + my, k), ex_ym = g.row(Ex, j - my, k);
      const FullGrid::Row ez_yp = g.row(Ez, j + my, k), ez_ym = g.row(Ez, j - my, k);
      const FullGrid::Row ex_zp = g.row(Ex, j, k + mz), ex_zm = g.row(Ex, j, k - mz);
      const FullGrid::Row ey_zp = g.row(Ey, j, k + mz), ey_zm = g.row(Ey, j, k - mz);
      double ab = s.ab, aa = s.aa, bb = s.bb;
      for (int i = mx + 1; i <= nx - mx; ++i) {
        const double ix = diff[0].inv[static_cast<std::size_t>(i)];
        const double ax = (ez_yp[i] - ez_ym[i]) * iy - (ey_zp[i] - ey_zm[i]) * iz;
        const double ay = (ex_zp[i] - ex_zm[i]) * iz - (ez[i + mx] - ez[i - mx]) * ix;
        const double az = (ey[i + mx] - ey[i - mx]) * ix - (ex_yp[i] - ex_ym[i]) * iy;
        const double bx = w * bxr[i], by = w * byr[i], bz = w * bzr[i];
        ab += ax * bx + ay * by + az * bz;
        aa += ax * ax + ay * ay + az * az;
        bb += bx * bx + by * by + bz * bz;
      }
      s.ab = ab;
      s.aa = aa;
      s.bb = bb;
    }
  }
}

}  // namespace

RunData::Faraday check_faraday(const RunData& d) {
  const FullGrid g(d);
  const double largest_step = std::max({mean_step(d.Xi, d.Nix), mean_step(d.Yi, d.Niy), mean_step(d.Zi, d.Niz)});
  const Differences diff[3] = {differences(d.Xi, d.Nix, largest_step), differences(d.Yi, d.Niy, largest_step),
                               differences(d.Zi, d.Niz, largest_step)};
  const double w = 1e-8 * d.omeg;
  // The lower half of the z planes on one thread, the upper on the other;
  // the two sums are added in a fixed order, so c is the same on one thread.
  Sums part[2];
  const int middle = d.Niz / 2;
  const std::size_t nodes =
      static_cast<std::size_t>(d.Nix) * static_cast<std::size_t>(d.Niy) * static_cast<std::size_t>(std::max(d.Niz, 0));
  on_two_threads(nodes, [&](int p) {
    add_planes(d, g, diff, w, p == 0 ? 1 : middle + 1, p == 0 ? middle : d.Niz, part[p]);
    // The largest component of E from the stored values (every full-grid
    // value is a stored one up to its sign): each thread half of each array.
    double& largest = part[p].E_max;
    for (int c = 0; c < 3; ++c) {
      const double* v = d.stored(c).data();
      const std::size_t size = d.stored(c).size(), half = size / 2;
      for (std::size_t n = p == 0 ? 0 : half, end = p == 0 ? half : size; n < end; ++n) {
        largest = std::max(largest, std::fabs(v[n]));
      }
    }
  });

  RunData::Faraday f;
  f.E_max = std::max(part[0].E_max, part[1].E_max);
  const double ab = part[0].ab + part[1].ab, aa = part[0].aa + part[1].aa, bb = part[0].bb + part[1].bb;
  // Without an interior node, without curl or without B there is nothing
  // to compare: c and the residual are then not numbers.
  const double norm = std::sqrt(aa) * std::sqrt(bb);
  if (!(norm > 0)) {
    f.c = f.residual = std::numeric_limits<double>::quiet_NaN();
    return f;
  }
  f.c = std::clamp(ab / norm, -1.0, 1.0);
  f.residual = std::sqrt(std::max(0.0, aa - 2 * std::fabs(ab) + bb) / aa);
  return f;
}

FaradayVerdict judge_faraday(double c) {
  if (c <= -kFaradayClear) return FaradayVerdict::Compatible;
  if (c >= kFaradayClear) return FaradayVerdict::Reversed;
  if (std::isnan(c)) return FaradayVerdict::NotMade;
  return FaradayVerdict::Unclear;
}

}  // namespace wk::conditioning_detail
