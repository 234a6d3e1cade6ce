#include "agent/fleet_publisher.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/core/program_settings.h"
#include "base/program_directory.h"
#include "base/small_file.h"
#include "base/version.h"
#include "fleet/engineering_values.h"
#include "model/typed_text.h"

namespace kvx::agent {

namespace {

constexpr const char* kStateFileName = "agent.state";
// The broker's acknowledgements still awaited at TERM get this long; what is left is sent
// again at the next start.
constexpr int kFinishMs = 3000;
// Records resent in one round at most, so the poll keeps its pace during a long backlog.
constexpr int kResendPerRound = 2000;
constexpr int kStateEverySeconds = 5;
// A resend's end when all that is logged may be missing.
constexpr std::uint64_t kMaxSeqAll = ~std::uint64_t{0};

}  // namespace

bool readAgentState(const std::string& stateDir, AgentState& out, std::string& why) {
    const std::string path = joinDir(stateDir, kStateFileName);
    std::string text;
    const SmallFile read = readSmallFile(path, 4096, text);
    if (read != SmallFile::Read) {
        if (read == SmallFile::Missing) return true;
        why = path + ": not a regular file of at most 4 kB";
        return false;
    }
    std::vector<KeyValueFile::Problem> problems;
    const KeyValueFile file = KeyValueFile::parse(text, &problems);
    std::string value;
    int line = 0;
    if (!problems.empty()) {
        why = path + " line " + std::to_string(problems[0].line) + ": " + problems[0].what;
        return false;
    }
    if (file.get("serial", value, &line)) {
        const Parsed<long> v = parseDigits(value, 4294967295L);
        if (!v) {
            why = path + " line " + std::to_string(line) + ": serial is not " + v.expected;
            return false;
        }
        out.serial = static_cast<std::uint32_t>(*v);
        out.serialKnown = true;
    }
    if (file.get("through", value, &line)) {
        const Parsed<long> v = parseDigits(value, static_cast<long>(fleet::kMaxSeq));
        if (!v) {
            why = path + " line " + std::to_string(line) + ": through is not " + v.expected;
            return false;
        }
        out.through = static_cast<std::uint64_t>(*v);
    }
    return true;
}

bool writeAgentState(const std::string& stateDir, const AgentState& state, std::string& why) {
    const std::string path = joinDir(stateDir, kStateFileName);
    const std::string tmp = path + ".tmp";
    std::string text = "# kvx-agent's place: written by the agent, whole, on every change\n";
    if (state.serialKnown) text += "serial = " + std::to_string(state.serial) + "\n";
    text += "through = " + std::to_string(state.through) + "\n";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        why = tmp + ": " + std::strerror(errno);
        return false;
    }
    const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
                    ::fsync(fd) == 0;
    const int err = errno;
    ::close(fd);
    if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
        why = path + ": " + std::strerror(ok ? errno : err);
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

FleetPublisher::FleetPublisher(Agent& agent, fleet::MqttOptions base)
    : agent_(agent), base_(std::move(base)) {}

FleetPublisher::~FleetPublisher() {
    if (client_) client_->stop();
}

bool FleetPublisher::prepare(std::string& why) {
    if (!readAgentState(agent_.config().stateFolder, state_, why)) return false;
    stateWritten_ = state_;
    through_ = state_.through;
    pacer_ = ResendPacer(state_.through);
    // A controller seen before: its topics are known before the line answers, so a line that
    // is down at start is reported at once.
    if (state_.serialKnown) startClient(state_.serial);
    return true;
}

std::int64_t FleetPublisher::nowMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void FleetPublisher::startClient(std::uint32_t serial) {
    unit_ = fleet::UnitId{agent_.config().site, serial};
    fleet::MqttOptions options = base_;
    options.clientId = "kvx-agent-" + unit_->site + "-" + std::to_string(serial);
    options.will = fleet::MqttWill{
        fleet::topicFor(*unit_, fleet::TopicKind::Status),
        fleet::encodeStatus({fleet::UnitState::Offline, "the agent is gone", nowMs()}), 1, true};
    client_ = std::make_unique<fleet::MqttClient>(options);
    const std::string archived = fleet::topicFor(*unit_, fleet::TopicKind::Archived);
    client_->onConnect([this](bool) {
        std::lock_guard lock(mutex_);
        connectedEvent_ = true;
        wake_.notify_all();
    });
    client_->onDisconnect([](const std::string& reason) {
        if (!reason.empty()) std::fprintf(stderr, "kvx-agent: broker: %s\n", reason.c_str());
    });
    client_->onMessage([this, archived](const std::string& topic, std::string_view payload, bool) {
        if (topic != archived) return;
        const fleet::Decoded<fleet::ArchivedMessage> m = fleet::decodeArchived(payload);
        if (!m) {
            std::fprintf(stderr, "kvx-agent: %s skipped: %s\n", topic.c_str(), m.reason.c_str());
            return;
        }
        through_.store(m->through);
        std::lock_guard lock(mutex_);
        archivedEvent_ = true;
        wake_.notify_all();
    });
    // The one subscription: the archive's acknowledgement. Nothing that could write to the
    // controller is ever read.
    client_->subscribe(archived, 1);
    const std::string problem = client_->start();
    if (!problem.empty()) std::fprintf(stderr, "kvx-agent: broker: %s\n", problem.c_str());
    std::fprintf(stderr, "kvx-agent: publishing as %s\n", fleet::unitName(*unit_).c_str());
}

void FleetPublisher::publishRecord(const LoggedRecord& record, bool late) {
    fleet::RecordMessage m;
    m.seq = static_cast<std::uint64_t>(record.seq);
    m.file = record.file;
    m.header = record.header;
    m.index = static_cast<std::uint32_t>(record.index);
    m.raw = record.raw;
    const LogRecord decoded = decodeLogRecord(record.raw.data());
    m.time = decoded.time;
    m.values = fleet::engineeringValues(decoded,
                                        agent_.runner().controller().state().ranges.indicator_type);
    m.publishedMs = nowMs();
    m.late = late;
    const std::string problem = client_->publish(fleet::topicFor(*unit_, fleet::TopicKind::Record),
                                                 fleet::encodeRecord(m), 1, false);
    if (!problem.empty()) return;  // the resend brings it
    if (m.seq > publishedHigh_) publishedHigh_ = m.seq;
    if (!late && sessionFirstLive_ == 0) sessionFirstLive_ = m.seq;
    ++(late ? counts_.late : counts_.live);
}

void FleetPublisher::publishStatus(fleet::UnitState state, const std::string& reason) {
    if (haveStatus_ && state == statusState_ && reason == statusReason_) return;
    const std::string problem =
        client_->publish(fleet::topicFor(*unit_, fleet::TopicKind::Status),
                         fleet::encodeStatus({state, reason, nowMs()}), 1, true);
    if (!problem.empty()) return;
    haveStatus_ = true;
    statusState_ = state;
    statusReason_ = reason;
}

void FleetPublisher::logged(const std::vector<LoggedRecord>& records) {
    // While the broker is away (or the unit is not known yet) they stay in the log files only:
    // the resend after the next connection brings them.
    if (!client_ || !online_ || serialMismatch_) return;
    for (const LoggedRecord& r : records)
        publishRecord(r, false);
}

void FleetPublisher::followController() {
    const MonitorController& controller = agent_.runner().controller();
    const MonitorState& state = controller.state();
    if (state.identityRead) {
        const auto serial =
            static_cast<std::uint32_t>(static_cast<std::uint16_t>(state.serialNumber));
        if (!state_.serialKnown) {
            state_.serial = serial;
            state_.serialKnown = true;
            keepState(true);
        }
        if (!client_) startClient(state_.serial);
        const bool mismatch = serial != unit_->serial;
        if (mismatch && !serialMismatch_)
            std::fprintf(stderr,
                         "kvx-agent: the controller on the line is serial %u, not %u this agent "
                         "publishes for: its records are logged but not published (remove %s "
                         "and the journal to start over for it)\n",
                         serial, unit_->serial,
                         joinDir(agent_.config().stateFolder, kStateFileName).c_str());
        serialMismatch_ = mismatch;
    }
    if (!client_ || !online_) return;
    const StatusTexts texts = controller.statusTexts();
    if (serialMismatch_) {
        publishStatus(fleet::UnitState::NoController,
                      "another controller (serial " +
                          std::to_string(static_cast<std::uint16_t>(state.serialNumber)) +
                          ") is on the line");
        return;
    }
    const bool polling = state.connected && state.consecutiveFailures == 0 && state.goodTicks > 0;
    // Down once a connection has failed (a new try is planned) or the port is closed. A bad
    // tick or a connection sequence still running says neither: the status stays as it was
    // (at a start, nothing until the line has answered or failed).
    const bool down = agent_.runner().timerArmed(kTimerReconnect) || !state.connected;
    if (polling)
        publishStatus(fleet::UnitState::Online, "");
    else if (down)
        publishStatus(fleet::UnitState::NoController, texts.parts[3]);
    if (state.identityRead && state.identity.version != identityFirmware_) {
        fleet::IdentityMessage id{unit_->site, unit_->serial, state.identity.version,
                                  agent_.config().slave, std::string(cli::projectVersion())};
        if (client_
                ->publish(fleet::topicFor(*unit_, fleet::TopicKind::Identity),
                          fleet::encodeIdentity(id), 1, true)
                .empty())
            identityFirmware_ = state.identity.version;
    }
    if (polling && texts.parts[2] != alarmText_) {
        if (client_
                ->publish(fleet::topicFor(*unit_, fleet::TopicKind::Alarm),
                          fleet::encodeAlarm({texts.parts[2], nowMs() / 1000}), 1, false)
                .empty())
            alarmText_ = texts.parts[2];
    }
}

void FleetPublisher::startResend(const char* why, std::uint64_t last) {
    const std::uint64_t from = through_.load() + 1;
    const std::uint64_t to =
        std::min(last, static_cast<std::uint64_t>(agent_.journal().nextSeq() - 1));
    if (from > to) return;
    resendNext_ = from;
    resendEnd_ = to;
    ++counts_.resends;
    std::fprintf(stderr, "kvx-agent: sending records %llu to %llu again (%s)\n",
                 static_cast<unsigned long long>(from), static_cast<unsigned long long>(to), why);
}

void FleetPublisher::pumpResend() {
    for (int n = 0; n < kResendPerRound && resendNext_ <= resendEnd_; ++n) {
        if (!online_ || client_->unacknowledged() >= kResendWindow) return;
        // The archive may have moved past part of the range meanwhile.
        if (resendNext_ <= through_.load()) resendNext_ = through_.load() + 1;
        if (resendNext_ > resendEnd_) break;
        LoggedRecord r;
        std::string why;
        if (agent_.journal().read(static_cast<std::int64_t>(resendNext_), r, why)) {
            publishRecord(r, true);
        } else {
            ++counts_.unreadable;
            if (why != lastUnreadable_)
                std::fprintf(stderr, "kvx-agent: cannot send record %llu again: %s\n",
                             static_cast<unsigned long long>(resendNext_), why.c_str());
            lastUnreadable_ = why;
        }
        ++resendNext_;
    }
}

void FleetPublisher::keepState(bool now) {
    state_.through = through_.load();
    if (state_.through == stateWritten_.through && state_.serial == stateWritten_.serial &&
        state_.serialKnown == stateWritten_.serialKnown)
        return;
    const auto t = Clock::now();
    if (!now && t - stateWrittenAt_ < std::chrono::seconds(kStateEverySeconds)) return;
    std::string why;
    if (!writeAgentState(agent_.config().stateFolder, state_, why))
        std::fprintf(stderr, "kvx-agent: %s\n", why.c_str());
    stateWritten_ = state_;
    stateWrittenAt_ = t;
}

void FleetPublisher::work() {
    bool connectedEvent = false, archivedEvent = false;
    {
        std::lock_guard lock(mutex_);
        std::swap(connectedEvent, connectedEvent_);
        std::swap(archivedEvent, archivedEvent_);
    }
    const auto now = Clock::now();
    const bool wasOnline = online_;
    online_ = client_ && client_->connected();
    if (online_ && (connectedEvent || !wasOnline)) {
        // A new session: the retained messages again, and whatever the archive may lack once
        // its `archived` has come (or has not, in a moment).
        haveStatus_ = false;
        identityFirmware_ = -1;
        sessionFirstLive_ = 0;
        resendNext_ = 1;
        resendEnd_ = 0;
        resendAt_ = now + std::chrono::milliseconds(kArchivedWaitMs);
    }
    followController();
    const std::uint64_t through = through_.load();
    SeqJournal& journal = agent_.journal();
    if (through >= static_cast<std::uint64_t>(journal.nextSeq())) {
        // The archive has numbers this agent never gave: its journal was lost. Numbering on
        // from there keeps the next records from being taken for ones the archive has.
        std::string why;
        std::fprintf(stderr,
                     "kvx-agent: the archive holds records up to %llu, the journal reached %lld "
                     "(was the state folder lost?): numbering goes on from %llu\n",
                     static_cast<unsigned long long>(through),
                     static_cast<long long>(journal.nextSeq() - 1),
                     static_cast<unsigned long long>(through + 1));
        if (!journal.skipTo(static_cast<std::int64_t>(through + 1), why))
            std::fprintf(stderr, "kvx-agent: %s\n", why.c_str());
    }
    pacer_.observe(through, publishedHigh_, now);
    if (online_ && resendAt_ && (archivedEvent || now >= *resendAt_)) {
        resendAt_.reset();
        pacer_.resent(now, false);
        // What was published live since the connection is on its way to the archive, which
        // may simply not have answered for it yet: sending it again would only make
        // duplicates. Should it still be missing, the archive standing still brings it.
        startResend("connected", sessionFirstLive_ > 0 ? sessionFirstLive_ - 1 : kMaxSeqAll);
    }
    const bool resending = resendNext_ <= resendEnd_;
    if (online_ && !resending && !resendAt_ && pacer_.due(now)) {
        pacer_.resent(now, true);
        startResend("the archive stands still behind", kMaxSeqAll);
    }
    if (online_) pumpResend();
    keepState(false);
}

void FleetPublisher::wait(int waitMs) {
    work();
    if (waitMs <= 0) return;
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(waitMs),
                   [this] { return connectedEvent_ || archivedEvent_; });
}

void FleetPublisher::finish() {
    if (client_) {
        online_ = client_->connected();
        if (online_ && !serialMismatch_) {
            haveStatus_ = false;
            publishStatus(fleet::UnitState::Offline, "the agent stopped");
        }
        const auto end = Clock::now() + std::chrono::milliseconds(kFinishMs);
        while (online_ && client_->unacknowledged() > 0 && Clock::now() < end)
            ::usleep(20000);
        client_->stop();
    }
    keepState(true);
    std::fprintf(stderr,
                 "kvx-agent: records published %llu live, %llu late (%llu resends); archived "
                 "through %llu of %lld logged\n",
                 static_cast<unsigned long long>(counts_.live),
                 static_cast<unsigned long long>(counts_.late),
                 static_cast<unsigned long long>(counts_.resends),
                 static_cast<unsigned long long>(through_.load()),
                 static_cast<long long>(agent_.journal().nextSeq() - 1));
}

}  // namespace kvx::agent
