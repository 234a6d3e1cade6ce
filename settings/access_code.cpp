#include "settings/access_code.h"

#include <cstdint>

#include "model/typed_text.h"

namespace kvx {
namespace {

// The support lines both boxes end with.
constexpr const char* kContactLines = "Tel: +1 (555) 014-2280\nFax: +1 (555) 014-2281";

}  // namespace

bool accessCodeAccepted(std::string_view text) {
    const Parsed<std::uint32_t> code = parseAccessCode(text);
    return code && (*code == 5182 || *code == 6297);
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
