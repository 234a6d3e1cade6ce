#pragma once
// Tools -> "Service Report...": what the report is made from besides the controller (a backup
// from before the visit, the visit's hours of logs, the technician's notes), the paper and the
// file. Checks what was typed before it closes; the command reads the controller afterwards.
#include <QDialog>
#include <cstdint>
#include <string>

#include "report/report_pdf.h"
#include "ui/prompts.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;

namespace kvx {

struct ServiceReportRequest {
    std::string backup;  // empty: every setting is listed
    std::string logs;    // empty: no panel moment or overview from logs
    std::int64_t from = 0, to = 0;
    std::string notes;
    Paper paper = Paper::A4;
    std::string output;
};

class ServiceReportDialog : public QDialog {
    Q_OBJECT
  public:
    // logFolder stands in the log field when it holds log files.
    ServiceReportDialog(Prompts& prompts, const std::string& logFolder, QWidget* parent = nullptr);

    // What was asked for; valid after the dialog was accepted.
    const ServiceReportRequest& request() const { return request_; }
    QString statusText() const;

  public slots:
    // Refuses, on the status line and with the field focused, a time that is not one, hours in
    // the wrong order, and a missing output file; ".pdf" is added to a name without a dot.
    void accept() override;

  private:
    bool refuse(QWidget* field, const QString& why);

    Prompts& prompts_;
    QLineEdit* backup_ = nullptr;
    QLineEdit* logs_ = nullptr;
    QLineEdit* from_ = nullptr;
    QLineEdit* to_ = nullptr;
    QPlainTextEdit* notes_ = nullptr;
    QComboBox* paper_ = nullptr;
    QLineEdit* output_ = nullptr;
    QLabel* status_ = nullptr;
    ServiceReportRequest request_;
};

}  // namespace kvx
