#pragma once
// Message boxes and file dialogs on screen.
#include <QPointer>
#include <QWidget>

#include "ui/prompts.h"

namespace kvx {

class QtPrompts : public Prompts {
  public:
    // The owner of boxes that belong to the main window; may be set after construction.
    void setMainWindow(QWidget* window) { mainWindow_ = window; }
    int messageBox(const std::string& text, const std::string& title, BoxIcon icon,
                   BoxButtons buttons, bool ownedByMainWindow) override;
    std::string openFileName(const FileDialogRequest& request) override;
    std::string saveFileName(const FileDialogRequest& request) override;
    std::vector<std::string> openFileNames(const FileDialogRequest& request) override;

  private:
    std::vector<std::string> fileDialog(bool save, bool several, const FileDialogRequest& request);
    QPointer<QWidget> mainWindow_;
};

}  // namespace kvx
