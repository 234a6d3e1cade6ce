#include "settings/event_log_dialog.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "resources/resource_ids.h"
#include "ui/dialog_parts.h"
#include "ui/dialog_width.h"

namespace kvx {

EventLogDialog::EventLogDialog(const EventWords& words, QWidget* parent) : QDialog(parent) {
    setObjectName(idName(res::kEventLogDialog));
    setWindowTitle(QString::fromUtf8(kEventLogTitle));

    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    layout->addLayout(grid);
    const char* headings[] = {"DATE:MM/DD/YY", "TIME", "EVENT"};
    for (int c = 0; c < 3; ++c)
        grid->addWidget(new QLabel(QString::fromUtf8(headings[c]), this), 0, c);

    const auto rows = eventLogRows(words);
    const QFontMetrics fm = fontMetrics();
    // Wide enough for the longest text the controller's words can give.
    const int dateWidth = fm.horizontalAdvance(QStringLiteral("DATE:MM/DD/YY")) + 16;
    const int timeWidth = fm.horizontalAdvance(QStringLiteral("31:63.7")) + 24;
    int eventWidth = fm.horizontalAdvance(QStringLiteral("Diesel Flow Below Minimum")) + 16;
    for (const EventRow& r : rows)
        eventWidth =
            std::max(eventWidth, fm.horizontalAdvance(QString::fromStdString(r.event)) + 16);
    for (int n = 0; n < kEventRows; ++n) {
        const EventRow& r = rows[static_cast<std::size_t>(n)];
        const struct {
            int id;
            const std::string& text;
            int width;
        } cells[] = {{eventDateId(n), r.date, dateWidth},
                     {eventTimeId(n), r.time, timeWidth},
                     {eventTextId(n), r.event, eventWidth}};
        for (int c = 0; c < 3; ++c) {
            auto* edit = new QLineEdit(QString::fromStdString(cells[c].text), this);
            edit->setObjectName(idName(cells[c].id));
            edit->setMinimumWidth(cells[c].width);
            edit->setCursorPosition(0);
            grid->addWidget(edit, n + 1, c);
        }
    }

    auto* close = makeButton(1, QStringLiteral("Close"), this, true);
    addButtonRow(layout, {close});
    connect(close, &QPushButton::clicked, this, [this] { done(kResultClosed); });
    ensureTitleFits(this);
    close->setFocus();
}

void EventLogDialog::closeEvent(QCloseEvent* event) {
    // Only Close ends the viewer; done() hides it without passing through here.
    event->ignore();
}

}  // namespace kvx
