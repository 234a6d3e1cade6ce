#pragma once
// Log Overview (Tools): a day, or any range of hours, of log files plotted against time, one
// strip per chosen channel. The summaries are built on a worker thread behind a progress bar
// that can be cancelled; zooming, panning and hovering then work from them at once. A click
// moves the playback to the record at that moment, so the panel shows it. The view exports as
// PNG or SVG, and the records in view as CSV (the columns of kvx-log csv).
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/background_build.h"
#include "app/overview_span.h"
#include "overview/overview_cache.h"
#include "overview/overview_export.h"
#include "overview/overview_plot.h"
#include "overview/overview_set.h"
#include "ui/prompts.h"

class QAction;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace kvx {

class OverviewPlotWidget;
class QtSurface;

class LogOverviewWindow : public QWidget {
    Q_OBJECT
  public:
    // Goes to record index of the log at path in the playback; empty, or why it could not.
    using PlayRecord = std::function<std::string(const std::string& path, std::int64_t index)>;

    // The narrowest view: ten records at five a second.
    static constexpr double kNarrowestSeconds = 2.0;

    // logFolder: where the folder field starts (the program's directory, where the log is
    // written). cache: null for the process's shared one.
    LogOverviewWindow(Prompts& prompts, std::string logFolder, PlayRecord playRecord,
                      QWidget* parent = nullptr, std::shared_ptr<OverviewCache> cache = nullptr);
    ~LogOverviewWindow() override;

    // Open with the range fields as they are (the Open button).
    void openRange();
    // The files of folder named for hours overlapping [from, to) (UTC seconds), into the fields
    // and opened.
    void openRange(const std::string& folder, std::int64_t from, std::int64_t to);
    // Files chosen one by one (Choose Files).
    void openFiles(std::vector<std::string> paths);
    // Stops a build in progress; what was shown stays.
    void cancelBuild();

    bool building() const { return build_.running(); }
    // The set shown, or null before a build succeeded.
    const OverviewSet* shownSet() const { return shown_.get(); }
    OverviewPlotWidget* plot() const { return plot_; }
    QListWidget* stripList() const { return strips_; }
    QProgressBar* progressBar() const { return progress_; }
    QPushButton* cancelButton() const { return cancel_; }
    QAction* exportAction(int which) const { return exports_[which]; }
    QString statusText() const;
    QString hoverText() const;
    // The strips shown, top to bottom.
    std::vector<int> chosenFields() const;
    // What the plot shows now (the span, the strips, the cursor).
    OverviewView currentView() const;
    // The plot's geometry as last drawn.
    const OverviewGeometry& geometry() const { return geometry_; }

    // Tests: called on the worker after each file is summarised, before the progress shows it.
    void setBuildHook(std::function<void(std::size_t done)> hook) { buildHook_ = std::move(hook); }

    enum Export { kExportPng = 0, kExportSvg = 1, kExportCsv = 2 };

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void startBuild(std::vector<std::string> files);
    void finishBuild(std::shared_ptr<OverviewSet> set, bool completed);
    std::pair<int, int> drawPlot(QtSurface& surface, OverviewSpan span);
    void showHover(int column);
    void clicked(int column);
    void moveStrip(int by);
    void exportPicture(PictureFormat format);
    void exportCsv();
    // The save dialog, the extension and the question before a file is replaced; empty when
    // the user stepped back.
    std::string chooseSavePath(const char* title, const char* filterName, const char* extension);
    void setStatus(const QString& text, bool problem = false);
    void backInFront();
    void showWholeDay();

    Prompts& prompts_;
    PlayRecord playRecord_;
    std::shared_ptr<OverviewCache> cache_;
    std::string exportFolder_;  // where the last export went
    QLineEdit* folder_ = nullptr;
    QDateTimeEdit* from_ = nullptr;
    QDateTimeEdit* to_ = nullptr;
    QPushButton* open_ = nullptr;
    QListWidget* strips_ = nullptr;
    OverviewPlotWidget* plot_ = nullptr;
    QLabel* hover_ = nullptr;
    QLabel* status_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QAction* exports_[3] = {};

    std::shared_ptr<OverviewSet> shown_;
    OverviewGeometry geometry_;
    OverviewColumns columns_;
    bool cursorShown_ = false;
    double cursorTime_ = 0;
    int hoverColumn_ = -1;

    std::function<void(std::size_t)> buildHook_;
    BackgroundBuild build_{this};
};

}  // namespace kvx
