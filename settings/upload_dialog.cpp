#include "settings/upload_dialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "resources/resource_ids.h"
#include "settings/settings_texts.h"
#include "ui/dialog_parts.h"
#include "ui/dialog_width.h"

namespace kvx {

namespace t = settings_text;

FileDialogRequest settingsFileRequest(const std::string& programDir) {
    return {"Select Data File",
            {{"CSV Files (*.csv)", "*.csv"}, {"All Files (*.*)", "*.*"}},
            programDir,
            ""};
}

UploadDialog::UploadDialog(const SettingsImage& image, int firmware, Prompts& prompts,
                           std::string programDir, QWidget* parent)
    : QDialog(parent),
      image_(image),
      firmware_(firmware),
      prompts_(prompts),
      programDir_(std::move(programDir)) {
    setObjectName(idName(res::kUploadDialog));
    setWindowTitle(QString::fromUtf8(kUploadTitle));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Upload valve settings to"), this));
    path_ = new QLineEdit(this);
    path_->setObjectName(idName(kUploadPathId));
    path_->setReadOnly(true);
    path_->setMinimumWidth(path_->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 64);
    layout->addWidget(path_);
    status_ = makeStatusLine(this);
    layout->addWidget(status_);

    auto* create = makeButton(1, QStringLiteral("Create File"), this, true);
    auto* upload = makeButton(3, QStringLiteral("Upload Settings"), this);
    auto* close = makeButton(2, QStringLiteral("Close"), this);
    addButtonRow(layout, {create, upload, close});
    connect(create, &QPushButton::clicked, this, &UploadDialog::createFile);
    connect(upload, &QPushButton::clicked, this, &UploadDialog::upload);
    connect(close, &QPushButton::clicked, this, &UploadDialog::reject);
    ensureTitleFits(this);
}

void UploadDialog::createFile() {
    const std::string chosen = prompts_.saveFileName(settingsFileRequest(programDir_));
    if (!chosen.empty()) {
        path_->setText(QString::fromStdString(withCsvExtension(chosen)));
        path_->setCursorPosition(path_->text().size());
    }
    status_->clear();
}

void UploadDialog::upload() {
    // The whole path is used: cutting a long one short would write some other file.
    const std::string path = path_->text().toStdString();
    if (path.empty()) {
        prompts_.messageBox(t::kSelectFile, t::kNotice, BoxIcon::Warning, BoxButtons::Ok, true);
        return;
    }
    const std::string failure = writeFileAtomically(path, settingsFileText(image_, firmware_));
    if (!failure.empty()) {
        status_->setText(
            QString::fromStdString(std::string(t::kUploadWriteFailed) + " (" + failure + ")"));
        return;
    }
    // Rows the controller cannot give are 0 in the file: the user is told which.
    const std::string unread = settingsUnreadNote(firmware_);
    status_->setText(
        QString::fromUtf8(t::kUploaded) +
        (unread.empty() ? QString() : QStringLiteral(" ") + QString::fromStdString(unread)));
}

QString UploadDialog::path() const {
    return path_->text();
}

QString UploadDialog::statusText() const {
    return status_->text();
}

}  // namespace kvx
