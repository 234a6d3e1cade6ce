#pragma once
// Turns the port name of the communication file into a device path.
#include <string>
#include <string_view>

namespace kvx {

// A name containing '/' is a device path as it is. "COMn" (n >= 1, any letter case) is
// <programDir>/COMn when that entry exists (usually a symlink to a tty or to the simulator's
// pseudo-terminal; a dangling link still counts, so a vanished simulator is not replaced by a
// real port), else /dev/ttyS<n-1>. Anything else is returned unchanged, and opening it fails.
std::string resolvePortName(std::string_view name, const std::string& programDir);

}  // namespace kvx
