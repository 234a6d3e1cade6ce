#include "settings/restore_dialog.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "model/registers.h"
#include "resources/resource_ids.h"
#include "settings/register_screen.h"
#include "ui/dialog_parts.h"
#include "ui/dialog_width.h"

namespace kvx {
namespace {

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

QString number(int v) {
    return QString::number(v);
}

QTableWidget* makeTable(int id, int rows, const QStringList& headings, QWidget* parent) {
    auto* t = new QTableWidget(rows, static_cast<int>(headings.size()), parent);
    t->setObjectName(idName(id));
    t->setHorizontalHeaderLabels(headings);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->verticalHeader()->setVisible(false);
    t->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return t;
}

QTableWidgetItem* cell(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

// Columns as wide as their widest text, and the table as wide as its columns, showing at most
// maxRows rows before it scrolls.
void fitTable(QTableWidget* t, int maxRows) {
    t->resizeColumnsToContents();
    t->resizeRowsToContents();
    const int frame = 2 * t->frameWidth();
    int width = frame + t->verticalScrollBar()->sizeHint().width();
    for (int c = 0; c < t->columnCount(); ++c)
        width += t->columnWidth(c);
    t->setMinimumWidth(width);
    const int rowHeight = t->rowCount() > 0 ? t->rowHeight(0) : t->fontMetrics().height() + 8;
    const int shown = std::max(1, std::min(t->rowCount(), maxRows));
    const int height = shown * rowHeight + t->horizontalHeader()->sizeHint().height() + frame +
                       t->horizontalScrollBar()->sizeHint().height();
    t->setMinimumHeight(height);
    t->setMaximumHeight(std::max(height, maxRows * rowHeight + frame +
                                             t->horizontalHeader()->sizeHint().height() +
                                             t->horizontalScrollBar()->sizeHint().height()));
}

std::string versionText(int firmware) {
    return settingsVersionText(firmware);
}

}  // namespace

FileDialogRequest restoreFileRequest(const std::string& programDir) {
    return {"Select Settings File",
            {{"CSV Files (*.csv)", "*.csv"}, {"All Files (*.*)", "*.*"}},
            programDir,
            ""};
}

std::string restoreSaveQuestion() {
    return "Send the save command now? The controller then keeps the written settings when it "
           "is switched off; without it they last until then.";
}

// Whose settings go where: the file, and the two identities side by side.
void RestoreDialog::addIdentities(QVBoxLayout* layout, const std::string& filePath) {
    const auto& c = comparison_;
    auto* file = new QLabel(QStringLiteral("Settings file: ") + qs(filePath), this);
    file->setObjectName(QStringLiteral("file"));
    file->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(file);

    auto* ids = new QGridLayout;
    ids->addWidget(new QLabel(QStringLiteral("Serial number"), this), 0, 1);
    ids->addWidget(new QLabel(QStringLiteral("Firmware"), this), 0, 2);
    const auto identityRow = [&](int row, const char* who, int serial, int firmware) {
        ids->addWidget(new QLabel(QString::fromUtf8(who), this), row, 0);
        auto* s = new QLabel(number(serial), this);
        s->setObjectName(QStringLiteral("serial%1").arg(row));
        ids->addWidget(s, row, 1);
        auto* v = new QLabel(qs(versionText(firmware)), this);
        v->setObjectName(QStringLiteral("firmware%1").arg(row));
        ids->addWidget(v, row, 2);
    };
    identityRow(1, "Controller", c.controllerSerial, c.firmware);
    identityRow(2, "File", c.fileSerial, c.fileFirmware);
    ids->setColumnStretch(3, 1);
    ids->setHorizontalSpacing(24);
    layout->addLayout(ids);

    auto* serialNote = new QLabel(this);
    serialNote->setObjectName(idName(kRestoreSerialId));
    serialNote->setWordWrap(true);
    if (!c.sameSerial()) {
        QFont bold = serialNote->font();
        bold.setBold(true);
        serialNote->setFont(bold);
        serialNote->setText(QStringLiteral("The file was read from another controller (serial "
                                           "number %1): its settings will be copied onto this "
                                           "one (serial number %2).")
                                .arg(c.fileSerial)
                                .arg(c.controllerSerial));
    } else {
        serialNote->setText(QStringLiteral("The file was read from this controller."));
    }
    layout->addWidget(serialNote);
}

// The differences a restore may write.
RestoreDialog::DifferenceNotes RestoreDialog::addDifferences(QVBoxLayout* layout) {
    const auto& c = comparison_;
    const int rows = static_cast<int>(c.differences.size());
    auto* heading = new QLabel(
        rows == 0 ? QStringLiteral("No differences: the controller holds every value of the file "
                                   "that a restore writes.")
                  : QStringLiteral("Differences (%1). Write sends the File value of each checked "
                                   "row.")
                        .arg(rows),
        this);
    heading->setWordWrap(true);
    layout->addWidget(heading);
    list_ = makeTable(kRestoreListId, rows,
                      {QStringLiteral("Write"), QStringLiteral("Ref."), QStringLiteral("Name"),
                       QStringLiteral("Controller"), QStringLiteral("File"),
                       QStringLiteral("Controller (units)"), QStringLiteral("File (units)")},
                      this);
    DifferenceNotes notes;
    const std::vector<bool> chosen = restoreChosenByDefault(c);
    for (int r = 0; r < rows; ++r) {
        const SettingsDifference& d = c.differences[static_cast<std::size_t>(r)];
        auto* check = new QTableWidgetItem;
        check->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
        // The slave address moves only when asked for by name.
        const bool isAddress = d.kind == RestoreKind::SlaveAddress;
        notes.address = notes.address || isAddress;
        notes.foreignCalibration =
            notes.foreignCalibration || (d.kind == RestoreKind::Calibration && !c.sameSerial());
        check->setCheckState(chosen[static_cast<std::size_t>(r)] ? Qt::Checked : Qt::Unchecked);
        list_->setItem(r, 0, check);
        list_->setItem(r, 1, cell(number(d.reference)));
        list_->setItem(r, 2, cell(qs(d.name)));
        list_->setItem(r, 3, cell(number(d.controller)));
        list_->setItem(r, 4, cell(number(d.file)));
        list_->setItem(r, 5, cell(qs(d.controllerShown)));
        list_->setItem(r, 6, cell(qs(d.fileShown)));
        if (isAddress && (d.file < 1 || d.file > 247)) {
            check->setFlags(Qt::ItemIsSelectable);  // no master could reach it there
            list_->item(r, 2)->setText(qs(d.name) + QStringLiteral(" (not 1-247: never written)"));
        }
    }
    fitTable(list_, 12);
    list_->setVisible(rows > 0);
    layout->addWidget(list_, 1);
    return notes;
}

// Why some rows are unchecked or never written.
void RestoreDialog::addDifferenceNotes(QVBoxLayout* layout, const DifferenceNotes& notes) {
    const auto& c = comparison_;
    if (notes.address) {
        auto* note = new QLabel(QStringLiteral("modbus_address is written only when checked; the "
                                               "controller and the viewer then use the new "
                                               "address."),
                                this);
        note->setObjectName(QStringLiteral("addressNote"));
        note->setWordWrap(true);
        layout->addWidget(note);
    }

    if (!c.addedRows.empty()) {
        auto* note = new QLabel(
            QStringLiteral("Rows %1 are unchecked: backups made before the upload read them hold "
                           "0 there, not the controller's values. Check one only when this file "
                           "holds a value you mean to write.")
                .arg(qs(c.addedRows)),
            this);
        note->setObjectName(QStringLiteral("olderBackupsNote"));
        note->setWordWrap(true);
        layout->addWidget(note);
    }

    if (notes.foreignCalibration) {
        auto* note = new QLabel(
            QStringLiteral("The sensor calibration rows (gains, offsets, calibrated) belong to the "
                           "unit, not to its configuration: they are unchecked because the file "
                           "comes from another controller. Check one only to copy it onto this "
                           "controller on purpose."),
            this);
        note->setObjectName(QStringLiteral("calibrationNote"));
        note->setWordWrap(true);
        layout->addWidget(note);
    }
}

// What a restore never writes.
void RestoreDialog::addSetApart(QVBoxLayout* layout) {
    const auto& c = comparison_;
    const int apart = static_cast<int>(c.setApart.size());
    if (apart > 0) {
        auto* apartHeading =
            new QLabel(QStringLiteral("Never restored (%1): identity, commands, clock and what "
                                      "the controller counts itself.")
                           .arg(apart),
                       this);
        apartHeading->setWordWrap(true);
        layout->addWidget(apartHeading);
        auto* table =
            makeTable(kRestoreApartId, apart,
                      {QStringLiteral("Ref."), QStringLiteral("Name"), QStringLiteral("Controller"),
                       QStringLiteral("File"), QStringLiteral("Kind")},
                      this);
        for (int r = 0; r < apart; ++r) {
            const SettingsDifference& d = c.setApart[static_cast<std::size_t>(r)];
            table->setItem(r, 0, cell(number(d.reference)));
            table->setItem(r, 1, cell(qs(d.name)));
            table->setItem(r, 2, cell(number(d.controller)));
            table->setItem(r, 3, cell(number(d.file)));
            table->setItem(r, 4, cell(QString::fromUtf8(restoreKindText(d.kind))));
        }
        fitTable(table, 4);
        layout->addWidget(table);
    }
    if (!c.notInFile.empty()) {
        auto* notInFile = new QLabel(
            QStringLiteral(
                "Not restored: registers %1. Firmware %2 files have rows for them, "
                "but the controller does not give them, so the file holds no value there.")
                .arg(qs(c.notInFile), qs(versionText(c.firmware))),
            this);
        notInFile->setObjectName(QStringLiteral("notInFile"));
        notInFile->setWordWrap(true);
        layout->addWidget(notInFile);
    }
}

RestoreDialog::RestoreDialog(const SettingsComparison& comparison, const std::string& filePath,
                             SettingsContext context, Prompts& prompts, QWidget* parent)
    : QDialog(parent), comparison_(comparison), ctx_(context), prompts_(prompts) {
    setObjectName(idName(res::kDownloadDialog));
    setWindowTitle(QString::fromUtf8(kRestoreTitle));
    const auto& c = comparison_;
    auto* layout = new QVBoxLayout(this);
    // Never smaller than the rows, notes and buttons need (a minimum width of its own would
    // otherwise let the height shrink below that).
    layout->setSizeConstraint(QLayout::SetMinimumSize);

    addIdentities(layout, filePath);
    const DifferenceNotes notes = addDifferences(layout);
    addDifferenceNotes(layout, notes);
    addSetApart(layout);

    const int rows = static_cast<int>(c.differences.size());

    // What Write did: as many lines as it takes, scrolled rather than clipped.
    status_ = new QPlainTextEdit(this);
    status_->setObjectName(QStringLiteral("outcome"));
    status_->setReadOnly(true);
    status_->setPlaceholderText(QStringLiteral("Nothing has been written."));
    // Room for the report of a write that failed half way, whole lines only.
    const QMargins inner = status_->contentsMargins();
    status_->setFixedHeight(9 * status_->fontMetrics().lineSpacing() +
                            2 * static_cast<int>(status_->document()->documentMargin()) +
                            inner.top() + inner.bottom() + 2);
    layout->addWidget(status_);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    // Enter closes: writing to a running engine's controller takes a click on Write.
    writeButton_ = makeButton(kRestoreWriteId, QStringLiteral("Write"), this);
    writeButton_->setAutoDefault(false);  // Enter on it runs Close, the default
    writeButton_->setEnabled(rows > 0 && c.sameFirmware());
    auto* close = makeButton(2, QStringLiteral("Close"), this, true);
    buttons->addWidget(writeButton_);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    connect(writeButton_, &QPushButton::clicked, this, &RestoreDialog::write);
    connect(close, &QPushButton::clicked, this, &RestoreDialog::reject);
    ensureTitleFits(this);
    // A wrapped label counts as one line in the layout's minimum: each is given the height of
    // its text at the narrowest width the dialog can have.
    const QMargins m = layout->contentsMargins();
    const int width =
        std::max(minimumWidth(), layout->totalMinimumSize().width()) - m.left() - m.right();
    for (QLabel* label : findChildren<QLabel*>())
        if (label->wordWrap()) label->setMinimumHeight(label->heightForWidth(width));
}

int RestoreDialog::rowCount() const {
    return list_->rowCount();
}

bool RestoreDialog::checked(int row) const {
    const QTableWidgetItem* item = list_->item(row, 0);
    return item && item->checkState() == Qt::Checked;
}

void RestoreDialog::setChecked(int row, bool on) {
    QTableWidgetItem* item = list_->item(row, 0);
    if (item && (item->flags() & Qt::ItemIsUserCheckable))
        item->setCheckState(on ? Qt::Checked : Qt::Unchecked);
}

QString RestoreDialog::statusText() const {
    return status_->toPlainText();
}

void RestoreDialog::write() {
    if (wrote_) return;
    std::vector<bool> chosen;
    for (int r = 0; r < rowCount(); ++r)
        chosen.push_back(checked(r));
    const std::vector<RestoreWrite> plan = restorePlan(comparison_, chosen);
    if (plan.empty()) {
        status_->setPlainText(QStringLiteral("No row is checked: nothing was written."));
        return;
    }
    // One write per opening: after it the table no longer shows what the controller holds.
    wrote_ = true;
    writeButton_->setEnabled(false);
    for (int r = 0; r < rowCount(); ++r)
        list_->item(r, 0)->setFlags(Qt::ItemIsSelectable);
    outcome_ = writeRestore(ctx_.link, ctx_.slave, comparison_.firmware, plan);
    ctx_.slave = outcome_.slave;
    toFollow_.slaveAddress = outcome_.slave;
    std::string text = restoreReport(outcome_);
    status_->setPlainText(qs(text));
    if (outcome_.written.empty()) return;
    if (!outcome_.complete()) {
        // Saving now would make a mix of old and new settings permanent; the next complete
        // restore of the same file writes the rest and can save.
        text +=
            "\nNot saved: the restore did not complete, so the save command was not sent; "
            "the written settings last until the controller is switched off. A complete "
            "restore can save them.";
        status_->setPlainText(qs(text));
        return;
    }
    const int answer = prompts_.messageBox(restoreSaveQuestion(), kRestoreTitle, BoxIcon::Question,
                                           BoxButtons::YesNoDefaultNo, true);
    if (answer == kAnswerYes) {
        const int rc = sendSaveCommand(ctx_.link, ctx_.slave);
        saved_ = rc == 0;
        text += rc == 0 ? "\nSaved: the controller keeps these settings."
                        : "\nThe save command failed (result " + std::to_string(rc) +
                              "): the written settings last until the controller is switched off.";
    } else {
        text += "\nNot saved: the written settings last until the controller is switched off.";
    }
    status_->setPlainText(qs(text));
}

}  // namespace kvx
