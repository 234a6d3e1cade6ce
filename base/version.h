#pragma once
// The version every program prints for --version, set by the build from the project version.
#include <string_view>

namespace kvx::cli {

// The project version ("0.1").
std::string_view projectVersion();

}  // namespace kvx::cli
