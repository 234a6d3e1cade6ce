#pragma once
// The one dialog of every register screen, built from its field table: rows of labelled
// fields with their units or ranges, column headings, the status line and the buttons
// Change (1), Save && Close (3) and Close (2).
#include <QDialog>
#include <functional>
#include <map>

#include "settings/register_screen.h"

class QLabel;

namespace kvx {

class EntryField;

class RegisterScreenDialog : public QDialog {
    Q_OBJECT
  public:
    // restartPolling: the main window's poll timer, armed again when the dialog closes.
    RegisterScreenDialog(RegisterScreen& screen, std::function<void()> restartPolling,
                         QWidget* parent = nullptr);

    QString statusText() const;
    QString fieldText(int editId) const;

  public slots:
    void reject() override;  // Close, Escape and the close box

  private:
    void change();
    void saveAndClose();

    RegisterScreen& screen_;
    std::function<void()> restartPolling_;
    std::map<int, EntryField*> fields_;
    QLabel* status_ = nullptr;
};

}  // namespace kvx
