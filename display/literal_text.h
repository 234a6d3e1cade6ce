#pragma once
// Widget texts are given as printf-style formats without arguments ("%%" for a percent sign).
// Only "%%" is collapsed; any other conversion is kept as typed, because formatting a caller's
// text with no arguments would read arguments that were never passed.
#include <string>
#include <string_view>

namespace kvx {

std::string literalText(std::string_view format);

}  // namespace kvx
