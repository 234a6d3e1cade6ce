#include "app/connecting_dialog.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "resources/resource_ids.h"
#include "ui/dialog_parts.h"
#include "ui/dialog_width.h"
#include "ui/prompts.h"

namespace kvx {

ConnectingDialog::ConnectingDialog(Prompts& prompts, int& tickCount,
                                   std::function<void()> cancelled, QWidget* parent)
    : QDialog(parent), prompts_(prompts), ticks_(tickCount), cancelled_(std::move(cancelled)) {
    setObjectName(QString::number(res::kConnectingDialog));
    setWindowTitle(QStringLiteral("Establishing communication"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(
        QStringLiteral("Dravo Viewer is connecting to the valve. Please wait..."), this));
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QString::number(res::kConnectingProgress));
    progress_->setRange(0, 100);
    progress_->setValue(0);
    progress_->setTextVisible(false);
    layout->addWidget(progress_);
    auto* cancel = makeButton(res::kIdCancel, QStringLiteral("Cancel"), this);
    connect(cancel, &QPushButton::clicked, this, &ConnectingDialog::reject);
    layout->addWidget(cancel, 0, Qt::AlignHCenter);

    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &ConnectingDialog::tick);
    timer_.start(kTickMs);
    ensureTitleFits(this);
}

void ConnectingDialog::tick() {
    // Steps of 1 over 0..100, wrapping like a progress control does.
    progress_->setValue(progress_->value() >= 100 ? 0 : progress_->value() + 1);
    if (++ticks_ < kGiveUpTicks) return;
    ticks_ = 0;
    gaveUp_ = true;
    QMetaObject::invokeMethod(this, &ConnectingDialog::reject, Qt::QueuedConnection);
    if (giveUpQuietly_) return;
    prompts_.messageBox(
        "Connection failed. \nPlease check the cable, communication port and device ID settings.",
        "Communication Timeout", BoxIcon::None, BoxButtons::Ok, false);
}

void ConnectingDialog::reject() {
    timer_.stop();
    // A Cancel that arrives after the sequence closed the dialog changes nothing.
    if (!isVisible()) return;
    done(kResultCancel);
    if (cancelled_) cancelled_();
}

void ConnectingDialog::closeBySequence() {
    timer_.stop();
    if (isVisible()) done(kResultClosed);
}

}  // namespace kvx
