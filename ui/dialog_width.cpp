#include "ui/dialog_width.h"

#include <QApplication>
#include <QDialog>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLayout>
#include <QScreen>
#include <algorithm>

namespace kvx {

namespace {

// Window managers take the title font from their own theme; the platform's title font or the
// application font, whichever is larger, errs on the wide side.
QFont titleBarFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::TitleFont);
    const QFont app = QApplication::font();
    if (QFontInfo(app).pixelSize() > QFontInfo(font).pixelSize()) font = app;
    font.setBold(true);
    return font;
}

}  // namespace

int titleBarWidth(const QString& title) {
    const QFontMetrics fm(titleBarFont());
    // Icon and three buttons (minimise, maximise, close), each about a title bar high and
    // square, and some padding at both ends and around the text.
    const int button = fm.height() + 8;
    return fm.horizontalAdvance(title) + 4 * button + 32;
}

void ensureTitleFits(QDialog* dialog) {
    if (!dialog) return;
    int need = titleBarWidth(dialog->windowTitle());
    if (const QScreen* screen = dialog->screen())
        need = std::min(need, screen->availableGeometry().width());
    if (const QLayout* layout = dialog->layout())
        need = std::max(need, layout->totalMinimumSize().width());
    if (dialog->minimumWidth() < need) dialog->setMinimumWidth(need);
}

}  // namespace kvx
