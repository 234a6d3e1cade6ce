// Typed text on the settings screens against the scripted controller: what is a value is
// written exactly as typed, what is not refuses the whole Change before anything is written,
// and the status line names the field.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "settings/alarm_screens.h"
#include "settings/flow_control_screen.h"
#include "settings/register_screen.h"
#include "tests/support/fake_link.h"

namespace kvx {
namespace {

using test::FakeLink;

constexpr int kRefused = 100000;  // no register value: the text must be refused

int writeCount(const FakeLink& link) {
    int n = 0;
    for (const auto& c : link.calls)
        n += c.kind == 'M' || c.kind == 'W';
    return n;
}

TEST(TypedEntry, ChangeWritesExactValuesAndRefusesTextThatIsNotOne) {
    struct Case {
        const ScreenTable* screen;
        int editId, reference;
        const char* text;
        int raw;  // what the register gets, or kRefused
        const char* named;
    };
    const Case cases[] = {
        // Decimals are read exactly; digits past the field's places are cut.
        {&pressureScheduleScreen(), 1054, 51, "1.15", 115, ""},
        {&pressureScheduleScreen(), 1054, 51, "0.29", 29, ""},
        {&vibrationScheduleScreen(), 1102, 97, "2.01", 2010, ""},
        {&pressureScheduleScreen(), 1083, 41, "12.345", 123, ""},
        {&pressureScheduleScreen(), 1054, 51, "-0.05", -5, ""},
        {&pressureScheduleScreen(), 1083, 41, " 3276.7 ", 32767, ""},
        {&exhaustTemperatureScreen(), 1100, 77, "65535", -1, ""},
        {&substitutionScheduleScreen(), 1098, 32, "15", 150, ""},
        // Not a value of the field's kind, or too big for its register.
        {&vibrationSensorScreen(), 1100, 81, "0.5", kRefused, "Maximum Limit"},
        {&vibrationSensorScreen(), 1100, 81, "", kRefused, "Maximum Limit"},
        {&exhaustTemperatureScreen(), 1100, 77, "70000", kRefused, "Temperature Maximum"},
        {&exhaustTemperatureScreen(), 1100, 77, "-5", kRefused, "Temperature Maximum"},
        {&pressureScheduleScreen(), 1083, 41, "no number", kRefused, "Point 1"},
        {&pressureScheduleScreen(), 1083, 41, "1e2", kRefused, "Point 1"},
        {&pressureScheduleScreen(), 1083, 41, "3.2abc", kRefused, "Point 1"},
        {&pressureScheduleScreen(), 1083, 41, "3276.8", kRefused, "Point 1"},
        {&pressureScheduleScreen(), 1058, 53, "1,5", kRefused, "Point 3"},
        {&substitutionScheduleScreen(), 1097, 33, "7000", kRefused, "Substitution Maximum"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.screen->title) + " " + std::to_string(c.editId) + " \"" +
                     c.text + "\"");
        FakeLink link;
        link.open = true;
        for (int r = 1; r <= 177; ++r)
            link.holding[r] = static_cast<std::int16_t>(r * 10 + 5);
        BlockStore blocks;
        RegisterScreen screen(*c.screen, {link, blocks, 1});
        ASSERT_EQ(screen.readBlocks(), 0);
        screen.initialise();
        link.calls.clear();
        screen.change([&](int id) { return id == c.editId ? c.text : screen.shownText(id); });
        if (c.raw == kRefused) {
            EXPECT_EQ(writeCount(link), 0) << "written: " << link.holding[c.reference];
            EXPECT_EQ(link.holding[c.reference], c.reference * 10 + 5);
            EXPECT_NE(screen.status().find(c.named), std::string::npos) << screen.status();
            EXPECT_EQ(screen.status().find("successfully"), std::string::npos);
        } else {
            EXPECT_EQ(link.holding[c.reference], c.raw);
            // Every other field goes back as it was read.
            for (const ScreenField& f : c.screen->fields) {
                if (f.reference == c.reference) continue;
                EXPECT_EQ(link.holding[f.reference], f.reference * 10 + 5) << f.reference;
            }
        }
    }
}

struct FlowScreen {
    FakeLink link;
    BlockStore blocks;
    FlowControlScreen screen{{link, blocks, 1}};
    FlowScreen() {
        link.open = true;
        for (int r = 1; r <= 177; ++r)
            link.holding[r] = static_cast<std::int16_t>(r * 10 + 5);
        screen.readBlocks();
        screen.initialise();
        link.calls.clear();
    }
};

TEST(TypedEntry, FlowControlRefusesTextThatIsNotAValueOnLeaveAndOnUpdateAll) {
    struct Case {
        int editId, reference;
        const char* text;
        int raw;
        const char* named;
    };
    const Case cases[] = {
        {1128, 107, "12.6", 126, ""},
        {1122, 104, "0.29", 2, ""},  // one place: the rest is cut
        {1123, 105, "12.7", kRefused, "Flow Integral Gain Ki)"},
        {1128, 107, "abc", kRefused, "Low Battery Limit"},
        {1129, 174, "", kRefused, "Minimum RPM"},
        {1100, 108, "70000", kRefused, "Temperature Maximum"},
        {1127, 122, "1e1", kRefused, "Substitution Rate Calculation Method"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.editId) + " \"" + c.text + "\"");
        for (bool all : {false, true}) {
            FlowScreen f;
            if (all)
                f.screen.updateAll(
                    [&](int id) { return id == c.editId ? c.text : f.screen.shownText(id); });
            else
                f.screen.updateField(c.editId, c.text);
            if (c.raw == kRefused) {
                EXPECT_EQ(writeCount(f.link), 0) << (all ? "Update All" : "leave");
                EXPECT_NE(f.screen.status().find(c.named), std::string::npos)
                    << f.screen.status();
            } else {
                EXPECT_EQ(f.link.holding[c.reference], c.raw);
            }
        }
    }
}

TEST(TypedEntry, EmailDelayIsShownAsTheCountItIsAndRefusedWhenNotOne) {
    FakeLink link;
    link.open = true;
    link.holding[140] = static_cast<std::int16_t>(40000);
    BlockStore blocks;
    EmailScreen s({link, blocks, 1});
    ASSERT_EQ(s.readBlock(), 0);
    EXPECT_EQ(s.delayText(), "40000");
    // Untouched, it goes back as it was read.
    EXPECT_TRUE(s.saveAndClose(s.delayText()));
    EXPECT_EQ(static_cast<std::uint16_t>(link.holding[140]), 40000);

    for (const char* text : {"abc", "", "-1", "65536", "2.5"}) {
        link.calls.clear();
        EXPECT_FALSE(s.saveAndClose(text)) << text;
        EXPECT_EQ(writeCount(link), 0) << text;
        EXPECT_NE(s.status().find("Alarm delay timer"), std::string::npos) << s.status();
    }
}

}  // namespace
}  // namespace kvx
