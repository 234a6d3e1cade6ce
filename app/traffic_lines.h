#pragma once
// The lines of the Traffic window: every frame read from the link's traffic record, formatted
// once, kept up to a bound (the oldest go first), and the ones the verdict filter lets through
// as a list model for the view. Nothing here grows with time.
#include <QAbstractListModel>
#include <QString>
#include <cstdint>
#include <deque>
#include <vector>

namespace kvx {

// What a line is, for its colour and for the filter.
enum class TrafficLineKind {
    Request,     // a frame we sent
    Good,        // a reply the master took
    Error,       // a reply, or its absence, that failed the transaction
    PassedOver,  // bytes the master skipped and went on (a late answer to an earlier request,
                 // an adapter's echo, noise on a line that should have been quiet)
    Note,        // the window's own: frames it could not show
};

struct TrafficLine {
    std::uint64_t sequence = 0;
    TrafficLineKind kind = TrafficLineKind::Request;
    int verdict = -1;  // the link's verdict (TrafficVerdict) as a number; -1 for a note
    QString text;
};

// Which lines are shown.
struct TrafficFilter {
    enum Mode { All, Requests, Replies, Errors, OneVerdict };
    Mode mode = All;
    int verdict = 0;  // for OneVerdict
    bool passes(const TrafficLine& line) const;
};

class TrafficLines : public QAbstractListModel {
    Q_OBJECT
  public:
    explicit TrafficLines(std::size_t capacity, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // New lines at the end; the oldest beyond the capacity are dropped. While frozen, the
    // lines are kept but the rows shown are only those there when it froze, until thawed.
    void append(std::vector<TrafficLine>& lines);
    void setFilter(const TrafficFilter& filter);
    const TrafficFilter& filter() const { return filter_; }
    void setFrozen(bool frozen);
    bool frozen() const { return frozen_; }
    void clear();
    // Every row this high and as wide as the view: a long frame is cut in its middle, so the
    // time and the verdict stay in view, and is shown whole as its tool tip.
    void setRowHeight(int pixels) { rowHeight_ = pixels; }

    std::size_t capacity() const { return capacity_; }
    // Every line kept, shown or not.
    std::size_t keptCount() const { return kept_.size(); }
    // The rows shown, as text, one line each with a newline after it.
    std::string shownText() const;
    const TrafficLine& shownLine(int row) const { return shown_[static_cast<std::size_t>(row)]; }

  private:
    void rebuildShown();

    std::size_t capacity_;
    TrafficFilter filter_;
    bool frozen_ = false;
    std::uint64_t frozenAt_ = 0;  // the newest line kept when the view was frozen
    int rowHeight_ = 0;
    std::deque<TrafficLine> kept_;
    // Copies of kept lines (their texts are shared, not copied): while frozen, the kept ones
    // may go while these are still shown.
    std::deque<TrafficLine> shown_;
};

}  // namespace kvx
