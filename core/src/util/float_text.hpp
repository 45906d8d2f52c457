#pragma once
#include <string>

namespace tessra {

// Shortest text that reads back to the same float: positional with at least one digit after
// the point, or exponent form ("1e16", "1.5e-5") for magnitudes >= 1e16 or below 1e-4.
std::string float_text(float value);
void append_float_text(std::string& out, float value);

}  // namespace tessra
