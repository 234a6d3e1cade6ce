// The typed-text readers the configuration files, the editor, the access code and the port
// field share: what each accepts at its edges.
#include "model/typed_text.h"

#include <gtest/gtest.h>

namespace kvx {
namespace {

TEST(TypedText, EachReaderTakesItsOwnSetAndNothingElse) {
    enum Reader { Word, Leading, Code, Port };
    struct Case {
        Reader reader;
        const char* text;
        const char* value;  // nullptr: refused
    };
    const Case cases[] = {
        {Word, "65535", "-1"},
        {Word, " -32768 ", "-32768"},
        {Word, "65536", nullptr},
        {Word, "1.0", nullptr},
        {Leading, "12x", "12"},
        {Leading, "-7 ", "-7"},
        {Leading, " +3", "3"},
        {Leading, "+", nullptr},
        {Leading, "x12", nullptr},
        {Leading, "", nullptr},
        {Leading, "2147483648", nullptr},  // past the range, not wrapped
        {Leading, "99999999999999999999", nullptr},
        {Code, " 5182 ", "5182"},
        {Code, "005182", "5182"},
        {Code, "4294967295", "4294967295"},
        {Code, "4294967296", nullptr},
        {Code, "+5182", nullptr},
        {Code, "5182\t", nullptr},
        {Code, "51 82", nullptr},
        {Code, "   ", nullptr},
        {Code, "5182.0", nullptr},
        {Port, " 7 ", "COM7"},
        {Port, "255", "COM255"},
        {Port, "256", nullptr},
        {Port, "0", nullptr},
        {Port, "COM3", nullptr},
        {Port, " /dev/ttyS0\t", "/dev/ttyS0"},
        {Port, "/dev/tty S0", nullptr},
        {Port, "/dev/tty\xC3\xA9", nullptr},
    };
    for (const Case& c : cases) {
        std::string got = "untouched";
        bool ok = false;
        if (c.reader == Word) {
            const auto v = parseRegisterWord(c.text);
            ok = static_cast<bool>(v);
            if (ok) got = std::to_string(*v);
        } else if (c.reader == Leading) {
            const auto v = parseLeadingWholeNumber(c.text, -2147483647L - 1, 2147483647L);
            ok = static_cast<bool>(v);
            if (ok) got = std::to_string(*v);
        } else if (c.reader == Code) {
            const auto v = parseAccessCode(c.text);
            ok = static_cast<bool>(v);
            if (ok) got = std::to_string(*v);
        } else {
            const auto v = parsePortName(c.text, 1, 255);
            ok = static_cast<bool>(v);
            if (ok) got = *v;
        }
        EXPECT_EQ(ok ? got : "refused", c.value ? c.value : "refused")
            << c.reader << " \"" << c.text << "\"";
        if (!ok && c.reader == Port) {
            EXPECT_EQ(got, "untouched") << c.text;
        }
    }
    EXPECT_EQ(comPortNumber("COM12"), "12");
    EXPECT_EQ(comPortNumber("COM012"), "");  // would read back as COM12
    EXPECT_EQ(comPortNumber("/dev/ttyS0"), "");
}

// A refusal says what the reader takes, in the words the refusal lines use after "takes".
TEST(TypedText, ARefusalSaysWhatTheReaderTakes) {
    EXPECT_EQ(parseWholeNumber("12.0", 0, 100).expected, "a whole number from 0 to 100");
    EXPECT_EQ(parseScaledDecimal("x", 10, -32768, 32767).expected,
              "a number from -3276.8 to 3276.7");
    EXPECT_EQ(parseRegisterWord("65536").expected, "a register value (-32768 to 65535)");
    EXPECT_EQ(parsePortName("COM3", 1, 255).expected, portNameAccepts(1, 255));
    EXPECT_EQ(parseDigits("+1", 65535).expected, "a whole number from 0 to 65535");
    EXPECT_TRUE(parseWholeNumber("7", 0, 100).expected.empty());

    // Digits alone: no sign, no blank, no point, at least one digit.
    struct Case {
        const char* text;
        long value;  // -1: refused
    };
    const Case cases[] = {{"0", 0},         {"000065535", 65535},
                          {"65535", 65535}, {"65536", -1},
                          {"", -1},         {"+1", -1},
                          {" 1", -1},       {"1 ", -1},
                          {"1.0", -1},      {"99999999999999999999", -1}};
    for (const Case& c : cases)
        EXPECT_EQ(parseDigits(c.text, 65535).value.value_or(-1), c.value) << c.text;
}

}  // namespace
}  // namespace kvx
