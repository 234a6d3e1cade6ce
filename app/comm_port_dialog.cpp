#include "app/comm_port_dialog.h"

#include <QFontMetrics>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/core/program_settings.h"
#include "app/dialog_entries.h"
#include "link/port_name.h"
#include "model/typed_text.h"
#include "resources/resource_ids.h"
#include "ui/dialog_parts.h"
#include "ui/dialog_width.h"

namespace kvx {

namespace {

constexpr const char* kPortLabel = "COM";
constexpr const char* kDeviceLabel = "Device ID";

// Wide enough for a typical by-id path, and for the one shown whole; the field scrolls
// beyond a hundred characters rather than the dialog leaving the screen.
int portFieldWidth(const QLineEdit& field) {
    const QFontMetrics fm = field.fontMetrics();
    const int margins = 2 * fm.averageCharWidth() + 8;
    const int typical = fm.horizontalAdvance(QString(40, QLatin1Char('x')));
    const int widest = fm.horizontalAdvance(QString(100, QLatin1Char('x')));
    return std::min(std::max(typical, fm.horizontalAdvance(field.text()) + margins), widest);
}

}  // namespace

CommPortDialog::CommPortDialog(ProgramSettings& settings, QWidget* parent)
    : QDialog(parent), settings_(settings) {
    setObjectName(QString::number(res::kCommPortDialog));
    setWindowTitle(QStringLiteral("Select Communication Port"));
    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(QStringLiteral("Comm Port"), this);
    auto* form = new QFormLayout(group);
    port_ = new EntryField(res::kCommPortNumberEdit,
                           QString::fromStdString(portFieldText(settings.portName)), group);
    port_->setMinimumWidth(portFieldWidth(*port_));
    device_ = new EntryField(res::kCommDeviceIdEdit, QString::number(settings.slaveId), group);
    form->addRow(QString::fromLatin1(kPortLabel), port_);
    form->addRow(QString::fromLatin1(kDeviceLabel), device_);
    layout->addWidget(group);
    status_ = makeStatusLine(this);
    layout->addWidget(status_);

    // Enter on a focused button presses that button; in a field it presses OK.
    auto* ok = makeButton(res::kIdOk, QStringLiteral("OK"), this, true);
    auto* cancel = makeButton(res::kIdCancel, QStringLiteral("Cancel"), this);
    addButtonRow(layout, {ok, cancel});
    connect(ok, &QPushButton::clicked, this, &CommPortDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &CommPortDialog::reject);
    // Typing replaces the shown port rather than adding to it.
    port_->setFocus();
    port_->selectAll();
    ensureTitleFits(this);
}

QString CommPortDialog::statusText() const {
    return status_->text();
}

void CommPortDialog::refuse(QLineEdit* field, const std::string& text) {
    status_->setText(QString::fromStdString(text));
    field->setFocus();
    field->selectAll();
}

void CommPortDialog::accept() {
    const std::string portText = port_->text().toStdString();
    std::string name;
    if (!portNameFromField(portText, settings_.portName, name)) {
        refuse(port_, refusalText(kPortLabel, portText, portFieldAccepts()));
        return;
    }
    // A name with a network scheme is a network address or nothing: the open would only fail
    // on it later, after the dialog has written it into the communication file.
    PortAddress address;
    std::string why;
    if (!parsePortAddress(name, address, why)) {
        refuse(port_, refusalText(kPortLabel, portText, "a network address in full (" + why + ")"));
        return;
    }
    const std::string deviceText = device_->text().toStdString();
    const Parsed<long> slave = parseWholeNumber(deviceText, kSlaveIdMin, kSlaveIdMax);
    if (!slave) {
        refuse(device_, refusalText(kDeviceLabel, deviceText, slave.expected));
        return;
    }
    settings_.portName = name;
    settings_.slaveId = static_cast<int>(*slave);
    done(kResultOk);
}

void CommPortDialog::reject() {
    done(kResultCancel);
}

}  // namespace kvx
