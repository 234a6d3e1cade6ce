#include "app/dialog_entries.h"

#include <string_view>

#include "model/typed_text.h"

namespace kvx {
namespace {

constexpr std::string_view kComPrefix = "COM";

// The number of a "COMn" name as we write it, so that showing n and reading it back gives
// the same name; empty for any other name.
std::string_view comNumber(std::string_view name) {
    if (name.substr(0, kComPrefix.size()) != kComPrefix) return {};
    const std::string_view digits = name.substr(kComPrefix.size());
    if (digits.empty() || digits.front() == '0') return {};
    for (const char c : digits)
        if (c < '0' || c > '9') return {};
    return digits;
}

}  // namespace

std::string portFieldText(const std::string& portName) {
    const std::string_view n = comNumber(portName);
    return n.empty() ? portName : std::string(n);
}

bool portNameFromField(const std::string& field, const std::string& current, std::string& name) {
    const std::string_view text = trimmedText(field);
    if (text.empty()) return false;
    if (field == portFieldText(current)) {
        name = current;
        return true;
    }
    long n = 0;
    if (parseWholeNumber(text, kPortNumberMin, kPortNumberMax, n)) {
        name = std::string(kComPrefix) + std::to_string(n);
        return true;
    }
    if (text.find('/') == std::string_view::npos) return false;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F) return false;
    }
    name = std::string(text);
    return true;
}

std::string portFieldAccepts() {
    return "a port number from " + std::to_string(kPortNumberMin) + " to " +
           std::to_string(kPortNumberMax) +
           " or a device path such as /dev/ttyUSB0 (plain ASCII, no blanks)";
}

std::string speedLimitFieldText(std::int16_t limit) {
    return std::to_string(static_cast<std::uint16_t>(limit));
}

bool speedLimitFromField(const std::string& field, std::int16_t& limit) {
    long v = 0;
    if (!parseWholeNumber(field, kSpeedLimitMin, kSpeedLimitMax, v)) return false;
    limit = static_cast<std::int16_t>(static_cast<std::uint16_t>(v));
    return true;
}

}  // namespace kvx
