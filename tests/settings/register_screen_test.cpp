// The register-screen pattern against a scripted controller: parse and show rules, each
// screen's reads and writes, status texts and the save command.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "model/setting_registers.h"
#include "settings/register_screen.h"
#include "settings/settings_texts.h"
#include "tests/support/fake_link.h"

namespace kvx {
namespace {

using test::FakeLink;
using test::LinkCall;
namespace t = settings_text;

const ScreenField& fieldOf(const ScreenTable& table, int editId) {
    for (const ScreenField& f : table.fields) {
        if (f.editId == editId) return f;
    }
    throw std::runtime_error("no field");
}

TEST(SettingsEntry, TypedTextBecomesTheRawValueByTheFieldsRule) {
    struct Case {
        const ScreenTable* screen;
        int editId;
        const char* text;
        std::int16_t raw;
    };
    const Case cases[] = {
        {&pressureScheduleScreen(), 1083, "12.345", 123},       // x 10, truncated
        {&pressureScheduleScreen(), 1054, "-0.05", -5},         // x 100 toward zero
        {&pressureScheduleScreen(), 1083, "1e2", 1000},         //
        {&pressureScheduleScreen(), 1054, "0.29", 28},          // 28.999... truncated
        {&pressureScheduleScreen(), 1054, "2.5", 250},          //
        {&pressureScheduleScreen(), 1083, "no number", 0},      //
        {&pressureScheduleScreen(), 1083, "  3.2abc", 32},      // stops at the first non-digit
        {&pressureScheduleScreen(), 1083, "1234.5678", 12345},  // cut to 8 characters
        {&vibrationScheduleScreen(), 1102, "2.01", 2009},       // x 1000, 2009.99... truncated
        {&vibrationScheduleScreen(), 1102, "0.35", 350},        //
        {&exhaustTemperatureScreen(), 1100, "70000", 4464},     // low 16 bits
        {&exhaustTemperatureScreen(), 1100, "65535", -1},       //
        {&exhaustTemperatureScreen(), 1100, "-5", 0},           // not unsigned
        {&vibrationSensorScreen(), 1100, "0.5", 0},             // raw counts only
        {&exhaustTemperatureScreen(), 1100, "1300", 1300},      // the range text is not checked
        {&substitutionScheduleScreen(), 1097, "7000", 4464},    // x 10 after the low 16 bits
        {&substitutionScheduleScreen(), 1098, "15", 150},       //
        {&substitutionScheduleScreen(), 1093, "12.34", 123},    //
    };
    for (const Case& c : cases) {
        EXPECT_EQ(enterField(fieldOf(*c.screen, c.editId), c.text), c.raw)
            << c.screen->title << " " << c.editId << " \"" << c.text << "\"";
    }
}

TEST(SettingsEntry, SingleFieldUpdatesReadNineCharactersInSinglePrecision) {
    struct Case {
        const char* text;
        int scale;
        std::int16_t raw;
    };
    const Case cases[] = {
        {"12.6", 10, 126},
        {"0.29", 10, 2},
        {"15.5", 10, 155},
        {"12.7", 1, 12},
        {"-5", 1, -5},
        {"70000", 1, 4464},
        {"x", 10, 0},
        {"1e2", 10, 1000},
        // 123456789 is 123456792 in single precision; the tenth character is cut.
        {"123456789", 1, -13032},
        {"1234567890", 1, -13032},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parseSingleScaledEntry(c.text, c.scale), c.raw) << c.text;
}

TEST(SettingsShow, RawValuesAreShownByTheFieldsRule) {
    struct Case {
        const ScreenTable* screen;
        int editId;
        std::int16_t raw;
        const char* text;
    };
    const Case cases[] = {
        {&pressureScheduleScreen(), 1083, 1234, "123.4"},
        {&pressureScheduleScreen(), 1054, 250, "2.500"},
        {&pressureScheduleScreen(), 1083, -1, "-0.1"},
        {&substitutionScheduleScreen(), 1093, 1234, "123.400"},
        {&substitutionScheduleScreen(), 1097, 155, "15"},
        {&substitutionScheduleScreen(), 1098, -15, "-1"},
        {&vibrationScheduleScreen(), 1102, 350, "0.350"},
        {&exhaustTemperatureScreen(), 1100, -1, "-1"},
        {&vibrationSensorScreen(), 1100, 812, "812"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(showField(fieldOf(*c.screen, c.editId), c.raw), c.text) << c.editId;
}

TEST(SettingsScreens, FieldRulesAgreeWithTheSettingsRegisterTable) {
    for (const ScreenTable* s : registerScreens()) {
        for (const ScreenField& f : s->fields) {
            const SettingRegister* reg = nullptr;
            for (const SettingRegister& r : settingRegisters(s->screen))
                if (r.reference == f.reference) reg = &r;
            ASSERT_NE(reg, nullptr) << s->title << " " << f.reference;
            EXPECT_EQ(reg->shown, f.shown) << f.reference;
            EXPECT_EQ(reg->entered, f.entered) << f.reference;
            EXPECT_EQ(reg->entryScale, f.entryScale) << f.reference;
            if (f.shown == ShowRule::Scaled) {
                EXPECT_EQ(reg->showFactor, f.showFactor) << f.reference;
                EXPECT_STREQ(reg->format, f.format) << f.reference;
            }
            bool inBlock = false;
            for (const BlockRange& b : s->readOrder)
                inBlock = inBlock || b.contains(f.reference);
            EXPECT_TRUE(inBlock) << s->title << " " << f.reference;
        }
    }
}

// One screen opened against the scripted controller.
struct Opened {
    FakeLink link;
    BlockStore blocks;
    std::unique_ptr<RegisterScreen> screen;
    std::map<int, std::string> typed;

    explicit Opened(const ScreenTable& table, std::map<int, std::int16_t> regs = {}) {
        link.open = true;
        for (int r = 1; r <= 177; ++r)
            link.holding[r] = static_cast<std::int16_t>(r * 3 + 1);  // odd tenths everywhere
        for (auto [r, v] : regs)
            link.holding[r] = v;
        screen = std::make_unique<RegisterScreen>(table, SettingsContext{link, blocks, 1});
    }
    int open() {
        const int r = screen->readBlocks();
        if (r == 0) screen->initialise();
        link.calls.clear();
        return r;
    }
    void change() {
        screen->change([this](int id) {
            auto it = typed.find(id);
            return it != typed.end() ? it->second : screen->shownText(id);
        });
    }
    std::vector<LinkCall> writes() const {
        std::vector<LinkCall> w;
        for (const LinkCall& c : link.calls)
            if (c.kind == 'M' || c.kind == 'W') w.push_back(c);
        return w;
    }
};

TEST(SettingsScreens, OpeningReadsTheBlocksInOrderAndChangeWritesThemBackWhole) {
    struct Case {
        const ScreenTable* screen;
        std::vector<std::pair<int, int>> reads;   // first, count
        std::vector<std::pair<int, int>> writes;  // first, count
    };
    const Case cases[] = {
        {&pressureScheduleScreen(), {{41, 22}, {90, 2}}, {{41, 22}}},
        {&substitutionScheduleScreen(), {{61, 8}, {32, 2}, {90, 2}}, {{32, 2}, {61, 8}}},
        {&exhaustTemperatureScreen(), {{76, 4}}, {{76, 4}}},
        {&vibrationSensorScreen(), {{80, 4}}, {{80, 4}}},
        {&vibrationScheduleScreen(), {{93, 8}}, {{93, 8}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.screen->title);
        Opened o(*c.screen);
        ASSERT_EQ(o.screen->readBlocks(), 0);
        o.screen->initialise();
        std::vector<std::pair<int, int>> reads;
        for (const LinkCall& call : o.link.calls)
            reads.emplace_back(call.ref, call.count);
        EXPECT_EQ(reads, c.reads);
        o.link.calls.clear();

        // Untouched: every register goes back exactly as read, shown or not.
        o.change();
        std::vector<std::pair<int, int>> writes;
        for (const LinkCall& call : o.writes()) {
            ASSERT_EQ(call.kind, 'M');
            writes.emplace_back(call.ref, call.count);
            for (int i = 0; i < call.count; ++i)
                EXPECT_EQ(call.values[i], (call.ref + i) * 3 + 1) << "reference " << call.ref + i;
        }
        EXPECT_EQ(writes, c.writes);
        EXPECT_EQ(o.screen->status(), t::kUpdated);

        // Typed: the first field takes the typed value, its neighbours stay as read.
        const ScreenField& first = c.screen->fields.front();
        o.typed[first.editId] = "7";
        o.link.calls.clear();
        o.change();
        const std::int16_t expected = enterField(first, "7");
        EXPECT_EQ(o.link.holding[first.reference], expected);
        EXPECT_EQ(o.link.holding[first.reference + 1], (first.reference + 1) * 3 + 1);
        EXPECT_EQ(o.writes().size(), c.writes.size());
    }
}

TEST(SettingsScreens, AnUntouchedQuotientFieldKeepsItsTenths) {
    Opened o(substitutionScheduleScreen(), {{33, 155}, {32, 47}});
    ASSERT_EQ(o.open(), 0);
    EXPECT_EQ(o.screen->shownText(1097), "15");
    o.change();
    EXPECT_EQ(o.link.holding[33], 155);
    EXPECT_EQ(o.link.holding[32], 47);
    o.typed[1097] = "16";
    o.change();
    EXPECT_EQ(o.link.holding[33], 160);
    // Typed back to the text it was shown with: the value it was shown from.
    o.typed[1097] = "15";
    o.change();
    EXPECT_EQ(o.link.holding[33], 155);
}

TEST(SettingsScreens, ReadFailureStopsTheOpeningAndLeavesZeros) {
    for (const ScreenTable* s : registerScreens()) {
        for (const BlockRange& failing : s->readOrder) {
            SCOPED_TRACE(std::string(s->title) + " " + std::to_string(failing.first));
            Opened o(*s);
            o.link.failHolding[failing.first] = true;
            EXPECT_NE(o.screen->readBlocks(), 0);
            EXPECT_EQ(o.blocks.block(failing).values, std::vector<std::int16_t>(failing.count, 0));
            EXPECT_FALSE(o.blocks.block(failing).read);
        }
    }
}

TEST(SettingsScreens, StatusTextsForWritesAndSaves) {
    for (const ScreenTable* s : registerScreens()) {
        SCOPED_TRACE(s->title);
        for (const BlockRange& failing : s->writeOrder) {
            Opened o(*s);
            ASSERT_EQ(o.open(), 0);
            o.link.failWrite[failing.first] = true;
            o.change();
            EXPECT_EQ(o.screen->status(), t::kUpdateFailed);
            // Every block is still tried.
            EXPECT_EQ(o.writes().size(), s->writeOrder.size());
        }
        Opened o(*s);
        ASSERT_EQ(o.open(), 0);
        EXPECT_TRUE(o.screen->save());
        ASSERT_EQ(o.writes().size(), 1u);
        EXPECT_EQ(o.writes()[0].kind, 'W');
        EXPECT_EQ(o.writes()[0].ref, 7);
        EXPECT_EQ(o.writes()[0].count, 4660);
        o.link.failWrite[7] = true;
        EXPECT_FALSE(o.screen->save());
        EXPECT_EQ(o.screen->status(), s->saveFailure);
    }
    EXPECT_STREQ(pressureScheduleScreen().saveFailure, "Communication time-out!");
    EXPECT_STREQ(substitutionScheduleScreen().saveFailure, "Communication time-out!");
    EXPECT_STREQ(exhaustTemperatureScreen().saveFailure, "Failed to save new settings.");
    EXPECT_STREQ(vibrationSensorScreen().saveFailure, "Failed to save new settings.");
    EXPECT_STREQ(vibrationScheduleScreen().saveFailure, "Communication time-out!");
}

TEST(SettingsScreens, LoadHeadingsFollowTheIndicatorType) {
    struct Case {
        const ScreenTable* screen;
        std::int16_t indicator;
        bool readFails;
        const char* heading;
        const char* unit;
        const char* status;
    };
    const Case cases[] = {
        {&pressureScheduleScreen(), 2, false, "HP Set point", "( HP )", ""},
        {&pressureScheduleScreen(), 1, false, "Load Set point", "( kW )", ""},
        {&pressureScheduleScreen(), 2, true, "Load Set point", "( kW )",
         "Failed to indicator type."},
        {&substitutionScheduleScreen(), 2, false, "HP Set point", "( HP )", ""},
        {&substitutionScheduleScreen(), 3, false, "Load Set point", "( kW )", ""},
        {&substitutionScheduleScreen(), 2, true, "Load Set point", "( kW )",
         "Failed to read indicator type."},
        {&vibrationScheduleScreen(), 2, false, "Load Set point", "( kW )", ""},
    };
    for (const Case& c : cases) {
        Opened o(*c.screen, {{90, c.indicator}, {41, 1234}});
        o.link.failHolding[90] = c.readFails;
        ASSERT_EQ(o.open(), 0);
        EXPECT_EQ(o.screen->columnHeading(0, false), c.heading) << c.screen->title;
        EXPECT_EQ(o.screen->columnHeading(0, true), c.unit);
        EXPECT_EQ(o.screen->status(), c.status);
        if (c.screen == &pressureScheduleScreen()) {
            EXPECT_EQ(o.screen->shownText(1083), "123.4");
        }
    }
}

TEST(SettingsScreens, ExhaustScreenReportsTheNewMaximumWhateverTheWriteReturned) {
    for (bool fails : {false, true}) {
        Opened o(exhaustTemperatureScreen());
        ASSERT_EQ(o.open(), 0);
        int reported = -1;
        o.screen->afterChange = [&](const RegisterScreen& s) { reported = s.value(77); };
        o.link.failWrite[76] = fails;
        o.typed[1100] = "1300";
        o.change();
        EXPECT_EQ(reported, 1300);
        EXPECT_EQ(o.screen->status(), fails ? t::kUpdateFailed : t::kUpdated);
    }
}

TEST(SettingsScreens, BlocksKeepTheirValuesBetweenOpenings) {
    FakeLink link;
    link.open = true;
    link.holding[77] = 900;
    BlockStore blocks;
    {
        RegisterScreen s(exhaustTemperatureScreen(), {link, blocks, 1});
        ASSERT_EQ(s.readBlocks(), 0);
    }
    link.silent = true;
    RegisterScreen again(exhaustTemperatureScreen(), {link, blocks, 1});
    EXPECT_EQ(again.value(77), 900);
}

}  // namespace
}  // namespace kvx
