#include "app/scaling_dialog.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/core/program_settings.h"
#include "app/dialog_entries.h"
#include "model/typed_text.h"
#include "resources/resource_ids.h"
#include "ui/dialog_parts.h"
#include "ui/dialog_width.h"

namespace kvx {

namespace {

constexpr const char* kMinimumLabel = "Speed Minimum";
constexpr const char* kMaximumLabel = "Speed Maximum";

}  // namespace

ScalingDialog::ScalingDialog(ProgramSettings& settings, std::string programDir, QWidget* parent)
    : QDialog(parent), settings_(settings), programDir_(std::move(programDir)) {
    setObjectName(QString::number(res::kScalingDialog));
    setWindowTitle(QStringLiteral("Scaling Settings"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    // The limits in force, as the file holds them: Change && Save untouched writes them back.
    min_ = new EntryField(res::kSpeedMinimumEdit,
                          QString::fromStdString(speedLimitFieldText(settings.speedMin)), this);
    max_ = new EntryField(res::kSpeedMaximumEdit,
                          QString::fromStdString(speedLimitFieldText(settings.speedMax)), this);
    form->addRow(QString::fromLatin1(kMinimumLabel), min_);
    form->addRow(QString::fromLatin1(kMaximumLabel), max_);
    layout->addLayout(form);
    status_ = makeStatusLine(this);
    layout->addWidget(status_);
    // Enter on a focused button presses that button (Close closes, it never saves); in a
    // field it presses Change && Save.
    auto* save = makeButton(res::kIdOk, QStringLiteral("Change && Save"), this, true);
    auto* close = makeButton(res::kIdCancel, QStringLiteral("Close"), this);
    addButtonRow(layout, {save, close});
    connect(save, &QPushButton::clicked, this, &ScalingDialog::accept);
    connect(close, &QPushButton::clicked, this, &ScalingDialog::reject);
    min_->setFocus();
    min_->selectAll();
    ensureTitleFits(this);
}

QString ScalingDialog::statusText() const {
    return status_->text();
}

void ScalingDialog::refuse(QLineEdit* field, const char* label) {
    status_->setText(QString::fromStdString(refusalText(
        label, field->text().toStdString(), wholeNumberAccepts(kSpeedLimitMin, kSpeedLimitMax))));
    field->setFocus();
    field->selectAll();
}

void ScalingDialog::accept() {
    std::int16_t min = 0, max = 0;
    if (!speedLimitFromField(min_->text().toStdString(), min)) return refuse(min_, kMinimumLabel);
    if (!speedLimitFromField(max_->text().toStdString(), max)) return refuse(max_, kMaximumLabel);
    settings_.speedMin = min;
    settings_.speedMax = max;
    if (!writeScalingFile(programDir_, settings_)) {
        // The range applies in memory either way; the user must know the next start loses it.
        status_->setText(QString::fromStdString(
            "The speed range " + scalingFileText(settings_) +
            " applies until the program ends, but " + kScalingFileName +
            " could not be written in " + programDir_ + ", so the next start will not have it."));
        return;
    }
    done(kResultSaved);
}

void ScalingDialog::reject() {
    done(kResultClosed);
}

}  // namespace kvx
