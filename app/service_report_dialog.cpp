#include "app/service_report_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <limits>

#include "overview/overview_set.h"

namespace kvx {
namespace {

// A line edit with a Browse button beside it.
QWidget* withBrowse(QLineEdit* edit, const char* buttonName, QWidget* parent,
                    std::function<void()> browse) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(edit, 1);
    auto* button = new QPushButton(QObject::tr("Browse..."), row);
    button->setObjectName(QString::fromUtf8(buttonName));
    button->setAutoDefault(false);
    QObject::connect(button, &QPushButton::clicked, row, std::move(browse));
    layout->addWidget(button);
    return row;
}

}  // namespace

ServiceReportDialog::ServiceReportDialog(Prompts& prompts, const std::string& logFolder,
                                         QWidget* parent)
    : QDialog(parent), prompts_(prompts) {
    setObjectName("serviceReport");
    setWindowTitle(tr("Service Report"));
    auto* form = new QFormLayout;
    backup_ = new QLineEdit(this);
    backup_->setObjectName("backup");
    backup_->setPlaceholderText(tr("none: every setting is listed"));
    form->addRow(tr("Settings backup from before the visit:"),
                 withBrowse(backup_, "backupBrowse", this, [this] {
                     FileDialogRequest r;
                     r.title = "Settings backup";
                     r.filters = {{"Settings Files", "*.csv"}, {"All Files", "*"}};
                     const std::string path = prompts_.openFileName(r);
                     if (!path.empty()) backup_->setText(QString::fromStdString(path));
                 }));
    // The program's own log folder when it holds logs: the visit's hours are likely there.
    std::string ignored;
    const bool hasLogs =
        !logFolder.empty() &&
        !findLogFiles(logFolder, 0, std::numeric_limits<std::int32_t>::max(), &ignored).empty();
    logs_ = new QLineEdit(hasLogs ? QString::fromStdString(logFolder) : QString(), this);
    logs_->setObjectName("logs");
    logs_->setPlaceholderText(tr("none: no overview"));
    form->addRow(tr("Log folder:"), logs_);
    from_ = new QLineEdit(this);
    from_->setObjectName("from");
    from_->setPlaceholderText(tr("YYYY-MM-DD HH:MM, empty: from the first log"));
    form->addRow(tr("Visit from:"), from_);
    to_ = new QLineEdit(this);
    to_->setObjectName("to");
    to_->setPlaceholderText(tr("YYYY-MM-DD HH:MM, empty: to the last log"));
    form->addRow(tr("Visit to:"), to_);
    notes_ = new QPlainTextEdit(this);
    notes_->setObjectName("notes");
    form->addRow(tr("Notes:"), notes_);
    paper_ = new QComboBox(this);
    paper_->setObjectName("paper");
    paper_->addItem("A4");
    paper_->addItem("Letter");
    form->addRow(tr("Paper:"), paper_);
    output_ = new QLineEdit(this);
    output_->setObjectName("output");
    form->addRow(tr("Report file:"), withBrowse(output_, "outputBrowse", this, [this] {
                     FileDialogRequest r;
                     r.title = "Service report";
                     r.filters = {{"PDF Files", "*.pdf"}};
                     r.initialName = "service-report.pdf";
                     const std::string path = prompts_.saveFileName(r);
                     if (!path.empty()) output_->setText(QString::fromStdString(path));
                 }));
    status_ = new QLabel(this);
    status_->setObjectName("status");
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("ok");
    buttons->button(QDialogButtonBox::Ok)->setText(tr("Write Report"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("cancel");
    connect(buttons, &QDialogButtonBox::accepted, this, &ServiceReportDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ServiceReportDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(status_);
    layout->addWidget(buttons);
    resize(640, 480);
}

QString ServiceReportDialog::statusText() const {
    return status_->text();
}

bool ServiceReportDialog::refuse(QWidget* field, const QString& why) {
    status_->setText(why);
    field->setFocus();
    return false;
}

void ServiceReportDialog::accept() {
    ServiceReportRequest r;
    r.backup = backup_->text().trimmed().toStdString();
    r.logs = logs_->text().trimmed().toStdString();
    const auto time = [this](QLineEdit* edit, const char* label, std::int64_t& out) {
        const std::string text = edit->text().trimmed().toStdString();
        if (text.empty() || parseLocalTime(text, out)) return true;
        return refuse(edit, tr("%1 \"%2\" is not a time: write YYYY-MM-DD HH:MM.")
                                .arg(QString::fromUtf8(label), edit->text()));
    };
    if (!time(from_, "Visit from:", r.from) || !time(to_, "Visit to:", r.to)) return;
    if (r.from && r.to && r.from > r.to) {
        refuse(to_, tr("The visit ends before it starts."));
        return;
    }
    r.notes = notes_->toPlainText().toStdString();
    r.paper = paper_->currentIndex() == 1 ? Paper::Letter : Paper::A4;
    r.output = output_->text().trimmed().toStdString();
    if (r.output.empty()) {
        refuse(output_, tr("Choose the report's file."));
        return;
    }
    const auto slash = r.output.rfind('/');
    if (r.output.find('.', slash == std::string::npos ? 0 : slash) == std::string::npos)
        r.output += ".pdf";
    request_ = r;
    QDialog::accept();
}

}  // namespace kvx
