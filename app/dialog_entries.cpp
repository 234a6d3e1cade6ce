#include "app/dialog_entries.h"

#include <string_view>

#include "model/typed_text.h"

namespace kvx {

std::string portFieldText(const std::string& portName) {
    const std::string_view n = comPortNumber(portName);
    return n.empty() ? portName : std::string(n);
}

bool portNameFromField(const std::string& field, const std::string& current, std::string& name) {
    const std::string_view text = trimmedText(field);
    if (text.empty()) return false;
    if (field == portFieldText(current)) {
        name = current;
        return true;
    }
    Parsed<std::string> parsed = parsePortName(text, kPortNumberMin, kPortNumberMax);
    if (!parsed) return false;
    name = *parsed;
    return true;
}

std::string portFieldAccepts() {
    return portNameAccepts(kPortNumberMin, kPortNumberMax);
}

std::string speedLimitFieldText(std::int16_t limit) {
    return std::to_string(static_cast<std::uint16_t>(limit));
}

bool speedLimitFromField(const std::string& field, std::int16_t& limit) {
    const Parsed<long> v = parseWholeNumber(field, kSpeedLimitMin, kSpeedLimitMax);
    if (!v) return false;
    limit = static_cast<std::int16_t>(static_cast<std::uint16_t>(*v));
    return true;
}

}  // namespace kvx
