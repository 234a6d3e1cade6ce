#pragma once
// The two alarm screens: the e-mail enablers (148) and Aknowledge Alarm (144).
#include <QDialog>
#include <functional>
#include <map>

#include "settings/alarm_screens.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace kvx {

class EmailDialog : public QDialog {
    Q_OBJECT
  public:
    EmailDialog(EmailScreen& screen, std::function<void()> restartPolling,
                QWidget* parent = nullptr);
    QString statusText() const;

  public slots:
    void reject() override;

  private:
    void saveAndClose();

    EmailScreen& screen_;
    std::function<void()> restartPolling_;
    std::map<int, QPushButton*> toggles_;
    QLineEdit* delay_ = nullptr;
    QLabel* status_ = nullptr;
};

class AcknowledgeDialog : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kResultAcknowledged = 1;
    explicit AcknowledgeDialog(SettingsContext context, QWidget* parent = nullptr);

  public slots:
    void reject() override;

  private:
    void acknowledge();

    SettingsContext ctx_;
    QLabel* result_ = nullptr;
};

}  // namespace kvx
