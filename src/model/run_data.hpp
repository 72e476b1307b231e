// The run-wide data of one conversion: control-file values, physical
// constants, grid records and field arrays. One plain struct, owned by the
// run driver and passed by reference to every phase.
//
// Units: coordinates are in the export's unit times `scale`, treated as cm.
// E is in V/m and H in A/m as read; after normalisation the full-grid arrays
// hold E in V/cm and B in gauss, both times Fnorm.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "io/large_block.hpp"
#include "model/symmetry_keys.hpp"

namespace wk {

// Largest grid of the KAVEN 3D field format: 25 x 25 x 8001 nodes.
inline constexpr int kMaxNxy = 25;
inline constexpr int kMaxNz = 8001;

// An allocator whose vectors leave new elements unset when no value is
// given (resize(n) without a value): for arrays that the code filling them
// writes whole, so that their memory is touched once, by that code, instead
// of being zeroed first. Large blocks come from map_large_block (see
// io/large_block.hpp).
template <class T>
struct UnsetAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = UnsetAllocator<U>;
  };
  UnsetAllocator() = default;
  template <class U>
  UnsetAllocator(const UnsetAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) {
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_array_new_length();
    if (n * sizeof(T) < kHugePageBytes) return std::allocator<T>::allocate(n);
    return static_cast<T*>(map_large_block(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t n) noexcept {
    if (n * sizeof(T) < kHugePageBytes) {
      std::allocator<T>::deallocate(p, n);
    } else {
      unmap_large_block(p, n * sizeof(T));
    }
  }
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

// One Cartesian component of a field on a grid: doubles with 1-based indices
// (i, j, k) for (x, y, z), x index fastest, sized to the grid it holds.
class FieldArray {
 public:
  // Sizes the array to nx x ny x nz nodes, all zero. Called once per run.
  void resize(int nx, int ny, int nz) {
    set_counts(nx, ny, nz);
    v_.assign(node_count(), 0.0);
  }
  // Sizes the array to nx x ny x nz nodes with their values unset: for a
  // caller that writes every node (the reading pass, the symmetry completion,
  // the resampling). On the largest grid this spares a pass over up to 240 MB,
  // and the reading pass's arrays fill as the export text behind it is freed.
  void resize_for_overwrite(int nx, int ny, int nz) {
    set_counts(nx, ny, nz);
    v_.clear();
    v_.resize(node_count());
  }
  // Keeps the first nz planes of an array sized for more (a reading that
  // did not know their count), without moving them.
  void keep_planes(int nz) {
    assert(nz <= nz_);
    nz_ = nz;
    v_.resize(node_count());
  }
  // Frees the storage (input arrays are not needed after symmetry completion).
  void release() {
    Values().swap(v_);
    nx_ = ny_ = nz_ = 0;
  }

  double& operator()(int i, int j, int k) { return v_[index(i, j, k)]; }
  double operator()(int i, int j, int k) const { return v_[index(i, j, k)]; }

  // Offset of element (i, j, k) in data().
  std::size_t index(int i, int j, int k) const {
    assert(i >= 1 && i <= nx_ && j >= 1 && j <= ny_ && k >= 1 && k <= nz_);
    return (static_cast<std::size_t>(k - 1) * static_cast<std::size_t>(ny_) + static_cast<std::size_t>(j - 1)) *
               static_cast<std::size_t>(nx_) +
           static_cast<std::size_t>(i - 1);
  }

  int nx() const { return nx_; }
  int ny() const { return ny_; }
  int nz() const { return nz_; }
  std::size_t size() const { return v_.size(); }
  double* data() { return v_.data(); }
  const double* data() const { return v_.data(); }

 private:
  using Values = std::vector<double, UnsetAllocator<double>>;
  void set_counts(int nx, int ny, int nz) {
    nx_ = nx;
    ny_ = ny;
    nz_ = nz;
  }
  std::size_t node_count() const {
    return static_cast<std::size_t>(nx_) * static_cast<std::size_t>(ny_) * static_cast<std::size_t>(nz_);
  }

  int nx_ = 0, ny_ = 0, nz_ = 0;
  Values v_;
};

// How the full grid is stored. A mirrored axis keeps only its exported
// nodes: every full-grid node is a stored node, and each component's value
// there is the stored value or its negative (model/symmetry_keys.hpp).
// Without a mirrored axis the stored arrays are the full grid.
struct FullGridMap {
  // Per axis (x, y, z) and full-grid node n (1-based; slot 0 unused): the
  // offset of its stored node along the axis in the stored arrays (the
  // 0-based stored node times the axis's stride), and per component c
  // (Ex, Ey, Ez, Bx, By, Bz) the factor +1 or -1 of its value.
  std::vector<std::ptrdiff_t> at[3];
  std::vector<double> sign[3][6];
};

// Node coordinates of one grid axis, 1-based.
class NodeArray {
 public:
  void resize(int n) { v_.assign(static_cast<std::size_t>(n), 0.0); }
  double& operator()(int n) {
    assert(n >= 1 && n <= static_cast<int>(v_.size()));
    return v_[static_cast<std::size_t>(n - 1)];
  }
  double operator()(int n) const {
    assert(n >= 1 && n <= static_cast<int>(v_.size()));
    return v_[static_cast<std::size_t>(n - 1)];
  }
  int size() const { return static_cast<int>(v_.size()); }
  const double* data() const { return v_.data(); }

 private:
  std::vector<double> v_;
};

struct RunData {
  // --- Control file -------------------------------------------------------
  std::string Efile;                             // E-field export (line 3)
  std::string Hfile;                             // H-field export (line 4)
  std::int32_t isymX = 0, isymY = 0, isymZ = 0;  // input symmetry keys (line 5)
  std::int32_t fnum = 0;                         // output file number (line 6)
  std::int32_t fmt = 0;                          // output format 0, 1, 2 (line 7)
  std::int32_t symX = 0, symY = 0, symZ = 0;     // output symmetry keys (line 8)
  double freq = 0;                               // RF frequency, Hz (line 9)
  double elen = 0;                               // element length L, cm (line 10)
  double aper = 0;                               // aperture R, cm (line 11)
  double Fnorm = 0;                              // field normalisation factor (line 12)
  double scale = 0;                              // export length unit -> cm (line 13)
  std::int32_t Nox = 0, Noy = 0, Noz = 0;        // output grid counts (line 14)

  // --- Physical constants -------------------------------------------------
  double pi = 0;    // rad
  double c = 0;     // m/s
  double mu0 = 0;   // T*m/A
  double mu1 = 0;   // Gs*m/A
  double eps0 = 0;  // F/m
  double omeg = 0;  // rad*Hz

  // 1 when the export lines carry real and imaginary parts, 0 for real only.
  std::int32_t icplx = 0;

  // --- Input grid, then full grid after symmetry completion ---------------
  double Ximin = 0, Ximax = 0, dXi = 0;
  double Yimin = 0, Yimax = 0, dYi = 0;
  double Zimin = 0, Zimax = 0, dZi = 0;
  std::int32_t Nix = 0, Niy = 0, Niz = 0;
  std::int32_t iord = 0;  // loop order: digits x,y,z = 1 fastest .. 3 slowest
  std::int32_t isym = 0;  // 100*isymX + 10*isymY + isymZ

  // Largest |Ez| of the E export as read, V/m.
  double Ez_max_read = 0;

  // Input-grid arrays as read: real part of E (V/m); H (A/m), real parts of
  // a real-only export, imaginary parts otherwise.
  FieldArray Exi, Eyi, Ezi, Hxi, Hyi, Hzi;

  // The full-grid field as stored (the exported nodes of a mirrored axis
  // only; read it through FullGrid), its map, and the full grid's node
  // coordinates.
  FieldArray Ex, Ey, Ez, Bx, By, Bz;
  FullGridMap full_map;
  NodeArray Xi, Yi, Zi;

  // --- Output grid --------------------------------------------------------
  double Xmin = 0, Xmax = 0, Ymin = 0, Ymax = 0, Zmin = 0, Zmax = 0;
  double dXo = 0, dYo = 0, dZo = 0;
  NodeArray Xo, Yo, Zo;
  FieldArray Exo, Eyo, Ezo, Bxo, Byo, Bzo;

  // --- Maxwell check statistics ------------------------------------------
  double avg_sRL1 = 0, avg_rRL1 = 0, max_rRL1 = 0, min_rRL1 = 0;
  // Faraday's law over the whole full grid: correlation c of curl E with
  // omega B over the interior nodes (-1: B a quarter period after E, +1: B
  // a quarter period before it), the relative residual |curl E - sign(c)
  // omega B| / |curl E|, and the largest component of E (V/cm) on the full
  // grid.
  struct Faraday {
    double c = 0, residual = 0;
    double E_max = 0;
  } faraday;
  // What the sign correction reverses: nothing; E or B after the sign of the
  // first Ez peak on the axis; B, from the whole grid, when the axis holds
  // no evidence.
  enum class SignCorrection : std::uint8_t { None, ByAxisPeak, BFromGrid } sign_correction = SignCorrection::None;

  // --- Warnings -------------------------------------------------------------
  // Findings that leave the map sound but that the user should hear about
  // (the log keeps its documented lines); main prints each on stderr as
  // "wavecalc_to_kaven: warning: ..." when the run ends normally.
  std::vector<std::string> warnings;

  // Component c (0..5) of the stored full-grid field: Ex, Ey, Ez, Bx, By, Bz.
  FieldArray& stored(int c) {
    FieldArray* const f[6] = {&Ex, &Ey, &Ez, &Bx, &By, &Bz};
    return *f[c];
  }
  const FieldArray& stored(int c) const { return const_cast<RunData&>(*this).stored(c); }
};

// Sets d.full_map for stored arrays of nx x ny x nz nodes (stored[a]) and
// the symmetry keys keys[a] of the axes x, y, z: a mirrored axis (key 1 or
// 2) of n stored nodes has 2n - 1 full-grid nodes, the plane's node once.
inline void map_full_grid(RunData& d, const int (&keys)[3], const int (&stored)[3]) {
  std::ptrdiff_t stride = 1;
  for (int a = 0; a < 3; ++a) {
    const int n = stored[a];
    const int m = keys[a] != 0 ? 2 * n - 1 : n;
    d.full_map.at[a].assign(static_cast<std::size_t>(m) + 1, 0);
    for (int c = 0; c < 6; ++c) d.full_map.sign[a][c].assign(static_cast<std::size_t>(m) + 1, 1.0);
    for (int f = 1; f <= m; ++f) {
      // Full nodes 1 .. n - 1 mirror the stored nodes n - 1 .. 1 (0-based).
      const int source = keys[a] != 0 ? (f > n ? f - n : n - f) : f - 1;
      d.full_map.at[a][static_cast<std::size_t>(f)] = source * stride;
      for (int c = 0; c < 6; ++c)
        if (keys[a] != 0 && f < n && key_flips(keys[a], a, c))
          d.full_map.sign[a][c][static_cast<std::size_t>(f)] = -1.0;
    }
    stride *= n;
  }
}

// The full-grid field as the phases read it: component c (0..5: Ex, Ey,
// Ez, Bx, By, Bz) at the full-grid node (i, j, k), 1-based, through
// d.full_map. A value is its stored copy times +1 or -1, so it is exact.
class FullGrid {
 public:
  explicit FullGrid(const RunData& d) {
    for (int a = 0; a < 3; ++a) {
      at_[a] = d.full_map.at[a].data();
      for (int c = 0; c < 6; ++c) sign_[a][c] = d.full_map.sign[a][c].data();
    }
    for (int c = 0; c < 6; ++c) data_[c] = d.stored(c).data();
  }

  // The x row of component c at the full-grid y and z nodes j and k:
  // row[i] is the value at node (i, j, k).
  struct Row {
    const double* values;  // the stored row
    const std::ptrdiff_t* at;
    const double* sign;  // of x
    double sign_yz;
    double operator[](int i) const { return sign_yz * sign[i] * values[at[i]]; }
  };
  Row row(int c, int j, int k) const {
    return {data_[c] + at_[1][j] + at_[2][k], at_[0], sign_[0][c], sign_[1][c][j] * sign_[2][c][k]};
  }

  double operator()(int c, int i, int j, int k) const { return row(c, j, k)[i]; }

 private:
  const double* data_[6];
  const std::ptrdiff_t* at_[3];
  const double* sign_[3][6];
};

}  // namespace wk
