// The shared button row: the buttons at the right (or centred) in the order given, and Enter
// presses the focused button, or the default one from a field.
#include "ui/dialog_parts.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QVBoxLayout>

namespace kvx::test {
namespace {

TEST(DialogParts, ButtonRowPlacesButtonsAndEnterPressesTheRightOne) {
    for (const Qt::Alignment align : {Qt::AlignRight, Qt::AlignHCenter}) {
        SCOPED_TRACE(align == Qt::AlignRight ? "right" : "centred");
        QDialog dialog;
        auto* layout = new QVBoxLayout(&dialog);
        auto* field = new EntryField(1083, QStringLiteral("5"), &dialog);
        layout->addWidget(field);
        auto* ok = makeButton(1, QStringLiteral("OK"), &dialog, true);
        auto* cancel = makeButton(2, QStringLiteral("Cancel"), &dialog);
        QHBoxLayout* row = addButtonRow(layout, {ok, cancel}, align);

        const int stretches = align == Qt::AlignRight ? 1 : 2;
        ASSERT_EQ(row->count(), 2 + stretches);
        EXPECT_NE(row->itemAt(0)->spacerItem(), nullptr);
        EXPECT_EQ(row->itemAt(1)->widget(), ok);
        EXPECT_EQ(row->itemAt(2)->widget(), cancel);
        if (stretches == 2) {
            EXPECT_NE(row->itemAt(3)->spacerItem(), nullptr);
        }
        EXPECT_EQ(dialog.findChild<QPushButton*>(QStringLiteral("2")), cancel);
        EXPECT_EQ(dialog.findChild<EntryField*>(QStringLiteral("1083")), field);

        dialog.show();
        QApplication::processEvents();
        int oks = 0, cancels = 0;
        QObject::connect(ok, &QPushButton::clicked, [&] { ++oks; });
        QObject::connect(cancel, &QPushButton::clicked, [&] { ++cancels; });
        const struct {
            QWidget* target;
            int oks, cancels;
        } presses[] = {{cancel, 0, 1}, {field, 1, 1}, {ok, 2, 1}};
        for (const auto& p : presses) {
            QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
            QApplication::sendEvent(p.target, &enter);
            EXPECT_EQ(oks, p.oks) << p.target->objectName().toStdString();
            EXPECT_EQ(cancels, p.cancels) << p.target->objectName().toStdString();
        }
    }
}

}  // namespace
}  // namespace kvx::test
