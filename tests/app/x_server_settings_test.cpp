// The settings windows under a technician's hands on a real X server: keys, Tab, Enter and
// quick clicks from xdotool, then the controller's registers read back. Each case is an event
// sequence that only a real keyboard or mouse produces (a click's press and release arriving
// together, Enter on whichever button has the focus).
#include <QDialog>
#include <QLabel>

#include "app/core/program_settings.h"
#include "resources/resource_ids.h"
#include "x_server_harness.h"

namespace kvx::test {
namespace {

QString focusName() {
    const QWidget* f = QApplication::focusWidget();
    return f ? f->objectName() : QString();
}

QString statusOf(QWidget& d) {
    const auto* l = d.findChild<QLabel*>(QStringLiteral("1034"));
    return l ? l->text() : QString();
}

class XSettings : public XServer {
  protected:
    void SetUp() override {
        XServer::SetUp();
    }
    void startWindow() {
        window = std::make_unique<MainWindow>(p);
        window->startUp();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return window->statusPart(3) == "Communication Status: Receiving data"; },
            10000));
    }
    void TearDown() override {
        if (window) window->shutDown();
        window.reset();
        XServer::TearDown();
    }

    // Runs steps inside the modal dialog named dialogName once it is up and has the keyboard,
    // after opening it with a key in the main window; true when the dialog has run and closed.
    bool inDialog(const char* key, int dialogName, std::function<void(QWidget&)> steps) {
        bool ran = false;
        whenModal(QString::number(dialogName), [&](QWidget& d) {
            // The keyboard goes to the dialog once a control of it has the focus.
            const bool ready = makeActive(&d) && QTest::qWaitFor([&] {
                const QWidget* f = QApplication::focusWidget();
                return f && f->window() == &d;
            });
            if (ready) steps(d);
            ran = true;
            // Whatever the steps saw, the dialog ends here, so a failure cannot hang the run.
            if (!QTest::qWaitFor([&] { return !d.isVisible(); }, 5000)) {
                ADD_FAILURE() << "the dialog stayed open: \"" << statusOf(d).toStdString()
                              << "\", focus on " << focusName().toStdString();
                QMetaObject::invokeMethod(qobject_cast<QDialog*>(&d), &QDialog::reject,
                                          Qt::QueuedConnection);
            }
        });
        if (!makeActive(window.get())) return false;
        if (!key)
            window->postCommand(res::kCmdCommPort);  // a menu command without a key
        else if (!xdotoolKey(key))
            return false;
        return QTest::qWaitFor([&] { return ran && !QApplication::activeModalWidget(); }, 30000);
    }

    // Writes since the mark to any of the references first..last.
    int writesTo(std::size_t mark, int first, int last) {
        const auto all = writesSoFar();
        int n = 0;
        for (std::size_t i = mark; i < all.size(); ++i)
            n += all[i].second >= first && all[i].second <= last;
        return n;
    }

    std::unique_ptr<MainWindow> window;
};

// Tabs until the control named name has the focus; false when a round never reaches it. Each
// Tab is waited for, so a busy machine cannot make it overshoot.
bool tabTo(const char* name) {
    for (int i = 0; i < 30 && focusName() != QString::fromUtf8(name); ++i) {
        const QWidget* before = QApplication::focusWidget();
        if (!xdotoolKey("Tab")) return false;
        if (!QTest::qWaitFor([&] { return QApplication::focusWidget() != before; }, 3000))
            return false;
    }
    return focusName() == QString::fromUtf8(name);
}

TEST_F(XSettings, TextThatIsNotAValueIsRefusedBeforeAnythingIsWritten) {
    startWindow();
    const std::int16_t limitBefore = holding(81);
    const std::size_t mark = writesSoFar().size();
    QString status, focused, selected;
    ASSERT_TRUE(inDialog("F5", res::kVibrationDialog, [&](QWidget& d) {
        ASSERT_TRUE(tabTo("1100"));  // Maximum Limit
        QTest::qWait(100);
        xdotoolType(QStringLiteral("0.5"));
        xdotoolKey("Return");  // Change, the default button
        QTest::qWait(500);
        status = statusOf(d);
        focused = focusName();
        if (auto* e = d.findChild<QLineEdit*>(QStringLiteral("1100"))) selected = e->selectedText();
        xdotoolKey("Escape");
    }));
    EXPECT_EQ(writesTo(mark, 80, 83), 0) << "a Change with a refused field wrote";
    EXPECT_EQ(holding(81), limitBefore);
    EXPECT_TRUE(status.contains(QStringLiteral("Maximum Limit"))) << status.toStdString();
    EXPECT_FALSE(status.contains(QStringLiteral("successfully"))) << status.toStdString();
    EXPECT_EQ(focused.toStdString(), "1100");
    EXPECT_EQ(selected.toStdString(), "0.5");
}

TEST_F(XSettings, EnterOnAFocusedCloseClosesAndWritesNothing) {
    startWindow();
    const std::int16_t rateBefore = holding(80);
    const std::size_t mark = writesSoFar().size();
    ASSERT_TRUE(inDialog("F5", res::kVibrationDialog, [&](QWidget&) {
        ASSERT_TRUE(tabTo("1099"));  // Average Rate
        QTest::qWait(100);
        xdotoolType(QStringLiteral("12"));
        ASSERT_TRUE(tabTo("2"));  // Close
        xdotoolKey("Return");
    }));
    EXPECT_EQ(writesTo(mark, 80, 83), 0);
    EXPECT_EQ(holding(80), rateBefore);
}

TEST_F(XSettings, FlowControlSaveClickedFromAFieldWritesItAndCloseDiscards) {
    startWindow();
    const int savesBefore = sim.withEngine([](sim::ControllerEngine& e) { return e.saveCount(); });
    const std::int16_t kiBefore = holding(109);
    const std::int16_t typed = holding(108) == 1234 ? 1235 : 1234;
    ASSERT_TRUE(inDialog("F8", res::kFlowControlDialog, [&](QWidget& d) {
        auto* field = d.findChild<QLineEdit*>(QStringLiteral("1100"));  // Temperature Maximum
        auto* save = d.findChild<QPushButton*>(QStringLiteral("3"));
        ASSERT_TRUE(field && save);
        xdotoolClick(field);
        EXPECT_TRUE(QTest::qWaitFor([&] { return field->hasFocus() && field->hasSelectedText(); }, 3000));
        xdotoolType(QString::number(typed));
        xdotoolClick(save);
    }));
    EXPECT_EQ(holding(108), typed) << "the field clicked away from was not written";
    EXPECT_EQ(sim.withEngine([](sim::ControllerEngine& e) { return e.saveCount(); }),
              savesBefore + 1);

    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return window->statusPart(3) == "Communication Status: Receiving data"; }, 15000));
    const std::size_t mark = writesSoFar().size();
    ASSERT_TRUE(inDialog("F8", res::kFlowControlDialog, [&](QWidget& d) {
        auto* field = d.findChild<QLineEdit*>(QStringLiteral("1103"));  // Temperature Ki
        auto* close = d.findChild<QPushButton*>(QStringLiteral("2"));
        ASSERT_TRUE(field && close);
        xdotoolClick(field);
        EXPECT_TRUE(QTest::qWaitFor([&] { return field->hasFocus() && field->hasSelectedText(); }, 3000));
        xdotoolType(QStringLiteral("77"));
        xdotoolClick(close);
    }));
    QTest::qWait(300);
    EXPECT_EQ(writesTo(mark, 109, 109), 0) << "Close wrote the field being typed";
    EXPECT_EQ(holding(109), kiBefore);
}

TEST_F(XSettings, CommPortKeepsADevicePathAndTypingReplacesTheNumber) {
    // The program directory's comm file names the simulator by its device path.
    const std::string device = sim.devicePath();
    ProgramSettings s;
    s.portName = device;
    ASSERT_TRUE(writeCommFile(p.programDir, s));
    startWindow();
    const auto closePortProperties = [] {
        whenModal(QStringLiteral("portProperties"), [](QWidget& d) {
            makeActive(&d);
            xdotoolKey("Escape");
        });
    };
    const auto commFile = [&] {
        ProgramSettings read;
        read.portName.clear();
        readCommFile(p.programDir, read);
        return read.portName + " " + std::to_string(read.slaveId);
    };
    closePortProperties();
    QString shown;
    ASSERT_TRUE(inDialog(nullptr, res::kCommPortDialog, [&](QWidget& d) {
        QTest::qWait(200);
        if (auto* e = d.findChild<QLineEdit*>(QStringLiteral("1001"))) shown = e->text();
        xdotoolKey("Return");  // OK without typing
    }));
    EXPECT_EQ(shown.toStdString(), device);
    EXPECT_TRUE(QTest::qWaitFor([] { return !QApplication::activeModalWidget(); }, 5000));
    EXPECT_EQ(commFile(), device + " 1");

    // COM7 shown as 7 and selected: a 5 typed over it is COM5, not COM75.
    fs::create_symlink(device, dir / "COM7");
    s.portName = "COM7";
    ASSERT_TRUE(writeCommFile(p.programDir, s));
    window->shutDown();
    window.reset();
    startWindow();
    closePortProperties();
    ASSERT_TRUE(inDialog(nullptr, res::kCommPortDialog, [&](QWidget&) {
        QTest::qWait(200);
        xdotoolType(QStringLiteral("5"));
        xdotoolKey("Return");
    }));
    EXPECT_TRUE(QTest::qWaitFor([] { return !QApplication::activeModalWidget(); }, 5000));
    EXPECT_EQ(commFile(), "COM5 1");
}

}  // namespace
}  // namespace kvx::test
