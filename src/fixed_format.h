// Exact fixed-point formatting of doubles ("%.0f" to "%.9f").
//
// Values are rounded to nearest and exact ties go away from zero
// (0.0078125 with six decimals gives 0.007813), unlike the C library,
// which rounds ties to even. The decimal separator is always a point,
// there is no digit grouping and the locale is never consulted. A negative
// value that rounds to zero keeps its sign ("-0.000000"), and NaN and the
// infinities are written "nan", "-nan", "inf" and "-inf", as printf does.
#pragma once

#include <cstddef>
#include <string>

namespace orvtessel {

// Largest number of decimals the formatter accepts.
constexpr int kMaxFixedDecimals = 9;

// Enough room for any finite double with kMaxFixedDecimals decimals:
// 309 integer digits, sign, point and decimals.
constexpr std::size_t kFixedBufferSize = 336;

// Writes `value` with `nDecimals` decimals (0 to kMaxFixedDecimals) to `out`,
// which must hold kFixedBufferSize bytes, and returns the end of the text.
// No terminating NUL is written.
char* formatFixed(char* out, double value, int nDecimals);

// The same, as a string.
std::string fixedString(double value, int nDecimals);

}  // namespace orvtessel
