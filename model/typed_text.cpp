#include "model/typed_text.h"

#include <cstdio>
#include <cstdlib>

namespace kvx {
namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Far beyond any range a field has, far below what a long holds.
constexpr long kCeiling = 1000000000000L;

int placesOf(int scale) {
    int places = 0;
    for (int s = scale; s > 1; s /= 10)
        ++places;
    return places;
}

std::string decimalText(long scaled, int scale) {
    const int places = placesOf(scale);
    const bool negative = scaled < 0;
    const long magnitude = negative ? -scaled : scaled;
    std::string text = std::to_string(magnitude / scale);
    if (places > 0) {
        std::string fraction = std::to_string(magnitude % scale);
        fraction.insert(0, static_cast<std::size_t>(places) - fraction.size(), '0');
        text += '.' + fraction;
    }
    return negative ? '-' + text : text;
}

std::string_view trimmed(std::string_view text) {
    return trimmedText(text);
}

}  // namespace

std::string_view trimmedText(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

Parsed<long> parseWholeNumber(std::string_view text, long low, long high) {
    Parsed<long> p = parseScaledDecimal(text, 1, low, high);
    if (p && trimmed(text).find('.') == std::string_view::npos) return p;
    return Parsed<long>::refused(wholeNumberAccepts(low, high));
}

Parsed<long> parseDigits(std::string_view text, long high) {
    // high is far below what a long holds, so v * 10 + 9 never overflows.
    long v = 0;
    for (const char c : text) {
        if (!isDigit(c)) return Parsed<long>::refused(wholeNumberAccepts(0, high));
        v = v * 10 + (c - '0');
        if (v > high) return Parsed<long>::refused(wholeNumberAccepts(0, high));
    }
    if (text.empty()) return Parsed<long>::refused(wholeNumberAccepts(0, high));
    return {v, {}};
}

Parsed<long> parseScaledDecimal(std::string_view text, int scale, long low, long high) {
    const auto refused = [&] {
        return Parsed<long>::refused(scaledDecimalAccepts(scale, low, high));
    };
    text = trimmed(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    const int places = placesOf(scale);
    long magnitude = 0;
    int digits = 0, fractionDigits = 0;
    bool point = false;
    for (const char c : text) {
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        if (!isDigit(c)) return refused();
        ++digits;
        if (point) {
            // Digits past the field's places are cut, not rounded.
            if (fractionDigits == places) continue;
            ++fractionDigits;
        }
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > kCeiling) return refused();
    }
    if (digits == 0) return refused();
    for (; fractionDigits < places; ++fractionDigits)
        magnitude *= 10;
    const long value = negative ? -magnitude : magnitude;
    if (value < low || value > high) return refused();
    return {value, {}};
}

Parsed<std::int16_t> parseRegisterWord(std::string_view text) {
    const Parsed<long> v = parseWholeNumber(text, -32768, 65535);
    if (!v) return Parsed<std::int16_t>::refused("a register value (-32768 to 65535)");
    return {static_cast<std::int16_t>(static_cast<std::uint16_t>(*v & 0xFFFF)), {}};
}

Parsed<long> parseLeadingWholeNumber(std::string_view text, long low, long high) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    std::size_t end = 0;
    if (end < text.size() && (text[end] == '+' || text[end] == '-')) ++end;
    while (end < text.size() && isDigit(text[end]))
        ++end;
    return parseWholeNumber(text.substr(0, end), low, high);
}

Parsed<std::uint32_t> parseAccessCode(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    const Parsed<long> v = parseDigits(text, 0xFFFFFFFFL);
    if (!v) return Parsed<std::uint32_t>::refused("an access code (digits only)");
    return {static_cast<std::uint32_t>(*v), {}};
}

namespace {
constexpr std::string_view kComPrefix = "COM";
}  // namespace

std::string_view comPortNumber(std::string_view name) {
    if (name.substr(0, kComPrefix.size()) != kComPrefix) return {};
    const std::string_view digits = name.substr(kComPrefix.size());
    if (digits.empty() || digits.front() == '0') return {};
    for (const char c : digits)
        if (!isDigit(c)) return {};
    return digits;
}

Parsed<std::string> parsePortName(std::string_view text, long low, long high) {
    text = trimmed(text);
    if (const Parsed<long> n = parseWholeNumber(text, low, high))
        return {std::string(kComPrefix) + std::to_string(*n), {}};
    const auto refused = [&] { return Parsed<std::string>::refused(portNameAccepts(low, high)); };
    if (text.find('/') == std::string_view::npos) return refused();
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F) return refused();
    }
    return {std::string(text), {}};
}

std::string portNameAccepts(long low, long high) {
    return "a port number from " + std::to_string(low) + " to " + std::to_string(high) +
           " or a device path such as /dev/ttyUSB0 (plain ASCII, no blanks)";
}

std::string wholeNumberAccepts(long low, long high) {
    return "a whole number from " + std::to_string(low) + " to " + std::to_string(high);
}

std::string scaledDecimalAccepts(int scale, long low, long high) {
    if (scale <= 1) return wholeNumberAccepts(low, high);
    return "a number from " + decimalText(low, scale) + " to " + decimalText(high, scale);
}

std::string refusalText(std::string_view field, std::string_view typed, std::string_view accepts) {
    std::string shown;
    for (const char c : typed) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F) {
            shown += c;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            shown += hex;
        }
    }
    // A label set on two lines reads as one.
    std::string name;
    for (const char c : trimmed(field)) {
        const char d = c == '\n' ? ' ' : c;
        if (!(d == ' ' && !name.empty() && name.back() == ' ')) name += d;
    }
    std::string text = "\"" + name + "\" ";
    if (trimmed(typed).empty())
        text += "is empty; it takes " + std::string(accepts) + ".";
    else
        text += "takes " + std::string(accepts) + ", not \"" + shown + "\".";
    return text + " Nothing was written.";
}

}  // namespace kvx
