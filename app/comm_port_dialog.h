#pragma once
// "Select Communication Port": the port (a number after "COM", or a device path) and the
// device (slave) address.
#include <QDialog>
#include <string>

class QLabel;
class QLineEdit;

namespace kvx {

struct ProgramSettings;

class CommPortDialog : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kResultOk = 1;
    static constexpr int kResultCancel = 2;

    // OK writes the new port name and slave address into settings, both or neither: text
    // that is not a value is refused on the dialog's status line and the dialog stays open.
    explicit CommPortDialog(ProgramSettings& settings, QWidget* parent = nullptr);

    QLineEdit* portField() const { return port_; }
    QLineEdit* deviceField() const { return device_; }
    QString statusText() const;

  public slots:
    void accept() override;
    void reject() override;

  private:
    void refuse(QLineEdit* field, const std::string& text);

    ProgramSettings& settings_;
    QLineEdit* port_ = nullptr;
    QLineEdit* device_ = nullptr;
    QLabel* status_ = nullptr;
};

}  // namespace kvx
