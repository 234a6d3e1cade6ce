#include "app/scaling_dialog.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/dialog_entries.h"
#include "app/program_settings.h"
#include "resources/resource_ids.h"
#include "ui/dialog_width.h"

namespace kvx {

ScalingDialog::ScalingDialog(ProgramSettings& settings, std::string programDir, QWidget* parent)
    : QDialog(parent), settings_(settings), programDir_(std::move(programDir)) {
    setObjectName(QString::number(res::kScalingDialog));
    setWindowTitle(QStringLiteral("Scaling Settings"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    min_ = new QLineEdit(this);
    min_->setObjectName(QString::number(res::kSpeedMinimumEdit));
    max_ = new QLineEdit(this);
    max_->setObjectName(QString::number(res::kSpeedMaximumEdit));
    form->addRow(QStringLiteral("Speed Minimum"), min_);
    form->addRow(QStringLiteral("Speed Maximum"), max_);
    layout->addLayout(form);
    auto* save = new QPushButton(QStringLiteral("Change && Save"), this);
    save->setObjectName(QString::number(res::kIdOk));
    save->setDefault(true);
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QString::number(res::kIdCancel));
    close->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(save);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    connect(save, &QPushButton::clicked, this, &ScalingDialog::accept);
    connect(close, &QPushButton::clicked, this, &ScalingDialog::reject);
    min_->setFocus();
    ensureTitleFits(this);
}

void ScalingDialog::accept() {
    settings_.speedMin = static_cast<std::int16_t>(
        static_cast<std::uint16_t>(unsignedField(min_->text().toStdString()) & 0xFFFF));
    settings_.speedMax = static_cast<std::int16_t>(
        static_cast<std::uint16_t>(unsignedField(max_->text().toStdString()) & 0xFFFF));
    // Not reported when it fails: the range applies in memory for this run either way.
    writeScalingFile(programDir_, settings_);
    done(kResultSaved);
}

void ScalingDialog::reject() {
    done(kResultClosed);
}

}  // namespace kvx
