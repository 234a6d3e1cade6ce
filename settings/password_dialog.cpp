#include "settings/password_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "resources/resource_ids.h"
#include "settings/access_code.h"
#include "ui/dialog_parts.h"
#include "ui/dialog_width.h"
#include "ui/prompts.h"

namespace kvx {

PasswordDialog::PasswordDialog(Prompts& prompts, QWidget* parent)
    : QDialog(parent), prompts_(prompts) {
    setObjectName(idName(res::kPasswordDialog));
    setWindowTitle(QString::fromUtf8(kPasswordTitle));
    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(QString::fromUtf8(kPasswordLabel), this));
    code_ = new QLineEdit(this);
    code_->setObjectName(idName(kPasswordEditId));
    code_->setEchoMode(QLineEdit::Password);
    code_->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), code_));
    row->addWidget(code_);
    layout->addLayout(row);
    auto* ok = makeButton(res::kIdOk, QStringLiteral("OK"), this, true);
    auto* cancel = makeButton(res::kIdCancel, QStringLiteral("Cancel"), this);
    addButtonRow(layout, {ok, cancel});
    connect(ok, &QPushButton::clicked, this, &PasswordDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &PasswordDialog::reject);
    ensureTitleFits(this);
    code_->setFocus();
}

void PasswordDialog::accept() {
    if (accessCodeAccepted(code_->text().toStdString())) {
        accepted_ = true;
        prompts_.messageBox(assistanceText(), kAssistanceTitle, BoxIcon::Information,
                            BoxButtons::Ok, false);
        done(kResultAccepted);
        return;
    }
    prompts_.messageBox(wrongPasswordText(), kWarningTitle, BoxIcon::Warning, BoxButtons::Ok,
                        false);
    code_->clear();
    code_->setFocus();
}

void PasswordDialog::reject() {
    accepted_ = false;
    done(kResultCancelled);
}

}  // namespace kvx
