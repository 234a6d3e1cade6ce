#include "ui/dialog_parts.h"

#include <QBoxLayout>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QTimer>

namespace kvx {

EntryField::EntryField(int id, const QString& text, QWidget* parent)
    : QLineEdit(text, parent), id_(id) {
    setObjectName(idName(id));
}

void EntryField::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    // After the click that gave the focus has placed the cursor.
    QTimer::singleShot(0, this, [this] {
        if (hasFocus()) selectAll();
    });
}

void EntryField::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    // A menu or another window taking the focus for a moment is no leave of the field.
    if (event->reason() != Qt::PopupFocusReason && event->reason() != Qt::ActiveWindowFocusReason)
        emit left(id_);
}

QString idName(int id) {
    return QString::number(id);
}

QPushButton* makeButton(int id, const QString& caption, QWidget* parent, bool isDefault) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(idName(id));
    b->setDefault(isDefault);
    // Enter on a button that has the focus presses that button (Close closes, it never runs
    // the default Change); in a field Enter still runs the dialog's default button.
    b->setAutoDefault(true);
    return b;
}

QHBoxLayout* addButtonRow(QBoxLayout* layout, std::initializer_list<QPushButton*> buttons,
                          Qt::Alignment align) {
    auto* row = new QHBoxLayout;
    row->addStretch();
    for (QPushButton* b : buttons)
        row->addWidget(b);
    if (align & Qt::AlignHCenter) row->addStretch();
    layout->addLayout(row);
    return row;
}

QLabel* makeStatusLine(QWidget* parent) {
    auto* l = new QLabel(parent);
    l->setObjectName(idName(1034));
    // Room for a refusal's three lines from the start: a dialog laid out for one line keeps
    // its height and squeezes its fields when a longer message wraps.
    l->setMinimumHeight(3 * l->fontMetrics().lineSpacing() + 4);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    l->setWordWrap(true);
    return l;
}

}  // namespace kvx
