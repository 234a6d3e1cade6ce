#pragma once
// The command-line rules every program of the project shares: "--name value" and
// "--name=value", "-h"/"--help", "--version", strict numbers with a range, and one way to
// report a bad option (one line on stderr, exit 2). Kept in base/, below every layer and free
// of Qt, so the viewer, the simulator and the tools can all use it. Its messages quote what was
// typed through printable(), and --version prints projectVersion(): both come with it.
#include <cstdio>
#include <string>
#include <string_view>

#include "base/text_escape.h"
#include "base/version.h"

namespace kvx::cli {

inline constexpr int kExitUsage = 2;

// A whole decimal integer in min..max: no sign but '-', no spaces, no trailing text.
bool parseInteger(std::string_view text, long long min, long long max, long long& out);
// A finite decimal number in min..max, as strict as parseInteger.
bool parseDecimal(std::string_view text, double min, double max, double& out);

// Walks argv[1..]: each step is one argument, split into name and inline value when it is a
// long option written "--name=value". Errors are one-line messages without the program name.
class ArgReader {
  public:
    ArgReader(int argc, const char* const* argv) : argc_(argc), argv_(argv) {}

    // Moves to the next argument; false after the last one.
    bool next();

    std::string_view arg() const { return argv_[index_]; }  // as given
    std::string_view name() const { return name_; }         // "--slave" of "--slave=3"
    bool isOption() const { return name_.size() > 1 && name_[0] == '-'; }
    bool isHelp() const { return name_ == "--help" || name_ == "-h"; }
    bool isVersion() const { return name_ == "--version"; }

    // The option's value: the text after '=', else the next argument (which is consumed).
    bool value(std::string_view& out);
    // Checks that a flag was not given "=value".
    bool noValue();
    // The value as a number in min..max; else a "bad value" error naming the range as expected.
    template <typename Int>
    bool integer(long long min, long long max, Int& out) {
        long long v = 0;
        std::string_view text;
        if (!value(text)) return false;
        if (!parseInteger(text, min, max, v)) return expected(rangeText(min, max));
        out = static_cast<Int>(v);
        return true;
    }
    bool decimal(double min, double max, std::string_view expectedText, double& out);

    // Sets "bad value 'V' for --name: expected ..." and returns false.
    bool expected(std::string_view what);
    // Sets "unknown option '-x'" (or "unexpected argument 'x'") and returns false.
    bool unknown();
    // Any other message.
    bool fail(std::string message);

    const std::string& error() const { return error_; }

  private:
    static std::string rangeText(long long min, long long max);

    int argc_;
    const char* const* argv_;
    int index_ = 0;
    std::string_view name_;
    std::string_view value_;
    bool hasInline_ = false;
    std::string error_;
};

// "program: message (see program --help)" on stderr; returns kExitUsage.
int reportUsageError(std::string_view program, std::string_view message);
// "program 0.1" on stdout; returns 0.
int printVersion(std::string_view program, std::FILE* to = stdout);

}  // namespace kvx::cli
