#pragma once
// Text typed into a field or read from a configuration or settings file, read exactly: a
// value, or what the reader takes when the text is not one. Every screen, dialog, editor and file
// reader that turns text into something written goes through these, so that text which is not a
// value never reaches a controller or a file.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace kvx {

// The text without the blanks (spaces, tabs, line ends) around it.
std::string_view trimmedText(std::string_view text);

// A value read from typed text, or why the text is not one: what the reader takes, in the
// words a refusal uses after "takes" or "is not" ("a whole number from 0 to 65535").
template <typename T>
struct Parsed {
    std::optional<T> value;
    std::string expected;  // empty when value holds one

    explicit operator bool() const { return value.has_value(); }
    const T& operator*() const { return *value; }
    static Parsed refused(std::string expected) { return {std::nullopt, std::move(expected)}; }
};

// Optional blanks, an optional sign, decimal digits, optional blanks; the number must lie in
// [low, high]. Refused: anything else (an empty text, a decimal point, an exponent, a number
// out of range).
Parsed<long> parseWholeNumber(std::string_view text, long low, long high);

// Decimal digits alone (no sign, no blank, no point), at least one, leading zeros allowed; the
// number must lie in [0, high].
Parsed<long> parseDigits(std::string_view text, long high);

// Optional blanks, an optional sign, decimal digits with at most one decimal point (at least
// one digit), optional blanks; the number times scale (a power of ten up to 10000), digits
// past the scale's places cut toward zero. Read digit by digit, never through a binary
// floating-point number, so "1.15" at scale 100 is 115. The scaled value must lie in
// [low, high].
Parsed<long> parseScaledDecimal(std::string_view text, int scale, long low, long high);

// A register's 16 bits from a whole number from -32768 to 65535 (its signed or its unsigned
// reading), blanks around it allowed.
Parsed<std::int16_t> parseRegisterWord(std::string_view text);

// Like a "%d" conversion: optional blanks, an optional sign and decimal digits, whatever
// follows them not read ("12x" is 12). The number must lie in [low, high]; refused when there
// are no digits or it does not.
Parsed<long> parseLeadingWholeNumber(std::string_view text, long low, long high);

// An access code: decimal digits only (no sign), with spaces around them and no other blank,
// up to 4294967295. Every digit counts: "70718" is not 5182 plus 65536. Refused: anything
// else, an empty text included.
Parsed<std::uint32_t> parseAccessCode(std::string_view text);

// A port name: a whole number n from low to high names "COMn"; text with a '/' is a device
// path, taken without the blanks around it, and must be printable ASCII with no blank inside
// (the communication file holds the name as one blank-separated token). Refused: anything
// else.
Parsed<std::string> parsePortName(std::string_view text, long low, long high);
// The n of a "COMn" name as parsePortName writes it (no sign, no leading zero), so that
// showing n and reading it back gives the same name; empty for any other name.
std::string_view comPortNumber(std::string_view name);
// What a port name field takes, for the line that refuses what was typed.
std::string portNameAccepts(long low, long high);

// "a whole number from 0 to 65535", "a number from -3276.8 to 3276.7": what a field
// accepts, for the line that refuses what was typed.
std::string wholeNumberAccepts(long low, long high);
std::string scaledDecimalAccepts(int scale, long low, long high);

// The refusal of typed text for a named field, e.g.
// "Maximum Limit" takes a whole number from 0 to 65535, not "0.5". Nothing was written.
// Bytes that are not printable ASCII are shown as \xNN.
std::string refusalText(std::string_view field, std::string_view typed, std::string_view accepts);

}  // namespace kvx
