// The calibration register editor against the scripted controller: rows and reads by firmware,
// what Change writes and shows, the slave address, and the rows it could not read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/calibration_editor.h"
#include "tests/support/fake_link.h"

namespace kvx {
namespace {

using test::FakeLink;

struct Editor {
    FakeLink link;
    BlockStore blocks;
    CalibrationState state;
    CalibrationEditor editor;

    explicit Editor(int firmware, std::vector<int> failingReads = {})
        : editor({link, blocks, 1, firmware}, state) {
        link.open = true;
        for (int r = 1; r <= 177; ++r)
            link.holding[r] = static_cast<std::int16_t>(1000 + r);
        for (int f : failingReads)
            link.failHolding[f] = true;
        EXPECT_EQ(editor.checkConnection(), 0);
        editor.readBlocks();
        editor.initialise();
    }
    // The slave address the window is told to follow, 1 (where it started) when none.
    int slave() const { return editor.toFollow().slaveAddress.value_or(1); }
    std::vector<std::pair<int, int>> reads() const {
        std::vector<std::pair<int, int>> r;
        for (const auto& c : link.calls)
            if (c.kind == 'H') r.emplace_back(c.ref, c.count);
        return r;
    }
};

TEST(CalibrationEditor, RowsAndReadsFollowTheFirmwareVersion) {
    using R = std::vector<std::pair<int, int>>;
    struct Case {
        int firmware;
        R reads;
        int rows;
        const char* lastName;
        const char* notRead;
    };
    const Case cases[] = {
        {100, R{{1, 40}, {41, 40}}, 112, "f_pressure_switch_high",
         "Not read: registers 81-112. Their rows show no value; a value typed for one is still "
         "written."},
        {104, R{{1, 40}, {41, 40}, {81, 12}}, 112, "f_pressure_switch_high",
         "Not read: registers 93-112. Their rows show no value; a value typed for one is still "
         "written."},
        {106, R{{1, 40}, {41, 40}, {81, 34}}, 112, "f_pressure_switch_high", ""},
        {110, R{{1, 40}, {41, 40}, {81, 34}, {115, 38}}, 151, "gas_btu_ft3", ""},
        {116, R{{1, 40}, {41, 40}, {81, 34}, {115, 38}, {153, 22}}, 174, nullptr, ""},
        {117, R{{1, 40}, {41, 40}, {81, 34}, {115, 38}, {153, 22}, {175, 3}}, 177, "spare1", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.firmware);
        Editor e(c.firmware);
        EXPECT_EQ(e.reads(), c.reads);
        ASSERT_EQ(e.editor.rowCount(), c.rows);
        if (c.lastName) {
            EXPECT_EQ(e.editor.rowName(c.rows - 1), c.lastName);
        }
        EXPECT_EQ(e.editor.notRead(), c.notRead);
        EXPECT_EQ(e.editor.valueText(0), "1001");
        EXPECT_EQ(e.editor.valueText(79), "1080");
    }
}

TEST(CalibrationEditor, ChangeWritesOnlyAWholeSixteenBitNumberAndShowsWhatWasWritten) {
    struct Case {
        int row;
        const char* typed;
        bool written;
        std::int16_t value;
        const char* shown;
    };
    const Case cases[] = {
        {20, "-1", true, -1, "-1"},
        {20, "65535", true, -1, "-1"},
        {20, " 42 ", true, 42, "42"},
        {20, "+7", true, 7, "7"},
        {20, "32768", true, -32768, "-32768"},
        {20, "70000", false, 0, "1021"},
        {20, "-32769", false, 0, "1021"},
        {20, "12abc", false, 0, "1021"},
        {20, "", false, 0, "1021"},
        {20, "-", false, 0, "1021"},
        // modbus_address: only an address a master can reach, which then takes every request.
        {3, "5", true, 5, "5"},
        {3, "0", false, 0, "1004"},
        {3, "248", false, 0, "1004"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        Editor e(117);
        e.link.calls.clear();
        e.editor.select(c.row);
        EXPECT_EQ(e.editor.change(c.typed), c.written);
        if (c.written) {
            ASSERT_EQ(e.link.calls.size(), 1u);
            EXPECT_EQ(e.link.calls[0].kind, 'W');
            EXPECT_EQ(e.link.calls[0].slave, 1);
            EXPECT_EQ(e.link.calls[0].ref, c.row + 1);
            EXPECT_EQ(e.link.calls[0].count, c.value);
        } else {
            EXPECT_TRUE(e.link.calls.empty());
            EXPECT_NE(e.editor.status().find("not written"), std::string::npos);
        }
        // Selecting the row again shows what the register holds.
        EXPECT_EQ(e.editor.valueText(c.row), c.shown);
        EXPECT_EQ(e.slave(), c.row == 3 && c.written ? c.value : 1);
    }
}

TEST(CalibrationEditor, FailedBlocksShowNoValueAndFailedWritesChangeNothing) {
    Editor e(117, {115});
    EXPECT_EQ(e.editor.valueText(113), "1114");
    EXPECT_EQ(e.editor.valueText(114), "");
    EXPECT_EQ(e.editor.valueText(151), "");
    EXPECT_EQ(e.editor.valueText(152), "1153");
    EXPECT_NE(e.editor.notRead().find("registers 115-152."), std::string::npos);
    // A value typed for a row not read is still written, and then shown.
    e.editor.select(120);
    EXPECT_TRUE(e.editor.change("5"));
    EXPECT_EQ(e.link.holding[121], 5);
    EXPECT_EQ(e.editor.valueText(120), "5");

    e.link.failWrite[122] = true;
    e.editor.select(121);
    EXPECT_FALSE(e.editor.change("9"));
    EXPECT_EQ(e.editor.valueText(121), "");
    EXPECT_EQ(e.editor.status(),
              "Writing " + e.editor.rowName(121) + " failed (result 132); its row is unchanged.");
}

// A modbus_address write whose reply does not come: the controller may have moved all the same,
// so the editor asks at the new address before it decides which address the viewer uses.
TEST(CalibrationEditor, AFailedAddressWriteIsFollowedOnlyWhenTheControllerAnswersThere) {
    struct Case {
        const char* what;
        bool ownAddressOnly;  // false: whoever is asked answers with what register 4 holds
        bool lost;            // the write is done, its reply lost
        bool fail;            // the write never arrives
        bool followed;
        const char* status;
    };
    const Case cases[] = {
        {"reply lost, controller moved", true, true, false, true,
         "The reply to the modbus_address write was lost, but the controller answers at address "
         "5 with modbus_address = 5: the viewer now uses address 5 (it used 1)."},
        {"write lost, nothing at 5", true, false, true, false,
         "Writing modbus_address failed (result 132) and no controller answers at address 5 "
         "with modbus_address = 5: the viewer keeps address 1."},
        {"write lost, another answer at 5", false, false, true, false,
         "Writing modbus_address failed (result 132) and no controller answers at address 5 "
         "with modbus_address = 5: the viewer keeps address 1."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Editor e(117);
        e.link.holding[4] = 1;  // read again: the row shows the address in use
        ASSERT_EQ(e.editor.checkConnection(), 0);
        e.editor.initialise();
        e.link.ownAddressOnly = c.ownAddressOnly;
        e.link.loseReply[4] = c.lost;
        e.link.failWrite[4] = c.fail;
        e.editor.select(3);
        e.link.calls.clear();
        EXPECT_EQ(e.editor.change("5"), c.followed);
        EXPECT_EQ(e.editor.status(), c.status);
        EXPECT_EQ(e.slave(), c.followed ? 5 : 1);
        EXPECT_EQ(e.editor.slaveId(), e.slave());
        EXPECT_EQ(e.editor.valueText(3), c.followed ? "5" : "1");
        // The window's copies of the registers it shows follow only a write that went through.
        EXPECT_EQ(e.editor.toFollow().ranges.indicatorType.has_value(), c.followed);
        // The check is one read of modbus_address, at the new address.
        ASSERT_EQ(e.link.calls.size(), 2u);
        EXPECT_EQ(e.link.calls[1].kind, 'H');
        EXPECT_EQ(e.link.calls[1].slave, 5);
        EXPECT_EQ(e.link.calls[1].ref, 4);
        // The save reaches the controller wherever it now is.
        EXPECT_EQ(e.editor.save(), 0);
    }
    // Any other register's failed write asks nothing more.
    Editor e(117);
    e.link.failWrite[21] = true;
    e.editor.select(20);
    e.link.calls.clear();
    EXPECT_FALSE(e.editor.change("5"));
    EXPECT_EQ(e.link.calls.size(), 1u);
}

}  // namespace
}  // namespace kvx
