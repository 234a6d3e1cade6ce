#include "app/comm_port_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/dialog_entries.h"
#include "app/program_settings.h"
#include "resources/resource_ids.h"
#include "ui/dialog_width.h"

namespace kvx {

CommPortDialog::CommPortDialog(ProgramSettings& settings, QWidget* parent)
    : QDialog(parent), settings_(settings) {
    setObjectName(QString::number(res::kCommPortDialog));
    setWindowTitle(QStringLiteral("Select Communication Port"));
    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(QStringLiteral("Comm Port"), this);
    auto* form = new QFormLayout(group);
    port_ = new QLineEdit(QString::fromStdString(portNumberField(settings.portName)), group);
    port_->setObjectName(QString::number(res::kCommPortNumberEdit));
    device_ = new QLineEdit(QString::number(static_cast<std::uint32_t>(settings.slaveId)), group);
    device_->setObjectName(QString::number(res::kCommDeviceIdEdit));
    form->addRow(QStringLiteral("COM"), port_);
    form->addRow(QStringLiteral("Device ID"), device_);
    layout->addWidget(group);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QString::number(res::kIdOk));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QString::number(res::kIdCancel));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, &CommPortDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &CommPortDialog::reject);
    ensureTitleFits(this);
}

void CommPortDialog::accept() {
    settings_.portName = portNameFromField(port_->text().toStdString());
    settings_.slaveId = static_cast<int>(unsignedField(device_->text().toStdString()));
    done(kResultOk);
}

void CommPortDialog::reject() {
    done(kResultCancel);
}

}  // namespace kvx
