#include "base/command_line.h"

#include <charconv>
#include <cmath>

namespace kvx::cli {

bool parseInteger(std::string_view text, long long min, long long max, long long& out) {
    if (text.empty()) return false;
    long long v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc{} || end != text.data() + text.size() || v < min || v > max) return false;
    out = v;
    return true;
}

bool parseDecimal(std::string_view text, double min, double max, double& out) {
    if (text.empty()) return false;
    double v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc{} || end != text.data() + text.size() || !std::isfinite(v) || v < min ||
        v > max)
        return false;
    out = v;
    return true;
}

bool ArgReader::next() {
    if (++index_ >= argc_) return false;
    name_ = argv_[index_];
    value_ = {};
    hasInline_ = false;
    // Only long options take "=value"; "-x=1" stays one unknown name.
    if (name_.starts_with("--")) {
        if (const std::size_t eq = name_.find('='); eq != std::string_view::npos) {
            value_ = name_.substr(eq + 1);
            name_ = name_.substr(0, eq);
            hasInline_ = true;
        }
    }
    return true;
}

bool ArgReader::value(std::string_view& out) {
    if (!hasInline_) {
        if (index_ + 1 >= argc_) return fail("option " + printable(name_) + " needs a value");
        value_ = argv_[++index_];
    }
    out = value_;
    return true;
}

bool ArgReader::noValue() {
    if (!hasInline_) return true;
    return fail("option " + printable(name_) + " takes no value");
}

bool ArgReader::decimal(double min, double max, std::string_view expectedText, double& out) {
    std::string_view text;
    if (!value(text)) return false;
    if (!parseDecimal(text, min, max, out)) return expected(expectedText);
    return true;
}

bool ArgReader::expected(std::string_view what) {
    return fail("bad value '" + printable(value_) + "' for " + printable(name_) + ": expected " +
                std::string(what));
}

bool ArgReader::unknown() {
    const std::string given = printable(arg());
    return fail(isOption() ? "unknown option '" + given + "'"
                           : "unexpected argument '" + given + "'");
}

bool ArgReader::fail(std::string message) {
    error_ = std::move(message);
    return false;
}

std::string ArgReader::rangeText(long long min, long long max) {
    return std::to_string(min) + ".." + std::to_string(max);
}

int reportUsageError(std::string_view program, std::string_view message) {
    const std::string p(program), m(message);
    std::fprintf(stderr, "%s: %s (see %s --help)\n", p.c_str(), m.c_str(), p.c_str());
    return kExitUsage;
}

int printVersion(std::string_view program, std::FILE* to) {
    std::fprintf(to, "%.*s %.*s\n", static_cast<int>(program.size()), program.data(),
                 static_cast<int>(projectVersion().size()), projectVersion().data());
    return 0;
}

}  // namespace kvx::cli
