#pragma once
// Escaping of text from outside (typed options, file contents) before it is quoted in a
// one-line message.
#include <string>
#include <string_view>

namespace kvx::cli {

// text with its control bytes and bytes from 0x80 on spelled out (\n, \t, \x1b, \xc3), fit
// to quote in a one-line message.
std::string printable(std::string_view text);

}  // namespace kvx::cli
