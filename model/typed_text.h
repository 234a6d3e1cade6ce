#pragma once
// Text typed into a field or read from a configuration file, read exactly: a value, or false
// when the text is not one. Every screen, dialog, editor and file reader that turns text into
// something written goes through these, so that text which is not a value never reaches a
// controller or a file.
#include <cstdint>
#include <string>
#include <string_view>

namespace kvx {

// The text without the blanks (spaces, tabs, line ends) around it.
std::string_view trimmedText(std::string_view text);

// Optional blanks, an optional sign, decimal digits, optional blanks; the number must lie in
// [low, high]. False for anything else (an empty text, a decimal point, an exponent, a
// number out of range).
bool parseWholeNumber(std::string_view text, long low, long high, long& out);

// Optional blanks, an optional sign, decimal digits with at most one decimal point (at least
// one digit), optional blanks; the number times scale (a power of ten up to 10000), digits
// past the scale's places cut toward zero. Read digit by digit, never through a binary
// floating-point number, so "1.15" at scale 100 is 115. The scaled value must lie in
// [low, high].
bool parseScaledDecimal(std::string_view text, int scale, long low, long high, long& out);

// A register's 16 bits from a whole number from -32768 to 65535 (its signed or its unsigned
// reading), blanks around it allowed. False for anything else, and out is left as it was.
bool parseRegisterWord(std::string_view text, std::int16_t& out);

// Like a "%d" conversion: optional blanks, an optional sign and decimal digits, whatever
// follows them not read ("12x" is 12). The number must lie in [low, high]; false when there
// are no digits or it does not.
bool parseLeadingWholeNumber(std::string_view text, long low, long high, long& out);

// An access code: decimal digits only (no sign), with spaces around them and no other blank,
// up to 4294967295. Every digit counts: "70718" is not 5182 plus 65536. False for anything
// else, an empty text included.
bool parseAccessCode(std::string_view text, std::uint32_t& out);

// A port name: a whole number n from low to high names "COMn"; text with a '/' is a device
// path, taken without the blanks around it, and must be printable ASCII with no blank inside
// (the communication file holds the name as one blank-separated token). False for anything
// else, and out is left as it was.
bool parsePortName(std::string_view text, long low, long high, std::string& out);
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
