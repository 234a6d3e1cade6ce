#include "app/traffic_lines.h"

#include <QBrush>
#include <QColor>
#include <QSize>
#include <algorithm>

namespace kvx {

bool TrafficFilter::passes(const TrafficLine& line) const {
    switch (mode) {
        case All:
            return true;
        case Requests:
            return line.kind == TrafficLineKind::Request || line.kind == TrafficLineKind::Note;
        case Replies:
            return line.kind != TrafficLineKind::Request;
        case Errors:
            return line.kind == TrafficLineKind::Error || line.kind == TrafficLineKind::Note;
        case OneVerdict:
            return line.verdict == verdict || line.kind == TrafficLineKind::Note;
    }
    return true;
}

TrafficLines::TrafficLines(std::size_t capacity, QObject* parent)
    : QAbstractListModel(parent), capacity_(std::max<std::size_t>(capacity, 1)) {}

int TrafficLines::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(shown_.size());
}

QVariant TrafficLines::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || index.row() >= rowCount()) return {};
    const TrafficLine& line = shown_[static_cast<std::size_t>(index.row())];
    switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
            return line.text;
        case Qt::SizeHintRole:
            return rowHeight_ > 0 ? QVariant(QSize(1, rowHeight_)) : QVariant();
        case Qt::ForegroundRole:
            // Failures stand out; what the master skipped is worth a look, not an alarm.
            if (line.kind == TrafficLineKind::Error) return QBrush(QColor(0xc0, 0x00, 0x00));
            if (line.kind == TrafficLineKind::PassedOver) return QBrush(QColor(0x9a, 0x60, 0x00));
            if (line.kind == TrafficLineKind::Request) return QBrush(QColor(0x20, 0x40, 0x90));
            if (line.kind == TrafficLineKind::Note) return QBrush(QColor(0x70, 0x70, 0x70));
            return {};
        default:
            return {};
    }
}

void TrafficLines::append(std::vector<TrafficLine>& lines) {
    if (lines.empty()) return;
    // More than the bound in one go: only the newest count.
    auto first = lines.begin();
    if (lines.size() > capacity_) first += static_cast<std::ptrdiff_t>(lines.size() - capacity_);
    const std::size_t incoming = static_cast<std::size_t>(lines.end() - first);
    const std::size_t excess = kept_.size() + incoming > capacity_
                                   ? std::min(kept_.size(), kept_.size() + incoming - capacity_)
                                   : 0;
    kept_.erase(kept_.begin(), kept_.begin() + static_cast<std::ptrdiff_t>(excess));
    const std::size_t before = kept_.size();
    for (auto it = first; it != lines.end(); ++it)
        kept_.push_back(std::move(*it));
    lines.clear();
    if (frozen_) return;

    // The rows shown that are no longer kept go first, then the new ones that pass.
    const std::uint64_t oldest = kept_.front().sequence;
    std::size_t gone = 0;
    while (gone < shown_.size() && shown_[gone].sequence < oldest)
        ++gone;
    if (gone > 0) {
        beginRemoveRows({}, 0, static_cast<int>(gone) - 1);
        shown_.erase(shown_.begin(), shown_.begin() + static_cast<std::ptrdiff_t>(gone));
        endRemoveRows();
    }
    std::size_t passing = 0;
    for (std::size_t i = before; i < kept_.size(); ++i)
        passing += filter_.passes(kept_[i]);
    if (passing == 0) return;
    const int row = static_cast<int>(shown_.size());
    beginInsertRows({}, row, row + static_cast<int>(passing) - 1);
    for (std::size_t i = before; i < kept_.size(); ++i)
        if (filter_.passes(kept_[i])) shown_.push_back(kept_[i]);
    endInsertRows();
}

void TrafficLines::setFilter(const TrafficFilter& filter) {
    filter_ = filter;
    rebuildShown();
}

void TrafficLines::setFrozen(bool frozen) {
    if (frozen_ == frozen) return;
    frozen_ = frozen;
    frozenAt_ = kept_.empty() ? 0 : kept_.back().sequence;
    // Thawed: what came meanwhile is shown at once.
    if (!frozen_) rebuildShown();
}

void TrafficLines::clear() {
    beginResetModel();
    kept_.clear();
    shown_.clear();
    endResetModel();
}

void TrafficLines::rebuildShown() {
    beginResetModel();
    shown_.clear();
    for (const TrafficLine& line : kept_) {
        // Paused, another filter picks from what was there when the view was paused.
        if (frozen_ && line.sequence > frozenAt_) break;
        if (filter_.passes(line)) shown_.push_back(line);
    }
    endResetModel();
}

std::string TrafficLines::shownText() const {
    std::string text;
    for (const TrafficLine& line : shown_) {
        text += line.text.toStdString();
        text += '\n';
    }
    return text;
}

}  // namespace kvx
