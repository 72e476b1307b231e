// Numbers as text: every numeric field the converter writes.
//
// Two families share one treatment of what is not an ordinary number (the
// texts "NaN", "Infinity" and "-Infinity") and one correctly rounded
// decimal conversion:
//  - the fields of a list write: a double takes 24 columns (15 significant
//    digits in fixed form for 0.1 <= |v| < 1e15, otherwise 16 significant
//    digits with a 3-digit exponent), an integer is right-aligned in 12;
//  - the fixed edit descriptors of the Maxwell slice lines, I5, F14.6 and
//    E14.6: right-aligned, filled with asterisks when the value does not fit.
// A minus sign is written only for values below zero: -0.0 looks like 0.0.
// Nothing here allocates or uses iostreams: the text field maps format
// hundreds of millions of values.
#pragma once

#include <cstdint>

namespace wk {

inline constexpr int kIntWidth = 12;
inline constexpr int kRealWidth = 24;

// Writes the 24-column list-write field of a double into dst (exactly 24
// characters). A NaN or an infinity is its text after one blank, padded
// with blanks on the right.
void format_real24(double v, char* dst);
// Writes the 12-column list-write field of an integer into dst (exactly 12 characters).
void format_int12(std::int32_t v, char* dst);

// Fixed edit descriptors; a NaN or an infinity is its text right-aligned.
void format_I5(int v, char* dst);        // 5 characters
void format_F14_6(double v, char* dst);  // 14 characters, 6 decimals
// 14 characters: mantissa 0.dddddd, then E and a signed 2-digit exponent, or,
// for exponents beyond two digits, the signed 3-digit exponent without the E.
void format_E14_6(double v, char* dst);

}  // namespace wk
