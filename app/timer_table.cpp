#include "app/timer_table.h"

namespace kvx {

void TimerTable::arm(int id, int ms) {
    auto& slot = timers_[id];
    if (!slot) {
        slot = std::make_unique<QTimer>();
        slot->setTimerType(Qt::PreciseTimer);
        QObject::connect(slot.get(), &QTimer::timeout, [this, id] { handler_(id); });
    }
    slot->start(ms);
}

void TimerTable::kill(int id) {
    if (auto it = timers_.find(id); it != timers_.end()) it->second->stop();
}

bool TimerTable::isArmed(int id) const {
    auto it = timers_.find(id);
    return it != timers_.end() && it->second->isActive();
}

int TimerTable::interval(int id) const {
    auto it = timers_.find(id);
    return it == timers_.end() ? 0 : it->second->interval();
}

}  // namespace kvx
