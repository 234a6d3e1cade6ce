#include "app/traffic_window.h"

#include <QComboBox>
#include <QDir>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <filesystem>
#include <new>

#include "settings/settings_file.h"

namespace kvx {

namespace {

struct FilterChoice {
    const char* caption;
    TrafficFilter filter;
};

// The filter box, top to bottom.
const std::vector<FilterChoice>& filterChoices() {
    auto one = [](TrafficVerdict v) {
        return TrafficFilter{TrafficFilter::OneVerdict, static_cast<int>(v)};
    };
    static const std::vector<FilterChoice> choices = {
        {"All frames", {TrafficFilter::All, 0}},
        {"Requests", {TrafficFilter::Requests, 0}},
        {"Replies", {TrafficFilter::Replies, 0}},
        {"Errors", {TrafficFilter::Errors, 0}},
        {"Good replies", one(TrafficVerdict::good)},
        {"Time-outs", one(TrafficVerdict::timeout)},
        {"Truncated replies", one(TrafficVerdict::truncated)},
        {"CRC errors", one(TrafficVerdict::badCrc)},
        {"Another slave", one(TrafficVerdict::wrongSlave)},
        {"Another function", one(TrafficVerdict::wrongFunction)},
        {"Mismatches (transaction, shape)", one(TrafficVerdict::mismatch)},
        {"Exceptions", one(TrafficVerdict::exception)},
        {"Line failures", one(TrafficVerdict::ioFailure)},
        {"Passed over", one(TrafficVerdict::passedOver)},
        {"Adapter echoes", one(TrafficVerdict::echo)},
        {"Noise", one(TrafficVerdict::noise)},
        {"Not sent", one(TrafficVerdict::notSent)},
    };
    return choices;
}

bool hasTextExtension(const std::string& path) {
    const std::string name = std::filesystem::path(path).filename().string();
    return name.find('.') != std::string::npos;
}

}  // namespace

TrafficLineKind trafficLineKind(const TrafficFrame& frame) {
    switch (frame.verdict) {
        case TrafficVerdict::sent:
            return TrafficLineKind::Request;
        case TrafficVerdict::good:
            return TrafficLineKind::Good;
        case TrafficVerdict::passedOver:
        case TrafficVerdict::echo:
        case TrafficVerdict::noise:
            return TrafficLineKind::PassedOver;
        default:
            return TrafficLineKind::Error;
    }
}

TrafficWindow::TrafficWindow(Prompts& prompts, DeviceLink& link, std::function<bool()> busy,
                             QWidget* parent, std::size_t ringFrames)
    : QWidget(parent, Qt::Window),
      prompts_(prompts),
      link_(link),
      busy_(std::move(busy)),
      ringFrames_(ringFrames),
      saveFolder_(QDir::homePath().toStdString()) {
    setObjectName(QStringLiteral("traffic"));
    setWindowTitle(QStringLiteral("Traffic"));
    setAttribute(Qt::WA_DeleteOnClose, false);

    lines_ = new TrafficLines(kLinesKept, this);
    view_ = new QListView(this);
    view_->setObjectName(QStringLiteral("lines"));
    view_->setModel(lines_);
    view_->setUniformItemSizes(true);
    view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view_->setTextElideMode(Qt::ElideMiddle);
    view_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    lines_->setRowHeight(QFontMetrics(view_->font()).lineSpacing() + 2);

    pause_ = new QPushButton(QStringLiteral("Pause"), this);
    pause_->setObjectName(QStringLiteral("pause"));
    pause_->setCheckable(true);
    auto* clearButton = new QPushButton(QStringLiteral("Clear"), this);
    clearButton->setObjectName(QStringLiteral("clear"));
    filter_ = new QComboBox(this);
    filter_->setObjectName(QStringLiteral("filter"));
    for (const FilterChoice& c : filterChoices())
        filter_->addItem(QString::fromUtf8(c.caption));
    auto* save = new QPushButton(QStringLiteral("Save as Text..."), this);
    save->setObjectName(QStringLiteral("save"));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(pause_);
    buttons->addWidget(clearButton);
    buttons->addSpacing(12);
    buttons->addWidget(new QLabel(QStringLiteral("Show"), this));
    buttons->addWidget(filter_);
    buttons->addStretch(1);
    buttons->addWidget(save);

    counts_ = new QLabel(this);
    counts_->setObjectName(QStringLiteral("counts"));
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("status"));
    status_->setWordWrap(true);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(view_, 1);
    layout->addWidget(counts_);
    layout->addWidget(status_);

    // The newest line stays in view while the view is scrolled to the bottom; scrolled up, the
    // lines stay where the user put them. The range grows after the rows have been laid out,
    // later than the rows are added.
    QScrollBar* bar = view_->verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this,
            [this, bar](int value) { followNewest_ = value >= bar->maximum(); });
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int max) {
        if (followNewest_) bar->setValue(max);
    });

    connect(pause_, &QPushButton::toggled, this, [this](bool on) { setPaused(on); });
    connect(clearButton, &QPushButton::clicked, this, [this] { clear(); });
    connect(filter_, &QComboBox::currentIndexChanged, this,
            [this](int index) { setFilterIndex(index); });
    connect(save, &QPushButton::clicked, this, [this] { saveAsText(); });

    timer_ = new QTimer(this);
    timer_->setInterval(kReadMs);
    connect(timer_, &QTimer::timeout, this, [this] { readRing(); });

    const QFontMetrics fm(view_->font());
    resize(fm.horizontalAdvance(QLatin1Char('0')) * 110, fm.lineSpacing() * 30);
    showCounts();
}

TrafficWindow::~TrafficWindow() {
    // The link must not record into a ring that is gone; nothing opens while a window is
    // being taken apart.
    if (ring_) link_.setTrafficRing(nullptr);
}

void TrafficWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    attach();
    timer_->start();
}

void TrafficWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // Minimised, it goes on recording, so that nothing is missing when it comes back.
    if (event->spontaneous()) return;
    // What was shown is kept; the timer goes on only to let a ring go that the link could not
    // give back yet.
    detach();
    if (!ring_) timer_->stop();
}

bool TrafficWindow::attach() {
    if (attached_ || unsupported_) return attached_;
    if (busy_ && busy_()) return false;
    if (!ring_) {
        try {
            ring_ = std::make_unique<TrafficRing>(ringFrames_);
        } catch (const std::bad_alloc&) {
            setStatus(QStringLiteral("No memory for the traffic record."), true);
            return false;
        }
    }
    if (!link_.setTrafficRing(ring_.get())) {
        unsupported_ = true;
        ring_.reset();
        setStatus(QStringLiteral("This connection has no frames to show."), true);
        return false;
    }
    attached_ = true;
    lastSequence_ = 0;
    missedSeen_ = 0;
    return true;
}

void TrafficWindow::detach() {
    if (!ring_ || (busy_ && busy_())) return;
    link_.setTrafficRing(nullptr);
    attached_ = false;
    ring_.reset();
}

void TrafficWindow::readRing() {
    if (busy_ && busy_()) return;
    if (!isVisible()) {
        detach();
        if (!ring_) timer_->stop();
        return;
    }
    if (!attached_ && !attach()) return;

    frames_.clear();
    ring_->readSince(lastSequence_, frames_, kLinesKept);
    const std::uint64_t missed = ring_->missed();
    auto note = [this](QString text) {
        TrafficLine line;
        line.sequence = ++lineNumber_;
        line.kind = TrafficLineKind::Note;
        line.text = std::move(text);
        incoming_.push_back(std::move(line));
    };
    if (missed > missedSeen_) {
        note(QStringLiteral("... %1 frame(s) not recorded while the window read the record")
                 .arg(missed - missedSeen_));
        missedSeen_ = missed;
    }
    if (frames_.empty()) {
        if (!incoming_.empty()) lines_->append(incoming_);
        return;
    }
    if (frames_.front().sequence > lastSequence_ + 1)
        note(QStringLiteral("... %1 frame(s) passed before the window could show them")
                 .arg(frames_.front().sequence - lastSequence_ - 1));
    for (const TrafficFrame& f : frames_) {
        TrafficLine line;
        line.sequence = ++lineNumber_;
        line.kind = trafficLineKind(f);
        line.verdict = static_cast<int>(f.verdict);
        line.text = QString::fromStdString(formatTrafficLine(f));
        ++framesSeen_;
        errorsSeen_ += line.kind == TrafficLineKind::Error;
        incoming_.push_back(std::move(line));
    }
    lastSequence_ = frames_.back().sequence;

    lines_->append(incoming_);
    showCounts();
}

void TrafficWindow::setPaused(bool paused) {
    if (pause_->isChecked() != paused) {
        pause_->setChecked(paused);  // comes back here through toggled
        return;
    }
    pause_->setText(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
    lines_->setFrozen(paused);
    if (!paused) {
        followNewest_ = true;
        view_->scrollToBottom();
    }
    showCounts();
}

bool TrafficWindow::paused() const {
    return lines_->frozen();
}

void TrafficWindow::clear() {
    lines_->clear();
    framesSeen_ = 0;
    errorsSeen_ = 0;
    setStatus({});
    showCounts();
}

void TrafficWindow::setFilterIndex(int index) {
    const auto& choices = filterChoices();
    if (index < 0 || index >= static_cast<int>(choices.size())) return;
    if (filter_->currentIndex() != index) {
        filter_->setCurrentIndex(index);  // comes back here through currentIndexChanged
        return;
    }
    lines_->setFilter(choices[static_cast<std::size_t>(index)].filter);
    followNewest_ = true;
    view_->scrollToBottom();
    showCounts();
}

void TrafficWindow::saveAsText() {
    if (lines_->rowCount() == 0) {
        setStatus(QStringLiteral("Nothing to save: no lines are shown."), true);
        return;
    }
    // The lines as they are now, not as they will be after the dialogs.
    const std::string text = lines_->shownText();
    const int count = lines_->rowCount();
    FileDialogRequest r;
    r.title = "Save Traffic as Text";
    r.filters = {{"Text Files", "*.txt"}, {"All Files", "*"}};
    r.initialDir = saveFolder_;
    r.initialName = "traffic.txt";
    // The question comes from here, with No as the default.
    r.confirmOverwrite = false;
    std::string path = prompts_.saveFileName(r);
    backInFront();
    if (path.empty()) return;
    if (!hasTextExtension(path)) path += ".txt";
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) {
        const int answer =
            prompts_.messageBox(path + " already exists.\nDo you want to replace it?", r.title,
                                BoxIcon::Question, BoxButtons::YesNoDefaultNo, false);
        backInFront();
        if (answer != kAnswerYes) return;
    }
    saveFolder_ = std::filesystem::path(path).parent_path().string();
    const std::string failure = writeFileAtomically(path, text);
    if (!failure.empty()) {
        setStatus(QString::fromStdString("Cannot write " + path + ": " + failure), true);
        return;
    }
    setStatus(
        QStringLiteral("Saved %1 line(s) as %2.").arg(count).arg(QString::fromStdString(path)));
}

void TrafficWindow::showCounts() {
    QString text = QStringLiteral("%1 frame(s), %2 error(s); %3 line(s) shown")
                       .arg(framesSeen_)
                       .arg(errorsSeen_)
                       .arg(lines_->rowCount());
    if (lines_->frozen()) text += QStringLiteral(" - paused, still recording");
    counts_->setText(text);
}

void TrafficWindow::setStatus(const QString& text, bool problem) {
    status_->setText(text);
    status_->setStyleSheet(problem ? QStringLiteral("color: #a00000;") : QString());
}

QString TrafficWindow::statusText() const {
    return status_->text();
}

void TrafficWindow::backInFront() {
    // The prompts belong to the main window, which a window manager raises with them.
    if (!isVisible()) return;
    raise();
    activateWindow();
}

}  // namespace kvx
