#include "settings/alarm_dialogs.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "resources/resource_ids.h"
#include "settings/settings_texts.h"
#include "ui/dialog_parts.h"
#include "ui/dialog_width.h"

namespace kvx {

EmailDialog::EmailDialog(EmailScreen& screen, std::function<void()> restartPolling, QWidget* parent)
    : QDialog(parent), screen_(screen), restartPolling_(std::move(restartPolling)) {
    setObjectName(idName(res::kEmailDialog));
    setWindowTitle(QString::fromUtf8(kEmailTitle));
    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    layout->addLayout(grid);
    int row = 0;
    for (const EmailToggle& t : kEmailToggles) {
        grid->addWidget(new QLabel(QString::fromUtf8(t.label), this), row, 0);
        auto* b = makeButton(t.buttonId, QString::fromStdString(screen_.caption(t.buttonId)), this);
        b->setMinimumWidth(90);
        grid->addWidget(b, row, 1);
        const int id = t.buttonId;
        connect(b, &QPushButton::clicked, this, [this, id, b] {
            screen_.toggle(id);
            b->setText(QString::fromStdString(screen_.caption(id)));
        });
        toggles_[id] = b;
        ++row;
    }
    grid->addWidget(new QLabel(QString::fromUtf8(kEmailDelayLabel), this), row, 0);
    delay_ = new EntryField(kEmailDelayEditId, QString::fromStdString(screen_.delayText()), this);
    delay_->setMinimumWidth(90);
    grid->addWidget(delay_, row, 1);

    status_ = makeStatusLine(this);
    layout->addWidget(status_);
    auto* save = makeButton(res::kIdOk, QStringLiteral("Save && Close"), this, true);
    auto* close = makeButton(res::kIdCancel, QStringLiteral("Close"), this);
    addButtonRow(layout, {save, close});
    connect(save, &QPushButton::clicked, this, &EmailDialog::saveAndClose);
    connect(close, &QPushButton::clicked, this, &EmailDialog::reject);
    ensureTitleFits(this);
}

QString EmailDialog::statusText() const {
    return status_->text();
}

void EmailDialog::saveAndClose() {
    if (!screen_.saveAndClose(delay_->text().toStdString())) {
        status_->setText(QString::fromStdString(screen_.status()));
        if (screen_.delayRefused()) {
            delay_->setFocus(Qt::OtherFocusReason);
            delay_->selectAll();
        }
        return;
    }
    if (restartPolling_) restartPolling_();
    done(kCloseResult);
}

void EmailDialog::reject() {
    if (restartPolling_) restartPolling_();
    done(kCloseResult);
}

AcknowledgeDialog::AcknowledgeDialog(SettingsContext context, QWidget* parent)
    : QDialog(parent), ctx_(context) {
    setObjectName(idName(res::kAlarmAckDialog));
    setWindowTitle(QString::fromUtf8(kAckTitle));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QString::fromUtf8(settings_text::kAckPrompt), this));
    result_ = new QLabel(this);
    result_->setObjectName(idName(kAckResultTextId));
    result_->setMinimumHeight(result_->fontMetrics().height() + 4);
    layout->addWidget(result_);
    auto* ok = makeButton(res::kIdOk, QStringLiteral("OK"), this, true);
    addButtonRow(layout, {ok}, Qt::AlignHCenter);
    connect(ok, &QPushButton::clicked, this, &AcknowledgeDialog::acknowledge);
    ensureTitleFits(this);
}

void AcknowledgeDialog::acknowledge() {
    if (acknowledgeAlarm(ctx_.link, ctx_.slave)) {
        done(kResultAcknowledged);
        return;
    }
    result_->setText(QString::fromUtf8(settings_text::kAckWriteFailed));
}

void AcknowledgeDialog::reject() {
    done(kCloseResult);
}

}  // namespace kvx
