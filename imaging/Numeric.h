// Number rules shared by every computation: extended-precision rounding and the general number text.
#pragma once

#include <string>

namespace kestrane {

// The 80-bit extended type in which tables, analysis, legends and plot compute.
using Extended = long double;

// Round half to even on an extended value (the default rounding mode of the processor).
Extended roundHalfEven(Extended v);

// roundHalfEven as a 64-bit integer; the callers' values always fit.
long long roundToInt(Extended v);

// General number text: up to 15 significant digits, no trailing zeros, no decimal point when whole;
// scientific ("1.5E20", "1E-6") when the value is below 0.00001 or needs more than 15 integer digits.
std::string generalFormat(Extended v, char decimalSeparator = '.');

// Lays out significant digits (first one non-zero, no trailing zeros) of a value with decimal exponent
// `exponent`: fixed ("0.0025", "1500", "12.3") or scientific ("1.5E3", "2E-5"; "E+3" with `plusSign`).
std::string layoutDigits(const std::string& digits, int exponent, bool negative, bool scientific,
                         bool plusSign, char decimalSeparator);

} // namespace kestrane
