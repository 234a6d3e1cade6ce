#pragma once
// "Scaling Settings": the engine-speed scale limits, kept in the scaling file. Nothing goes to
// the controller.
#include <QDialog>
#include <string>

class QLineEdit;

namespace kvx {

struct ProgramSettings;

class ScalingDialog : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kResultSaved = 1;
    static constexpr int kResultClosed = 2;

    ScalingDialog(ProgramSettings& settings, std::string programDir, QWidget* parent = nullptr);

    QLineEdit* minimumField() const { return min_; }
    QLineEdit* maximumField() const { return max_; }

  public slots:
    void accept() override;
    void reject() override;

  private:
    ProgramSettings& settings_;
    std::string programDir_;
    QLineEdit* min_ = nullptr;
    QLineEdit* max_ = nullptr;
};

}  // namespace kvx
