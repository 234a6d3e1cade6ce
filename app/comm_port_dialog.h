#pragma once
// "Select Communication Port": the port number after "COM" and the device (slave) address.
#include <QDialog>
#include <string>

class QLineEdit;

namespace kvx {

struct ProgramSettings;

class CommPortDialog : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kResultOk = 1;
    static constexpr int kResultCancel = 2;

    // OK writes the new port name and slave address into settings.
    explicit CommPortDialog(ProgramSettings& settings, QWidget* parent = nullptr);

    QLineEdit* portField() const { return port_; }
    QLineEdit* deviceField() const { return device_; }

  public slots:
    void accept() override;
    void reject() override;

  private:
    ProgramSettings& settings_;
    QLineEdit* port_ = nullptr;
    QLineEdit* device_ = nullptr;
};

}  // namespace kvx
