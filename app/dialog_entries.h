#pragma once
// How the small dialogs read what was typed into them.
#include <cstdint>
#include <string>

namespace kvx {

// The port-number field shows the characters after "COM" (the fourth and fifth of the name).
std::string portNumberField(const std::string& portName);
// "COM<n>" from at most the first 8 characters of the field, read as a leading decimal number
// (0 when there is none).
std::string portNameFromField(const std::string& field);
// An unsigned decimal filling the whole field (blanks around it allowed); 0 otherwise,
// including for values above 4294967295.
std::uint32_t unsignedField(const std::string& field);

}  // namespace kvx
