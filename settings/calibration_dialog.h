#pragma once
// Calibration Settings (111): every parameter register by name with its raw value in list
// 1018; the row clicked (or moved to) is the one Change (1021) writes from edit 1020.
// "Save && Close" (1) ends with kResultSaved or kResultSaveFailed; Close (2), Escape and the
// close box end with kResultSaved without saving.
#include <QDialog>

#include "settings/calibration_editor.h"

class QLabel;
class QLineEdit;
class QTableWidget;

namespace kvx {

class CalibrationDialog : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kResultSaved = 1;  // also every close without saving
    static constexpr int kResultSaveFailed = 2;

    explicit CalibrationDialog(CalibrationEditor& editor, QWidget* parent = nullptr);

    QString statusText() const;
    // Whether Save && Close sent the save command and the controller answered.
    bool saved() const { return saved_; }

  public slots:
    void reject() override;

  private:
    void rowMoved(int row);
    void rowClicked(int row);
    void change();
    void saveAndClose();

    CalibrationEditor& editor_;
    QTableWidget* list_ = nullptr;
    QLineEdit* edit_ = nullptr;
    QLabel* notRead_ = nullptr;
    QLabel* status_ = nullptr;
    bool saved_ = false;
};

}  // namespace kvx
