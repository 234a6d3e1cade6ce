#include "base/text_escape.h"

namespace kvx::cli {

// A stray line end or escape sequence in what was typed must not break or repaint the line.
std::string printable(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        // Bytes from 0x80 on too: some terminals take 0x9B as the start of a control sequence.
        if (c >= 0x20 && c < 0x7F) {
            out += ch;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        }
    }
    return out;
}

}  // namespace kvx::cli
