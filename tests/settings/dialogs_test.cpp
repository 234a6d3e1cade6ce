// The settings dialogs on the offscreen platform: controls by id, closing paths, the password
// dialog's answers and flow control's field leaves.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "settings/access_code.h"
#include "settings/alarm_dialogs.h"
#include "settings/flow_control_dialog.h"
#include "settings/password_dialog.h"
#include "settings/register_screen_dialog.h"
#include "settings/settings_texts.h"
#include "tests/support/fake_link.h"
#include "ui/scripted_prompts.h"

namespace kvx {
namespace {

using test::FakeLink;

template <class W = QWidget>
W* byId(QWidget& d, int id) {
    return d.findChild<W*>(QString::number(id));
}

int writes(const FakeLink& link) {
    int n = 0;
    for (const auto& c : link.calls)
        n += c.kind == 'W' || c.kind == 'M';
    return n;
}

void activate(QWidget& d) {
    d.show();
    d.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
}

// Enter on a button that has the focus presses that button: on Close it closes, on an e-mail
// toggle it flips only that toggle, and the default button is never run instead.
TEST(SettingsDialogs, EnterOnAFocusedButtonPressesThatButton) {
    FakeLink link;
    link.open = true;
    link.holding[130] = 0;
    BlockStore blocks;
    {
        RegisterScreen screen(vibrationSensorScreen(), {link, blocks, 1});
        ASSERT_EQ(screen.readBlocks(), 0);
        RegisterScreenDialog d(screen, [] {});
        activate(d);
        byId<QLineEdit>(d, 1099)->setText("12");
        link.calls.clear();
        byId<QPushButton>(d, 2)->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        EXPECT_EQ(writes(link), 0) << "Enter on Close wrote";
        EXPECT_FALSE(d.isVisible());
    }
    {
        EmailScreen screen({link, blocks, 1});
        ASSERT_EQ(screen.readBlock(), 0);
        EmailDialog d(screen, [] {});
        activate(d);
        link.calls.clear();
        byId<QPushButton>(d, 1120)->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        EXPECT_EQ(byId<QPushButton>(d, 1120)->text(), "Enabled");
        EXPECT_TRUE(d.isVisible());
        byId<QPushButton>(d, 2)->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        EXPECT_EQ(writes(link), 0) << "Enter on Close wrote the toggles";
        EXPECT_FALSE(d.isVisible());
    }
}

TEST(RegisterScreenDialog, EveryScreenHasItsControlsAndClosesWithTwoWithoutWriting) {
    for (const ScreenTable* table : registerScreens()) {
        SCOPED_TRACE(table->title);
        FakeLink link;
        link.open = true;
        BlockStore blocks;
        RegisterScreen screen(*table, {link, blocks, 1});
        int restarts = 0;
        RegisterScreenDialog d(screen, [&] { ++restarts; });
        EXPECT_EQ(d.objectName(), QString::number(table->dialogId));
        EXPECT_EQ(d.windowTitle(), table->title);
        EXPECT_GE(d.minimumWidth(), d.fontMetrics().horizontalAdvance(d.windowTitle()));
        for (const ScreenField& f : table->fields)
            EXPECT_NE(byId<QLineEdit>(d, f.editId), nullptr) << f.editId;
        ASSERT_NE(byId<QLabel>(d, 1034), nullptr);
        EXPECT_TRUE(byId<QPushButton>(d, 1)->isDefault());
        EXPECT_EQ(byId<QPushButton>(d, 1)->text(), table->changeCaption);
        EXPECT_EQ(byId<QPushButton>(d, 3)->text(), "Save && Close");
        EXPECT_EQ(byId<QPushButton>(d, 2)->text(), "Close");
        link.calls.clear();

        // A failed save keeps it open with the screen's text; Escape closes it.
        activate(d);
        link.failWrite[7] = true;
        byId<QPushButton>(d, 3)->click();
        EXPECT_TRUE(d.isVisible());
        EXPECT_EQ(d.statusText(), table->saveFailure);
        EXPECT_EQ(restarts, 0);
        QTest::keyClick(&d, Qt::Key_Escape);
        EXPECT_FALSE(d.isVisible());
        EXPECT_EQ(d.result(), 2);
        EXPECT_EQ(restarts, 1);
        EXPECT_EQ(writes(link), 1);  // the save command only
    }
}

TEST(RegisterScreenDialog, AFieldSelectsItsWholeTextOnFocus) {
    FakeLink link;
    link.open = true;
    link.holding[77] = 1050;
    BlockStore blocks;
    RegisterScreen screen(exhaustTemperatureScreen(), {link, blocks, 1});
    ASSERT_EQ(screen.readBlocks(), 0);
    RegisterScreenDialog d(screen, {});
    activate(d);
    auto* max = byId<QLineEdit>(d, 1100);
    EXPECT_EQ(max->text(), "1050");
    QTest::keyClick(&d, Qt::Key_Tab);
    ASSERT_TRUE(QTest::qWaitFor([&] { return max->hasFocus() && max->hasSelectedText(); }));
    EXPECT_EQ(max->selectedText(), "1050");
    QTest::keyClicks(max, "1300");
    QTest::keyClick(max, Qt::Key_Return);  // the default button: Change
    EXPECT_EQ(link.holding[77], 1300);
    EXPECT_EQ(d.statusText(), settings_text::kUpdated);
}

TEST(PasswordDialog, AnswersByTheCode) {
    struct Case {
        const char* typed;  // nullptr: Cancel
        bool accepted;
        int result;  // 0: still open
        const char* boxTitle;
    };
    const Case cases[] = {
        {"5182", true, 1, "Assistance"},
        {"6297", true, 1, "Assistance"},
        {"1234", false, 0, "Warning"},
        {nullptr, false, 2, nullptr},
    };
    for (const Case& c : cases) {
        test::ScriptedPrompts prompts;
        PasswordDialog d(prompts);
        EXPECT_EQ(d.windowTitle(), "Required Information");
        activate(d);
        auto* code = byId<QLineEdit>(d, 1022);
        EXPECT_EQ(code->echoMode(), QLineEdit::Password);
        QTest::keyClicks(code, "x");  // digits only
        EXPECT_EQ(code->text(), "");
        if (c.typed) {
            QTest::keyClicks(code, c.typed);
            byId<QPushButton>(d, 1)->click();
        } else {
            byId<QPushButton>(d, 2)->click();
        }
        EXPECT_EQ(d.passwordAccepted(), c.accepted);
        EXPECT_EQ(d.isVisible(), c.result == 0);
        if (c.result) {
            EXPECT_EQ(d.result(), c.result);
        }
        if (c.boxTitle) {
            ASSERT_EQ(prompts.boxes.size(), 1u);
            EXPECT_EQ(prompts.boxes[0].title, c.boxTitle);
            EXPECT_EQ(prompts.boxes[0].text, c.accepted ? assistanceText() : wrongPasswordText());
            EXPECT_EQ(prompts.boxes[0].icon, c.accepted ? BoxIcon::Information : BoxIcon::Warning);
        } else {
            EXPECT_TRUE(prompts.boxes.empty());
        }
        if (c.result == 0) {
            EXPECT_TRUE(code->text().isEmpty());
            EXPECT_TRUE(code->hasFocus());
            QTest::keyClick(&d, Qt::Key_Escape);
            EXPECT_EQ(d.result(), 2);
        }
    }
}

TEST(FlowControlDialog, LeavingAFieldWritesItAndLeavesAfterClosingAreDropped) {
    FakeLink link;
    link.open = true;
    link.holding[107] = 220;
    BlockStore blocks;
    FlowControlScreen screen({link, blocks, 1});
    screen.readBlocks();
    int restarts = 0;
    auto d = std::make_unique<FlowControlDialog>(screen, [&] { ++restarts; });
    activate(*d);
    link.calls.clear();
    auto* battery = byId<QLineEdit>(*d, 1128);
    battery->setFocus();
    battery->setText("12.6");
    byId<QLineEdit>(*d, 1129)->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return writes(link) >= 1; }));
    QTest::qWait(20);
    EXPECT_EQ(link.holding[107], 126);
    EXPECT_EQ(d->statusText(), settings_text::kUpdated);

    // A leave posted just before the dialog closes arrives after it has closed: dropped.
    link.calls.clear();
    byId<QLineEdit>(*d, 1122)->setFocus();  // leaves 1129: its update is now on its way
    d->reject();
    QTest::qWait(50);
    EXPECT_EQ(writes(link), 0);
    EXPECT_EQ(restarts, 1);
}

TEST(AlarmDialogs, EmailTogglesAndAcknowledgeResult) {
    FakeLink link;
    link.open = true;
    link.holding[137] = 5;
    BlockStore blocks;
    EmailScreen screen({link, blocks, 1});
    ASSERT_EQ(screen.readBlock(), 0);
    EmailDialog email(screen, {});
    EXPECT_EQ(email.windowTitle(), "Configure Alarm Email Enablers");
    auto* overspeed = byId<QPushButton>(email, 1040);
    EXPECT_EQ(overspeed->text(), "Enabled");
    overspeed->click();
    EXPECT_EQ(overspeed->text(), "Disabled");
    EXPECT_TRUE(byId<QPushButton>(email, 1)->isDefault());
    EXPECT_EQ(writes(link), 0);

    link.failWrite[69] = true;
    AcknowledgeDialog ack({link, blocks, 1});
    EXPECT_EQ(ack.windowTitle(), "Aknowledge Alarm");
    activate(ack);
    byId<QPushButton>(ack, 1)->click();
    EXPECT_TRUE(ack.isVisible());
    EXPECT_EQ(byId<QLabel>(ack, 1106)->text(), "Failed to write! Try again.");
    link.failWrite[69] = false;
    byId<QPushButton>(ack, 1)->click();
    EXPECT_EQ(ack.result(), 1);
    EXPECT_EQ(writes(link), 6);
}

}  // namespace
}  // namespace kvx
