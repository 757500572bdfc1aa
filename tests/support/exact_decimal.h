// A slow, plainly correct reference for fixed-point formatting: the exact
// decimal expansion of a double, rounded in decimal with ties away from
// zero. It shares no code with the program's formatter.
#pragma once

#include <string>

namespace testsupport {

// The exact decimal expansion of a finite double, without sign:
// integer digits, and fraction digits when there are any ("0.0078125").
std::string exactDecimal(double value);

// "%.Nf" with ties away from zero, for finite values.
std::string referenceFixed(double value, int nDecimals);

// True when the value lies exactly halfway between two results.
bool isExactTie(double value, int nDecimals);

}  // namespace testsupport
