#include "app/port_properties_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "ui/dialog_width.h"

namespace kvx {

namespace {
QComboBox* makeChoice(QWidget* parent, const QStringList& labels, const QList<int>& values,
                      int current) {
    auto* box = new QComboBox(parent);
    for (int i = 0; i < labels.size(); ++i)
        box->addItem(labels[i], values[i]);
    const int at = box->findData(current);
    box->setCurrentIndex(at < 0 ? 0 : at);
    return box;
}
}  // namespace

PortPropertiesDialog::PortPropertiesDialog(const std::string& portName, PortConfig& config,
                                           QWidget* parent)
    : QDialog(parent), config_(config) {
    setObjectName(QStringLiteral("portProperties"));
    setWindowTitle(QString::fromStdString(portName) + QStringLiteral(" Properties"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    baud_ = makeChoice(this, {"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"},
                       {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200}, config.baudRate);
    dataBits_ = makeChoice(this, {"7", "8"}, {7, 8}, config.dataBits);
    parity_ = makeChoice(this, {"None", "Odd", "Even"}, {0, 1, 2}, config.parity);
    stopBits_ = makeChoice(this, {"1", "2"}, {1, 2}, config.stopBits);
    flow_ = makeChoice(this, {"None", "Hardware"}, {0, 1}, config.flowControl);
    form->addRow(QStringLiteral("Bits per second:"), baud_);
    form->addRow(QStringLiteral("Data bits:"), dataBits_);
    form->addRow(QStringLiteral("Parity:"), parity_);
    form->addRow(QStringLiteral("Stop bits:"), stopBits_);
    form->addRow(QStringLiteral("Flow control:"), flow_);
    layout->addLayout(form);
    layout->addWidget(new QLabel(
        QStringLiteral("The viewer always talks to the controller at 9600 baud, 8N1."), this));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &PortPropertiesDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &PortPropertiesDialog::reject);
    layout->addWidget(buttons);
    ensureTitleFits(this);
}

void PortPropertiesDialog::accept() {
    config_.baudRate = baud_->currentData().toInt();
    config_.dataBits = dataBits_->currentData().toInt();
    config_.parity = parity_->currentData().toInt();
    config_.stopBits = stopBits_->currentData().toInt();
    config_.flowControl = flow_->currentData().toInt();
    QDialog::accept();
}

}  // namespace kvx
