#include "ui/qt_prompts.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

namespace kvx {

int QtPrompts::messageBox(const std::string& text, const std::string& title, BoxIcon icon,
                          BoxButtons buttons, bool ownedByMainWindow) {
    QMessageBox box(ownedByMainWindow ? mainWindow_.data() : nullptr);
    box.setText(QString::fromStdString(text));
    box.setWindowTitle(QString::fromStdString(title));
    switch (icon) {
        case BoxIcon::None:
            box.setIcon(QMessageBox::NoIcon);
            break;
        case BoxIcon::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case BoxIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case BoxIcon::Question:
            box.setIcon(QMessageBox::Question);
            break;
    }
    if (buttons == BoxButtons::YesNo || buttons == BoxButtons::YesNoDefaultNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(buttons == BoxButtons::YesNo ? QMessageBox::Yes : QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? kAnswerYes : kAnswerNo;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return kAnswerOk;
}

std::string QtPrompts::openFileName(const FileDialogRequest& request) {
    return fileDialog(false, request);
}

std::string QtPrompts::saveFileName(const FileDialogRequest& request) {
    return fileDialog(true, request);
}

std::string QtPrompts::fileDialog(bool save, const FileDialogRequest& request) {
    QFileDialog dialog(mainWindow_.data(), QString::fromStdString(request.title),
                       QString::fromStdString(request.initialDir));
    QStringList filters;
    for (const auto& f : request.filters) {
        // Qt reads the pattern from the trailing parentheses; a name that already shows its
        // pattern ("CSV Files (*.csv)") is used as it stands.
        const std::string shown = "(" + f.pattern + ")";
        const bool hasPattern =
            f.name.size() >= shown.size() &&
            f.name.compare(f.name.size() - shown.size(), shown.size(), shown) == 0;
        filters << QString::fromStdString(hasPattern ? f.name : f.name + " " + shown);
    }
    if (!filters.isEmpty()) dialog.setNameFilters(filters);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    // The caller adds an extension by its own rule, so the dialog must not.
    dialog.setDefaultSuffix(QString());
    if (!request.initialName.empty())
        dialog.selectFile(QString::fromStdString(request.initialName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().front().toStdString();
}

}  // namespace kvx
