// The fixed-format slice line of the Maxwell check.
#include <cstring>

#include "conditioning/conditioning_detail.hpp"
#include "io/number_format.hpp"

namespace wk::conditioning_detail {

namespace {

constexpr char kSliceText[] = "  iz, zz, I_H, I_E, ratio= ";
constexpr int kIntField = 5;    // I5
constexpr int kRealField = 14;  // F14.6, E14.6

}  // namespace

void format_slice_line(int iz, double zz, double I_H, double I_E, double ratio, char* dst) {
  constexpr std::size_t kText = sizeof kSliceText - 1;
  std::memcpy(dst, kSliceText, kText);
  char* p = dst + kText;
  format_I5(iz, p);
  p += kIntField;
  std::memcpy(p, "  ", 2);
  format_F14_6(zz, p + 2);
  p += 2 + kRealField;
  std::memcpy(p, "  ", 2);
  format_E14_6(I_H, p + 2);
  p += 2 + kRealField;
  std::memcpy(p, "  ", 2);
  format_E14_6(I_E, p + 2);
  p += 2 + kRealField;
  format_F14_6(ratio, p);
  static_assert(kText + kIntField + 3 * (2 + kRealField) + kRealField == kSliceLineLength);
}

}  // namespace wk::conditioning_detail
