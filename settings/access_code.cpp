#include "settings/access_code.h"

#include <cctype>
#include <cstdint>

namespace kvx {
namespace {

// The support lines both boxes end with.
constexpr const char* kContactLines = "Tel: +1 (555) 014-2280\nFax: +1 (555) 014-2281";

// An unsigned 32-bit decimal number with optional surrounding blanks, else 0. The whole
// number counts: 70718 is not 5182 plus 65536.
std::uint32_t unsignedValue(std::string_view text) {
    std::size_t i = 0, end = text.size();
    while (i < end && text[i] == ' ')
        ++i;
    while (end > i && text[end - 1] == ' ')
        --end;
    if (i == end) return 0;
    std::uint64_t v = 0;
    for (; i < end; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return 0;
        v = v * 10 + static_cast<unsigned>(text[i] - '0');
        if (v > 0xFFFFFFFFULL) return 0;
    }
    return static_cast<std::uint32_t>(v);
}

}  // namespace

bool accessCodeAccepted(std::string_view text) {
    const std::uint32_t code = unsignedValue(text);
    return code == 5182 || code == 6297;
}

std::string assistanceText() {
    return std::string(
               "For assistance regarding valve settings  \nplease contact \n\n"
               "Engineering Department \nOrvik Corporation\n\n") +
           kContactLines;
}

std::string wrongPasswordText() {
    return std::string(
               "The password is incorrect!  \nPlease contact \n\n"
               "Engineering Department \nOrvik Corporation\n\n") +
           kContactLines;
}

}  // namespace kvx
