#pragma once
// "Required Information" (112): the access code that opens the guarded commands.
#include <QDialog>

class QLineEdit;

namespace kvx {

class Prompts;

class PasswordDialog : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kResultAccepted = 1;
    static constexpr int kResultCancelled = 2;

    explicit PasswordDialog(Prompts& prompts, QWidget* parent = nullptr);
    // Set each time the dialog closes: true when a code was accepted.
    bool passwordAccepted() const { return accepted_; }

  public slots:
    void accept() override;  // OK
    void reject() override;  // Cancel, Escape and the close box

  private:
    Prompts& prompts_;
    QLineEdit* code_ = nullptr;
    bool accepted_ = false;
};

}  // namespace kvx
