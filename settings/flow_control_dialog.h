#pragma once
// Flow Control Settings (149): each field is written as the user leaves it; Update (1), Update
// All (4), Save && Close (3) and Close (2).
#include <QDialog>
#include <functional>
#include <map>

#include "settings/flow_control_screen.h"

class QLabel;
class QPushButton;

namespace kvx {

class EntryField;

class FlowControlDialog : public QDialog {
    Q_OBJECT
  public:
    FlowControlDialog(FlowControlScreen& screen, std::function<void()> restartPolling,
                      QWidget* parent = nullptr);
    ~FlowControlDialog() override;

    QString statusText() const;

  public slots:
    void reject() override;

  private:
    void fieldLeft(int id);
    // The focus moved on from Close without closing: the leave it held back is written now.
    void focusChanged(QWidget* old, QWidget* now);
    // Update: for a field leave the field left, else the control that has the focus now.
    // False when the field's text was refused.
    bool update(bool fromLeave);
    void updateAll();
    void saveAndClose();
    void finish();
    QString textOf(int id) const;

    FlowControlScreen& screen_;
    std::function<void()> restartPolling_;
    std::map<int, EntryField*> fields_;
    QLabel* status_ = nullptr;
    int lastLeftField_ = 0;
    // A field left and not yet written: its update is on its way (queued), or held back while
    // the focus is on Close, which discards it.
    bool leavePending_ = false;
    QPushButton* close_ = nullptr;
    QMetaObject::Connection focusWatch_;
};

}  // namespace kvx
