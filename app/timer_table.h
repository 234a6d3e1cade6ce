#pragma once
// The main window's timers by id, each one QTimer. A tick that runs late only delays the next
// one: Qt never queues timer events.
#include <QObject>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>

namespace kvx {

class TimerTable {
  public:
    using Handler = std::function<void(int id)>;
    explicit TimerTable(Handler handler) : handler_(std::move(handler)) {}

    // Starts the timer afresh with this period, creating it on first use.
    void arm(int id, int ms);
    void kill(int id);
    bool isArmed(int id) const;
    // The period last armed, 0 when never armed.
    int interval(int id) const;

  private:
    Handler handler_;
    std::map<int, std::unique_ptr<QTimer>> timers_;
};

}  // namespace kvx
