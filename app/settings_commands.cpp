#include "app/settings_commands.h"

#include <sys/stat.h>
#include <QEventLoop>
#include <QProgressDialog>

#include <algorithm>
#include <ctime>
#include <utility>

#include "app/background_build.h"
#include "app/service_report_dialog.h"
#include "model/registers.h"
#include "overview/overview_cache.h"
#include "report/report_sources.h"
#include "settings/alarm_dialogs.h"
#include "settings/calibration_dialog.h"
#include "settings/event_log_dialog.h"
#include "settings/flow_control_dialog.h"
#include "settings/password_dialog.h"
#include "settings/register_screen_dialog.h"
#include "settings/restore_dialog.h"
#include "settings/settings_texts.h"
#include "settings/upload_dialog.h"

namespace kvx {

namespace t = settings_text;

SettingsCommands::SettingsCommands(DeviceLink& link, Prompts& prompts, MonitorHost& host,
                                   ProgramSettings& settings, MonitorController& controller,
                                   QWidget* window, std::string programDir)
    : session_(link, prompts, host, settings, controller, std::move(programDir)),
      prompts_(prompts),
      window_(window) {}

bool SettingsCommands::passwordGate() {
    PasswordDialog dialog(prompts_, window_);
    dialog.exec();
    return dialog.passwordAccepted();
}

void SettingsCommands::registerScreen(const ScreenTable& table) {
    session_.stopPolling();
    RegisterScreen screen(table, session_.context());
    if (screen.readBlocks() != 0) {
        session_.noticeBox(table.readFailure);
        return;  // polling stays stopped until the user connects again
    }
    RegisterScreenDialog dialog(
        screen, [this] { session_.restartPolling(); }, window_);
    const int result = dialog.exec();
    session_.follow(screen.toFollow());
    if (result == kCloseResult) session_.reconnect();
}

void SettingsCommands::flowControl() {
    if (!session_.firmwareKnown()) return;
    // Older controllers do not have the flow-control registers: writing them would reach
    // whatever those references hold there.
    if (session_.firmware() < kFlowControlMinFirmware) {
        session_.noticeBox(t::kFlowNotSupported);
        return;
    }
    session_.stopPolling();
    FlowControlScreen screen(session_.context());
    screen.readBlocks();  // the screen opens whatever they return, and says which failed
    {
        FlowControlDialog dialog(
            screen, [this] { session_.restartPolling(); }, window_);
        dialog.exec();
    }
    session_.reconnect();
}

void SettingsCommands::calibrate() {
    if (!session_.firmwareKnown()) return;
    session_.stopPolling();
    CalibrationEditor editor(session_.context(), session_.calibration());
    if (editor.checkConnection() != 0) {
        session_.noticeBox(t::kCalibrateCheckFailed);
        return;
    }
    if (!passwordGate()) return;
    session_.stopPolling();
    editor.readBlocks();  // the editor opens whatever they return, and says which failed
    int result = 0;
    bool saved = false;
    {
        CalibrationDialog dialog(editor, window_);
        result = dialog.exec();
        saved = dialog.saved();
    }
    session_.follow(editor.toFollow());
    if (result == CalibrationDialog::kResultSaveFailed)
        prompts_.messageBox(t::kCalibrateSaveFailed, t::kNotice, BoxIcon::None, BoxButtons::Ok,
                            false);
    else if (saved)
        session_.offerAddressForNextStart();
    session_.reconnect();
}

void SettingsCommands::alarmAcknowledgment() {
    session_.stopPolling();
    if (!session_.connectionCheck()) {
        prompts_.messageBox(t::kNotConnected, "", BoxIcon::None, BoxButtons::Ok, false);
    } else if (passwordGate()) {
        AcknowledgeDialog dialog(session_.context(), window_);
        dialog.exec();
    }
    session_.connect();
}

void SettingsCommands::emailMessaging() {
    if (!session_.firmwareKnown()) return;
    if (session_.firmware() < kEmailMinFirmware) {
        session_.noticeBox(t::kFeatureNotSupported);
        return;  // polling goes on
    }
    session_.stopPolling();
    EmailScreen screen(session_.context());
    if (screen.readBlock() != 0) {
        session_.noticeBox(t::kCommTimeoutBox);
        return;
    }
    if (!passwordGate()) return;
    {
        EmailDialog dialog(
            screen, [this] { session_.restartPolling(); }, window_);
        dialog.exec();
    }
    session_.reconnect();
}

void SettingsCommands::eventLog() {
    EventWords words{};
    if (!session_.readEvents(words)) return;
    EventLogDialog dialog(words, window_);
    dialog.exec();
}

void SettingsCommands::uploadSettings() {
    if (session_.readForUpload()) {
        UploadDialog dialog(session_.settingsImage(), session_.firmware(), prompts_,
                            session_.programDir(), window_);
        dialog.exec();
    }
    session_.connect();
}

void SettingsCommands::downloadSettings() {
    if (!session_.connected()) {
        session_.noticeBox(t::kNotConnected);
        session_.connect();
        return;
    }
    session_.stopPolling();
    // Whatever happens from here, polling comes back with fresh connection values: a restore
    // may have moved the slave address or changed what the panel shows.
    if (!session_.connectionCheck()) {
        session_.noticeBox(t::kNotConnected);
    } else if (passwordGate()) {
        const std::string path = prompts_.openFileName(restoreFileRequest(session_.programDir()));
        if (!path.empty()) restoreFrom(path);
    }
    session_.reconnect();
}

void SettingsCommands::restoreFrom(const std::string& path) {
    SettingsComparison comparison;
    if (!session_.readForRestore(path, comparison)) return;
    RestoreDialog dialog(comparison, path, session_.context(), prompts_, window_);
    dialog.exec();
    session_.follow(dialog.toFollow());
    const auto& written = dialog.outcome().written;
    if (dialog.saved() &&
        std::find(written.begin(), written.end(), ref::modbus_address) != written.end())
        session_.offerAddressForNextStart();
}

bool SettingsCommands::summariseVisit(const ServiceReportRequest& r, OverviewSet& set,
                                      ReportLogs& logs, std::string& error) {
    QProgressDialog progress(QStringLiteral("Summarising the visit's log files..."),
                             QStringLiteral("Cancel"), 0, 0, window_.data());
    progress.setObjectName(QStringLiteral("serviceReportProgress"));
    progress.setWindowTitle(QStringLiteral("Service Report"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    QEventLoop loop;
    bool found = false, completed = false;
    BackgroundBuild build(&progress);
    QObject::connect(&progress, &QProgressDialog::canceled, &progress,
                     [&build] { build.cancel(); });
    // The worker alone touches set, logs and error until its end is reported.
    build.start(
        [&, hook = reportBuildHook_](const BackgroundBuild::Progress& report,
                                     const std::atomic<bool>& cancel) {
            found = findVisitLogs(
                r.logs, r.from, r.to, 0, set, logs, error,
                [&](std::size_t done, std::size_t total) {
                    if (hook) hook(done);
                    report(done, total);
                },
                &cancel);
            return !cancel;
        },
        [&progress](std::size_t done, std::size_t total) {
            progress.setMaximum(static_cast<int>(total));
            progress.setValue(static_cast<int>(done));
        },
        [&](bool ranToTheEnd) {
            completed = ranToTheEnd;
            loop.quit();
        });
    progress.show();
    loop.exec();
    if (!completed) error.clear();
    return completed && found;
}

void SettingsCommands::serviceReport(int selectedBank) {
    // The report names the controller: without its identity there is nothing to report on.
    if (!session_.connected() || !session_.identityKnown()) {
        session_.noticeBox(t::kNotConnected);
        return;
    }
    ServiceReportDialog dialog(prompts_, session_.programDir(), window_);
    if (dialog.exec() != QDialog::Accepted) return;
    const ServiceReportRequest& r = dialog.request();
    const auto box = [this](const std::string& text, BoxIcon icon = BoxIcon::Warning) {
        prompts_.messageBox(text, "Service Report", icon, BoxButtons::Ok, true);
    };
    ReportInputs in;
    in.made = static_cast<std::int64_t>(std::time(nullptr));
    in.text = r.notes;
    in.selectedBank = selectedBank;
    std::string error;
    // The files first: a bad one needs no transaction.
    if (!r.backup.empty() && !readReportBackup(r.backup, in, error)) return box(error);
    OverviewSet set(OverviewCache::shared());
    if (!r.logs.empty() && !summariseVisit(r, set, in.logs, error)) {
        if (!error.empty()) box(error);
        return;
    }
    struct stat st {};
    if (::stat(r.output.c_str(), &st) == 0 &&
        prompts_.messageBox(r.output + " already exists.\nDo you want to replace it?",
                            "Service Report", BoxIcon::Question, BoxButtons::YesNoDefaultNo,
                            true) != kAnswerYes)
        return;

    const SettingsContext context = session_.context();
    InputImage image;
    LiveStatus status;
    DisplayRanges ranges = session_.ranges();  // the speed scale is the window's own
    session_.stopPolling();
    const int rc =
        readControllerForReport(context.link, context.slave, in, image, status, ranges, error);
    session_.restartPolling();
    if (rc != 0) return box("The controller could not be read: " + error + ".");
    in.source = "controller at slave address " + std::to_string(context.slave);
    in.logs.panelFile.clear();  // the panel as it is now

    ReportImages images;
    images.panel = panelPicture(PanelInputs{*in.panel, image, status, ranges, in.selectedBank},
                                panelPictureSize(r.paper));
    if (!in.logs.files.empty()) images.overview = overviewDrawing(set, visitOverviewView(in.logs));
    if (const std::string why = writeReportPdf(buildServiceReport(in), images, r.paper, r.output);
        !why.empty())
        return box(why);
    box("The service report was written to " + r.output + ".", BoxIcon::Information);
}

}  // namespace kvx
