#include "app/dialog_entries.h"

#include <cctype>
#include <cstdlib>

namespace kvx {

std::string portNumberField(const std::string& portName) {
    if (portName.size() <= 3) return {};
    return portName.substr(3, 2);
}

std::string portNameFromField(const std::string& field) {
    const std::string head = field.substr(0, 8);
    std::size_t i = 0;
    while (i < head.size() && std::isspace(static_cast<unsigned char>(head[i])))
        ++i;
    bool negative = false;
    if (i < head.size() && (head[i] == '+' || head[i] == '-')) negative = head[i++] == '-';
    long n = 0;  // at most 8 digits, no overflow
    while (i < head.size() && std::isdigit(static_cast<unsigned char>(head[i])))
        n = n * 10 + (head[i++] - '0');
    return "COM" + std::to_string(negative ? -n : n);
}

std::uint32_t unsignedField(const std::string& field) {
    std::size_t i = 0, end = field.size();
    while (i < end && std::isspace(static_cast<unsigned char>(field[i])))
        ++i;
    while (end > i && std::isspace(static_cast<unsigned char>(field[end - 1])))
        --end;
    if (i == end) return 0;
    std::uint64_t v = 0;
    for (; i < end; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(field[i]))) return 0;
        v = v * 10 + static_cast<unsigned>(field[i] - '0');
        if (v > 0xFFFFFFFFull) return 0;
    }
    return static_cast<std::uint32_t>(v);
}

}  // namespace kvx
