#pragma once
// Base64 (RFC 4648, standard alphabet, with padding) for the raw bytes carried in JSON. The
// decoder is strict: no whitespace, padding required, unused bits zero, so one byte string has
// exactly one text.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvx::fleet {

std::string base64Encode(const std::uint8_t* bytes, std::size_t length);
std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text);

}  // namespace kvx::fleet
