// Symmetry keys of the control file: which field components change sign in
// the mirror image across a symmetry plane x = 0, y = 0 or z = 0.
//   key 0  no plane: the export covers the whole axis;
//   key 1  tangential H vanishes on the plane: E along the axis and H along
//          the two other axes change sign;
//   key 2  tangential E vanishes on the plane: E along the two other axes
//          and H along the axis change sign.
// A component that changes sign and is continuous across the plane vanishes
// on it.
#pragma once

namespace wk {

// The control-file line of the three input symmetry keys isymX isymY isymZ.
inline constexpr int kSymmetryKeysLine = 5;

// Components in the order Ex, Ey, Ez, Hx, Hy, Hz (c = 0..5); axes x, y, z
// (a = 0..2).
inline constexpr int kFieldComponents = 6;
inline constexpr const char* kComponentName[kFieldComponents] = {"Ex", "Ey", "Ez", "Hx", "Hy", "Hz"};

// True when component c changes sign under the mirror across the plane of
// axis a with key `key` (never for key 0).
constexpr bool key_flips(int key, int a, int c) {
  const bool electric = c < 3;
  const bool along = c % 3 == a;
  if (key == 1) return electric == along;
  if (key == 2) return electric != along;
  return false;
}

}  // namespace wk
