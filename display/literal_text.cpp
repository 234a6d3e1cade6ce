#include "display/literal_text.h"

namespace kvx {

std::string literalText(std::string_view format) {
    std::string out;
    out.reserve(format.size());
    for (std::size_t i = 0; i < format.size(); ++i) {
        out.push_back(format[i]);
        if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == '%') ++i;
    }
    return out;
}

}  // namespace kvx
