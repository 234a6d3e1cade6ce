#include "sim/sim_server.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>

namespace kvx::sim {
namespace {

std::int64_t steadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

SimServer::SimServer(const EngineConfig& config) : engine_(config), faults_(config.seed) {}

SimServer::~SimServer() {
    stop();
}

int SimServer::start() {
    if (running_) return 0;
    int master = -1, slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return errno;
    char name[128] = {};
    if (::ptsname_r(master, name, sizeof name) != 0) {
        const int err = errno;
        ::close(master);
        ::close(slave);
        return err;
    }
    // Raw both ways: no byte of a frame may be translated or swallowed by the line discipline.
    termios tio{};
    if (::tcgetattr(slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, B9600);
        ::cfsetospeed(&tio, B9600);
        tio.c_cflag |= CLOCAL | CREAD;
        ::tcsetattr(slave, TCSANOW, &tio);
    }
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        const int err = errno;
        ::close(master);
        ::close(slave);
        return err;
    }
    master_ = master;
    // Holding the slave open keeps the master side from reporting hang-ups between clients.
    slaveFd_ = slave;
    wakeRead_ = wake[0];
    wakeWrite_ = wake[1];
    devicePath_ = name;
    // A client's TIOCEXCL outlives its close (the pty stays up while we hold it), and would
    // refuse the next open; watching opens and closes lets us lift it once the last client has
    // gone. Counting opens keeps a second program's refused attempt from touching the holder.
    inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ >= 0 &&
        ::inotify_add_watch(inotify_, name, IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0)
        closeFd(inotify_);
    clients_ = 0;
    framer_.reset();
    outgoing_.clear();
    writeBlocked_ = false;
    originNs_ = steadyNs();
    stopping_ = false;
    running_ = true;
    thread_ = std::thread([this] { run(); });
    return 0;
}

void SimServer::stop() {
    if (!thread_.joinable()) return;
    stopping_ = true;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeWrite_, &byte, 1);
    thread_.join();
    running_ = false;
    closeFd(inotify_);
    closeFd(wakeRead_);
    closeFd(wakeWrite_);
    closeFd(slaveFd_);
    closeFd(master_);
}

std::int64_t SimServer::nowUs() const {
    return (steadyNs() - originNs_) / 1000;
}

void SimServer::setWireTiming(bool on) {
    std::lock_guard lock(mutex_);
    wireTiming_ = on;
}

void SimServer::setTurnaroundMs(int ms) {
    std::lock_guard lock(mutex_);
    turnaroundMs_ = std::max(-1, ms);
}

void SimServer::setFaultRate(FaultKind kind, double rate) {
    std::lock_guard lock(mutex_);
    faults_.setRate(kind, rate);
}

void SimServer::scriptFaults(std::span<const FaultKind> kinds) {
    std::lock_guard lock(mutex_);
    faults_.script(kinds);
}

void SimServer::setFaultSettings(const FaultSettings& settings) {
    std::lock_guard lock(mutex_);
    faults_.settings() = settings;
}

void SimServer::faultAt(long request, FaultKind kind) {
    std::lock_guard lock(mutex_);
    faults_.faultAt(request, kind);
}

void SimServer::dropReplyAt(long request) {
    faultAt(request, FaultKind::noReply);
}

void SimServer::dropNextReply() {
    std::lock_guard lock(mutex_);
    faults_.faultAt(stats_.requests + 1, FaultKind::noReply);
}

void SimServer::pullCable(int ms) {
    std::lock_guard lock(mutex_);
    pulledUntilUs_ = ms > 0 ? nowUs() + static_cast<std::int64_t>(ms) * 1000 : 0;
}

bool SimServer::cablePulled() const {
    std::lock_guard lock(mutex_);
    return nowUs() < pulledUntilUs_;
}

ServerStats SimServer::stats() const {
    std::lock_guard lock(mutex_);
    return stats_;
}

int SimServer::faultsInjected(FaultKind kind) const {
    std::lock_guard lock(mutex_);
    return faults_.injected(kind);
}

std::int64_t SimServer::turnaroundUs() const {
    if (turnaroundMs_ >= 0) return static_cast<std::int64_t>(turnaroundMs_) * 1000;
    return wireTiming_ ? byteTimeUs() * 7 / 2 : 0;
}

void SimServer::run() {
    std::uint8_t drain[64];
    while (!stopping_) {
        const std::int64_t now = nowUs();
        const std::int64_t wake = nextWakeUs(now);
        const std::int64_t waitUs = std::clamp<std::int64_t>(wake - now, 0, 100000);
        pollfd fds[3] = {
            {master_, static_cast<short>(POLLIN | (writeBlocked_ ? POLLOUT : 0)), 0},
            {wakeRead_, POLLIN, 0},
            {inotify_, POLLIN, 0},
        };
        const timespec ts{static_cast<time_t>(waitUs / 1000000),
                          static_cast<long>(waitUs % 1000000 * 1000)};
        const int ready = ::ppoll(fds, inotify_ >= 0 ? 3 : 2, &ts, nullptr);
        if (ready < 0 && errno != EINTR) break;
        if (fds[1].revents & POLLIN)
            while (::read(wakeRead_, drain, sizeof drain) > 0) {
            }
        if (inotify_ >= 0 && (fds[2].revents & POLLIN)) {
            if (clientsLeft()) clearExclusive();
        }
        if (fds[0].revents & POLLOUT) writeBlocked_ = false;
        const std::int64_t t = nowUs();
        if (fds[0].revents & POLLIN) readInput(t);
        if ((fds[0].revents & (POLLHUP | POLLERR)) && !(fds[0].revents & POLLIN)) {
            // Cannot happen while we hold the slave open; never spin if it does.
            const timespec pause{0, 5000000};
            ::nanosleep(&pause, nullptr);
        }
        handleFrames(t);
        flushOutput(nowUs());
    }
}

bool SimServer::clientsLeft() {
    alignas(inotify_event) char events[4096];
    bool closed = false;
    for (ssize_t n; (n = ::read(inotify_, events, sizeof events)) > 0;) {
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(events + at);
            if (ev->mask & IN_Q_OVERFLOW) {
                // Lost count: take everyone as gone, as a close would have told us.
                clients_ = 0;
                closed = true;
            } else if (ev->mask & IN_OPEN) {
                ++clients_;
            } else if (ev->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
                clients_ = std::max(0, clients_ - 1);
                closed = true;
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
        }
    }
    return closed && clients_ == 0;
}

void SimServer::clearExclusive() {
    ::ioctl(slaveFd_, TIOCNXCL);
    // Replies a client left unread when it went away must not reach the next client.
    std::lock_guard lock(mutex_);
    ::tcflush(slaveFd_, TCIFLUSH);
    outgoing_.clear();
    writeBlocked_ = false;
}

void SimServer::readInput(std::int64_t now) {
    std::uint8_t buf[512];
    for (;;) {
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0) break;
        std::lock_guard lock(mutex_);
        if (now < pulledUntilUs_) {
            // A dead line: what the master sends goes nowhere.
            stats_.discarded += n;
            framer_.reset();
            continue;
        }
        framer_.feed(buf, static_cast<std::size_t>(n), now);
    }
}

void SimServer::handleFrames(std::int64_t now) {
    std::lock_guard lock(mutex_);
    const int dropsBefore = framer_.partialDrops();
    ReceivedFrame frame;
    while (framer_.take(now, frame)) {
        const std::int64_t elapsedMs = frame.lastUs / 1000;
        const SlaveOutcome outcome =
            slave_.handle(frame.bytes.data(), frame.bytes.size(), elapsedMs, reply_);
        switch (outcome) {
            case SlaveOutcome::badCrc:
                ++stats_.badFrames;
                framer_.resync(now);
                continue;
            case SlaveOutcome::otherAddress:
                ++stats_.ignored;
                continue;
            case SlaveOutcome::broadcast:
                ++stats_.requests;
                ++stats_.broadcasts;
                continue;
            case SlaveOutcome::replied:
                break;
        }
        ++stats_.requests;
        // The master has moved on: a reply still waiting for its turn would only collide.
        std::erase_if(outgoing_, [](const Outgoing& o) { return o.sent == 0; });
        // The slave has already carried the request out: a fault only touches its reply.
        const FaultKind fault = faults_.next(stats_.requests);
        if (fault != FaultKind::none) ++stats_.faults;
        if (replyHook_) replyHook_(frame.bytes, reply_, fault);
        const int extraMs = faults_.apply(fault, reply_);
        if (fault == FaultKind::cablePulled) {
            pulledUntilUs_ =
                now + static_cast<std::int64_t>(faults_.settings().cablePulledMs) * 1000;
            outgoing_.clear();
            framer_.reset();
            return;
        }
        if (reply_.empty()) continue;
        std::int64_t endUs = frame.lastUs;
        if (wireTiming_) {
            const auto wireUs = static_cast<std::int64_t>(frame.bytes.size()) * byteTimeUs();
            endUs = std::max(endUs, frame.firstUs + wireUs);
        }
        Outgoing out;
        out.bytes = reply_;
        out.dueUs = endUs + turnaroundUs() + static_cast<std::int64_t>(extraMs) * 1000;
        outgoing_.push_back(std::move(out));
    }
    stats_.badFrames += framer_.partialDrops() - dropsBefore;
}

void SimServer::flushOutput(std::int64_t now) {
    std::lock_guard lock(mutex_);
    if (now < pulledUntilUs_) {
        outgoing_.clear();
        return;
    }
    while (!outgoing_.empty() && !writeBlocked_) {
        Outgoing& o = outgoing_.front();
        if (now < o.dueUs) break;
        std::size_t upto = o.bytes.size();
        if (wireTiming_) {
            const auto due = static_cast<std::size_t>((now - o.dueUs) / byteTimeUs() + 1);
            upto = std::min(upto, due);
        }
        if (upto > o.sent) {
            const ssize_t n = ::write(master_, o.bytes.data() + o.sent, upto - o.sent);
            if (n < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                    writeBlocked_ = true;
                } else {
                    outgoing_.erase(outgoing_.begin());
                }
                break;
            }
            o.sent += static_cast<std::size_t>(n);
        }
        if (o.sent < o.bytes.size()) break;
        ++stats_.replies;
        const std::int64_t endUs =
            wireTiming_ ? o.dueUs + static_cast<std::int64_t>(o.bytes.size()) * byteTimeUs() : now;
        outgoing_.erase(outgoing_.begin());
        if (!outgoing_.empty()) outgoing_.front().dueUs = std::max(outgoing_.front().dueUs, endUs);
    }
}

std::int64_t SimServer::nextWakeUs(std::int64_t now) {
    std::lock_guard lock(mutex_);
    std::int64_t wake = now + 100000;
    const std::int64_t framerDeadline = framer_.deadlineUs();
    if (framerDeadline >= 0) wake = std::min(wake, framerDeadline);
    if (now < pulledUntilUs_) wake = std::min(wake, pulledUntilUs_);
    if (!outgoing_.empty() && !writeBlocked_) {
        const Outgoing& o = outgoing_.front();
        std::int64_t next = o.dueUs;
        if (wireTiming_) next += static_cast<std::int64_t>(o.sent) * byteTimeUs();
        wake = std::min(wake, next);
    }
    return wake;
}

}  // namespace kvx::sim
