#include "fleet/base64.h"

namespace kvx::fleet {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int sextet(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

std::string base64Encode(const std::uint8_t* bytes, std::size_t length) {
    std::string out;
    out.reserve((length + 2) / 3 * 4);
    for (std::size_t i = 0; i < length; i += 3) {
        const std::uint32_t b0 = bytes[i];
        const std::uint32_t b1 = i + 1 < length ? bytes[i + 1] : 0;
        const std::uint32_t b2 = i + 2 < length ? bytes[i + 2] : 0;
        const std::uint32_t n = b0 << 16 | b1 << 8 | b2;
        out += kAlphabet[n >> 18 & 63];
        out += kAlphabet[n >> 12 & 63];
        out += i + 1 < length ? kAlphabet[n >> 6 & 63] : '=';
        out += i + 2 < length ? kAlphabet[n & 63] : '=';
    }
    return out;
}

std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::vector<std::uint8_t> out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int pad = 0;
        if (last && text[i + 3] == '=') pad = text[i + 2] == '=' ? 2 : 1;
        std::uint32_t n = 0;
        for (int k = 0; k < 4; ++k) {
            int s = 0;
            if (k < 4 - pad) {
                s = sextet(text[i + k]);
                if (s < 0) return std::nullopt;
            }
            n = n << 6 | static_cast<std::uint32_t>(s);
        }
        // Bits that padding leaves over must be zero, or two texts would give one byte string.
        if (pad == 1 && (n & 0xFF) != 0) return std::nullopt;
        if (pad == 2 && (n & 0xFFFF) != 0) return std::nullopt;
        out.push_back(static_cast<std::uint8_t>(n >> 16));
        if (pad < 2) out.push_back(static_cast<std::uint8_t>(n >> 8));
        if (pad < 1) out.push_back(static_cast<std::uint8_t>(n));
    }
    return out;
}

}  // namespace kvx::fleet
