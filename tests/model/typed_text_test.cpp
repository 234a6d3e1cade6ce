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
            std::int16_t v = 0;
            ok = parseRegisterWord(c.text, v);
            if (ok) got = std::to_string(v);
        } else if (c.reader == Leading) {
            long v = 0;
            ok = parseLeadingWholeNumber(c.text, -2147483647L - 1, 2147483647L, v);
            if (ok) got = std::to_string(v);
        } else if (c.reader == Code) {
            std::uint32_t v = 0;
            ok = parseAccessCode(c.text, v);
            if (ok) got = std::to_string(v);
        } else {
            ok = parsePortName(c.text, 1, 255, got);
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

}  // namespace
}  // namespace kvx
