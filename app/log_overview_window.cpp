#include "app/log_overview_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>

#include "app/overview_plot_widget.h"
#include "display/qt_surface.h"
#include "log/log_csv.h"
#include "log/log_file_name.h"
#include "overview/channel_table.h"
#include "settings/settings_file.h"

namespace kvx {

namespace {

// How many of the files left out the status line names before it only counts the rest.
constexpr std::size_t kProblemsNamed = 4;

QString fileName(const std::string& path) {
    return QFileInfo(QString::fromStdString(path)).fileName();
}

QString localTimeText(double time) {
    return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(std::floor(time)))
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString stripCaption(int field) {
    const OverviewChannel& c = overviewChannel(field);
    QString text = QString::fromUtf8(c.name.data(), static_cast<int>(c.name.size()));
    if (!c.unit.empty())
        text += QStringLiteral(" (") +
                QString::fromUtf8(c.unit.data(), static_cast<int>(c.unit.size())) +
                QStringLiteral(")");
    return text;
}

bool hasExtension(const std::string& path, const std::string& extension) {
    if (path.size() < extension.size()) return false;
    return std::equal(extension.rbegin(), extension.rend(), path.rbegin(),
                      [](char a, char b) { return std::tolower(a) == std::tolower(b); });
}

// The local hour of the newest log file in folder ("2026-12-07 23:00"), or empty: a range
// without files then says where the logs are.
QString newestLogHour(const std::string& folder) {
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec), end;
    bool found = false;
    LogFileHour newest;
    auto key = [](const LogFileHour& h) {
        return ((static_cast<long>(h.year) * 13 + h.month) * 32 + h.day) * 24 + h.hour;
    };
    for (; !ec && it != end; it.increment(ec)) {
        LogFileHour h;
        if (!parseLogFileName(it->path().filename().string(), h)) continue;
        if (!found || key(h) > key(newest)) newest = h;
        found = true;
    }
    if (!found) return {};
    return QStringLiteral("%1-%2-%3 %4:00")
        .arg(newest.year, 4, 10, QLatin1Char('0'))
        .arg(newest.month, 2, 10, QLatin1Char('0'))
        .arg(newest.day, 2, 10, QLatin1Char('0'))
        .arg(newest.hour, 2, 10, QLatin1Char('0'));
}

// The wait cursor while an export writes.
struct WaitCursor {
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

LogOverviewWindow::LogOverviewWindow(Prompts& prompts, std::string logFolder, PlayRecord playRecord,
                                     QWidget* parent, std::shared_ptr<OverviewCache> cache)
    : QWidget(parent, Qt::Window),
      prompts_(prompts),
      playRecord_(std::move(playRecord)),
      cache_(cache ? std::move(cache) : OverviewCache::shared()),
      exportFolder_(QDir::homePath().toStdString()) {
    setObjectName(QStringLiteral("logOverview"));
    setWindowTitle(QStringLiteral("Log Overview"));
    setAttribute(Qt::WA_DeleteOnClose, false);

    // Where the logs are: a folder and a range of local hours, or files chosen one by one.
    folder_ = new QLineEdit(
        QString::fromStdString(logFolder.empty() ? std::string(".") : logFolder), this);
    folder_->setObjectName(QStringLiteral("folder"));
    auto* browse = new QPushButton(QStringLiteral("Browse..."), this);
    browse->setObjectName(QStringLiteral("browse"));
    const QDateTime dayStart(QDate::currentDate(), QTime(0, 0));
    from_ = new QDateTimeEdit(dayStart, this);
    to_ = new QDateTimeEdit(dayStart.addDays(1), this);
    for (QDateTimeEdit* e : {from_, to_}) {
        e->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:00"));
        e->setCalendarPopup(true);
    }
    from_->setObjectName(QStringLiteral("from"));
    to_->setObjectName(QStringLiteral("to"));
    auto* day = new QPushButton(QStringLiteral("Whole Day"), this);
    day->setObjectName(QStringLiteral("wholeDay"));
    day->setToolTip(QStringLiteral("From midnight to midnight of the start's day"));
    open_ = new QPushButton(QStringLiteral("Open"), this);
    open_->setObjectName(QStringLiteral("open"));
    open_->setDefault(true);
    auto* choose = new QPushButton(QStringLiteral("Choose Files..."), this);
    choose->setObjectName(QStringLiteral("chooseFiles"));

    auto* source = new QGridLayout;
    source->addWidget(new QLabel(QStringLiteral("Log folder"), this), 0, 0);
    source->addWidget(folder_, 0, 1, 1, 6);
    source->addWidget(browse, 0, 7);
    source->addWidget(new QLabel(QStringLiteral("From"), this), 1, 0);
    source->addWidget(from_, 1, 1);
    source->addWidget(new QLabel(QStringLiteral("to"), this), 1, 2);
    source->addWidget(to_, 1, 3);
    source->addWidget(day, 1, 4);
    source->addWidget(open_, 1, 5);
    source->addWidget(choose, 1, 7);
    source->setColumnStretch(6, 1);

    // The strips: ticked ones are shown, top to bottom in the list's order.
    strips_ = new QListWidget(this);
    strips_->setObjectName(QStringLiteral("strips"));
    std::vector<int> order = defaultOverviewFields();
    for (const OverviewChannel& c : overviewChannels())
        if (std::find(order.begin(), order.end(), c.field) == order.end()) order.push_back(c.field);
    const std::vector<int> shown = defaultOverviewFields();
    int widest = 0;
    for (int field : order) {
        auto* item = new QListWidgetItem(stripCaption(field), strips_);
        item->setData(Qt::UserRole, field);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(std::find(shown.begin(), shown.end(), field) != shown.end()
                                ? Qt::Checked
                                : Qt::Unchecked);
        widest = std::max(widest, strips_->fontMetrics().horizontalAdvance(item->text()));
    }
    // Every caption whole beside its check box, and room for the scroll bar.
    strips_->setFixedWidth(widest + 64);
    auto* up = new QPushButton(QStringLiteral("Up"), this);
    up->setObjectName(QStringLiteral("stripUp"));
    auto* down = new QPushButton(QStringLiteral("Down"), this);
    down->setObjectName(QStringLiteral("stripDown"));
    auto* stripButtons = new QHBoxLayout;
    stripButtons->addWidget(up);
    stripButtons->addWidget(down);
    auto* stripColumn = new QVBoxLayout;
    stripColumn->addWidget(new QLabel(QStringLiteral("Strips"), this));
    stripColumn->addWidget(strips_, 1);
    stripColumn->addLayout(stripButtons);

    OverviewPlotWidget::Hooks hooks;
    hooks.draw = [this](QtSurface& s, OverviewSpan span) { return drawPlot(s, span); };
    hooks.spanChanged = [this](OverviewSpan) { showHover(hoverColumn_); };
    hooks.hovered = [this](int column) { showHover(column); };
    hooks.clicked = [this](int column) { clicked(column); };
    plot_ = new OverviewPlotWidget(std::move(hooks), this);

    auto* middle = new QHBoxLayout;
    middle->addLayout(stripColumn);
    middle->addWidget(plot_, 1);

    // The values under the pointer: two lines' room from the start, so the plot does not jump
    // when they wrap.
    hover_ = new QLabel(this);
    hover_->setObjectName(QStringLiteral("hover"));
    hover_->setWordWrap(true);
    hover_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    hover_->setMinimumHeight(2 * hover_->fontMetrics().lineSpacing() + 4);
    hover_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("status"));
    status_->setWordWrap(true);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    status_->setMinimumHeight(2 * status_->fontMetrics().lineSpacing() + 4);
    status_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("progress"));
    progress_->setFormat(QStringLiteral("Summarising %v of %m files"));
    progress_->setMinimumWidth(progress_->fontMetrics().horizontalAdvance(
                                   QStringLiteral("Summarising 9999 of 9999 files")) +
                               40);
    progress_->setVisible(false);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setObjectName(QStringLiteral("cancel"));
    cancel_->setVisible(false);
    auto* exportButton = new QPushButton(QStringLiteral("Export"), this);
    exportButton->setObjectName(QStringLiteral("export"));
    auto* exportMenu = new QMenu(exportButton);
    exports_[kExportPng] = exportMenu->addAction(QStringLiteral("Picture as PNG..."));
    exports_[kExportSvg] = exportMenu->addAction(QStringLiteral("Picture as SVG..."));
    exports_[kExportCsv] = exportMenu->addAction(QStringLiteral("Records in View as CSV..."));
    exportButton->setMenu(exportMenu);
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("close"));
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(progress_);
    bottom->addWidget(cancel_);
    bottom->addStretch();
    bottom->addWidget(exportButton);
    bottom->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(source);
    layout->addLayout(middle, 1);
    layout->addWidget(hover_);
    layout->addWidget(status_);
    layout->addLayout(bottom);

    connect(browse, &QPushButton::clicked, this, [this] {
        const QString dir =
            QFileDialog::getExistingDirectory(this, QStringLiteral("Log folder"), folder_->text());
        if (!dir.isEmpty()) folder_->setText(dir);
    });
    connect(day, &QPushButton::clicked, this, [this] { showWholeDay(); });
    connect(open_, &QPushButton::clicked, this, [this] { openRange(); });
    connect(folder_, &QLineEdit::returnPressed, this, [this] { openRange(); });
    connect(choose, &QPushButton::clicked, this, [this] {
        FileDialogRequest r;
        r.title = "Choose Log Files";
        r.filters = {{"Log Files", "log_*.log"}, {"All Files", "*"}};
        r.initialDir = folder_->text().toStdString();
        std::vector<std::string> paths = prompts_.openFileNames(r);
        backInFront();
        if (!paths.empty()) openFiles(std::move(paths));
    });
    connect(strips_, &QListWidget::itemChanged, this, [this] {
        plot_->redraw();
        showHover(hoverColumn_);
    });
    connect(up, &QPushButton::clicked, this, [this] { moveStrip(-1); });
    connect(down, &QPushButton::clicked, this, [this] { moveStrip(1); });
    connect(cancel_, &QPushButton::clicked, this, [this] { cancelBuild(); });
    connect(exports_[kExportPng], &QAction::triggered, this,
            [this] { exportPicture(PictureFormat::Png); });
    connect(exports_[kExportSvg], &QAction::triggered, this,
            [this] { exportPicture(PictureFormat::Svg); });
    connect(exports_[kExportCsv], &QAction::triggered, this, [this] { exportCsv(); });
    connect(close, &QPushButton::clicked, this, &QWidget::close);

    setStatus(QStringLiteral("Choose the log folder and the hours, then Open; or Choose Files."));
    resize(1180, 760);
}

LogOverviewWindow::~LogOverviewWindow() {
    build_.stop();
}

void LogOverviewWindow::closeEvent(QCloseEvent* event) {
    // Nobody would see the build end.
    cancelBuild();
    QWidget::closeEvent(event);
}

void LogOverviewWindow::showWholeDay() {
    const QDateTime start(from_->date(), QTime(0, 0));
    from_->setDateTime(start);
    to_->setDateTime(start.addDays(1));
}

void LogOverviewWindow::openRange() {
    const std::string folder = folder_->text().trimmed().toStdString();
    if (folder.empty()) {
        setStatus(QStringLiteral("Give the folder that holds the log files."), true);
        return;
    }
    const std::int64_t from = from_->dateTime().toSecsSinceEpoch();
    const std::int64_t to = to_->dateTime().toSecsSinceEpoch();
    if (to <= from) {
        setStatus(QStringLiteral("The end of the range (%1) must come after its start (%2).")
                      .arg(to_->text(), from_->text()),
                  true);
        return;
    }
    std::string error;
    std::vector<std::string> files = findLogFiles(folder, from, to, &error);
    if (files.empty()) {
        QString text = QString::fromStdString(error.empty() ? "No log files in " + folder : error);
        const QString newest = newestLogHour(folder);
        if (!newest.isEmpty())
            text += QStringLiteral(".\nThe newest log file in the folder is of %1.").arg(newest);
        setStatus(text, true);
        return;
    }
    startBuild(std::move(files));
}

void LogOverviewWindow::openRange(const std::string& folder, std::int64_t from, std::int64_t to) {
    folder_->setText(QString::fromStdString(folder));
    from_->setDateTime(QDateTime::fromSecsSinceEpoch(from));
    to_->setDateTime(QDateTime::fromSecsSinceEpoch(to));
    openRange();
}

void LogOverviewWindow::openFiles(std::vector<std::string> paths) {
    if (paths.empty()) return;
    // A file chosen twice counts once; the set puts them in the order of their records.
    std::sort(paths.begin(), paths.end());
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
    startBuild(std::move(paths));
}

void LogOverviewWindow::startBuild(std::vector<std::string> files) {
    build_.stop();
    auto set = std::make_shared<OverviewSet>(cache_);
    set->setFiles(std::move(files));
    const std::size_t total = set->files().size();
    progress_->setRange(0, static_cast<int>(total));
    progress_->setValue(0);
    progress_->setVisible(true);
    cancel_->setVisible(true);
    cancel_->setEnabled(true);
    setStatus(QStringLiteral("Summarising %1 log file(s)...").arg(total));
    // The set is touched by the worker alone until its report comes back; the window goes on
    // showing (and zooming) what it showed before.
    build_.start(
        [set, hook = buildHook_](const BackgroundBuild::Progress& progress,
                                 const std::atomic<bool>& cancel) {
            return set->build(
                [&](std::size_t done, std::size_t all) {
                    if (hook) hook(done);
                    progress(done, all);
                },
                &cancel);
        },
        [this](std::size_t done, std::size_t) { progress_->setValue(static_cast<int>(done)); },
        [this, set](bool completed) { finishBuild(set, completed); });
}

void LogOverviewWindow::cancelBuild() {
    if (!build_.running()) return;
    // The worker's report still comes, and says it was cancelled.
    build_.cancel();
    cancel_->setEnabled(false);
}

void LogOverviewWindow::finishBuild(std::shared_ptr<OverviewSet> set, bool completed) {
    progress_->setVisible(false);
    cancel_->setVisible(false);
    const std::size_t total = set->files().size();
    if (!completed) {
        setStatus(QStringLiteral("Cancelled: the overview of those %1 file(s) was not built%2.")
                      .arg(total)
                      .arg(shown_ ? QStringLiteral("; the plot still shows the earlier one")
                                  : QString()));
        return;
    }
    QStringList problems;
    std::size_t left = 0;
    for (const OverviewFile& f : set->files()) {
        if (f.problem.empty()) continue;
        if (left++ < kProblemsNamed)
            problems << fileName(f.path) + QStringLiteral(": ") + QString::fromStdString(f.problem);
    }
    if (left > kProblemsNamed) problems << QStringLiteral("and %1 more").arg(left - kProblemsNamed);
    if (set->usableCount() == 0) {
        shown_.reset();
        cursorShown_ = false;
        plot_->setLimits({});
        setStatus(QStringLiteral("None of the %1 file(s) holds records this program logged, so "
                                 "there is nothing to plot.\n")
                          .arg(total) +
                      problems.join(QStringLiteral("\n")),
                  true);
        return;
    }
    shown_ = std::move(set);
    cursorShown_ = false;
    OverviewLimits limits;
    limits.all = {shown_->firstTime(),
                  std::max(shown_->endTime(), shown_->firstTime() + kNarrowestSeconds)};
    limits.narrowest = kNarrowestSeconds;
    plot_->setLimits(limits);
    // The keys zoom at once, without a click into the plot first.
    plot_->setFocus(Qt::OtherFocusReason);
    QString text = QStringLiteral(
                       "%1 file(s), %2 to %3. Wheel or drag to zoom, + - arrows Home; "
                       "click a moment to play it.")
                       .arg(shown_->usableCount())
                       .arg(localTimeText(shown_->firstTime()), localTimeText(shown_->endTime()));
    if (left > 0)
        text += QStringLiteral("\n%1 file(s) left out: ").arg(left) +
                problems.join(QStringLiteral("; "));
    setStatus(text, left > 0);
}

OverviewView LogOverviewWindow::currentView() const {
    OverviewView v;
    const OverviewSpan span = plot_->span();
    v.from = span.from;
    v.to = span.to;
    v.fields = chosenFields();
    v.showCursor = cursorShown_;
    v.cursor = cursorTime_;
    return v;
}

std::vector<int> LogOverviewWindow::chosenFields() const {
    std::vector<int> fields;
    for (int i = 0; i < strips_->count(); ++i) {
        const QListWidgetItem* item = strips_->item(i);
        if (item->checkState() == Qt::Checked) fields.push_back(item->data(Qt::UserRole).toInt());
    }
    return fields;
}

std::pair<int, int> LogOverviewWindow::drawPlot(QtSurface& surface, OverviewSpan) {
    const int w = surface.width(), h = surface.height();
    const OverviewView view = currentView();
    const char* empty = nullptr;
    if (!shown_)
        empty = "No log files opened";
    else if (view.fields.empty())
        empty = "No strip chosen: tick one in the list";
    if (empty) {
        surface.fillRect(0, 0, w, h, Rgb{255, 255, 255});
        surface.setTextAlign({HAlign::Centre, VAlign::Top});
        surface.setTransparentBackground(true);
        surface.setTextColour(Rgb{90, 90, 90});
        surface.text(w / 2, h / 2 - surface.textMetrics().height / 2, empty);
        geometry_ = OverviewGeometry{};
        columns_ = OverviewColumns{};
        return {0, 0};
    }
    geometry_ = layoutOverview(surface, w, h, view);
    columns_ = shown_->reduce(view.from, view.to, geometry_.plotWidth());
    drawOverview(surface, geometry_, columns_, view);
    return {geometry_.plotLeft, geometry_.plotRight};
}

void LogOverviewWindow::showHover(int column) {
    hoverColumn_ = column;
    int c = column - geometry_.plotLeft;
    if (!shown_ || column < 0 || c < 0 || c >= columns_.width) {
        hover_->setText(shown_ ? QStringLiteral("Point at the plot to read the values there.")
                               : QString());
        return;
    }
    // The column's middle: where a click there plays from.
    const double middle = columns_.timeOf(c) + columns_.step() / 2;
    QString text = QString::fromStdString(overviewDateText(middle) + " " +
                                          overviewTimeText(middle, columns_.step()));
    std::uint8_t flags = columns_.flags[static_cast<std::size_t>(c)];
    if (!columns_.hasData(c) && !(flags & kColumnGap)) {
        // Zoomed in to records, most columns lie between two of them: the line there is the
        // record before (the one a click plays), unless a gap comes between.
        int d = c;
        while (d > 0 && !columns_.hasData(d) &&
               !(columns_.flags[static_cast<std::size_t>(d)] & (kColumnGap | kColumnBreakBefore)))
            --d;
        if (columns_.hasData(d) && d < c) {
            c = d;
            flags = columns_.flags[static_cast<std::size_t>(c)];
            text += QStringLiteral("  record at ") +
                    QString::fromStdString(overviewTimeText(
                        columns_.timeOf(c) + columns_.step() / 2, columns_.step()));
        }
    }
    if (!columns_.hasData(c)) {
        text += (flags & kColumnGap) ? QStringLiteral("  no records logged (a gap)")
                                     : QStringLiteral("  no records here");
    } else {
        const std::uint32_t n = columns_.records[static_cast<std::size_t>(c)];
        text += n == 1 ? QStringLiteral("  (1 record)") : QStringLiteral("  (%1 records)").arg(n);
        for (int field : currentView().fields) {
            const std::int16_t lo = columns_.low(c, field), hi = columns_.high(c, field);
            const OverviewChannel& ch = overviewChannel(field);
            QString value = QString::fromStdString(formatChannelValue(field, lo));
            if (hi != lo)
                value +=
                    QStringLiteral("..") + QString::fromStdString(formatChannelValue(field, hi));
            if (!ch.unit.empty())
                value += QStringLiteral(" ") +
                         QString::fromUtf8(ch.unit.data(), static_cast<int>(ch.unit.size()));
            text += QStringLiteral("   ") +
                    QString::fromUtf8(ch.name.data(), static_cast<int>(ch.name.size())) +
                    QStringLiteral(" ") + value;
        }
    }
    if (flags & kColumnAlarm) text += QStringLiteral("   ALARM");
    if (flags & kColumnShutdown) text += QStringLiteral("   SHUTDOWN");
    if (flags & kColumnDamaged) text += QStringLiteral("   damaged record(s) here");
    hover_->setText(text);
}

void LogOverviewWindow::clicked(int column) {
    if (!shown_ || geometry_.plotWidth() <= 0) return;
    // The record at the column's middle, as its hover says: the last one drawn at or before
    // the middle when that lies in the column, else the last one drawn in the column (zoomed
    // in to records, the one record there), else the last one before it.
    const double start = geometry_.timeAt(column), end = geometry_.timeAt(column + 1);
    OverviewLocation at, last;
    const bool inColumnOrBefore =
        shown_->locate(std::nextafter(end, -std::numeric_limits<double>::infinity()), last);
    if (!shown_->locate((start + end) / 2, at) || at.plotTime < start) at = last;
    if (!inColumnOrBefore) {
        setStatus(QStringLiteral("No record lies at or before that moment."), true);
        return;
    }
    const std::string why = playRecord_ ? playRecord_(at.path, at.record) : std::string();
    if (!why.empty()) {
        setStatus(QString::fromStdString(why), true);
        return;
    }
    cursorShown_ = true;
    cursorTime_ = at.plotTime;
    plot_->redraw();
    setStatus(QStringLiteral("Playback at record %1 of %2, logged %3.")
                  .arg(at.record)
                  .arg(fileName(at.path), localTimeText(at.time)));
}

void LogOverviewWindow::moveStrip(int by) {
    const int row = strips_->currentRow();
    const int to = row + by;
    if (row < 0 || to < 0 || to >= strips_->count()) return;
    QListWidgetItem* item = strips_->takeItem(row);
    strips_->insertItem(to, item);
    strips_->setCurrentRow(to);
    plot_->redraw();
    showHover(hoverColumn_);
}

std::string LogOverviewWindow::chooseSavePath(const char* title, const char* filterName,
                                              const char* extension) {
    FileDialogRequest r;
    r.title = title;
    r.filters = {{filterName, std::string("*") + extension}};
    // Not the log folder: the archive's and the agent's may be read-only, and are read by
    // other tools.
    r.initialDir = exportFolder_;
    r.initialName = std::string("overview") + extension;
    // The question comes from here, with No as the default.
    r.confirmOverwrite = false;
    std::string path = prompts_.saveFileName(r);
    backInFront();
    if (path.empty()) return {};
    if (!hasExtension(path, extension)) path += extension;
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) {
        const std::string text = path + " already exists.\nDo you want to replace it?";
        const int answer =
            prompts_.messageBox(text, title, BoxIcon::Question, BoxButtons::YesNoDefaultNo, false);
        backInFront();
        if (answer != kAnswerYes) return {};
    }
    exportFolder_ = std::filesystem::path(path).parent_path().string();
    return path;
}

void LogOverviewWindow::exportPicture(PictureFormat format) {
    if (!shown_) {
        setStatus(QStringLiteral("Nothing to export: open log files first."), true);
        return;
    }
    const bool png = format == PictureFormat::Png;
    const std::string path =
        chooseSavePath(png ? "Export Picture as PNG" : "Export Picture as SVG",
                       png ? "PNG Pictures" : "SVG Pictures", png ? ".png" : ".svg");
    if (path.empty()) return;
    const WaitCursor wait;
    OverviewView view = currentView();
    view.title = (QStringLiteral("Log overview, ") + localTimeText(view.from) +
                  QStringLiteral(" to ") + localTimeText(view.to))
                     .toStdString();
    std::string error;
    if (!writeOverviewPicture(path, format, plot_->width(), plot_->height(), *shown_, view,
                              &error)) {
        setStatus(QString::fromStdString(error.empty() ? "Cannot write " + path : error), true);
        return;
    }
    setStatus(QStringLiteral("Saved the view as %1.").arg(QString::fromStdString(path)));
}

void LogOverviewWindow::exportCsv() {
    if (!shown_) {
        setStatus(QStringLiteral("Nothing to export: open log files first."), true);
        return;
    }
    const std::string path = chooseSavePath("Export Records in View as CSV", "CSV Files", ".csv");
    if (path.empty()) return;
    // A day of records takes a second or two.
    const WaitCursor wait;
    const OverviewSpan span = plot_->span();
    std::string text = csvHeaderRow();
    long rows = 0;
    const bool read = shown_->forEachRecord(span.from, span.to, [&](const LogRecord& r, double) {
        appendCsvRow(r, false, text);
        ++rows;
    });
    if (!read) {
        setStatus(QStringLiteral("A log file could not be read again; nothing was saved. Open the "
                                 "files again."),
                  true);
        return;
    }
    const std::string failure = writeFileAtomically(path, text);
    if (!failure.empty()) {
        setStatus(QString::fromStdString("Cannot write " + path + ": " + failure), true);
        return;
    }
    setStatus(QStringLiteral("Saved %1 record(s) in view as %2.")
                  .arg(rows)
                  .arg(QString::fromStdString(path)));
}

void LogOverviewWindow::backInFront() {
    // The prompts belong to the main window, which a window manager raises with them.
    if (!isVisible()) return;
    raise();
    activateWindow();
}

void LogOverviewWindow::setStatus(const QString& text, bool problem) {
    status_->setText(text);
    status_->setStyleSheet(problem ? QStringLiteral("color: #a00000;") : QString());
}

QString LogOverviewWindow::statusText() const {
    return status_->text();
}

QString LogOverviewWindow::hoverText() const {
    return hover_->text();
}

}  // namespace kvx
