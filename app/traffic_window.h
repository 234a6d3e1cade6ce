#pragma once
// Traffic (View): every frame the link sends and receives as it passes, newest at the bottom,
// one line each in the format kvx-probe --monitor prints, errors in colour. Pause, Clear, a
// filter by verdict and Save as text.
//
// The link records into a ring only while this window is shown; the window reads the ring on
// a timer of its own, never from the poll, so an open window does not slow polling. The lines
// shown are bounded, the oldest going first.
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/traffic_lines.h"
#include "link/device_link.h"
#include "link/traffic_record.h"
#include "ui/prompts.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QListView;
class QPushButton;
class QTimer;

namespace kvx {

class TrafficWindow : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kReadMs = 100;
    static constexpr std::size_t kLinesKept = 5000;

    // link: the window's device link, which outlives this window. busy: true while the link
    // may not be touched (a network open running off-thread); the ring is then neither
    // switched nor read.
    TrafficWindow(Prompts& prompts, DeviceLink& link, std::function<bool()> busy,
                  QWidget* parent = nullptr, std::size_t ringFrames = kTrafficRingFrames);
    ~TrafficWindow() override;

    // One read of the ring, as the timer does it.
    void readRing();
    void setPaused(bool paused);
    bool paused() const;
    void clear();
    // The index in the filter box: all, requests, replies, errors, then one verdict each.
    void setFilterIndex(int index);
    void saveAsText();

    // Whether the link is recording into this window's ring now.
    bool recording() const { return attached_; }
    const TrafficLines& lines() const { return *lines_; }
    QListView* view() const { return view_; }
    QComboBox* filterBox() const { return filter_; }
    QPushButton* pauseButton() const { return pause_; }
    QString statusText() const;

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    // Switches the link's recording; false when the link cannot now (busy) or never can.
    bool attach();
    void detach();
    void showCounts();
    void setStatus(const QString& text, bool problem = false);
    void backInFront();

    Prompts& prompts_;
    DeviceLink& link_;
    std::function<bool()> busy_;
    std::size_t ringFrames_;
    // Allocated when recording starts, freed when it has stopped; a ring still in the link's
    // hands (the window hidden during an open) stays until the link lets it go.
    std::unique_ptr<TrafficRing> ring_;
    bool attached_ = false;
    bool unsupported_ = false;        // the link has no frames to record
    std::uint64_t lastSequence_ = 0;  // of the ring's frames, the newest read
    // The lines' own numbers: a new ring starts its sequence again, the lines go on.
    std::uint64_t lineNumber_ = 0;
    std::uint64_t missedSeen_ = 0;
    std::vector<TrafficFrame> frames_;  // reused from read to read
    std::vector<TrafficLine> incoming_;
    bool followNewest_ = true;
    long framesSeen_ = 0;
    long errorsSeen_ = 0;
    std::string saveFolder_;

    TrafficLines* lines_ = nullptr;
    QListView* view_ = nullptr;
    QComboBox* filter_ = nullptr;
    QPushButton* pause_ = nullptr;
    QLabel* counts_ = nullptr;
    QLabel* status_ = nullptr;
    QTimer* timer_ = nullptr;
};

// The kind of line a frame makes.
TrafficLineKind trafficLineKind(const TrafficFrame& frame);

}  // namespace kvx
