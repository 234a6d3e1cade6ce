// A dialog's title must fit its title bar, whatever the fields would make of its width.
#include "ui/dialog_width.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

namespace kvx::test {
namespace {

// The title as the window manager would draw it: bold, in the larger of the title and the
// application fonts.
int boldTitleAdvance(const QString& title, int* lineHeight) {
    QFont a = QFontDatabase::systemFont(QFontDatabase::TitleFont);
    QFont b = QApplication::font();
    a.setBold(true);
    b.setBold(true);
    const QFontMetrics fa(a), fb(b);
    *lineHeight = std::max(fa.height(), fb.height());
    return std::max(fa.horizontalAdvance(title), fb.horizontalAdvance(title));
}

TEST(DialogWidth, TitleFitsBesideIconAndButtonsButContentsStillRule) {
    const int screenWidth = QApplication::primaryScreen()->availableGeometry().width();
    const struct {
        QString title;
        int contentWidth;  // of the dialog's only field
        int presetMinimum;
    } cases[] = {
        {"Select Communication Port", 40, 0}, {"Establishing communication", 40, 0},
        {"COM5 Properties", 40, 0},           {"A", 600, 0},  // the fields are wider than the title
        {"Scaling Settings", 40, 900},                        // a wider minimum stays
        {QString(400, QChar('W')), 40, 0},                    // never wider than the screen
    };
    for (const auto& c : cases) {
        QDialog dialog;
        dialog.setWindowTitle(c.title);
        auto* layout = new QVBoxLayout(&dialog);
        auto* field = new QLabel(&dialog);
        field->setFixedWidth(c.contentWidth);
        layout->addWidget(field);
        if (c.presetMinimum) dialog.setMinimumWidth(c.presetMinimum);
        ensureTitleFits(&dialog);
        dialog.show();
        QApplication::processEvents();

        const QString what = c.title.left(30);
        int lineHeight = 0;
        const int text = boldTitleAdvance(c.title, &lineHeight);
        const int need = std::min(text + 3 * lineHeight, screenWidth);
        EXPECT_GE(dialog.minimumWidth(), need) << what.toStdString();
        EXPECT_GE(dialog.width(), need) << what.toStdString();
        EXPECT_GE(dialog.width(), c.contentWidth) << what.toStdString();
        EXPECT_GE(dialog.minimumWidth(), c.presetMinimum) << what.toStdString();
        EXPECT_LE(dialog.minimumWidth(),
                  std::max({screenWidth, c.presetMinimum, layout->totalMinimumSize().width()}))
            << what.toStdString();
    }
}

TEST(DialogWidth, LongerTitlesNeedMoreRoomAndNoDialogIsHarmless) {
    EXPECT_GT(titleBarWidth("Select Communication Port"), titleBarWidth("Select"));
    EXPECT_GT(titleBarWidth(""), 0);  // the buttons need room all the same
    ensureTitleFits(nullptr);
}

}  // namespace
}  // namespace kvx::test
