#include "agent/headless_runner.h"

#include <cstdio>
#include <thread>

#include "resources/resource_ids.h"

namespace kvx::agent {

int LoggedPrompts::messageBox(const std::string& text, const std::string& title, BoxIcon,
                              BoxButtons buttons, bool) {
    ++boxes;
    std::string oneLine;
    for (char c : text)
        oneLine += c == '\n' ? ' ' : c;
    const int answer = buttons == BoxButtons::Ok ? kAnswerOk : kAnswerNo;
    std::fprintf(stderr, "kvx-agent: %s: %s (answered %s, nobody to ask)\n", title.c_str(),
                 oneLine.c_str(), answer == kAnswerOk ? "OK" : "No");
    return answer;
}

HeadlessRunner::HeadlessRunner(RunnerParams params)
    : params_(std::move(params)),
      settings_(params_.settings),
      log_(params_.logFolder, params_.logClock) {
    settings_.reconnectAutomatically = true;
    controller_ = std::make_unique<MonitorController>(*params_.link, log_, prompts_,
                                                      static_cast<MonitorHost&>(*this), settings_,
                                                      feed_, params_.clock);
    // The window's creation step.
    controller_->onCreate();
}

HeadlessRunner::~HeadlessRunner() = default;

void HeadlessRunner::startUp() {
    // The order of the window's start-up after its configuration files are read.
    controller_->applySpeedRange();
    if (!controller_->openPortAtStartUp(params_.replyTimeoutMs)) return;
    connecting_ = true;
    armTimer(kTimerConnecting, kConnectingTickMs);
}

void HeadlessRunner::connectingTick() {
    if (++connectingTicks_ < kConnectingGiveUpTicks) return;
    connectingTicks_ = 0;
    // The dialog's give-up: cancelled, the sequence stopped, and the failure noted with a new
    // try planned (quietly, as the window does with automatic reconnection).
    connecting_ = false;
    killTimer(kTimerConnecting);
    controller_->connectingCancelled();
    killTimer(kTimerSequence);
    controller_->connectingGaveUp();
}

void HeadlessRunner::closeConnectingDialog() {
    if (!connecting_) return;
    connecting_ = false;
    killTimer(kTimerConnecting);
}

void HeadlessRunner::armTimer(int id, int ms) {
    timers_[id] = {ms, Clock::now() + std::chrono::milliseconds(ms)};
}

void HeadlessRunner::killTimer(int id) {
    timers_.erase(id);
}

void HeadlessRunner::setTitle(const std::string& title) {
    if (title == title_) return;
    title_ = title;
    std::fprintf(stderr, "kvx-agent: controller: %s\n", title.c_str());
}

void HeadlessRunner::postCommand(int id) {
    // Connect is the one command the controller posts with no menu to choose it; Disconnect
    // comes only from Playback, which the agent has not.
    if (id == res::kCmdConnect) posted_.push_back([this] { controller_->connect(); });
    if (id == res::kCmdDisconnect) posted_.push_back([this] { controller_->disconnect(); });
}

void HeadlessRunner::postOpenLogFile(int requestKind) {
    posted_.push_back([this, requestKind] { controller_->openLogFile(requestKind); });
}

void HeadlessRunner::runPosted() {
    // Only what was posted before this round: what these post runs in the next one, after
    // the timers, as queued events do.
    for (std::size_t n = posted_.size(); n > 0 && !posted_.empty(); --n) {
        auto f = std::move(posted_.front());
        posted_.pop_front();
        f();
    }
}

void HeadlessRunner::onTimer(int id) {
    switch (id) {
        case kTimerPoll:
            controller_->pollTick();
            break;
        case kTimerSequence:
            controller_->connectSequenceTick();
            break;
        case kTimerLogClock:
            controller_->logClockTick();
            break;
        case kTimerReconnect:
            controller_->reconnectTick();
            break;
        case kTimerConnecting:
            connectingTick();
            break;
        default:
            break;
    }
}

void HeadlessRunner::runOnce(int maxWaitMs) {
    runPosted();
    // Each due timer fires once, however late: a late tick only delays the next one.
    const Clock::time_point now = Clock::now();
    std::vector<int> due;
    for (const auto& [id, t] : timers_)
        if (t.due <= now) due.push_back(id);
    for (int id : due) {
        auto it = timers_.find(id);
        if (it == timers_.end() || it->second.due > now) continue;  // killed or re-armed
        it->second.due = Clock::now() + std::chrono::milliseconds(it->second.periodMs);
        onTimer(id);
    }
    if (!posted_.empty()) return;
    Clock::time_point next = Clock::now() + std::chrono::milliseconds(maxWaitMs);
    for (const auto& [id, t] : timers_)
        if (t.due < next) next = t.due;
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now());
    const int ms = wait.count() < 0 ? 0 : static_cast<int>(wait.count());
    if (wait_)
        wait_(ms);
    else if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void HeadlessRunner::shutDown() {
    timers_.clear();
    posted_.clear();
    connecting_ = false;
    controller_->shutdown();
}

}  // namespace kvx::agent
