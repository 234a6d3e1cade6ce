#include "log/playback_dialog.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QVBoxLayout>
#include <algorithm>

#include "log/log_file_name.h"
#include "log/log_result.h"
#include "resources/resource_ids.h"
#include "ui/dialog_parts.h"

namespace kvx {

namespace {

// The day's hours, read afresh each time the list is opened: the hour being logged, or a file
// copied in, appears without choosing the date again.
class HourList : public QComboBox {
  public:
    using QComboBox::QComboBox;
    std::function<void()> beforePopup;
    void showPopup() override {
        if (beforePopup) beforePopup();
        QComboBox::showPopup();
    }
};

}  // namespace

ChunkSlider::ChunkSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setTickPosition(QSlider::TicksBelow);
    setPageStep(kPageRecords);
    setMinimumHeight(sizeHint().height() + 4);
}

void ChunkSlider::keyPressEvent(QKeyEvent* event) {
    // A slider's Page Down lowers its value, which on a horizontal one is to the left; here it
    // goes on through the file, as it goes down a document.
    if (event->key() == Qt::Key_PageDown || event->key() == Qt::Key_PageUp) {
        triggerAction(event->key() == Qt::Key_PageDown ? SliderPageStepAdd : SliderPageStepSub);
        event->accept();
        return;
    }
    QSlider::keyPressEvent(event);
}

void ChunkSlider::mousePressEvent(QMouseEvent* event) {
    // A left click on the groove pages toward the click, whatever the platform style would do
    // (some jump to the click), so the mouse moves through the file by the same pages as the
    // keys; the handle itself is dragged as usual.
    if (event->button() == Qt::LeftButton && event->buttons() == Qt::LeftButton &&
        maximum() > minimum()) {
        QStyleOptionSlider opt;
        initStyleOption(&opt);
        const QPoint at = event->position().toPoint();
        const QRect handle =
            style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
        if (!handle.contains(at)) {
            const int side = at.x() - handle.center().x();
            if (side != 0) triggerAction(side > 0 ? SliderPageStepAdd : SliderPageStepSub);
            event->accept();
            return;
        }
    }
    QSlider::mousePressEvent(event);
}

void ChunkSlider::setSelection(int first, int last) {
    selFirst_ = first;
    selLast_ = last;
    setToolTip(last >= first ? QStringLiteral("Loaded records %1 to %2").arg(first).arg(last)
                             : QString());
    update();
}

void ChunkSlider::paintEvent(QPaintEvent* event) {
    QSlider::paintEvent(event);
    if (selLast_ < selFirst_ || maximum() <= minimum()) return;
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    const QRect groove =
        style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, this);
    const QRect handle =
        style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
    const int span = std::max(1, groove.width() - handle.width());
    auto x = [&](int v) {
        return groove.x() + handle.width() / 2 +
               QStyle::sliderPositionFromValue(minimum(), maximum(), v, span);
    };
    const int x0 = x(std::clamp(selFirst_, minimum(), maximum()));
    const int x1 = x(std::clamp(selLast_, minimum(), maximum()));
    QPainter p(this);
    p.fillRect(QRect(x0, 0, std::max(2, x1 - x0 + 1), 3), palette().color(QPalette::Highlight));
}

PlaybackDialog::PlaybackDialog(LogPlayer& player, Prompts& prompts, std::string programDir,
                               std::function<void()> repaintPanel, QWidget* parent)
    : QDialog(parent),
      player_(player),
      prompts_(prompts),
      programDir_(std::move(programDir)),
      repaintPanel_(std::move(repaintPanel)) {
    setObjectName(QString::number(res::kPlaybackDialog));
    setWindowTitle(QStringLiteral("Playback Dialog"));

    date_ = new QDateEdit(QDate::currentDate(), this);
    date_->setObjectName(QString::number(res::kPlaybackDatePicker));
    date_->setDisplayFormat(QStringLiteral("yyyy'_'M'_'d"));
    date_->setCalendarPopup(true);

    // Shows the file being played; only Open File changes it, so a half-typed name can never
    // become the file the next chunk is read from.
    file_ = new QLineEdit(this);
    file_->setObjectName(QString::number(res::kPlaybackFileEdit));
    file_->setReadOnly(true);
    file_->setMinimumWidth(QFontMetrics(file_->font()).horizontalAdvance(QLatin1Char('x')) * 44);
    auto* hours = new HourList(this);
    hours->beforePopup = [this] { listHours(); };
    hours_ = hours;
    hours_->setObjectName(QStringLiteral("hours"));
    hours_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    hours_->setMinimumContentsLength(20);
    auto* open = makeButton(res::kPlaybackOpenFile, QStringLiteral("Open File"), this);
    open->setAutoDefault(false);

    slider_ = new ChunkSlider(this);
    slider_->setObjectName(QString::number(res::kPlaybackTrackbar));
    slider_->setRange(0, 0);
    slider_->setEnabled(false);

    where_ = new QLabel(this);
    where_->setObjectName(QStringLiteral("position"));
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("status"));
    status_->setWordWrap(true);
    status_->setVisible(false);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("Select date"), this), 0, 0);
    grid->addWidget(date_, 0, 1, Qt::AlignLeft);
    grid->addWidget(new QLabel(QStringLiteral("Hours logged"), this), 1, 0);
    grid->addWidget(hours_, 1, 1, Qt::AlignLeft);
    grid->addWidget(new QLabel(QStringLiteral("Select file"), this), 2, 0);
    grid->addWidget(file_, 2, 1);
    grid->addWidget(open, 2, 2);
    grid->addWidget(new QLabel(QStringLiteral("Navigate"), this), 3, 0);
    grid->addWidget(slider_, 3, 1, 1, 2);
    grid->addWidget(where_, 4, 1, 1, 2);
    grid->setColumnStretch(1, 1);

    auto* row = new QHBoxLayout;
    buttons_[0] = addButton("Play", res::kPlaybackPlay);
    buttons_[1] = addButton("Stop", res::kPlaybackStop);
    buttons_[2] = addButton("<<", res::kPlaybackFastReverse);
    buttons_[3] = addButton("||", res::kPlaybackPause);
    buttons_[4] = addButton(">>", res::kPlaybackFastForward);
    for (QPushButton* b : buttons_)
        row->addWidget(b);
    row->addStretch();
    auto* close = makeButton(res::kIdCancel, QStringLiteral("Close"), this);
    close->setAutoDefault(false);
    row->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(status_);
    layout->addLayout(row);

    connect(open, &QPushButton::clicked, this, &PlaybackDialog::openFile);
    connect(date_, &QDateEdit::dateChanged, this, [this] { listHours(); });
    // Only the user's choice plays a file: filling the list chooses nothing.
    connect(hours_, &QComboBox::activated, this, [this](int index) {
        const QString path = hours_->itemData(index).toString();
        if (!path.isEmpty()) play(path.toStdString());
    });
    listHours();
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(slider_, &QSlider::valueChanged, this, &PlaybackDialog::userMoved);
    connect(buttons_[0], &QPushButton::clicked, this, [this] {
        player_.play();
        sync(LOG_OK);
    });
    connect(buttons_[1], &QPushButton::clicked, this, [this] { sync(player_.stop()); });
    connect(buttons_[2], &QPushButton::clicked, this, [this] {
        player_.fastReverse();
        sync(LOG_OK);
    });
    connect(buttons_[3], &QPushButton::clicked, this, [this] {
        player_.pause();
        sync(LOG_OK);
    });
    connect(buttons_[4], &QPushButton::clicked, this, [this] {
        player_.fastForward();
        sync(LOG_OK);
    });

    timer_.setObjectName(QString::number(LogPlayer::kTimerId));
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &PlaybackDialog::onTick);
    // Closing stops the timer; the player keeps its file and position for the panel.
    connect(this, &QDialog::finished, this, [this] {
        timer_.stop();
        player_.pause();
    });

    // Chunks also change when the panel's chart changes size (a zoom, a resize).
    player_.setChunkListener([this] { showChunk(); });

    // A player that already holds a file (an earlier opening of the dialog) goes on from it.
    if (player_.loaded()) file_->setText(QString::fromStdString(player_.path()));
    sync(LOG_OK);

    // Wide enough for the whole title in the frame, beside the frame's own buttons.
    const int titleWidth = QFontMetrics(font()).horizontalAdvance(windowTitle()) + 160;
    setMinimumWidth(std::max(titleWidth, sizeHint().width()));
}

void PlaybackDialog::listHours() {
    // Each hour's name exactly as the writer makes it: a wildcard over the directory would also
    // take in the 12th for the 1st, and a listing sorted by name puts hour 10 before hour 2.
    hours_->clear();
    const QDate day = date_->date();
    const QDir dir(QString::fromStdString(programDir_.empty() ? std::string(".") : programDir_));
    for (int hour = 0; hour < 24; ++hour) {
        LocalDateTime at;
        at.year = day.year();
        at.month = day.month();
        at.day = day.day();
        at.hour = hour;
        const QString name = QString::fromStdString(logFileName(at));
        const QFileInfo file(dir.filePath(name));
        if (file.isFile()) hours_->addItem(name, dir.filePath(name));
    }
    hours_->setCurrentIndex(-1);
    hours_->setPlaceholderText(hours_->count() > 0 ? QStringLiteral("Choose an hour")
                                                   : QStringLiteral("No files for this day"));
}

QPushButton* PlaybackDialog::addButton(const char* caption, int id) {
    auto* b = makeButton(id, QString::fromUtf8(caption), this);
    // Unlike other dialogs' buttons, the player's take no Enter (nor do Open File and Close).
    b->setAutoDefault(false);
    b->setEnabled(false);
    return b;
}

PlaybackDialog::~PlaybackDialog() {
    // The player outlives the dialog.
    player_.setChunkListener({});
}

FileDialogRequest PlaybackDialog::openFileRequest() const {
    const std::string day = date_->text().toStdString();
    FileDialogRequest r;
    // That day's files only: "*2026_3_1*.log" would also take in the 12th to the 19th.
    r.filters = {{"Log Files", "log_" + day + "_*.log"}, {"All Files", "*.*"}};
    r.initialDir = programDir_;
    r.initialName = day;
    return r;
}

void PlaybackDialog::openFile() {
    const std::string path = prompts_.openFileName(openFileRequest());
    if (path.empty()) return;
    play(path);
}

void PlaybackDialog::play(const std::string& path) {
    file_->setText(QString::fromStdString(path));
    sync(player_.openFile(path));
}

void PlaybackDialog::showChunk() {
    const bool loaded = player_.loaded();
    slider_->setSelection(player_.chunkFirst(), player_.chunkLast());
    where_->setText(loaded ? QStringLiteral("Record %1 (last %2), loaded %3 to %4")
                                 .arg(player_.playbackPosition())
                                 .arg(player_.lastRecordIndex())
                                 .arg(player_.chunkFirst())
                                 .arg(player_.chunkLast())
                           : QString());
}

void PlaybackDialog::userMoved(int value) {
    if (syncing_) return;
    sync(player_.changePosition(value));
}

void PlaybackDialog::onTick() {
    // A backlog of more than a quarter of a second (the program was held up) is forgiven, not
    // played through in one burst.
    const int period = timer_.interval();
    const qint64 periodNs = static_cast<qint64>(period) * 1000000;
    qint64 due = 1;
    if (playClock_.isValid() && period > 0) {
        due = playClock_.nsecsElapsed() / periodNs - stepsTaken_;
        if (due > std::max(10, 250 / period)) {
            playClock_.start();
            stepsTaken_ = 0;
            due = 1;
        }
        due = std::max<qint64>(due, 1);
    }
    const int ms = player_.timerMs();
    int result = LOG_OK;
    for (qint64 i = 0; i < due; ++i) {
        result = player_.tick();
        ++stepsTaken_;
        // Play ended (the end of the file, the start in reverse, a failed reload).
        if (result != LOG_OK || player_.timerMs() != ms) break;
    }
    sync(result);
}

void PlaybackDialog::sync(int result) {
    syncing_ = true;
    const bool loaded = player_.loaded();
    const int last = player_.lastRecordIndex();
    slider_->setRange(0, last);
    // Ticks at the two ends only.
    slider_->setTickInterval(std::max(1, last));
    slider_->setValue(player_.playbackPosition());
    slider_->setEnabled(loaded);
    for (QPushButton* b : buttons_)
        b->setEnabled(loaded);
    showChunk();
    if (result != LOG_OK) {
        status_->setText(QString::fromStdString(playbackResultText(result, player_.path())));
        status_->setVisible(true);
    } else if (loaded && !player_.recordProblem().empty()) {
        status_->setText(QString::fromStdString(player_.recordProblem()));
        status_->setVisible(true);
    } else if (loaded) {
        status_->clear();
        status_->setVisible(false);
    }
    const int ms = player_.timerMs();
    if (ms == 0)
        timer_.stop();
    else if (!timer_.isActive() || timer_.interval() != ms) {
        timer_.start(ms);
        playClock_.start();
        stepsTaken_ = 0;
    }
    syncing_ = false;
    if (repaintPanel_) repaintPanel_();
}

}  // namespace kvx
