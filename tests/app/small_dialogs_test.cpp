// The Comm Port and Scaling Settings dialogs, driven as the user drives them: what the fields
// show on opening, what OK / Change && Save takes, and what is refused before anything changes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/comm_port_dialog.h"
#include "app/core/program_settings.h"
#include "app/scaling_dialog.h"
#include "window_harness.h"

namespace kvx {
namespace {

namespace fs = std::filesystem;

template <class W = QWidget>
W* byId(QWidget& d, int id) {
    return d.findChild<W*>(QString::number(id));
}

QString statusOf(QWidget& d) {
    auto* status = byId<QLabel>(d, 1034);
    return status ? status->text() : QStringLiteral("<no status line>");
}

void activate(QWidget& d) {
    d.show();
    d.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
}

std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

const char* const kById = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";

TEST(CommPortDialog, ShowsThePortNameAndOkWithoutTypingKeepsIt) {
    struct Case {
        const char* name;
        const char* shown;
    };
    // A name that is not "COMn" as we write it (no leading zero) is shown and kept whole.
    const Case cases[] = {
        {"COM5", "5"},                     // one digit
        {"COM12", "12"},                   // two digits
        {"COM123", "123"},                 // more than two digits
        {"/dev/ttyUSB0", "/dev/ttyUSB0"},  // a device path
        {kById, kById},                    // a long one
        {"COM05", "COM05"},                // a leading zero
        {"ttyS0", "ttyS0"},                // neither
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Through the file, as the program reads and writes it.
        const fs::path dir = test::freshTestDir("kvx_comm_");
        std::ofstream(dir / kCommFileName, std::ios::binary) << c.name << " 9" << std::flush;
        ProgramSettings s;
        ASSERT_TRUE(readCommFile(dir.string(), s));
        CommPortDialog d(s);
        activate(d);
        EXPECT_EQ(d.portField()->text().toStdString(), c.shown);
        EXPECT_EQ(d.deviceField()->text(), "9");
        // A long path is readable whole.
        EXPECT_GE(d.portField()->width(),
                  d.portField()->fontMetrics().horizontalAdvance(d.portField()->text()));
        byId<QPushButton>(d, 1)->click();
        EXPECT_EQ(d.result(), CommPortDialog::kResultOk);
        EXPECT_EQ(s.portName, c.name);
        EXPECT_EQ(s.slaveId, 9);
        ASSERT_TRUE(writeCommFile(dir.string(), s));
        EXPECT_EQ(fileText(dir / kCommFileName), std::string(c.name) + " 9");
        fs::remove_all(dir);
    }
}

TEST(CommPortDialog, TakesAPortNumberADevicePathOrANetworkAddressAndRefusesAnythingElse) {
    struct Case {
        QString port;
        QString device;
        const char* refusedField;  // nullptr: taken
        const char* name;
        int slave;
    };
    const Case cases[] = {
        {"7", "3", nullptr, "COM7", 3},
        {" 12 ", " 247 ", nullptr, "COM12", 247},
        {"/dev/ttyUSB1", "2", nullptr, "/dev/ttyUSB1", 2},
        {QString("  ") + kById + "\t", "2", nullptr, kById, 2},
        {"", "1", "COM", nullptr, 0},
        {"abc", "1", "COM", nullptr, 0},
        {"/dev/tty USB0", "1", "COM", nullptr, 0},  // the file holds two blank-separated tokens
        {QString("/dev/ttyUSB0") + QChar(0x01), "1", "COM", nullptr, 0},
        {"7", "0", "Device ID", nullptr, 0},
        {"7", "248", "Device ID", nullptr, 0},
        {"7", "x", "Device ID", nullptr, 0},
        {"abc", "x", "COM", nullptr, 0},  // the first bad field is named
        // Network addresses: taken as typed when they parse, refused with the reason otherwise.
        {"modbus-tcp://gw.plant:1502", "1", nullptr, "modbus-tcp://gw.plant:1502", 1},
        {" tcp://10.0.0.5:4001 ", "1", nullptr, "tcp://10.0.0.5:4001", 1},
        {"MODBUS-TLS://[::1]", "1", nullptr, "MODBUS-TLS://[::1]", 1},
        {"tcp://", "1", "COM", nullptr, 0},
        {"tcp://gw", "1", "COM", nullptr, 0},
        {"modbus-tcp://gw:99999", "1", "COM", nullptr, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("port \"" + c.port.toStdString() + "\", device \"" + c.device.toStdString() +
                     "\"");
        ProgramSettings s;
        s.portName = "/dev/ttyACM0";
        s.slaveId = 4;
        CommPortDialog d(s);
        activate(d);
        d.portField()->setText(c.port);
        d.deviceField()->setText(c.device);
        byId<QPushButton>(d, 1)->click();
        if (!c.refusedField) {
            EXPECT_EQ(d.result(), CommPortDialog::kResultOk);
            EXPECT_FALSE(d.isVisible());
            EXPECT_EQ(s.portName, c.name);
            EXPECT_EQ(s.slaveId, c.slave);
            continue;
        }
        EXPECT_TRUE(d.isVisible());
        EXPECT_EQ(s.portName, "/dev/ttyACM0");
        EXPECT_EQ(s.slaveId, 4);
        const QString field = QString::fromUtf8(c.refusedField);
        EXPECT_TRUE(statusOf(d).startsWith("\"" + field + "\"")) << statusOf(d).toStdString();
        EXPECT_TRUE(statusOf(d).contains("Nothing was written")) << statusOf(d).toStdString();
        QLineEdit* refused = field == "COM" ? d.portField() : d.deviceField();
        EXPECT_TRUE(refused->hasFocus());
        EXPECT_EQ(refused->selectedText(), refused->text());
        d.close();
    }
}

TEST(CommPortDialog, TypingReplacesTheShownNumberAndEnterOnCancelCancels) {
    ProgramSettings s;
    s.portName = "COM7";
    s.slaveId = 2;
    {
        CommPortDialog d(s);
        activate(d);
        ASSERT_EQ(QApplication::focusWidget(), d.portField());
        QTest::keyClicks(d.portField(), "5");
        QTest::keyClick(d.portField(), Qt::Key_Return);  // OK is the default button
        EXPECT_EQ(d.result(), CommPortDialog::kResultOk);
        EXPECT_EQ(s.portName, "COM5");
        EXPECT_EQ(s.slaveId, 2);
    }
    {
        const ProgramSettings before = s;
        CommPortDialog d(s);
        activate(d);
        d.portField()->setText("9");
        d.deviceField()->setText("8");
        auto* cancel = byId<QPushButton>(d, 2);
        cancel->setFocus();
        QTest::keyClick(cancel, Qt::Key_Return);
        EXPECT_FALSE(d.isVisible());
        EXPECT_EQ(d.result(), CommPortDialog::kResultCancel);
        EXPECT_EQ(s.portName, before.portName);
        EXPECT_EQ(s.slaveId, before.slaveId);
    }
}

class ScalingDialogTest : public ::testing::Test {
  protected:
    ScalingDialogTest() : dir(test::freshTestDir("kvx_scaling_")) {
        settings.speedMin = 500;
        settings.speedMax = 2500;
        std::ofstream(dir / kScalingFileName, std::ios::binary) << "500 2500" << std::flush;
    }
    ~ScalingDialogTest() override { fs::remove_all(dir); }
    std::string file() const { return fileText(dir / kScalingFileName); }

    fs::path dir;
    ProgramSettings settings;
};

TEST_F(ScalingDialogTest, FieldsShowTheCurrentValuesAndSaveUntouchedKeepsThem) {
    struct Case {
        std::int16_t min, max;
        const char* minText;
        const char* maxText;
    };
    const Case cases[] = {
        {0, 3000, "0", "3000"},
        {500, 2500, "500", "2500"},
        {-1, -32768, "65535", "32768"},  // the file's unsigned 16 bits
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.minText);
        settings.speedMin = c.min;
        settings.speedMax = c.max;
        ScalingDialog d(settings, dir.string());
        activate(d);
        EXPECT_EQ(d.minimumField()->text().toStdString(), c.minText);
        EXPECT_EQ(d.maximumField()->text().toStdString(), c.maxText);
        EXPECT_EQ(d.minimumField()->selectedText().toStdString(), c.minText);  // typing replaces it
        byId<QPushButton>(d, 1)->click();
        EXPECT_EQ(d.result(), ScalingDialog::kResultSaved);
        EXPECT_EQ(settings.speedMin, c.min);
        EXPECT_EQ(settings.speedMax, c.max);
        EXPECT_EQ(file(), scalingFileText(settings));
    }
}

TEST_F(ScalingDialogTest, TextThatIsNotALimitIsRefusedBeforeAnythingIsWritten) {
    struct Case {
        bool minimum;  // which field is typed into
        QString typed;
        const char* file;  // nullptr: refused
    };
    const Case cases[] = {
        {true, "", nullptr},            // empty
        {true, "abc", nullptr},         // not a number
        {true, "70000", nullptr},       // beyond 16 bits
        {true, "-1", nullptr},          // a sign
        {false, "12.5", nullptr},       // a fraction
        {false, "   ", nullptr},        // blanks only
        {true, " 800 ", "800 2500"},    // blanks around a limit
        {false, "65535", "500 65535"},  // the highest
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        settings.speedMin = 500;
        settings.speedMax = 2500;
        std::ofstream(dir / kScalingFileName, std::ios::binary) << "500 2500" << std::flush;
        ScalingDialog d(settings, dir.string());
        activate(d);
        QLineEdit* field = c.minimum ? d.minimumField() : d.maximumField();
        field->setText(c.typed);
        byId<QPushButton>(d, 1)->click();
        if (c.file) {
            EXPECT_EQ(d.result(), ScalingDialog::kResultSaved);
            EXPECT_FALSE(d.isVisible());
            EXPECT_EQ(file(), c.file);
            EXPECT_EQ(scalingFileText(settings), c.file);
            continue;
        }
        EXPECT_TRUE(d.isVisible());
        EXPECT_EQ(file(), "500 2500");
        EXPECT_EQ(settings.speedMin, 500);
        EXPECT_EQ(settings.speedMax, 2500);
        const QString name = c.minimum ? "\"Speed Minimum\"" : "\"Speed Maximum\"";
        EXPECT_TRUE(statusOf(d).startsWith(name)) << statusOf(d).toStdString();
        EXPECT_TRUE(statusOf(d).contains("0 to 65535")) << statusOf(d).toStdString();
        EXPECT_TRUE(field->hasFocus());
        EXPECT_EQ(field->selectedText(), field->text());
        d.close();
    }
}

TEST_F(ScalingDialogTest, EnterOnTheFocusedCloseClosesWithoutWriting) {
    ScalingDialog d(settings, dir.string());
    activate(d);
    d.minimumField()->setText("100");
    d.maximumField()->setText("200");
    auto* close = byId<QPushButton>(d, 2);
    close->setFocus();
    ASSERT_TRUE(close->hasFocus());
    QTest::keyClick(close, Qt::Key_Return);
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.result(), ScalingDialog::kResultClosed);
    EXPECT_EQ(file(), "500 2500");
    EXPECT_EQ(settings.speedMin, 500);
    EXPECT_EQ(settings.speedMax, 2500);
}

TEST_F(ScalingDialogTest, AFileThatCannotBeWrittenIsReportedAndTheRangeStillApplies) {
    const fs::path missing = dir / "gone";
    ScalingDialog d(settings, missing.string());
    activate(d);
    d.minimumField()->setText("100");
    d.maximumField()->setText("200");
    byId<QPushButton>(d, 1)->click();
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(settings.speedMin, 100);
    EXPECT_EQ(settings.speedMax, 200);
    EXPECT_FALSE(fs::exists(missing));
    EXPECT_TRUE(statusOf(d).contains(kScalingFileName)) << statusOf(d).toStdString();
    EXPECT_TRUE(statusOf(d).contains("could not be written")) << statusOf(d).toStdString();
    byId<QPushButton>(d, 2)->click();
    EXPECT_EQ(d.result(), ScalingDialog::kResultClosed);
}

}  // namespace
}  // namespace kvx
