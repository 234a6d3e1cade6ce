#include "base/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kvx::cli {
namespace {

TEST(CommandLineNumbers, AreWholeStrictAndInRange) {
    struct Case {
        const char* text;
        bool integer;  // accepted by parseInteger(text, -5, 1000)
        bool decimal;  // accepted by parseDecimal(text, 0.5, 1000)
    };
    const Case cases[] = {
        {"117", true, true},     {"1000", true, true},   {"1001", false, false},
        {"-5", true, false},     {"-6", false, false},   {"0", true, false},
        {"", false, false},      {" 1", false, false},   {"1 ", false, false},
        {"+1", false, false},    {"0x10", false, false}, {"1.5", false, true},
        {"1e2", false, true},    {"5s", false, false},   {"nan", false, false},
        {"inf", false, false},   {"1,5", false, false},  {"99999999999999999999", false, false},
        {"1e400", false, false}, {"0.5", false, true},   {"0.49", false, false},
    };
    for (const Case& c : cases) {
        long long n = 42;
        double d = 42;
        EXPECT_EQ(parseInteger(c.text, -5, 1000, n), c.integer) << "'" << c.text << "'";
        EXPECT_EQ(parseDecimal(c.text, 0.5, 1000, d), c.decimal) << "'" << c.text << "'";
        // A refused number leaves the target alone.
        if (!c.integer) {
            EXPECT_EQ(n, 42);
        }
        if (!c.decimal) {
            EXPECT_EQ(d, 42);
        }
    }
}

// One program's loop over ArgReader: --slave N, --name TEXT, --flag.
struct Parsed {
    int slave = 0;
    std::string name;
    bool flag = false, help = false, version = false;
    std::string error;
};

Parsed parse(std::vector<const char*> args) {
    args.insert(args.begin(), "prog");
    ArgReader r(static_cast<int>(args.size()), args.data());
    Parsed p;
    const auto fail = [&] {
        p.error = r.error();
        return p;
    };
    while (r.next()) {
        std::string_view v;
        if (r.isHelp()) {
            p.help = true;
        } else if (r.isVersion()) {
            if (!r.noValue()) return fail();
            p.version = true;
        } else if (r.name() == "--slave") {
            if (!r.integer(1, 247, p.slave)) return fail();
        } else if (r.name() == "--name") {
            if (!r.value(v)) return fail();
            p.name = std::string(v);
        } else if (r.name() == "--flag") {
            if (!r.noValue()) return fail();
            p.flag = true;
        } else {
            r.unknown();
            return fail();
        }
    }
    return p;
}

TEST(CommandLineArgReader, SplitsValuesAndNamesTheFaultInOneLine) {
    struct Case {
        std::vector<const char*> args;
        const char* error;  // "" when accepted
    };
    const Case cases[] = {
        {{"--slave", "7", "--name=a=b", "--flag"}, ""},
        {{"--name", "--flag"}, ""},  // a value may start with a dash
        {{"--name="}, ""},
        {{"-h", "--version"}, ""},
        {{"--slave"}, "option --slave needs a value"},
        {{"--slave", "0"}, "bad value '0' for --slave: expected 1..247"},
        {{"--slave=x"}, "bad value 'x' for --slave: expected 1..247"},
        {{"--flag=1"}, "option --flag takes no value"},
        {{"--version=2"}, "option --version takes no value"},
        {{"--bogus=1"}, "unknown option '--bogus=1'"},
        {{"-x"}, "unknown option '-x'"},
        {{"stray"}, "unexpected argument 'stray'"},
        // Control bytes in what was typed are spelled out: the message stays one line.
        {{"--si\n"}, "unknown option '--si\\n'"},
        {{"--slave", "1\r\n"}, "bad value '1\\r\\n' for --slave: expected 1..247"},
        {{"--slave=\x1b[2J"}, "bad value '\\x1b[2J' for --slave: expected 1..247"},
        {{"--fl\tag=1"}, "unknown option '--fl\\tag=1'"},
        {{"st\x7fray"}, "unexpected argument 'st\\x7fray'"},
        {{"--name", "caf\xc3\xa9"}, ""},
    };
    for (const Case& c : cases) {
        const Parsed p = parse(c.args);
        EXPECT_EQ(p.error, c.error) << c.args.front();
        EXPECT_EQ(p.error.find('\n'), std::string::npos);
    }
    const Parsed p = parse({"--slave", "7", "--name=a=b", "--flag"});
    EXPECT_EQ(p.slave, 7);
    EXPECT_EQ(p.name, "a=b");
    EXPECT_TRUE(p.flag);
    EXPECT_EQ(parse({"--name", "--flag"}).name, "--flag");
    EXPECT_TRUE(parse({"-h", "--version"}).version);
}

}  // namespace
}  // namespace kvx::cli
