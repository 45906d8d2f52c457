#pragma once
#include <string>

namespace tessra {

// Shortest text that reads back to the same float: positional with at least one digit after
// the point, or exponent form ("1e16", "1.5e-5") for magnitudes >= 1e16 or below 1e-4.
std::string float_text(float value);
void append_float_text(std::string& out, float value);
// Shortest round-trip digits laid out without an exponent, padded with zeros where needed,
// and without a trailing point ("1", "-0", "0.0000001", "100000000000000000000"); "inf",
// "-inf", and "NaN" for every NaN.
std::string float_plain_text(float value);

}  // namespace tessra
