#pragma once
// Numeric texts of the widgets' read-outs and scales.
#include <string>

namespace kvx {

// decimals 1..3 print "%.Nf"; anything else prints "%d" of the value truncated toward zero.
std::string numberText(double value, int decimals);

// printf into a std::string.
std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace kvx
