#include "app/core/monitor_controller.h"

#include <cstdio>
#include <utility>

#include "app/core/window_texts.h"
#include "link/result_codes.h"
#include "log/log_format.h"
#include "model/alarm_text.h"
#include "model/registers.h"
#include "resources/resource_ids.h"

namespace kvx {

namespace {
constexpr const char* kConnectionFailed =
    "Connection failed. \nPlease check the cable, communication port and device ID settings.";
constexpr const char* kOpenFailed = "Error opening communication port!\n";
constexpr const char* kNotice9600 = "Notice(B_9600)";
// The Connect check read: references 27..30.
constexpr int kCheckFirstRef = 27;
constexpr int kCheckCount = 4;
}  // namespace

MonitorController::MonitorController(DeviceLink& link, LogWriter& log, Prompts& prompts,
                                     MonitorHost& host, ProgramSettings& settings, PanelFeed& feed,
                                     MonitorClock clock)
    : link_(link),
      log_(log),
      prompts_(prompts),
      host_(host),
      settings_(settings),
      feed_(feed),
      clock_(std::move(clock)) {
    applySpeedRange();
}

void MonitorController::showBox(const char* text, const char* title, BoxIcon icon, bool owned) {
    prompts_.messageBox(text, title, icon, BoxButtons::Ok, owned);
}

std::string MonitorController::withOpenReason(const char* text) const {
    std::string out = text;
    // A network open says why it failed (a refused connection, a certificate not trusted); a
    // serial one says nothing more than its box always did.
    const std::string reason = link_.lastOpenError();
    if (!reason.empty()) {
        if (!out.empty() && out.back() != '\n') out += '\n';
        out += reason + "\n";
    }
    return out;
}

std::string MonitorController::openFailedText() const {
    return withOpenReason(kOpenFailed);
}

void MonitorController::connectionFailed(const char* text, const char* title, BoxIcon icon,
                                         bool owned) {
    if (!settings_.reconnectAutomatically) {
        showBox(text, title, icon, owned);
        return;
    }
    // The box's text on one line, then when the next try comes.
    std::string reason;
    for (const char* c = text; *c; ++c) {
        if (*c != '\n')
            reason += *c;
        else if (!reason.empty() && reason.back() != ' ')
            reason += ' ';  // a network open's reason comes on a line of its own
    }
    while (!reason.empty() && reason.back() == ' ')
        reason.pop_back();
    const int pause = backoff_.next();
    const LocalTimeMs now = clock_.localTime();
    const int at = (now.hour * 3600 + now.minute * 60 + now.second + pause) % 86400;
    char next[32];
    std::snprintf(next, sizeof next, " Next try at %02d:%02d:%02d.", at / 3600, at / 60 % 60,
                  at % 60);
    retryNote_ = reason + next;
    // Unattended runs keep a trace of every failure on standard error.
    std::fprintf(stderr, "%s: %s (try %d failed, next in %d s)\n", host_.programName(),
                 reason.c_str(), backoff_.failures(), pause);
    host_.armTimer(kTimerReconnect, pause * 1000);
    host_.refreshStatusBar();
}

void MonitorController::connectionRestored() {
    if (backoff_.failures() > 0)
        std::fprintf(stderr, "%s: connected again after %d failed tries\n", host_.programName(),
                     backoff_.failures());
    backoff_.reset();
    if (retryNote_.empty()) return;
    retryNote_.clear();
    host_.killTimer(kTimerReconnect);
}

void MonitorController::cancelReconnect() {
    backoff_.reset();
    if (retryNote_.empty()) return;
    retryNote_.clear();
    host_.killTimer(kTimerReconnect);
    host_.refreshStatusBar();
}

void MonitorController::reconnectTick() {
    host_.killTimer(kTimerReconnect);
    if (sequenceFinished_)
        connect();
    else
        restartSequence();
}

void MonitorController::restartSequence() {
    if (link_.isConnected()) link_.closeConnection();
    if (link_.openConnection(settings_.portName) != 0) {
        state_.connected = false;
        connectionFailed(openFailedText().c_str(), kNotice9600, BoxIcon::None, false);
        return;
    }
    state_.connected = true;
    state_.sequenceAttempts = 0;
    state_.sequenceSuccesses = 0;
    host_.armTimer(kTimerSequence, kSequenceMs);
}

void MonitorController::onCreate() {
    previousLocalTime_ = clock_.localTime();
    feed_.live.vibration = -1;
    host_.armTimer(kTimerSequence, kSequenceMs);
}

bool MonitorController::openPortAtStartUp(int replyTimeoutMs) {
    link_.setReplyTimeout(replyTimeoutMs);
    if (link_.openConnection(settings_.portName) != 0) {
        state_.connected = false;
        connectionFailed(openFailedText().c_str(), kNotice9600, BoxIcon::None, false);
        return false;
    }
    state_.connected = true;
    return true;
}

void MonitorController::connectingCancelled() {
    state_.connected = false;
}

bool MonitorController::connectingGaveUp() {
    if (!settings_.reconnectAutomatically) return false;
    host_.killTimer(kTimerSequence);
    state_.connected = false;
    connectionFailed(kConnectionFailed, "Communication Timeout", BoxIcon::None, false);
    return true;
}

void MonitorController::applySpeedRange() {
    state_.ranges.speedMin = settings_.speedMin;
    state_.ranges.speedMax = settings_.speedMax;
}

void MonitorController::followRanges(const DisplayRanges& ranges) {
    state_.ranges = ranges;
}

void MonitorController::connectSequenceTick() {
    if (!state_.connected) return;
    std::int16_t regs[DeviceIdentity::kCount];
    const int r = link_.readHoldingRegisters(settings_.slaveId, DeviceIdentity::kFirstRef, regs,
                                             DeviceIdentity::kCount);
    state_.identity = DeviceIdentity::fromRegisters(regs);
    state_.identityRead = r == 0;
    if (r == 0) {
        state_.serialNumber = state_.identity.serial_number;
        host_.setTitle(firmwareTitle(state_.identity.version));
        ++state_.sequenceSuccesses;
    }
    ++state_.sequenceAttempts;
    // From the 20th tick on, any failing read ends the sequence; a line that answers now and
    // then would otherwise keep it running unnoticed.
    if (state_.sequenceAttempts >= kSequenceGiveUp && r != 0) {
        host_.closeConnectingDialog();
        host_.killTimer(kTimerSequence);
        connectionFailed(kConnectionFailed, "Communication Timeout", BoxIcon::None, false);
        return;
    }
    if (state_.sequenceSuccesses < kSequenceGoodReads) return;

    std::int16_t first[DisplayRanges::kFirstCount];
    std::int16_t second[DisplayRanges::kSecondCount];
    link_.readHoldingRegisters(settings_.slaveId, DisplayRanges::kFirstRead, first,
                               DisplayRanges::kFirstCount);
    link_.readHoldingRegisters(settings_.slaveId, DisplayRanges::kSecondRead, second,
                               DisplayRanges::kSecondCount);
    state_.ranges = computeDisplayRanges(first, second, state_.identity.version, state_.ranges);
    applySpeedRange();
    sequenceFinished_ = true;
    connectionRestored();
    host_.killTimer(kTimerSequence);
    host_.armTimer(kTimerPoll, kPollMs);
    host_.armTimer(kTimerLogClock, kLogClockMs);
    host_.closeConnectingDialog();
    const int ra = link_.readInputRegisters(settings_.slaveId, kBlockA.firstRef,
                                            state_.image.a.data(), kBlockA.count);
    feed_.live.local_shutoff = ra == 0 ? state_.image.inA(16) : 0;
    host_.createRunStopWindow();
    host_.invalidatePanel();
    host_.activateMainWindow();
}

long PollCounts::badTickCount() const {
    long n = 0;
    for (const auto& [code, count] : badTicks)
        n += count;
    return n;
}

std::string PollCounts::line() const {
    std::string text = "polls " + std::to_string(polls) + ", good ticks " +
                       std::to_string(goodTicks) + ", bad ticks " + std::to_string(badTickCount());
    if (!badTicks.empty()) {
        const char* sep = " (";
        for (const auto& [code, count] : badTicks) {
            text += sep;
            text += std::to_string(code) + ": " + std::to_string(count);
            sep = ", ";
        }
        text += ')';
    }
    text += ", records logged " + std::to_string(recordsHanded - recordsLost) + ", records lost " +
            std::to_string(recordsLost) + ", good ticks without a log file " +
            std::to_string(notLogged);
    return text;
}

void MonitorController::pollTick() {
    // A remote unit's record stays until a good Connect, which switches the feed back first.
    if (feed_.remote()) return;
    ++state_.counts.polls;
    const std::int64_t recordTime = clock_.calendarSeconds();
    const int slave = settings_.slaveId;
    const int ra =
        link_.readInputRegisters(slave, kBlockA.firstRef, state_.image.a.data(), kBlockA.count);
    const int firmware = state_.identity.version;
    int rb = 0;
    if (readsBlockB105(firmware)) {
        rb = link_.readInputRegisters(slave, kBlockB105.firstRef, state_.image.b105.data(),
                                      kBlockB105.count);
    } else if (readsBlockB106(firmware)) {
        rb = link_.readInputRegisters(slave, kBlockB106.firstRef, state_.image.b106.data(),
                                      kBlockB106.count);
    }
    const bool blockBOk = rb == 0;
    const bool b106Ok = readsBlockB106(firmware) && blockBOk;
    if (readsBlockB113(firmware)) {
        link_.readInputRegisters(slave, kBlockB113.firstRef, state_.image.b113.data(),
                                 kBlockB113.count);
    }
    decodeLiveData(state_.image, state_.ranges.indicator_type, ra == 0, b106Ok, feed_.live,
                   state_.status);

    const bool runStop = host_.hasRunStopWindow();
    if (feed_.live.local_shutoff != previousLocalShutoff_ ||
        state_.status.extShutoffOk != previousExtShutoff_) {
        if (runStop) host_.invalidateRunStopWindow();
    }
    previousLocalShutoff_ = feed_.live.local_shutoff;
    previousExtShutoff_ = state_.status.extShutoffOk;
    const bool isReadyNow = isReady(feed_.live, state_.status);
    if (isReadyNow != (state_.readyShown != 0)) {
        state_.readyShown = isReadyNow ? 1 : 0;
        if (runStop) host_.invalidateRunStopWindow();
    }

    if (ra == 0 && blockBOk) {
        ++state_.goodTicks;
        ++state_.counts.goodTicks;
        state_.connected = true;
        host_.invalidatePanel();
        // A new hour begins a new file even where the log clock does not run (polling started
        // by Connect after a start-up that found no controller).
        if (log_.hourHasChanged()) log_.closeLogFile();
        // Opened here, before the record, so that a record the window shows is in the log.
        if (!log_.isOpen()) openLogFileForRecord();
        if (log_.isOpen()) {
            const int logged =
                log_.appendLogRecord(LogRecord::fromLiveData(recordTime, feed_.live));
            if (logged != LOG_NOT_OPEN) ++state_.counts.recordsHanded;
        } else {
            ++state_.counts.notLogged;
        }
        state_.consecutiveFailures = 0;
        state_.commStatus = 0;
    } else {
        ++state_.counts.badTicks[ra != 0 ? ra : rb];
        if (state_.consecutiveFailures < kBadTicksToReconnect) ++state_.consecutiveFailures;
    }
    if (state_.consecutiveFailures >= kBadTicksToReconnect) {
        host_.killTimer(kTimerPoll);
        host_.invalidatePanel();
        host_.postCommand(res::kCmdConnect);
        if (state_.connected && state_.commStatus >= 6) {
            state_.commStatus = 10;
            state_.connected = false;
            host_.killTimer(kTimerPoll);
            host_.refreshStatusBar();
            // Reconnecting by itself, the Connect just posted says how it went.
            if (!settings_.reconnectAutomatically)
                showBox("Communication time-out", "VUVUV_EVI: Info", BoxIcon::Warning, true);
        }
    }
}

void MonitorController::logClockTick() {
    const LocalTimeMs now = clock_.localTime();
    if (headerRequested_) {
        host_.postOpenLogFile(LogWriter::kRequestHeader);
        headerRequested_ = false;
    }
    // A new file for every new local hour, however late the tick that notices it.
    const LocalTimeMs& prev = previousLocalTime_;
    if (now.hour != prev.hour || now.day != prev.day || now.month != prev.month ||
        now.year != prev.year) {
        host_.postOpenLogFile(LogWriter::kRequestHourChange);
    }
    previousLocalTime_ = now;
}

void MonitorController::openLogFile(int requestKind) {
    if (requestKind != LogWriter::kRequestConnect && requestKind != LogWriter::kRequestHeader &&
        requestKind != LogWriter::kRequestHourChange)
        return;
    // A record that came before the log clock's first tick has served its header request.
    if (requestKind == LogWriter::kRequestHeader && logHeaderServed_) return;
    // Playback, a Disconnect or a stopped poll write nothing, so a file opened now could
    // stay empty; the next record opens the file of its hour instead.
    log_.closeLogFile();
    pendingLogRequest_ = requestKind;
}

void MonitorController::openLogFileForRecord() {
    // The run's first record comes before the log clock's first tick, which asks for the header.
    const int kind = pendingLogRequest_ < 0 ? LogWriter::kRequestHeader : pendingLogRequest_;
    log_.openLogFile(kind, state_.identity.version);
    if (!log_.isOpen()) return;
    if (kind == LogWriter::kRequestHeader) logHeaderServed_ = true;
    pendingLogRequest_ = LogWriter::kRequestConnect;
}

void MonitorController::connect() {
    state_.consecutiveFailures = 1;
    if (link_.isConnected()) link_.closeConnection();
    const int ro = link_.openConnection(settings_.portName);
    std::int16_t regs[DeviceIdentity::kCount];
    const int ri = link_.readHoldingRegisters(settings_.slaveId, DeviceIdentity::kFirstRef, regs,
                                              DeviceIdentity::kCount);
    state_.identity = DeviceIdentity::fromRegisters(regs);
    state_.identityRead = ri == 0;
    state_.serialNumber = state_.identity.serial_number;
    std::int16_t check[kCheckCount];
    const int rc =
        link_.readHoldingRegisters(settings_.slaveId, kCheckFirstRef, check, kCheckCount);
    if (ro != 0) {
        state_.connected = false;
        host_.refreshStatusBar();
        connectionFailed(openFailedText().c_str(), kNotice9600, BoxIcon::None, false);
    } else if (ri != 0 || rc != 0) {
        state_.connected = false;
        // Counts failed attempts; bounded so that endless retries cannot overflow it, and
        // stepping over the playback value so that only playback reads as playback.
        if (state_.commStatus == -1)
            state_.commStatus = 1;
        else if (state_.commStatus < kCommStatusCountLimit)
            ++state_.commStatus;
        if (state_.commStatus == kCommStatusPlayback) ++state_.commStatus;
        host_.refreshStatusBar();
        connectionFailed("Communication Time-out!\n", kNotice9600, BoxIcon::None, false);
    } else {
        state_.connected = true;
        feed_.mode = FeedMode::Polling;
        connectionRestored();
        host_.postOpenLogFile(LogWriter::kRequestConnect);
        host_.armTimer(kTimerPoll, kPollMs);
    }
}

void MonitorController::disconnect() {
    cancelReconnect();
    host_.killTimer(kTimerPoll);
    log_.closeLogFile();
    if (link_.isConnected()) link_.closeConnection();
}

int MonitorController::commPortReopen(const std::string& programDir) {
    if (link_.isConnected()) link_.closeConnection();
    const int r = link_.openConnection(settings_.portName);
    writeCommFile(programDir, settings_);
    return r;
}

void MonitorController::commPortFinish(int openResult) {
    if (link_.isConnected()) {
        state_.connected = true;
        // Each sequence counts afresh, so it needs its own nine good reads and may give up.
        state_.sequenceAttempts = 0;
        state_.sequenceSuccesses = 0;
        host_.armTimer(kTimerSequence, kSequenceAfterCommPortMs);
    } else if (settings_.reconnectAutomatically) {
        // The port chosen is tried from the start again, as at start-up.
        sequenceFinished_ = false;
        connectionFailed(
            openResult == MBR_OPEN_FAILED ? openFailedText().c_str() : "Connection failed.",
            kNotice9600, BoxIcon::None, false);
    } else if (openResult == MBR_OPEN_FAILED) {
        showBox(withOpenReason("The selected communication port is not available.\nFree the port "
                               "and try again.")
                    .c_str(),
                "Notice", BoxIcon::Warning, false);
    } else {
        showBox("Connection failed.", "ComPort Communication Timeout", BoxIcon::None, false);
    }
}

void MonitorController::stopPolling() {
    host_.killTimer(kTimerPoll);
}

void MonitorController::enterPlayback() {
    cancelReconnect();
    feed_.mode = FeedMode::Playback;
    host_.postCommand(res::kCmdDisconnect);
    host_.killTimer(kTimerPoll);
    log_.closeLogFile();
    host_.invalidatePanel();
    state_.commStatus = kCommStatusPlayback;
}

void MonitorController::enterRemote(const std::string& unit) {
    cancelReconnect();
    feed_.mode = FeedMode::Remote;
    // The sequence would start polling at its end, and polling would write over the record.
    host_.killTimer(kTimerSequence);
    host_.killTimer(kTimerPoll);
    log_.closeLogFile();
    if (link_.isConnected()) link_.closeConnection();
    state_.connected = false;
    // Nothing of the last serial poll may show as the remote unit's.
    feed_.live = LiveData{};
    state_.image = InputImage{};
    state_.status = LiveStatus{};
    remoteUnit_ = unit;
    remoteNote_.clear();
    host_.invalidatePanel();
    host_.refreshStatusBar();
}

void MonitorController::setRemoteNote(std::string note) {
    remoteNote_ = std::move(note);
    host_.refreshStatusBar();
}

void MonitorController::leaveRemote() {
    if (!feed_.remote()) return;
    feed_.mode = FeedMode::Polling;
    remoteNote_.clear();
    host_.refreshStatusBar();
}

void MonitorController::runStopClicked() {
    if (feed_.remote()) return;
    const std::int16_t value = feed_.live.local_shutoff != 0 ? 0 : 1;
    link_.writeSingleRegister(settings_.slaveId, ref::f_emerg_stop, value);
    feed_.live.local_shutoff = value;
    host_.activateMainWindow();
}

void MonitorController::shutdown() {
    for (int id : {kTimerPoll, kTimerLogClock})
        host_.killTimer(id);
    if (!retryNote_.empty()) host_.killTimer(kTimerReconnect);
    if (link_.isConnected()) link_.closeConnection();
    log_.closeLogFile();
    // One line on the way out (Close, Exit, --quit-after, a signal): what this run polled and
    // logged, so a lost record or a bad line shows without reading the log files.
    if (!countsReported_) {
        countsReported_ = true;
        state_.counts.recordsLost = log_.lostRecords();
        std::fprintf(stderr, "%s: %s\n", host_.programName(), state_.counts.line().c_str());
    }
}

StatusTexts MonitorController::statusTexts() const {
    StatusTexts t;
    if (feed_.remote()) {
        // The record holds the alarm flags and the local shutoff; the registers behind the
        // rest of the status line are not sent.
        t.parts[2] = alarmStatusLine(feed_.live, LiveStatus{});
        t.parts[0] = remoteUnitText(remoteUnit_);
        t.parts[1] = indicatorText(state_.ranges.indicator_type);
        t.parts[3] = remoteNote_;
        return t;
    }
    t.parts[2] = alarmStatusLine(feed_.live, state_.status);
    t.parts[0] = serialNumberText(state_.serialNumber);
    t.parts[1] = indicatorText(state_.ranges.indicator_type);
    // While a new try is planned, why the last one failed and when the next comes say more
    // than the count of failures, and the part is narrow on small screens.
    t.parts[3] = retryNote_.empty() ? commStatusText(state_.commStatus) : retryNote_;
    return t;
}

bool MonitorController::ready() const {
    return isReady(feed_.live, state_.status);
}

}  // namespace kvx
