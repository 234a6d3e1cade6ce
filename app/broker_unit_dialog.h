#pragma once
// "Open Unit from Broker": the broker's URL (from the settings file, may be changed for this
// time), the CA and credentials files the settings file names, and the units the broker holds
// identities for, with their last status. Open takes the unit chosen.
#include <QDialog>
#include <memory>
#include <optional>
#include <string>

#include "app/remote_unit.h"

class QLabel;
class QLineEdit;
class QTableWidget;

namespace kvx {

class BrokerSession;
struct ProgramSettings;

class BrokerUnitDialog : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kResultOpen = 1;
    static constexpr int kResultCancel = 2;

    struct Choice {
        std::string url;
        fleet::UnitId unit;
        fleet::IdentityMessage identity;
    };

    // Lists at once when the settings file names a broker.
    explicit BrokerUnitDialog(const ProgramSettings& settings, QWidget* parent = nullptr);
    ~BrokerUnitDialog() override;

    // After Open: the unit chosen and the broker it is on.
    const std::optional<Choice>& choice() const { return choice_; }

    QLineEdit* urlField() const { return url_; }
    QTableWidget* unitList() const { return list_; }
    QString statusText() const;
    // Connects to the URL in the field and lists what comes.
    void listUnits();

  public slots:
    void accept() override;
    void reject() override;

  private:
    void takeMessage(const std::string& topic, const std::string& payload, std::size_t bytes);
    void connectionChanged(bool connected, const std::string& reason);
    void fillList();
    void showStatus();

    const ProgramSettings& settings_;
    QLineEdit* url_ = nullptr;
    QTableWidget* list_ = nullptr;
    QLabel* status_ = nullptr;
    std::unique_ptr<BrokerSession> session_;
    std::string listedUrl_;
    BrokerDirectory directory_;
    std::map<fleet::UnitId, BrokerUnit> shown_;
    bool connected_ = false;
    std::string problem_;  // why the broker is not listed (empty while connecting or listed)
    std::optional<Choice> choice_;
};

}  // namespace kvx
