#pragma once
// EVENT LOG (151): the controller's last ten events as rows of date, time and event text.
// Only Close (or Enter) closes it; Escape and the close box do nothing.
#include <QDialog>

#include "settings/event_log.h"

namespace kvx {

class EventLogDialog : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kResultClosed = 1;
    explicit EventLogDialog(const EventWords& words, QWidget* parent = nullptr);

  public slots:
    void reject() override {}

  protected:
    void closeEvent(QCloseEvent* event) override;
};

}  // namespace kvx
