// Reading a settings file back, comparing it with a controller, and the restore's writes:
// what is refused, what is set apart, what is written and in which order, and what a failure
// half way leaves behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <string>

#include <QLabel>
#include <QPushButton>
#include "model/registers.h"

#include "settings/restore_dialog.h"
#include "settings/settings_file_reader.h"
#include "settings/settings_restore.h"
#include "tests/support/fake_link.h"
#include "ui/scripted_prompts.h"

namespace kvx {
namespace {

// A controller of this firmware whose register r holds r * 7 (identity and address set).
test::FakeLink controller(int firmware) {
    test::FakeLink link;
    link.open = true;
    for (int r = 1; r <= kParameterCount; ++r)
        link.holding[r] = static_cast<std::int16_t>(r * 7);
    link.holding[ref::version] = static_cast<std::int16_t>(firmware);
    link.holding[ref::serial_number] = -3;  // 65533: serial numbers are unsigned
    link.holding[ref::modbus_address] = 1;
    link.holding[90] = 1;
    return link;
}

// The upload's own bytes for the controller.
std::string uploadOf(test::FakeLink& link, int firmware) {
    SettingsImage image{};
    EXPECT_EQ(readSettingsImage(link, 1, firmware, image), 0);
    return settingsFileText(image, firmware);
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

TEST(SettingsFileReader, TakesTheUploadsOwnFilesBack) {
    for (const int firmware : {110, 115, 117}) {
        SCOPED_TRACE(firmware);
        test::FakeLink link = controller(firmware);
        SettingsImage read{};
        ASSERT_EQ(readSettingsImage(link, 1, firmware, read), 0);
        const std::string text = settingsFileText(read, firmware);
        // The same with LF endings and without the last line's ending, as an editor may leave it.
        std::string lf;
        for (const char c : text)
            if (c != '\r') lf += c;
        lf.pop_back();
        for (const std::string& bytes : {text, lf}) {
            SettingsFileContents c;
            SettingsFileError e;
            ASSERT_TRUE(parseSettingsFile(bytes, c, e)) << e.text();
            EXPECT_EQ(c.firmware, firmware);
            EXPECT_EQ(c.serialNumber, 65533);
            EXPECT_EQ(c.rows, settingsFileRows(firmware));
            EXPECT_EQ(c.image, read);
        }
    }
}

TEST(SettingsFileReader, RefusesWithTheLineAndTheReason) {
    test::FakeLink link = controller(117);
    const std::string good = uploadOf(link, 117);
    test::FakeLink older = controller(115);
    const std::string good115 = uploadOf(older, 115);
    struct Case {
        const char* what;
        std::string bytes;
        int line;
        const char* reason;  // the start of it
    };
    const Case cases[] = {
        {"empty", "", 1, "the file is empty"},
        {"no header", "product_type,3\r\n", 1, "not a settings file header"},
        {"bad version", replaced(good, "ver. 1.17", "ver. 1.170"), 1, "not a settings file header"},
        {"serial too big", replaced(good, "SN: 65533", "SN: 65536"), 1,
         "not a settings file header"},
        {"no empty line", replaced(good, "1.17\r\n\r\n", "1.17\r\nx\r\n"), 2,
         "expected an empty line"},
        {"header only", "Dravo SN: 1 ver. 1.17\r\n", 2, "the file ends after its header"},
        {"unknown name", replaced(good, "sibstit_load2,", "substit_load2,"), 65,
         "unknown name \"substit_load2\""},
        {"name with a blank", replaced(good, "load_sp0,", "load_sp0 ,"), 43,
         "unknown name \"load_sp0 \""},
        {"no comma", replaced(good, "load_sp0,", "load_sp0;"), 43, "expected name,value"},
        {"repeated", replaced(good, "load_sp1,", "load_sp0,"), 44,
         "load_sp0 repeated (first on line 43)"},
        {"negative", replaced(good, "load_sp0,287", "load_sp0,-1"), 43,
         "the value of load_sp0, \"-1\", is not a whole number from 0 to 65535"},
        {"too big", replaced(good, "load_sp0,287", "load_sp0,65536"), 43, "the value of load_sp0"},
        {"decimal", replaced(good, "load_sp0,287", "load_sp0,28.7"), 43, "the value of load_sp0"},
        {"empty value", replaced(good, "load_sp0,287", "load_sp0,"), 43, "the value of load_sp0"},
        {"blank after value", replaced(good, "load_sp0,287", "load_sp0,287 "), 43,
         "the value of load_sp0"},
        {"another firmware's rows", replaced(good, "ver. 1.17", "ver. 1.15"), 177,
         "text after the last row (firmware 1.15 files have 174 rows): \"high_press_cycles_max,"},
        {"another firmware's name", replaced(good115, "min_substitution_rpm,", "spare1,"), 176,
         "spare1 is not a row of firmware 1.15 files (they have 174 rows)"},
        {"rows missing", good115.substr(0, good115.rfind("min_substitution_rpm")), 176,
         "the file ends after 173 rows; firmware 1.15 files have 174"},
        {"after the last row", good + "\r\n", 180, "text after the last row (firmware 1.17"},
        {"junk after the last row", good + "end", 180, "text after the last row"},
        {"header and version row disagree", replaced(good, "version,117", "version,115"), 4,
         "version is 115 but the header says ver. 1.17"},
        {"header and serial row disagree", replaced(good, "serial_number,65533", "serial_number,3"),
         5, "serial_number is 3 but the header says SN: 65533"},
        {"over 64 KB", good + std::string(kSettingsFileMaxBytes, 'x'), 0,
         "the file is larger than 64 KB"},
        {"a NUL in a name", replaced(good, "spare0,", std::string("spa\0re0,", 8)), 178,
         "unknown name \"spa\\x00re0\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SettingsFileContents contents;
        contents.firmware = 999;
        SettingsFileError e;
        EXPECT_FALSE(parseSettingsFile(c.bytes, contents, e));
        EXPECT_EQ(e.line, c.line);
        EXPECT_EQ(e.reason.rfind(c.reason, 0), 0u) << e.reason;
        EXPECT_EQ(contents.firmware, 0) << "a refused file yields nothing";
    }
}

// The header's serial number and the rows' values are digits alone; the version is taken only
// in the form the upload prints it.
TEST(SettingsFileReader, NumbersAreTakenOnlyInTheUploadsOwnForm) {
    test::FakeLink link = controller(117);
    const std::string good = uploadOf(link, 117);
    struct Case {
        const char* from;
        const char* to;
        int line;  // 0: taken
    };
    const Case cases[] = {
        {"SN: 65533", "SN: 0065533", 0},
        {"SN: 65533", "SN: +65533", 1},
        {"SN: 65533", "SN:  65533", 1},
        {"SN: 65533 ver.", "SN: 65533  ver.", 1},
        {"SN: 65533", "SN: ", 1},
        {"SN: 65533", "SN: 6553x", 1},
        {"ver. 1.17", "ver. +1.17", 1},
        {"ver. 1.17", "ver.  1.17", 1},
        {"ver. 1.17", "ver. 1.17 ", 1},
        {"ver. 1.17", "ver. 01.17", 1},
        {"ver. 1.17", "ver. 1.17.", 1},
        {"ver. 1.17", "ver. 117e-2", 1},
        {"ver. 1.17", "ver. ", 1},
        {"load_sp0,287", "load_sp0,000287", 0},
        {"load_sp0,287", "load_sp0,+287", 43},
        {"load_sp0,287", "load_sp0, 287", 43},
        {"load_sp0,287", "load_sp0,65535", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.to);
        SettingsFileContents contents;
        SettingsFileError e;
        EXPECT_EQ(parseSettingsFile(replaced(good, c.from, c.to), contents, e), c.line == 0);
        EXPECT_EQ(e.line, c.line) << e.reason;
        if (c.line == 0) {
            EXPECT_EQ(contents.firmware, 117);
            EXPECT_EQ(contents.serialNumber, 65533);
        }
    }
}

TEST(SettingsFileReader, ReadsFilesAndRefusesWhatCannotBeRead) {
    const auto dir =
        std::filesystem::path(::testing::TempDir()) / ("kvx_reader_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    test::FakeLink link = controller(117);
    {
        std::ofstream(dir / "good.csv", std::ios::binary) << uploadOf(link, 117);
        std::ofstream(dir / "big.csv", std::ios::binary) << std::string(200000, 'x');
    }
    SettingsFileContents c;
    SettingsFileError e;
    EXPECT_TRUE(readSettingsFile((dir / "good.csv").string(), c, e)) << e.text();
    EXPECT_FALSE(readSettingsFile((dir / "big.csv").string(), c, e));
    EXPECT_EQ(e.text(), "the file is larger than 64 KB, which no settings file is");
    EXPECT_FALSE(readSettingsFile((dir / "missing.csv").string(), c, e));
    EXPECT_EQ(e.text(), "cannot open it: No such file or directory");
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    for (const auto& notAFile : {dir, dir / "pipe"}) {
        EXPECT_FALSE(readSettingsFile(notAFile.string(), c, e));
        EXPECT_EQ(e.text(), "it is not a file");
    }
    std::filesystem::remove_all(dir);
}

// A file of the controller as it is, then changed on the controller side.
struct Bench {
    explicit Bench(int firmware) : firmware(firmware), link(controller(firmware)) {
        SettingsFileError e;
        EXPECT_TRUE(parseSettingsFile(uploadOf(link, firmware), file, e)) << e.text();
        link.calls.clear();
    }
    SettingsComparison compare() {
        SettingsComparison c;
        EXPECT_EQ(readAndCompareSettings(link, 1, firmware, file, c), 0);
        return c;
    }
    int firmware;
    test::FakeLink link;
    SettingsFileContents file;
};

TEST(SettingsRestore, CompareListsDifferencesInUnitsAndSetsApartTheRest) {
    Bench b(117);
    EXPECT_TRUE(b.compare().differences.empty());
    b.link.holding[41] = 1234;    // load_sp0: 123.4 kW
    b.link.holding[107] = 126;    // low_batt_limit
    b.link.holding[130] = 0;      // an e-mail enabler
    b.link.holding[12] = 9;       // a setting no screen shows
    b.link.holding[4] = 5;        // modbus_address
    b.link.holding[10] = 1;       // hour_meter
    b.link.holding[153] = 3;      // rtc_hour_4x
    b.link.holding[3] = 2418;     // another controller
    b.link.holding[69] = 0x1234;  // acknowledge_alarm
    const SettingsComparison c = b.compare();
    EXPECT_TRUE(c.sameFirmware());
    EXPECT_FALSE(c.sameSerial());
    EXPECT_EQ(c.controllerSerial, 2418);
    EXPECT_EQ(c.fileSerial, 65533);
    struct Row {
        int reference;
        std::uint16_t controller, file;
        const char *controllerShown, *fileShown;
    };
    const Row rows[] = {
        {4, 5, 1, "", ""},
        {12, 9, 84, "", ""},
        {41, 1234, 287, "123.4 kW", "28.7 kW"},
        {107, 126, 749, "12.6 V", "74.9 V"},
        {130, 0, 910, "Disabled", "Enabled"},
    };
    ASSERT_EQ(c.differences.size(), std::size(rows));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].reference);
        const SettingsDifference& d = c.differences[i];
        EXPECT_EQ(d.reference, rows[i].reference);
        EXPECT_EQ(d.name, parameterName(rows[i].reference));
        EXPECT_EQ(d.controller, rows[i].controller);
        EXPECT_EQ(d.file, rows[i].file);
        EXPECT_EQ(d.controllerShown, rows[i].controllerShown);
        EXPECT_EQ(d.fileShown, rows[i].fileShown);
    }
    std::vector<std::pair<int, RestoreKind>> apart;
    for (const auto& d : c.setApart)
        apart.emplace_back(d.reference, d.kind);
    EXPECT_EQ(apart, (std::vector<std::pair<int, RestoreKind>>{{3, RestoreKind::Identity},
                                                               {10, RestoreKind::Record},
                                                               {69, RestoreKind::Command},
                                                               {153, RestoreKind::Clock}}));
    EXPECT_EQ(c.notInFile, "");

    // The schedules follow the indicator: horsepower on both sides.
    b.link.holding[90] = 2;
    b.file.image[89] = 2;
    EXPECT_EQ(b.compare().differences[2].fileShown, "28.7 HP");
}

// Rows a controller cannot give are never compared. Rows it gives but that backups made
// before the upload read them hold as 0 are compared, shown and left unchosen: an old
// backup's 0 there is no value the controller held.
TEST(SettingsRestore, RowsOlderBackupsHoldAsZeroAreShownButNotChosen) {
    struct Case {
        int firmware;
        int firstRow, lastRow;  // the rows in question
        bool compared;
        const char* notInFile;
    };
    const Case cases[] = {
        {105, 93, 114, false, "93-114"},
        {106, 93, 114, true, ""},
        {110, 93, 114, true, ""},
        {113, 151, 151, true, ""},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.firmware);
        Bench b(k.firmware);
        // A new backup holds the controller's values there: nothing differs.
        EXPECT_TRUE(b.compare().differences.empty());
        // An older backup holds 0 there; load_sp0 differs as any setting may.
        for (int r = k.firstRow; r <= k.lastRow; ++r)
            b.file.image[static_cast<std::size_t>(r - 1)] = 0;
        b.link.holding[41] = 9;
        const SettingsComparison c = b.compare();
        EXPECT_EQ(c.notInFile, k.notInFile);
        std::vector<int> shown;
        for (const SettingsDifference& d : c.differences)
            shown.push_back(d.reference);
        std::vector<int> expected{41};
        for (int r = k.firstRow; k.compared && r <= k.lastRow; ++r)
            expected.push_back(r);
        ASSERT_EQ(shown, expected);
        const std::vector<bool> chosen = restoreChosenByDefault(c);
        for (std::size_t i = 0; i < shown.size(); ++i)
            EXPECT_EQ(chosen[i], shown[i] == 41) << shown[i];
        const auto plan = restorePlan(c, chosen);
        ASSERT_EQ(plan.size(), 1u);
        EXPECT_EQ(plan[0].reference, 41);
        // Chosen on purpose, they are written with the file's value.
        EXPECT_EQ(restorePlan(c, std::vector<bool>(shown.size(), true)).size(), shown.size());
        if (!k.compared) continue;

        // The dialog shows them unchecked and says why.
        test::ScriptedPrompts prompts;
        BlockStore blocks;
        RestoreDialog d(c, "old.csv", {b.link, blocks, 1}, prompts);
        ASSERT_EQ(d.rowCount(), static_cast<int>(shown.size()));
        for (int row = 0; row < d.rowCount(); ++row)
            EXPECT_EQ(d.checked(row), row == 0) << shown[static_cast<std::size_t>(row)];
        auto* note = d.findChild<QLabel*>("olderBackupsNote");
        ASSERT_NE(note, nullptr);
        EXPECT_NE(note->text().indexOf("hold 0"), -1) << note->text().toStdString();
        EXPECT_NE(note->text().indexOf(k.firmware == 113 ? "151" : "93-114"), -1)
            << note->text().toStdString();
    }
}

TEST(SettingsRestore, WritesOnlyTheChosenInReferenceOrderAndTheAddressLast) {
    Bench b(117);
    for (const int r : {4, 41, 52, 107})
        b.link.holding[r] = 9;
    SettingsComparison c = b.compare();
    ASSERT_EQ(c.differences.size(), 4u);  // 4, 41, 52, 107
    // The address unchosen: it stays; 52 unchosen.
    auto plan = restorePlan(c, {false, true, false, true});
    ASSERT_EQ(plan.size(), 2u);
    EXPECT_EQ(plan[0].reference, 41);
    EXPECT_EQ(plan[1].reference, 107);
    // Chosen, the address goes last, and everything after it goes to the new address.
    b.file.image[3] = 7;
    c = b.compare();
    plan = restorePlan(c, {true, true, true, true});
    ASSERT_EQ(plan.size(), 4u);
    EXPECT_EQ(plan.back().reference, 4);
    EXPECT_EQ(plan.back().value, 7);
    b.link.calls.clear();
    const RestoreOutcome o = writeRestore(b.link, 1, 117, plan);
    EXPECT_TRUE(o.complete()) << restoreReport(o);
    EXPECT_EQ(o.slave, 7);
    EXPECT_EQ(o.written, (std::vector<int>{41, 52, 107, 4}));
    std::vector<std::pair<char, int>> calls;
    for (const auto& call : b.link.calls)
        calls.emplace_back(call.kind, call.slave);
    ASSERT_GE(calls.size(), 5u);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(calls[i], std::make_pair('W', 1));
    EXPECT_EQ(calls[4], std::make_pair('H', 7));  // the read-back at the new address
    EXPECT_EQ(b.link.holding[107], static_cast<std::int16_t>(749));

    // An address no master can use is never written.
    for (const std::uint16_t bad : {0, 248, 65535}) {
        b.file.image[3] = static_cast<std::int16_t>(bad);
        b.link.holding[4] = 1;
        c = b.compare();
        EXPECT_TRUE(restorePlan(c, {true}).empty()) << bad;
    }
}

TEST(SettingsRestore, AFailureHalfWayStopsAndSaysWhatWasWrittenAndWhatNot) {
    Bench b(117);
    for (const int r : {41, 42, 43, 44})
        b.link.holding[r] = 9;
    const SettingsComparison c = b.compare();
    b.link.failWrite[43] = true;
    b.link.calls.clear();
    const RestoreOutcome o = writeRestore(b.link, 1, 117, restorePlan(c, {true, true, true, true}));
    EXPECT_FALSE(o.complete());
    EXPECT_EQ(o.written, (std::vector<int>{41, 42}));
    EXPECT_EQ(o.notWritten, (std::vector<int>{43, 44}));
    EXPECT_EQ(o.writeResult, MBR_REPLY_TIMEOUT);
    EXPECT_EQ(b.link.holding[44], 9) << "nothing after the failure is written";
    EXPECT_EQ(restoreReport(o),
              "Writing load_sp2 failed (result 132); nothing after it was written. Read back, "
              "load_sp2 still reads 9.\n"
              "Written, 2 registers: load_sp0, load_sp1.\n"
              "Not written, 2 registers: load_sp2, load_sp3.\n"
              "Read back: every written register holds its value.");
}

// The slave address is written last; when its reply is lost the controller may have moved all
// the same: the restore asks at the new address and goes on where the controller answers.
TEST(SettingsRestore, ALostReplyToTheAddressWriteIsCheckedAtTheNewAddress) {
    struct Case {
        const char* what;
        bool lost;  // done, reply lost
        bool fail;  // never arrived
        int slave;
        bool complete;
        const char* reportHas;
    };
    const Case cases[] = {
        {"reply lost", true, false, 7, true,
         "The reply to the modbus_address write was lost; the controller answers at address 7."},
        {"write lost", false, true, 1, false,
         "Writing modbus_address failed (result 132); nothing after it was written. Read back, "
         "modbus_address still reads 1."},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        Bench b(117);
        b.link.holding[41] = 9;
        b.file.image[3] = 7;
        b.link.ownAddressOnly = true;
        const SettingsComparison c = b.compare();
        b.link.loseReply[4] = k.lost;
        b.link.failWrite[4] = k.fail;
        const RestoreOutcome o = writeRestore(b.link, 1, 117, restorePlan(c, {true, true}));
        EXPECT_EQ(o.slave, k.slave);
        EXPECT_EQ(o.complete(), k.complete) << restoreReport(o);
        EXPECT_EQ(o.readBackResult, 0);
        EXPECT_NE(restoreReport(o).find(k.reportHas), std::string::npos) << restoreReport(o);
        EXPECT_EQ(o.written, k.lost ? (std::vector<int>{41, 4}) : (std::vector<int>{41}));
    }
}

// A controller that takes a write but keeps its old value for one register.
class StubbornLink : public test::FakeLink {
  public:
    int writeSingleRegister(int slave, int ref, std::int16_t value) override {
        if (ref == stubborn) {
            calls.push_back({'W', slave, ref, value, {}});
            return 0;
        }
        return FakeLink::writeSingleRegister(slave, ref, value);
    }
    int stubborn = 0;
};

TEST(SettingsRestore, TheReadBackShowsWhatDoesNotHoldOrThatItCouldNotCheck) {
    Bench b(117);
    StubbornLink link;
    link.open = true;
    link.holding = b.link.holding;
    link.holding[41] = 9;
    link.holding[42] = 9;
    link.stubborn = 42;
    SettingsComparison c;
    ASSERT_EQ(readAndCompareSettings(link, 1, 117, b.file, c), 0);
    const auto plan = restorePlan(c, {true, true});
    RestoreOutcome o = writeRestore(link, 1, 117, plan);
    ASSERT_EQ(o.notHeld.size(), 1u);
    EXPECT_EQ(o.notHeld[0].reference, 42);
    EXPECT_EQ(o.notHeld[0].readBack, 9);
    EXPECT_NE(restoreReport(o).find("load_sp1 (written 294, reads 9)"), std::string::npos);

    link.failHolding[41] = true;
    o = writeRestore(link, 1, 117, plan);
    EXPECT_EQ(o.readBackResult, MBR_REPLY_TIMEOUT);
    EXPECT_FALSE(o.complete());
    EXPECT_NE(restoreReport(o).find("was not checked"), std::string::npos);
}

TEST(RestoreDialog, WritesNothingUncheckedAndTheAddressOnlyWhenChecked) {
    Bench b(117);
    b.link.holding[41] = 9;
    b.file.image[3] = 5;  // the file's controller answered at 5
    b.file.serialNumber = 2418;
    b.file.image[2] = 2418;
    const SettingsComparison c = b.compare();
    b.link.calls.clear();
    test::ScriptedPrompts prompts;
    BlockStore blocks;
    RestoreDialog d(c, "unit.csv", {b.link, blocks, 1}, prompts);
    ASSERT_EQ(d.rowCount(), 2);  // modbus_address, load_sp0
    EXPECT_FALSE(d.checked(0)) << "the slave address only when asked for";
    EXPECT_TRUE(d.checked(1));
    auto* serialNote = d.findChild<QLabel*>("1203");
    EXPECT_TRUE(serialNote->font().bold());
    EXPECT_NE(serialNote->text().indexOf("another controller"), -1);
    EXPECT_TRUE(d.findChild<QPushButton*>("2")->isDefault()) << "Enter must not write";

    d.setChecked(1, false);
    d.findChild<QPushButton*>("1")->click();
    EXPECT_EQ(d.statusText(), "No row is checked: nothing was written.");
    EXPECT_TRUE(b.link.calls.empty());
    EXPECT_TRUE(prompts.boxes.empty());

    // Both: load_sp0 first, then the address; the read-back and the save go to the new one.
    d.setChecked(0, true);
    d.setChecked(1, true);
    prompts.answers = {kAnswerYes};
    d.findChild<QPushButton*>("1")->click();
    std::vector<std::tuple<char, int, int>> calls;
    for (const auto& call : b.link.calls)
        calls.emplace_back(call.kind, call.slave, call.ref);
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(calls[0], std::make_tuple('W', 1, 41));
    EXPECT_EQ(calls[1], std::make_tuple('W', 1, 4));
    EXPECT_EQ(calls[2], std::make_tuple('H', 5, 1));
    EXPECT_EQ(calls.back(), std::make_tuple('W', 5, 7));
    EXPECT_EQ(d.toFollow().slaveAddress.value_or(1), 5);
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].buttons, BoxButtons::YesNoDefaultNo);
    EXPECT_NE(d.statusText().indexOf("Saved"), -1);
    EXPECT_FALSE(d.findChild<QPushButton*>("1")->isEnabled());
}

// A restore that did not complete is never offered for saving: one Enter on that question
// would make a mix of old and new settings permanent. A complete one asks, and No is the
// answer unless the user picks Yes.
TEST(RestoreDialog, OnlyACompleteRestoreIsOfferedForSavingAndNoIsTheDefault) {
    struct Case {
        const char* what;
        int failingWrite;  // reference whose write fails, 0 none
        int stubborn;      // reference that keeps its old value, 0 none
        std::deque<int> answers;
        bool asked, saved;
        const char* outcomeHas;
    };
    const Case cases[] = {
        {"a write fails half way", 43, 0, {}, false, false, "Not saved: the restore did not"},
        {"the first write fails", 41, 0, {}, false, false, "Not written, 4 registers"},
        {"a register does not hold", 0, 42, {}, false, false, "Not saved: the restore did not"},
        {"complete, Enter", 0, 0, {}, true, false, "Not saved: the written settings"},
        {"complete, Yes", 0, 0, {kAnswerYes}, true, true, "Saved"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        Bench b(117);
        StubbornLink link;
        link.open = true;
        link.holding = b.link.holding;
        for (const int r : {41, 42, 43, 44})
            link.holding[r] = 9;
        link.stubborn = k.stubborn;
        SettingsComparison c;
        ASSERT_EQ(readAndCompareSettings(link, 1, 117, b.file, c), 0);
        ASSERT_EQ(c.differences.size(), 4u);
        if (k.failingWrite) link.failWrite[k.failingWrite] = true;
        link.calls.clear();
        test::ScriptedPrompts prompts;
        prompts.answers = k.answers;
        BlockStore blocks;
        RestoreDialog d(c, "unit.csv", {link, blocks, 1}, prompts);
        d.findChild<QPushButton*>("1")->click();
        ASSERT_EQ(prompts.boxes.size(), k.asked ? 1u : 0u);
        if (k.asked) {
            EXPECT_EQ(prompts.boxes[0].buttons, BoxButtons::YesNoDefaultNo);
        }
        bool saveSent = false;
        for (const auto& call : link.calls)
            saveSent = saveSent || (call.kind == 'W' && call.ref == ref::save_data_command);
        EXPECT_EQ(saveSent, k.saved);
        EXPECT_NE(d.statusText().indexOf(QString::fromUtf8(k.outcomeHas)), -1)
            << d.statusText().toStdString();
    }
}

// Sensor gains and offsets belong to the unit they were measured on: copied from another
// controller's file they are shown but left unchecked; from the same controller's, checked.
TEST(RestoreDialog, CalibrationRowsAreUncheckedWhenTheFileComesFromAnotherController) {
    // calibrated, watt_meter_input_gain, diesel_flow_input_offset, hp_offset2, and one setting.
    const int calibration[] = {6, 13, 84, 150};
    for (const bool sameSerial : {false, true}) {
        SCOPED_TRACE(sameSerial);
        Bench b(117);
        for (const int r : calibration)
            b.link.holding[r] = 9;
        b.link.holding[41] = 9;
        if (!sameSerial) b.link.holding[ref::serial_number] = 2418;
        const SettingsComparison c = b.compare();
        ASSERT_EQ(c.differences.size(), 5u);
        test::ScriptedPrompts prompts;
        BlockStore blocks;
        RestoreDialog d(c, "unit.csv", {b.link, blocks, 1}, prompts);
        for (int row = 0; row < d.rowCount(); ++row) {
            const SettingsDifference& diff = c.differences[static_cast<std::size_t>(row)];
            SCOPED_TRACE(diff.name);
            const bool isCalibration = diff.reference != 41;
            EXPECT_EQ(diff.kind, isCalibration ? RestoreKind::Calibration : RestoreKind::Setting);
            EXPECT_EQ(d.checked(row), !isCalibration || sameSerial);
        }
        auto* note = d.findChild<QLabel*>("calibrationNote");
        EXPECT_EQ(note != nullptr, !sameSerial);
        if (note) {
            EXPECT_NE(note->text().indexOf("belong to the unit"), -1);
        }
        if (sameSerial) continue;
        // The user may still check one: it is written with the rest.
        d.setChecked(1, true);  // watt_meter_input_gain
        b.link.calls.clear();
        d.findChild<QPushButton*>("1")->click();
        std::vector<int> written;
        for (const auto& call : b.link.calls)
            if (call.kind == 'W') written.push_back(call.ref);
        EXPECT_EQ(written, (std::vector<int>{13, 41}));
    }
}

}  // namespace
}  // namespace kvx
