#pragma once
// "Scaling Settings": the engine-speed scale limits, kept in the scaling file. Nothing goes to
// the controller.
#include <QDialog>
#include <string>

class QLabel;
class QLineEdit;

namespace kvx {

struct ProgramSettings;

class ScalingDialog : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kResultSaved = 1;
    static constexpr int kResultClosed = 2;

    // Change && Save applies both limits and writes the scaling file, or refuses on the
    // dialog's status line and changes nothing. A file that cannot be written is said there
    // too, with the limits applied for this run and the dialog left open.
    ScalingDialog(ProgramSettings& settings, std::string programDir, QWidget* parent = nullptr);

    QLineEdit* minimumField() const { return min_; }
    QLineEdit* maximumField() const { return max_; }
    QString statusText() const;

  public slots:
    void accept() override;
    void reject() override;

  private:
    void refuse(QLineEdit* field, const char* label);

    ProgramSettings& settings_;
    std::string programDir_;
    QLineEdit* min_ = nullptr;
    QLineEdit* max_ = nullptr;
    QLabel* status_ = nullptr;
};

}  // namespace kvx
