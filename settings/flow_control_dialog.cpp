#include "settings/flow_control_dialog.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "resources/resource_ids.h"
#include "settings/settings_texts.h"
#include "ui/dialog_parts.h"
#include "ui/dialog_width.h"

namespace kvx {

FlowControlDialog::FlowControlDialog(FlowControlScreen& screen,
                                     std::function<void()> restartPolling, QWidget* parent)
    : QDialog(parent), screen_(screen), restartPolling_(std::move(restartPolling)) {
    setObjectName(idName(res::kFlowControlDialog));
    setWindowTitle(QString::fromUtf8(kFlowControlTitle));
    screen_.initialise();

    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    layout->addLayout(grid);
    int row = 0;
    for (const ScreenField& f : flowControlFields()) {
        grid->addWidget(new QLabel(QString::fromUtf8(f.label), this), row, 0);
        auto* edit =
            new EntryField(f.editId, QString::fromStdString(screen_.shownText(f.editId)), this);
        edit->setMinimumWidth(90);
        grid->addWidget(edit, row, 1);
        if (*f.unit) grid->addWidget(new QLabel(QString::fromUtf8(f.unit), this), row, 2);
        connect(edit, &EntryField::left, this, &FlowControlDialog::fieldLeft);
        fields_[f.editId] = edit;
        ++row;
    }

    status_ = makeStatusLine(this);
    status_->setText(QString::fromStdString(screen_.status()));
    layout->addWidget(status_);

    auto* update = makeButton(kChangeButtonId, QStringLiteral("Update"), this, true);
    auto* all = makeButton(kUpdateAllButtonId, QStringLiteral("Update All"), this);
    auto* save = makeButton(kSaveButtonId, QStringLiteral("Save && Close"), this);
    auto* close = makeButton(kCloseButtonId, QStringLiteral("Close"), this);
    addButtonRow(layout, {update, all, save, close});
    connect(update, &QPushButton::clicked, this, [this] { this->update(false); });
    connect(all, &QPushButton::clicked, this, &FlowControlDialog::updateAll);
    connect(save, &QPushButton::clicked, this, &FlowControlDialog::saveAndClose);
    connect(close, &QPushButton::clicked, this, &FlowControlDialog::reject);
    close_ = close;
    focusWatch_ =
        connect(qApp, &QApplication::focusChanged, this, &FlowControlDialog::focusChanged);

    ensureTitleFits(this);
    fields_[flowControlFields().front().editId]->setFocus();
}

FlowControlDialog::~FlowControlDialog() {
    // Closing takes the focus from a field; that leave must not write once the dialog is gone.
    // The children are destroyed after this body, when this object is only a QWidget: the
    // focus change their destruction announces must not reach this class's slot.
    disconnect(focusWatch_);
    screen_.close();
}

QString FlowControlDialog::statusText() const {
    return status_->text();
}

QString FlowControlDialog::textOf(int id) const {
    auto it = fields_.find(id);
    return it == fields_.end() ? QString() : it->second->text();
}

void FlowControlDialog::fieldLeft(int id) {
    lastLeftField_ = id;
    leavePending_ = true;
    // The focus goes to Close (a press on it, or Tab): the text still being typed is held
    // back, for Close discards it; it is written if the focus moves on without closing.
    if (QApplication::focusWidget() == close_) return;
    // Runs after the input that moved the focus has been handled, as a posted command would.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (leavePending_) update(true);
        },
        Qt::QueuedConnection);
}

void FlowControlDialog::focusChanged(QWidget* old, QWidget* now) {
    if (old != close_ || !leavePending_ || !now || now->window() != this) return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (leavePending_) update(true);
        },
        Qt::QueuedConnection);
}

bool FlowControlDialog::update(bool fromLeave) {
    if (screen_.closed()) return true;  // a leave posted as the dialog closed
    int id = lastLeftField_;
    if (fromLeave) {
        leavePending_ = false;
    } else {
        QWidget* focus = QApplication::focusWidget();
        id = focus ? focus->objectName().toInt() : 0;
        lastLeftField_ = id;
    }
    const bool accepted = screen_.updateField(id, textOf(id).toStdString());
    status_->setText(QString::fromStdString(screen_.status()));
    // A refusal after a leave names the field and leaves the focus where it went; Update from
    // within the field keeps it there with the text selected.
    if (!accepted && !fromLeave) {
        if (auto it = fields_.find(id); it != fields_.end()) it->second->selectAll();
    }
    return accepted;
}

void FlowControlDialog::updateAll() {
    // A leave still on its way belongs to the field's text that Update All now writes.
    leavePending_ = false;
    const int refused = screen_.updateAll([this](int id) { return textOf(id).toStdString(); });
    status_->setText(QString::fromStdString(screen_.status()));
    if (auto it = fields_.find(refused); it != fields_.end()) {
        it->second->setFocus(Qt::OtherFocusReason);
        it->second->selectAll();
    }
}

void FlowControlDialog::saveAndClose() {
    // The field left by the click on this button is written before the save, not dropped
    // by the close; when it cannot be written the dialog stays open and says why.
    if (leavePending_ && (!update(true) || screen_.status() == settings_text::kUpdateFailed))
        return;
    if (!screen_.save()) {
        status_->setText(QString::fromStdString(screen_.status()));
        return;
    }
    finish();
}

void FlowControlDialog::finish() {
    screen_.close();
    if (restartPolling_) restartPolling_();
    done(kCloseResult);
}

void FlowControlDialog::reject() {
    finish();
}

}  // namespace kvx
