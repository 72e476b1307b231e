// Unit numbers that name the converter's files in the file layer's messages.
#pragma once

namespace wk {

inline constexpr int kUnitControl = 1;  // wavecalc_to_kaven.dat
inline constexpr int kUnitE = 2;        // E-field export
inline constexpr int kUnitH = 3;        // H-field export
inline constexpr int kUnitOutput = 7;   // field map
inline constexpr int kUnitLog = 8;      // wavecalc_to_kaven.log

}  // namespace wk
