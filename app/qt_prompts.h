#pragma once
// Message boxes on screen.
#include <QPointer>
#include <QWidget>

#include "app/prompts.h"

namespace kvx {

class QtPrompts : public Prompts {
  public:
    // The owner of boxes that belong to the main window; may be set after construction.
    void setMainWindow(QWidget* window) { mainWindow_ = window; }
    int messageBox(const std::string& text, const std::string& title, BoxIcon icon,
                   BoxButtons buttons, bool ownedByMainWindow) override;

  private:
    QPointer<QWidget> mainWindow_;
};

}  // namespace kvx
