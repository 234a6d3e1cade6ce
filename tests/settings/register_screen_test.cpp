// The register-screen pattern against a scripted controller: parse and show rules, each
// screen's reads and writes, status texts and the save command.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "model/setting_registers.h"
#include "model/typed_text.h"
#include "settings/flow_control_screen.h"
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
    constexpr int kRefused = 100000;
    struct Case {
        const ScreenTable* screen;
        int editId;
        const char* text;
        int raw;  // or kRefused
    };
    const Case cases[] = {
        {&pressureScheduleScreen(), 1083, "12.345", 123},    // x 10, cut
        {&pressureScheduleScreen(), 1054, "-0.05", -5},      // x 100 toward zero
        {&pressureScheduleScreen(), 1083, "1e2", kRefused},  // no exponents
        {&pressureScheduleScreen(), 1054, "0.29", 29},       // exact, not 28.999...
        {&pressureScheduleScreen(), 1054, "2.5", 250},       //
        {&pressureScheduleScreen(), 1083, "no number", kRefused},
        {&pressureScheduleScreen(), 1083, "  3.2abc", kRefused},
        {&pressureScheduleScreen(), 1083, "1234.5678", 12345},  // the whole text, cut at one place
        {&pressureScheduleScreen(), 1083, "-3276.8", -32768},   // the register's ends
        {&pressureScheduleScreen(), 1083, "-3276.9", kRefused},
        {&vibrationScheduleScreen(), 1102, "2.01", 2010},         // x 1000, exact
        {&vibrationScheduleScreen(), 1102, "0.35", 350},          //
        {&exhaustTemperatureScreen(), 1100, "70000", kRefused},   // does not fit
        {&exhaustTemperatureScreen(), 1100, "65535", -1},         //
        {&exhaustTemperatureScreen(), 1100, "-5", kRefused},      // not unsigned
        {&vibrationSensorScreen(), 1100, "0.5", kRefused},        // raw counts only
        {&exhaustTemperatureScreen(), 1100, "1300", 1300},        // the range text is not checked
        {&substitutionScheduleScreen(), 1097, "7000", kRefused},  // x 10 does not fit
        {&substitutionScheduleScreen(), 1098, "15", 150},         //
        {&substitutionScheduleScreen(), 1093, "12.34", 123},      //
    };
    for (const Case& c : cases) {
        std::int16_t v = 7;
        const bool ok = enterField(fieldOf(*c.screen, c.editId), c.text, v);
        EXPECT_EQ(ok ? v : kRefused, c.raw)
            << c.screen->title << " " << c.editId << " \"" << c.text << "\"";
    }
}

TEST(SettingsEntry, RefusalsNameTheFieldAndWhatItTakes) {
    EXPECT_EQ(fieldAccepts(fieldOf(vibrationSensorScreen(), 1100)),
              "a whole number from 0 to 65535");
    EXPECT_EQ(fieldAccepts(fieldOf(pressureScheduleScreen(), 1054)),
              "a number from -327.68 to 327.67");
    EXPECT_EQ(fieldAccepts(fieldOf(substitutionScheduleScreen(), 1097)),
              "a whole number from 0 to 6553");
    EXPECT_EQ(refusalText("Maximum Limit", "0.5", "a whole number from 0 to 65535"),
              "\"Maximum Limit\" takes a whole number from 0 to 65535, not \"0.5\". Nothing was "
              "written.");
    EXPECT_EQ(
        refusalText("Substitution Rate \nCalculation Method", " ", "x"),
        "\"Substitution Rate Calculation Method\" is empty; it takes x. Nothing was written.");
    EXPECT_EQ(refusalText("F", "a\x01\xC3", "x"),
              "\"F\" takes x, not \"a\\x01\\xC3\". Nothing was written.");
}

TEST(SettingsEntry, DecimalsAreReadDigitByDigit) {
    struct Case {
        const char* text;
        int scale;
        long value;  // kNo: refused
    };
    constexpr long kNo = -99999999;
    const Case cases[] = {
        {"12.6", 10, 126},
        {"0.29", 100, 29},
        {"1.15", 100, 115},
        {"2.01", 1000, 2010},
        {"15.5", 10, 155},
        {"-5", 1, -5},
        {"+5", 1, 5},
        {".5", 10, 5},
        {"5.", 10, 50},
        {" 7 ", 1, 7},
        {"x", 10, kNo},
        {"1e2", 10, kNo},
        {".", 10, kNo},
        {"", 10, kNo},
        {"- 5", 1, kNo},
        {"1.2.3", 10, kNo},
        {"0x10", 1, kNo},
        {"inf", 1, kNo},
        {"1,5", 10, kNo},
        {"32767", 1, 32767},
        {"32768", 1, kNo},
        {"-32768", 1, -32768},
        {"99999999999999999999999", 1, kNo},
        {"0.000000000000000000001", 10, 0},
    };
    for (const Case& c : cases) {
        const long v = parseScaledDecimal(c.text, c.scale, -32768, 32767).value.value_or(kNo);
        EXPECT_EQ(v, c.value) << "\"" << c.text << "\" x " << c.scale;
    }
    EXPECT_FALSE(parseWholeNumber("12.0", 0, 100));  // a whole-number field takes no point
    const Parsed<long> v = parseWholeNumber("\t12\n", 0, 100);
    EXPECT_TRUE(v);
    EXPECT_EQ(*v, 12);
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
            // The field is shown and typed by the screen's row itself, not a copy of it.
            EXPECT_EQ(f.setting, reg) << f.reference;
            EXPECT_STREQ(f.label, reg->label) << f.reference;
            bool inBlock = false;
            for (const BlockRange& b : s->readOrder)
                inBlock = inBlock || b.contains(f.reference);
            EXPECT_TRUE(inBlock) << s->title << " " << f.reference;
        }
    }
    for (const ScreenField& f : flowControlFields()) {
        ASSERT_NE(f.setting, nullptr) << f.reference;
        EXPECT_EQ(f.setting, findSettingRegister(SettingsScreen::FlowControl, f.reference));
        EXPECT_STREQ(f.label, f.setting->label) << f.reference;
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
        std::int16_t expected = 0;
        ASSERT_TRUE(enterField(first, "7", expected));
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
        o.link.failWrite[76] = fails;
        o.typed[1100] = "1300";
        o.change();
        const int reported = o.screen->toFollow().ranges.exhaustTempAvgShutdownMax.value_or(-1);
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
