#include "settings/flow_control_dialog.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "resources/resource_ids.h"
#include "settings/dialog_parts.h"
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
            new SettingsField(f.editId, QString::fromStdString(screen_.shownText(f.editId)), this);
        edit->setMinimumWidth(90);
        grid->addWidget(edit, row, 1);
        if (*f.unit) grid->addWidget(new QLabel(QString::fromUtf8(f.unit), this), row, 2);
        connect(edit, &SettingsField::left, this, &FlowControlDialog::fieldLeft);
        fields_[f.editId] = edit;
        ++row;
    }

    status_ = makeStatusLine(this);
    status_->setText(QString::fromStdString(screen_.status()));
    layout->addWidget(status_);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    auto* update = makeButton(kChangeButtonId, QStringLiteral("Update"), this, true);
    auto* all = makeButton(kUpdateAllButtonId, QStringLiteral("Update All"), this);
    auto* save = makeButton(kSaveButtonId, QStringLiteral("Save && Close"), this);
    auto* close = makeButton(kCloseButtonId, QStringLiteral("Close"), this);
    for (QPushButton* b : {update, all, save, close})
        buttons->addWidget(b);
    layout->addLayout(buttons);
    connect(update, &QPushButton::clicked, this, [this] { this->update(false); });
    connect(all, &QPushButton::clicked, this, &FlowControlDialog::updateAll);
    connect(save, &QPushButton::clicked, this, &FlowControlDialog::saveAndClose);
    connect(close, &QPushButton::clicked, this, &FlowControlDialog::reject);

    ensureTitleFits(this);
    fields_[flowControlFields().front().editId]->setFocus();
}

FlowControlDialog::~FlowControlDialog() {
    // Closing takes the focus from a field; that leave must not write once the dialog is gone.
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
    // Runs after the input that moved the focus has been handled, as a posted command would.
    QMetaObject::invokeMethod(
        this, [this] { update(true); }, Qt::QueuedConnection);
}

void FlowControlDialog::update(bool fromLeave) {
    if (screen_.closed()) return;  // a leave posted as the dialog closed
    int id = lastLeftField_;
    if (!fromLeave) {
        QWidget* focus = QApplication::focusWidget();
        id = focus ? focus->objectName().toInt() : 0;
        lastLeftField_ = id;
    }
    screen_.updateField(id, textOf(id).toStdString());
    status_->setText(QString::fromStdString(screen_.status()));
}

void FlowControlDialog::updateAll() {
    screen_.updateAll([this](int id) { return textOf(id).toStdString(); });
    status_->setText(QString::fromStdString(screen_.status()));
}

void FlowControlDialog::saveAndClose() {
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
