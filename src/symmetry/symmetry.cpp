// Symmetry completion.
//
// The solver may have computed only the part of the structure on the
// non-negative side of one, two or three mirror planes x = 0, y = 0, z = 0;
// each axis key says how the field behaves across its plane
// (model/symmetry_keys.hpp). A mirrored axis with N exported nodes becomes
// 2N - 1 nodes on the full grid; the exported node 1 lies on the plane and
// is taken once, with its own sign. The full grid is not stored: it is the
// exported field read through a map (model/run_data.hpp, FullGrid).
#include "symmetry/symmetry.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <string>
#include <utility>

#include "io/two_threads.hpp"
#include "model/symmetry_keys.hpp"

namespace wk {

namespace {

constexpr int kComponents = kFieldComponents;  // Ex, Ey, Ez, then Bx, By, Bz (H as exported)

// One axis of the completion: counts on entry and on the full grid.
struct Axis {
  int n = 0;  // exported nodes
  int m = 0;  // full-grid nodes
  bool mirrored = false;
};

Axis make_axis(int key, int n) {
  Axis a;
  a.n = n;
  a.mirrored = key != 0;
  a.m = a.mirrored ? 2 * n - 1 : n;
  return a;
}

// Node coordinates min + (i - 1) * step of a uniform axis.
void fill_nodes(NodeArray& nodes, double min, double max, int n) {
  nodes.resize(n);
  const double step = n > 1 ? (max - min) / (n - 1) : 0.0;
  for (int i = 1; i <= n; ++i) nodes(i) = min + (i - 1) * step;
}

}  // namespace

void complete_symmetry(RunData& d, ListWriter& log) {
  assert(d.isymX >= 0 && d.isymX <= 2 && d.isymY >= 0 && d.isymY <= 2 && d.isymZ >= 0 && d.isymZ <= 2);
  d.isym = 100 * d.isymX + 10 * d.isymY + d.isymZ;
  log.record(" Input symmetry code: isym= ", d.isym);

  const int keys[3] = {d.isymX, d.isymY, d.isymZ};
  const Axis ax = make_axis(d.isymX, d.Nix);
  const Axis ay = make_axis(d.isymY, d.Niy);
  const Axis az = make_axis(d.isymZ, d.Niz);
  assert(ax.n >= 1 && ay.n >= 1 && az.n >= 1);
  assert(ax.m <= kMaxNxy && ay.m <= kMaxNxy && az.m <= kMaxNz);

  FieldArray* in[kComponents] = {&d.Exi, &d.Eyi, &d.Ezi, &d.Hxi, &d.Hyi, &d.Hzi};
  for (int c = 0; c < kComponents; ++c) {
    assert(in[c]->nx() == ax.n && in[c]->ny() == ay.n && in[c]->nz() == az.n);
  }

  // The full grid is the exported field read through a map: a mirrored
  // node is an exported node with a sign. The exported arrays become the
  // stored full-grid field as they are, nothing is copied.
  const int stored[3] = {ax.n, ay.n, az.n};
  map_full_grid(d, keys, stored);

  // The exported field as the check of the keys needs it, each exported
  // value once: the largest |value| of each component, and its value on
  // each plane a = 0 from the first two node planes. E on one thread, H on
  // the other.
  const std::size_t in_row = static_cast<std::size_t>(ax.n);
  ExportedPlanes seen;
  const double t[3] = {plane_offset(d.Ximin, d.Ximax, ax.n), plane_offset(d.Yimin, d.Yimax, ay.n),
                       plane_offset(d.Zimin, d.Zimax, az.n)};
  // Offsets of the second node plane of x, y and z in an exported array (0
  // for an axis of one node, whose only plane then counts as both).
  const std::size_t next[3] = {ax.n > 1 ? std::size_t{1} : 0, ay.n > 1 ? in_row : 0,
                               az.n > 1 ? in_row * static_cast<std::size_t>(ay.n) : 0};
  const auto gather = [&](int c) {
    double largest = 0, on_x = 0, on_y = 0, on_z = 0;
    const double* const src_c = in[c]->data();
    for (int sz = 0; sz < az.n; ++sz) {
      for (int sy = 0; sy < ay.n; ++sy) {
        const std::size_t row =
            static_cast<std::size_t>(sz) * static_cast<std::size_t>(ay.n) + static_cast<std::size_t>(sy);
        const double* src = src_c + row * in_row;
        for (int sx = 0; sx < ax.n; ++sx) largest = std::max(largest, std::fabs(src[sx]));
        on_x = std::max(on_x, on_plane(src[0], src[next[0]], t[0]));
        if (sy == 0)
          for (int sx = 0; sx < ax.n; ++sx) on_y = std::max(on_y, on_plane(src[sx], src[sx + next[1]], t[1]));
        if (sz == 0)
          for (int sx = 0; sx < ax.n; ++sx) on_z = std::max(on_z, on_plane(src[sx], src[sx + next[2]], t[2]));
      }
    }
    seen.peak[c] = largest;
    seen.on_plane[0][c] = on_x;
    seen.on_plane[1][c] = on_y;
    seen.on_plane[2][c] = on_z;
  };
  const std::size_t exported_nodes =
      static_cast<std::size_t>(ax.n) * static_cast<std::size_t>(ay.n) * static_cast<std::size_t>(az.n);
  on_two_threads(kComponents * exported_nodes, [&](int field) {
    for (int c = 3 * field; c < 3 * field + 3; ++c) gather(c);
  });
  for (int c = 0; c < kComponents; ++c) {
    d.stored(c) = std::move(*in[c]);
    in[c]->release();
  }

  // The keys against the exported field (no log line); d still holds the
  // input grid's counts and ranges.
  for (std::string& w : symmetry_plane_warnings(d, seen)) d.warnings.push_back(std::move(w));

  // The full range of a mirrored axis runs from -max to max; the exported
  // minimum (the plane) is not used.
  d.Nix = ax.m;
  d.Niy = ay.m;
  d.Niz = az.m;
  if (ax.mirrored) d.Ximin = -d.Ximax;
  if (ay.mirrored) d.Yimin = -d.Yimax;
  if (az.mirrored) d.Zimin = -d.Zimax;

  // z is labelled from -L/2 to L/2; the nodes and the field stay where they are.
  if (-d.Zimax != d.Zimin) {
    d.Zimax = (d.Zimax - d.Zimin) / 2;
    d.Zimin = -d.Zimax;
    log.record(" Centered Z: Zimin, Zimax= ", d.Zimin, d.Zimax);
  }

  fill_nodes(d.Xi, d.Ximin, d.Ximax, d.Nix);
  fill_nodes(d.Yi, d.Yimin, d.Yimax, d.Niy);
  fill_nodes(d.Zi, d.Zimin, d.Zimax, d.Niz);
}

}  // namespace wk
