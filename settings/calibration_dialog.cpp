#include "settings/calibration_dialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTableWidget>
#include <QVBoxLayout>

#include "resources/resource_ids.h"
#include "ui/dialog_parts.h"
#include "ui/dialog_width.h"

namespace kvx {

namespace {
constexpr int kColumnWidth = 210;
}

CalibrationDialog::CalibrationDialog(CalibrationEditor& editor, QWidget* parent)
    : QDialog(parent), editor_(editor) {
    setObjectName(idName(res::kCalibrationDialog));
    setWindowTitle(QString::fromUtf8(kCalibrationTitle));
    editor_.initialise();

    auto* layout = new QVBoxLayout(this);
    const int rows = editor_.rowCount();
    list_ = new QTableWidget(rows, 2, this);
    list_->setObjectName(idName(kCalibrationListId));
    list_->setHorizontalHeaderLabels({QStringLiteral("Register"), QStringLiteral("Value")});
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->verticalHeader()->setVisible(false);
    list_->setColumnWidth(0, kColumnWidth);
    list_->setColumnWidth(1, kColumnWidth);
    list_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int r = 0; r < rows; ++r) {
        list_->setItem(r, 0, new QTableWidgetItem(QString::fromStdString(editor_.rowName(r))));
        list_->setItem(r, 1, new QTableWidgetItem(QString::fromStdString(editor_.valueText(r))));
    }
    list_->resizeRowsToContents();
    const int frame = 2 * list_->frameWidth();
    list_->setMinimumWidth(2 * kColumnWidth + frame +
                           list_->verticalScrollBar()->sizeHint().width());
    list_->setMinimumHeight(16 * list_->rowHeight(0) + list_->horizontalHeader()->height() + frame);
    layout->addWidget(list_);

    // Which registers show no value, for the whole opening.
    notRead_ = new QLabel(QString::fromStdString(editor_.notRead()), this);
    notRead_->setObjectName(QStringLiteral("notRead"));
    notRead_->setWordWrap(true);
    notRead_->setVisible(!editor_.notRead().empty());
    layout->addWidget(notRead_);

    auto* entry = new QHBoxLayout;
    edit_ = new QLineEdit(this);
    edit_->setObjectName(idName(kCalibrationEditId));
    edit_->setMaxLength(kCalibrationEditMaxLength);
    entry->addWidget(edit_, 1);
    auto* changeButton = makeButton(kCalibrationChangeId, QStringLiteral("Change"), this, true);
    entry->addWidget(changeButton);
    layout->addLayout(entry);

    status_ = makeStatusLine(this);
    layout->addWidget(status_);

    auto* save = makeButton(1, QStringLiteral("Save && Close"), this);
    auto* close = makeButton(2, QStringLiteral("Close"), this);
    addButtonRow(layout, {save, close});

    connect(changeButton, &QPushButton::clicked, this, &CalibrationDialog::change);
    connect(save, &QPushButton::clicked, this, &CalibrationDialog::saveAndClose);
    connect(close, &QPushButton::clicked, this, &CalibrationDialog::reject);
    connect(list_, &QTableWidget::cellClicked, this, [this](int row, int) { rowClicked(row); });
    // The highlighted row is always the one Change writes, however it was reached.
    connect(list_, &QTableWidget::currentCellChanged, this,
            [this](int row, int, int previous, int) {
                if (row != previous) rowMoved(row);
            });

    // The row Change will write is shown from the start.
    const QSignalBlocker quiet(list_);
    list_->setCurrentCell(editor_.selectedRow(), 0);
    list_->scrollToItem(list_->item(editor_.selectedRow(), 0));
    ensureTitleFits(this);
}

void CalibrationDialog::rowMoved(int row) {
    if (row < 0) return;
    editor_.select(row);
    edit_->setText(QString::fromStdString(editor_.valueText(row)));
}

void CalibrationDialog::rowClicked(int row) {
    rowMoved(row);
    edit_->selectAll();
    edit_->setFocus();
}

void CalibrationDialog::change() {
    if (!edit_->isModified()) return;  // nothing typed since the last click or change
    if (editor_.change(edit_->text().toStdString())) {
        const int row = editor_.selectedRow();
        list_->item(row, 1)->setText(QString::fromStdString(editor_.valueText(row)));
        edit_->setText(QString::fromStdString(editor_.valueText(row)));
        edit_->setModified(false);
    }
    status_->setText(QString::fromStdString(editor_.status()));
}

void CalibrationDialog::saveAndClose() {
    saved_ = editor_.save() == 0;
    done(saved_ ? kResultSaved : kResultSaveFailed);
}

void CalibrationDialog::reject() {
    done(kResultSaved);
}

QString CalibrationDialog::statusText() const {
    return status_->text();
}

}  // namespace kvx
