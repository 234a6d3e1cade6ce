#include "sim/controller_engine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/registers.h"

namespace kvx::sim {
namespace {

std::int16_t holdingByName(const ControllerEngine& e, const char* name) {
    const int ref = findParameter(name);
    EXPECT_NE(ref, 0) << name;
    return e.holding(ref);
}

TEST(EngineRegisters, IdentityAndRangesMakeSense) {
    EngineConfig cfg;
    cfg.firmware = 113;
    cfg.slave = 7;
    cfg.serialNumber = 555;
    ControllerEngine e(cfg);
    EXPECT_EQ(holdingByName(e, "version"), 113);
    EXPECT_EQ(holdingByName(e, "serial_number"), 555);
    EXPECT_EQ(holdingByName(e, "modbus_address"), 7);
    EXPECT_EQ(e.slaveAddress(), 7);
    EXPECT_EQ(holdingByName(e, "indicator_type"), 1);
    EXPECT_LT(holdingByName(e, "load_min"), holdingByName(e, "load_max"));
    EXPECT_LT(holdingByName(e, "pressure_min"), holdingByName(e, "pressure_max"));
    EXPECT_LT(holdingByName(e, "vibrat_min"), holdingByName(e, "vibrat_max"));
    EXPECT_GT(holdingByName(e, "fuel_flow_max"), 0);
    EXPECT_GT(holdingByName(e, "overspeed"), 1800);
    EXPECT_GT(holdingByName(e, "exhaust_temp_avg_shutdown_max"), 600);
    // Schedules in increasing order, as the schedule screens expect.
    for (const char* prefix : {"load_sp", "pressure_sp"}) {
        for (int i = 0; i < 9; ++i) {
            const std::string a = prefix + std::to_string(i), b = prefix + std::to_string(i + 1);
            EXPECT_LT(holdingByName(e, a.c_str()), holdingByName(e, b.c_str())) << a;
        }
    }
    for (int ref = 61; ref < 64; ++ref)
        EXPECT_LT(e.holding(ref), e.holding(ref + 1)) << ref;
    for (int ref = 65; ref < 68; ++ref)
        EXPECT_LT(e.holding(ref), e.holding(ref + 1)) << ref;
}

TEST(EngineRegisters, MapFollowsTheFirmware) {
    struct Case {
        int firmware, holdingTop, inputTop;
    };
    for (const Case c :
         {Case{100, 93, 44}, Case{105, 93, 54}, Case{106, 114, 86}, Case{110, 152, 86},
          Case{113, 152, 117}, Case{115, 174, 117}, Case{117, 177, 117}}) {
        EngineConfig cfg;
        cfg.firmware = c.firmware;
        ControllerEngine e(cfg);
        std::vector<std::int16_t> buf(125);
        SCOPED_TRACE(c.firmware);
        // What the viewer reads at connection: identity and the two range blocks.
        EXPECT_EQ(e.readHolding(1, 4, buf.data(), 0), 0);
        EXPECT_EQ(e.readHolding(23, 10, buf.data(), 0), 0);
        EXPECT_EQ(e.readHolding(76, 18, buf.data(), 0), 0);
        EXPECT_EQ(e.readHolding(c.holdingTop, 1, buf.data(), 0), 0);
        EXPECT_EQ(e.readHolding(c.holdingTop, 2, buf.data(), 0), kIllegalAddress);
        EXPECT_EQ(e.readInput(1, 44, buf.data(), 0), 0);
        EXPECT_EQ(e.readInput(c.inputTop, 1, buf.data(), 0), 0);
        EXPECT_EQ(e.readInput(c.inputTop + 1, 1, buf.data(), 0), kIllegalAddress);
        EXPECT_EQ(e.readInput(201, 40, buf.data(), 0), 0);
        EXPECT_EQ(e.readInput(200, 2, buf.data(), 0), kIllegalAddress);
        EXPECT_EQ(e.readInput(240, 2, buf.data(), 0), kIllegalAddress);
    }
}

TEST(EngineLive, RunsLikeADualFuelEngine) {
    ControllerEngine e;
    e.advanceTo(0);
    EXPECT_LT(e.input(35), 100);  // standing at power up
    e.advanceTo(60000);
    const int speed = e.input(35);
    EXPECT_NEAR(speed, 1800, 30);
    EXPECT_TRUE(e.gasOn());
    EXPECT_EQ(e.input(34), 2);  // A/F control with gas on
    EXPECT_EQ(e.input(61), 2);
    EXPECT_GT(e.input(25), 100);  // substitution above 10 %
    EXPECT_LE(e.input(25), e.holding(33));
    EXPECT_GT(e.input(68), 0);              // gas flow
    EXPECT_GT(e.input(12), e.holding(23));  // load within its range
    EXPECT_LT(e.input(12), e.holding(24));
    EXPECT_NEAR(e.input(52), e.input(12) * 1.341, 2);  // horsepower from the same load
    EXPECT_NEAR(e.input(29), e.input(28), 40);         // feedback follows its set-point
    EXPECT_NEAR(e.input(56), e.input(55), 40);
    EXPECT_GT(e.input(32), 0);
    EXPECT_GT(e.input(9), 400);
    EXPECT_LT(e.input(9), e.holding(77));
    EXPECT_GE(e.input(42), e.input(14));  // running maximum
    EXPECT_EQ(e.input(16), 0);
    EXPECT_EQ(e.input(18), 0);
    EXPECT_EQ(e.input(66), 1);
    EXPECT_EQ(e.input(40), 0);

    // Load cycles and the fuels follow it: more load, more diesel with the same schedule.
    int minLoad = 32767, maxLoad = 0, dieselAtMin = 0, dieselAtMax = 0;
    for (std::int64_t t = 60000; t < 240000; t += 1000) {
        e.advanceTo(t);
        if (e.input(12) < minLoad) minLoad = e.input(12), dieselAtMin = e.input(37);
        if (e.input(12) > maxLoad) maxLoad = e.input(12), dieselAtMax = e.input(37);
        EXPECT_GE(e.input(42), e.input(14));
    }
    EXPECT_GT(maxLoad - minLoad, 2000);
    EXPECT_GT(dieselAtMax, dieselAtMin);
}

TEST(EngineLive, DeterministicFromSeedAndTime) {
    EngineConfig a, b;
    b.seed = 2;
    ControllerEngine one(a), again(a), other(b);
    // Asked at different moments on the way, the same seed ends in the same registers.
    for (std::int64_t t = 0; t <= 90000; t += 7000)
        one.advanceTo(t);
    one.advanceTo(90000);
    again.advanceTo(90000);
    other.advanceTo(90000);
    bool differs = false;
    for (int ref = 1; ref <= 117; ++ref) {
        EXPECT_EQ(one.input(ref), again.input(ref)) << ref;
        differs |= one.input(ref) != other.input(ref);
    }
    EXPECT_TRUE(differs);
}

TEST(EngineCommands, SaveAcknowledgeEmergencyStopAndAddress) {
    EngineConfig cfg;
    cfg.scenario = Scenario::overspeed;
    ControllerEngine e(cfg);
    const std::int16_t cmd = 0x1234;
    EXPECT_EQ(e.writeHolding(7, &cmd, 1, 1000), 0);
    EXPECT_EQ(e.writeHolding(7, &cmd, 1, 1000), 0);
    const std::int16_t other = 5;
    EXPECT_EQ(e.writeHolding(7, &other, 1, 1000), 0);  // not the command word: no save
    EXPECT_EQ(e.saveCount(), 2);

    e.advanceTo(50000);  // the overspeed surge has come and latched its alarm
    EXPECT_EQ(e.input(18) & 0x0020, 0x0020);
    EXPECT_FALSE(e.gasOn());
    EXPECT_EQ(e.writeHolding(69, &other, 1, 80000), 0);
    EXPECT_NE(e.input(18), 0);  // only the command word acknowledges
    EXPECT_EQ(e.writeHolding(69, &cmd, 1, 80000), 0);
    EXPECT_EQ(e.input(18), 0);
    EXPECT_EQ(e.holding(69), 0);
    e.advanceTo(100000);
    EXPECT_TRUE(e.gasOn());  // re-armed once nothing inhibits it

    const std::int16_t on = 1, off = 0;
    EXPECT_EQ(e.writeHolding(34, &on, 1, 100000), 0);
    EXPECT_EQ(e.input(16), 1);
    EXPECT_FALSE(e.gasOn());
    EXPECT_EQ(e.input(68), 0);
    EXPECT_EQ(e.events().event(0).word, 0x1000);  // local shutoff recorded
    e.advanceTo(130000);
    EXPECT_FALSE(e.gasOn());
    EXPECT_EQ(e.writeHolding(34, &off, 1, 130000), 0);
    EXPECT_EQ(e.input(16), 0);
    e.advanceTo(150000);
    EXPECT_TRUE(e.gasOn());

    const std::int16_t address = 9;
    EXPECT_EQ(e.writeHolding(4, &address, 1, 150000), 0);
    EXPECT_EQ(e.slaveAddress(), 9);
    for (std::int16_t bad : {std::int16_t{0}, std::int16_t{248}, std::int16_t{-1}}) {
        EXPECT_EQ(e.writeHolding(4, &bad, 1, 150000), kIllegalValue);
        EXPECT_EQ(e.slaveAddress(), 9);
    }
    // A refused block write changes nothing, not even its other registers.
    const std::int16_t block[3] = {77, 0, 1};
    EXPECT_EQ(e.writeHolding(3, block, 3, 150000), kIllegalValue);
    EXPECT_NE(e.holding(3), 77);
    EXPECT_EQ(e.writeHolding(2, &on, 1, 150000), kIllegalAddress);  // firmware version
    EXPECT_EQ(e.holding(2), 117);
}

TEST(EngineScenarios, RaiseTheirAlarmsAndInputs) {
    struct Case {
        Scenario scenario;
        std::uint16_t bit;
    };
    for (const Case c :
         {Case{Scenario::overspeed, 0x0020}, Case{Scenario::highExhaust, 0x0010},
          Case{Scenario::lowSupply, 0x0001}, Case{Scenario::highVibration, 0x0080}}) {
        EngineConfig cfg;
        cfg.scenario = c.scenario;
        ControllerEngine e(cfg);
        SCOPED_TRACE(scenarioName(c.scenario));
        e.advanceTo(44000);
        EXPECT_EQ(e.alarmWord(), 0);
        e.advanceTo(75000);
        EXPECT_EQ(e.alarmWord(), c.bit);
        EXPECT_EQ(e.input(18), static_cast<std::int16_t>(c.bit));
        EXPECT_FALSE(e.gasOn());
        EXPECT_EQ(e.events().event(0).word, c.bit);
    }
    EngineConfig cfg;
    cfg.scenario = Scenario::externalShutoff;
    ControllerEngine e(cfg);
    e.advanceTo(50000);
    EXPECT_EQ(e.input(66), 0);
    EXPECT_FALSE(e.gasOn());
    EXPECT_EQ(e.alarmWord(), 0);
    EXPECT_EQ(e.events().event(0).word, 0x2000);
    e.advanceTo(100000);
    EXPECT_EQ(e.input(66), 1);
    EXPECT_TRUE(e.gasOn());

    cfg.scenario = Scenario::ecuLoss;
    ControllerEngine ecu(cfg);
    ecu.advanceTo(50000);
    EXPECT_EQ(ecu.input(40), 1);
    EXPECT_EQ(ecu.input(34), -4);
}

TEST(EngineCommands, ClockRegistersSetTheClock) {
    ControllerEngine e;  // 2026-01-01 08:00, a Thursday
    e.advanceTo(1000);
    EXPECT_EQ(e.holding(153), 8);
    EXPECT_EQ(e.holding(154), 4);
    // 2027-03-15 17:42 (a Monday), written as a block.
    const std::int16_t clock[6] = {42, 17, 0, 15, 3, 27};
    ASSERT_EQ(e.writeHolding(152, clock, 6, 1000), 0);
    EXPECT_EQ(e.holding(152), 42);
    EXPECT_EQ(e.holding(154), 1);
    EXPECT_EQ(e.holding(157), 27);
    e.advanceTo(61000);
    EXPECT_EQ(e.holding(152), 43);  // and it keeps running
    const std::int16_t hour = 6;
    ASSERT_EQ(e.writeHolding(153, &hour, 1, 61000), 0);
    EXPECT_EQ(e.holding(153), 6);
    EXPECT_EQ(e.holding(155), 15);
    // Out of range fields are refused and change nothing.
    const std::int16_t feb30[2] = {30, 2};
    EXPECT_EQ(e.writeHolding(155, feb30, 2, 61000), kIllegalValue);
    const std::int16_t badHour = 24;
    EXPECT_EQ(e.writeHolding(153, &badHour, 1, 61000), kIllegalValue);
    EXPECT_EQ(e.holding(153), 6);
    EXPECT_EQ(e.holding(156), 3);
    // Events are stamped with the controller's clock.
    const std::int16_t on = 1;
    ASSERT_EQ(e.writeHolding(34, &on, 1, 61000), 0);
    const CalendarTime t = calendarFromSeconds(e.events().event(0).when);
    EXPECT_EQ(t.year, 2027);
    EXPECT_EQ(t.hour, 6);
    EXPECT_EQ(secondsFromCalendar(t), e.events().event(0).when);
}

// The last day of each month, and one past it, with February by the year.
TEST(EngineCommands, ClockDatesFollowTheCalendar) {
    struct Case {
        int day, month, year;  // year: two digits, as the register holds it
        bool accepted;
    };
    const Case cases[] = {
        {29, 2, 28, true}, {29, 2, 30, false}, {29, 2, 0, true},   {29, 2, 1, false},
        {28, 2, 30, true}, {30, 2, 28, false}, {31, 1, 30, true},  {32, 1, 30, false},
        {30, 4, 30, true}, {31, 4, 30, false}, {31, 12, 99, true}, {31, 11, 30, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.year) + "-" + std::to_string(c.month) + "-" +
                     std::to_string(c.day));
        ControllerEngine e;
        const std::int16_t clock[6] = {0,
                                       12,
                                       0,
                                       static_cast<std::int16_t>(c.day),
                                       static_cast<std::int16_t>(c.month),
                                       static_cast<std::int16_t>(c.year)};
        ASSERT_EQ(e.writeHolding(152, clock, 6, 1000), c.accepted ? 0 : kIllegalValue);
        // What was accepted reads back as written; a refused date leaves the clock alone.
        EXPECT_EQ(e.holding(155), c.accepted ? c.day : 1);
        EXPECT_EQ(e.holding(156), c.accepted ? c.month : 1);
        EXPECT_EQ(e.holding(157), c.accepted ? c.year : 26);
    }
}

TEST(EventHistory, EncodesDatesTimesAndWords) {
    // 2014-12-31 13:07:40 is the viewer's own example: 12/31/14, 13:7.5.
    EventHistory h;
    const std::int64_t when = 1420031260;
    h.push(0x0021, when);
    const auto w = h.registers();
    EXPECT_EQ(w[0], 0x0021);
    EXPECT_EQ(static_cast<std::uint16_t>(w[10]), 0x0C1F);
    EXPECT_EQ(w[11], 14);
    EXPECT_EQ(static_cast<std::uint16_t>(w[30]), 0x1A3D);
    EXPECT_EQ(w[1], 0);  // no second event yet
    EXPECT_EQ(w[12], 0);

    const CalendarTime leap = calendarFromSeconds(951782400);  // 2000-02-29
    EXPECT_EQ(leap.year, 2000);
    EXPECT_EQ(leap.month, 2);
    EXPECT_EQ(leap.day, 29);
    EXPECT_EQ(leap.weekday, 2);
}

TEST(EventHistory, StartsWithAStoryAndKeepsTheNewestTen) {
    ControllerEngine e;  // 2026-01-01 08:00
    const auto& ev = e.events();
    EXPECT_EQ(ev.event(0).word, 0x0800);  // this power up
    std::uint16_t seen = 0;
    for (int i = 0; i < EventHistory::kEvents; ++i) {
        seen |= ev.event(i).word;
        if (i > 0) {
            EXPECT_LE(ev.event(i).when, ev.event(i - 1).when);
        }
    }
    EXPECT_EQ(seen & 0x0800, 0x0800);  // power up
    EXPECT_EQ(seen & 0x4000, 0x4000);  // gas on
    EXPECT_NE(seen & 0x00FF, 0);       // an alarm
    EXPECT_NE(seen & 0x3000, 0);       // a shutoff
    e.advanceTo(30000);
    EXPECT_EQ(ev.event(0).word, 0x4000);  // gas came on
    EXPECT_EQ(ev.event(1).word, 0x0800);
    std::int16_t regs[40];
    ASSERT_EQ(e.readInput(201, 40, regs, 30000), 0);
    EXPECT_EQ(regs[0], 0x4000);
    EXPECT_EQ(static_cast<std::uint16_t>(regs[10]), 0x0101);  // January 1st
    EXPECT_EQ(regs[11], 26);
    EXPECT_EQ(regs[30] >> 9, 8);  // 08:00
}

}  // namespace
}  // namespace kvx::sim
