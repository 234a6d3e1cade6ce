// The boxes on screen: a question that leads to a write or a save must answer No to Enter.
#include "ui/qt_prompts.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

namespace kvx::test {
namespace {

// Presses the default button of the next message box, as Enter would.
void pressDefaultWhenUp(QString* shownButtons) {
    auto* poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [poll, shownButtons] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        poll->stop();
        poll->deleteLater();
        *shownButtons = QString();
        for (QAbstractButton* b : box->buttons())
            *shownButtons += b->text().remove('&') + ' ';
        if (QPushButton* d = box->defaultButton()) d->click();
        else box->reject();
    });
    poll->start();
}

TEST(QtPrompts, EnterGivesEachQuestionItsDefaultAnswer) {
    QtPrompts prompts;
    const std::pair<BoxButtons, int> cases[] = {
        {BoxButtons::YesNo, kAnswerYes},
        {BoxButtons::YesNoDefaultNo, kAnswerNo},
        {BoxButtons::Ok, kAnswerOk},
    };
    for (const auto& [buttons, expected] : cases) {
        SCOPED_TRACE(static_cast<int>(buttons));
        QString shown;
        pressDefaultWhenUp(&shown);
        EXPECT_EQ(prompts.messageBox("Send the save command now?", "Download Settings",
                                     BoxIcon::Question, buttons, false),
                  expected);
        EXPECT_EQ(shown.contains("Yes"), buttons != BoxButtons::Ok) << shown.toStdString();
    }
}

}  // namespace
}  // namespace kvx::test
