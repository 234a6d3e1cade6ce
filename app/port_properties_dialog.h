#pragma once
// The port-properties dialog: edits the kept port configuration record only. The port itself
// always runs at 9600 baud, 8 data bits, 1 stop bit, no parity.
#include <QDialog>
#include <string>

class QComboBox;

namespace kvx {

// What the dialog edits, kept by the main window between calls.
struct PortConfig {
    int baudRate = 9600;
    int dataBits = 8;
    int parity = 0;       // 0 none, 1 odd, 2 even
    int stopBits = 1;     // 1 or 2
    int flowControl = 0;  // 0 none, 1 RTS/CTS
};

class PortPropertiesDialog : public QDialog {
    Q_OBJECT
  public:
    PortPropertiesDialog(const std::string& portName, PortConfig& config,
                         QWidget* parent = nullptr);

  public slots:
    void accept() override;

  private:
    PortConfig& config_;
    QComboBox* baud_ = nullptr;
    QComboBox* dataBits_ = nullptr;
    QComboBox* parity_ = nullptr;
    QComboBox* stopBits_ = nullptr;
    QComboBox* flow_ = nullptr;
};

}  // namespace kvx
