#include "sim/sim_server.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "link/crc16.h"
#include "link/mbap_frame.h"
#include "link/serial_port.h"
#include "link/tls_context.h"

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

// Keep-alive probes find a client whose host vanished (a cellular link gone, a cable cut)
// within about half a minute, so it does not keep the one connection forever.
void keepAlive(int fd) {
    const int one = 1, idle = 10, interval = 5, count = 3;
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    // Replies go out as soon as they are due; wire timing paces them, not Nagle.
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// Turns a connection away with a reset, so the client learns at once that it was not served
// rather than waiting for replies that never come.
void refuse(int fd) {
    const linger reset{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    ::close(fd);
}

// A reply of the controller (an RTU frame with its CRC) as the gateway sends it back to the
// request with this header.
std::vector<std::uint8_t> mbapReply(const MbapHeader& request,
                                    const std::vector<std::uint8_t>& rtu) {
    if (rtu.size() < 4) return {};
    std::vector<std::uint8_t> out(kMbapMaxAdu);
    MbapHeader header = request;
    header.unitId = rtu[0];  // a wrong-address fault answers for another unit
    const int n = buildMbapReply(out.data(), kMbapMaxAdu, header, rtu.data() + 1,
                                 static_cast<int>(rtu.size()) - 3);
    out.resize(static_cast<std::size_t>(n));
    return out;
}

}  // namespace

bool faultFitsFraming(FaultKind kind, Framing framing) {
    return framing == Framing::rtu ||
           (kind != FaultKind::badCrc && kind != FaultKind::noise && kind != FaultKind::trailing);
}

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
    closeWatchProblem_.clear();
    inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ < 0) {
        closeWatchProblem_ = std::string("inotify: ") + std::strerror(errno);
    } else if (::inotify_add_watch(inotify_, name, IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) <
               0) {
        closeWatchProblem_ = std::string("inotify watch: ") + std::strerror(errno);
        closeFd(inotify_);
    }
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
    client_.close();
    closeFd(listenFd_);
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
    if (listenFd_ >= 0) {
        runNetwork();
        return;
    }
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

void SimServer::pullCableByFault(std::int64_t nowUs) {
    // The request was heard, nothing answers it, and the line stays dead for the fault's time,
    // whichever framing carries it.
    pulledUntilUs_ = nowUs + static_cast<std::int64_t>(faults_.settings().cablePulledMs) * 1000;
    outgoing_.clear();
}

void SimServer::clearExclusive() {
    ::ioctl(slaveFd_, TIOCNXCL);
    // Replies a client left unread when it went away must not reach the next client.
    std::lock_guard lock(mutex_);
    ::tcflush(slaveFd_, TCIFLUSH);
    outgoing_.clear();
    writeBlocked_ = false;
}

ssize_t SimServer::lineRead(std::uint8_t* buf, std::size_t n) {
    if (listenFd_ < 0) return std::max<ssize_t>(0, ::read(master_, buf, n));
    int got = 0;
    const int rc = client_.readSome(buf, static_cast<int>(n), 0, got);
    if (rc == SP_OK) return got;
    return rc == SP_TIMEOUT ? 0 : -1;
}

ssize_t SimServer::lineWrite(const std::uint8_t* buf, std::size_t n) {
    if (listenFd_ < 0) return ::write(master_, buf, n);
    // A reply is a few hundred bytes at most: a client that leaves it unread this long has
    // stopped reading and is dropped.
    if (client_.write(buf, static_cast<int>(n), 2000) == SP_OK) return static_cast<ssize_t>(n);
    errno = EPIPE;
    return -1;
}

void SimServer::readInput(std::int64_t now) {
    std::uint8_t buf[512];
    for (;;) {
        const ssize_t n = lineRead(buf, sizeof buf);
        if (n < 0) {
            // The client closed, reset or failed: serve the next one.
            dropClient(false, "left: " + client_.lastError());
            break;
        }
        if (n == 0) break;
        if (framing_ == Framing::mbap) {
            if (mbapIn_.empty()) mbapStartUs_ = now;
            mbapIn_.insert(mbapIn_.end(), buf, buf + n);
            std::string why;
            if (!takeMbapFrames(now, why)) {
                dropClient(true, "dropped: " + why);
                break;
            }
            continue;
        }
        std::lock_guard lock(mutex_);
        if (now < pulledUntilUs_) {
            // A dead line: what the master sends goes nowhere.
            stats_.discarded += n;
            framer_.reset();
            if (requestHook_) pulledFramer_.feed(buf, static_cast<std::size_t>(n), now);
            continue;
        }
        framer_.feed(buf, static_cast<std::size_t>(n), now);
    }
}

void SimServer::handleFrames(std::int64_t now) {
    if (framing_ == Framing::mbap) {
        handleMbapFrames(now);
        return;
    }
    std::lock_guard lock(mutex_);
    ReceivedFrame frame;
    // What the master sent while the cable was out, before whatever came after.
    while (pulledFramer_.take(now, frame)) {
        const bool ours = frame.bytes.size() >= 4 &&
                          crc16Matches(frame.bytes.data(), frame.bytes.size()) &&
                          (frame.bytes[0] == 0 || frame.bytes[0] == engine_.slaveAddress());
        if (ours) requestHook_(frame.bytes, noReply_, FaultKind::cablePulled);
    }
    const int dropsBefore = framer_.partialDrops();
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
                if (requestHook_) requestHook_(frame.bytes, noReply_, FaultKind::none);
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
        if (requestHook_) requestHook_(frame.bytes, reply_, fault);
        const int extraMs = faults_.apply(fault, reply_);
        if (fault == FaultKind::cablePulled) {
            pullCableByFault(now);
            framer_.reset();
            return;
        }
        if (reply_.empty()) continue;
        Outgoing out;
        out.bytes = reply_;
        out.lineBytes = reply_.size();
        out.dueUs = lineEndUs(frame) + turnaroundUs() + static_cast<std::int64_t>(extraMs) * 1000;
        outgoing_.push_back(std::move(out));
    }
    stats_.badFrames += framer_.partialDrops() - dropsBefore;
}

std::int64_t SimServer::lineEndUs(const ReceivedFrame& frame) const {
    std::int64_t endUs = frame.lastUs;
    if (wireTiming_) {
        const auto wireUs = static_cast<std::int64_t>(frame.bytes.size()) * byteTimeUs();
        endUs = std::max(endUs, frame.firstUs + wireUs);
    }
    return endUs;
}

void SimServer::handleMbapFrames(std::int64_t now) {
    std::lock_guard lock(mutex_);
    while (!mbapFrames_.empty()) {
        const MbapRequest request = std::move(mbapFrames_.front());
        mbapFrames_.pop_front();
        const ReceivedFrame& frame = request.frame;
        if (now < pulledUntilUs_) {
            // Whole frames are dropped, so the stream stays in step for when it comes back.
            stats_.discarded += static_cast<long>(frame.bytes.size());
            if (requestHook_) requestHook_(frame.bytes, noReply_, FaultKind::cablePulled);
            continue;
        }
        const std::uint8_t unit = frame.bytes[0];
        const std::uint8_t function = frame.bytes[1];
        if (unit != 0 && unit != engine_.slaveAddress()) {
            // As a gateway with this controller alone on its line: a unit id no serial
            // address can have has no path (10), any other address nobody answers (11).
            ++stats_.ignored;
            ++stats_.gatewayReplies;
            exceptionReply(unit, function, unit > 247 ? 10 : 11, reply_);
            Outgoing out;
            out.bytes = mbapReply(request.header, reply_);
            out.whole = true;
            out.dueUs = frame.lastUs;
            outgoing_.push_back(std::move(out));
            continue;
        }
        const SlaveOutcome outcome =
            slave_.handle(frame.bytes.data(), frame.bytes.size(), frame.lastUs / 1000, reply_);
        ++stats_.requests;
        if (outcome == SlaveOutcome::broadcast) {
            ++stats_.broadcasts;
            if (requestHook_) requestHook_(frame.bytes, noReply_, FaultKind::none);
            continue;
        }
        if (outcome != SlaveOutcome::replied) continue;  // cannot happen: the CRC is ours
        const FaultKind fault = faults_.next(stats_.requests);
        if (fault != FaultKind::none) ++stats_.faults;
        if (replyHook_) replyHook_(frame.bytes, reply_, fault);
        if (requestHook_) requestHook_(frame.bytes, reply_, fault);
        std::vector<std::uint8_t> whole;
        if (fault == FaultKind::truncated) whole = mbapReply(request.header, reply_);
        const int extraMs = faults_.apply(fault, reply_);
        if (fault == FaultKind::cablePulled) {
            pullCableByFault(now);
            continue;
        }
        if (reply_.empty()) continue;
        Outgoing out;
        out.whole = true;
        out.lineBytes = reply_.size();
        out.dueUs = lineEndUs(frame) + turnaroundUs() + static_cast<std::int64_t>(extraMs) * 1000;
        if (fault == FaultKind::truncated) {
            // A stream cannot stop halfway through a frame and carry on: the peer closes
            // mid-frame.
            whole.resize(whole.size() / 2);
            out.bytes = std::move(whole);
            out.closeAfter = true;
        } else {
            out.bytes = mbapReply(request.header, reply_);
        }
        // Requests are answered in turn, as the gateway's line carries them one by one.
        outgoing_.push_back(std::move(out));
    }
}

std::int64_t SimServer::sendAtUs(const Outgoing& o) const {
    std::int64_t at = o.dueUs;
    if (wireTiming_) {
        const std::size_t onLine = o.whole ? o.lineBytes : o.sent;
        at += static_cast<std::int64_t>(onLine) * byteTimeUs();
    }
    return at;
}

void SimServer::flushOutput(std::int64_t now) {
    bool drop = false;
    {
        std::lock_guard lock(mutex_);
        if (now < pulledUntilUs_) {
            outgoing_.clear();
            return;
        }
        while (!outgoing_.empty() && !writeBlocked_) {
            Outgoing& o = outgoing_.front();
            if (now < (o.whole ? sendAtUs(o) : o.dueUs)) break;
            std::size_t upto = o.bytes.size();
            if (wireTiming_ && !o.whole) {
                const auto due = static_cast<std::size_t>((now - o.dueUs) / byteTimeUs() + 1);
                upto = std::min(upto, due);
            }
            if (upto > o.sent) {
                const ssize_t n = lineWrite(o.bytes.data() + o.sent, upto - o.sent);
                if (n < 0) {
                    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                        writeBlocked_ = true;
                    } else if (listenFd_ >= 0) {
                        drop = true;  // the client has gone
                    } else {
                        outgoing_.erase(outgoing_.begin());
                    }
                    break;
                }
                o.sent += static_cast<std::size_t>(n);
            }
            if (o.sent < o.bytes.size()) break;
            ++stats_.replies;
            if (o.closeAfter) {
                drop = true;
                break;
            }
            const std::int64_t endUs =
                wireTiming_ ? o.dueUs + static_cast<std::int64_t>(o.lineBytes) * byteTimeUs() : now;
            outgoing_.erase(outgoing_.begin());
            if (!outgoing_.empty())
                outgoing_.front().dueUs = std::max(outgoing_.front().dueUs, endUs);
        }
    }
    if (drop) dropClient(false, "closed after a truncated reply, or it stopped reading");
}

std::int64_t SimServer::nextWakeUs(std::int64_t now) {
    std::lock_guard lock(mutex_);
    std::int64_t wake = now + 100000;
    const std::int64_t framerDeadline = framer_.deadlineUs();
    if (framerDeadline >= 0) wake = std::min(wake, framerDeadline);
    if (const std::int64_t d = pulledFramer_.deadlineUs(); d >= 0) wake = std::min(wake, d);
    if (now < pulledUntilUs_) wake = std::min(wake, pulledUntilUs_);
    if (!outgoing_.empty() && !writeBlocked_) wake = std::min(wake, sendAtUs(outgoing_.front()));
    if (!mbapIn_.empty()) wake = std::min(wake, mbapStartUs_ + stallUs_);
    return wake;
}

// --- Network serving ---

bool SimServer::listen(const ListenConfig& config, std::string& why) {
    if (running_) {
        why = "already serving";
        return false;
    }
    const int fd = openListener(config.address, why);
    if (fd < 0) return false;
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        why = std::string("cannot make a pipe: ") + std::strerror(errno);
        ::close(fd);
        return false;
    }
    listenFd_ = fd;
    listenAddress_ = boundAddressText(fd);
    listenPort_ = boundPort(fd);
    framing_ = config.framing;
    stallUs_ = static_cast<std::int64_t>(std::max(1, config.stallMs)) * 1000;
    wakeRead_ = wake[0];
    wakeWrite_ = wake[1];
    tls_ = config.tls;
    handshakeMs_ = config.handshakeMs;
    framer_.reset();
    outgoing_.clear();
    mbapIn_.clear();
    mbapFrames_.clear();
    writeBlocked_ = false;
    originNs_ = steadyNs();
    stopping_ = false;
    running_ = true;
    thread_ = std::thread([this] { run(); });
    return true;
}

void SimServer::runNetwork() {
    std::uint8_t drain[64];
    while (!stopping_) {
        const std::int64_t now = nowUs();
        const std::int64_t wake = nextWakeUs(now);
        const std::int64_t waitUs = std::clamp<std::int64_t>(wake - now, 0, 100000);
        pollfd fds[3] = {
            {wakeRead_, POLLIN, 0},
            {listenFd_, POLLIN, 0},
            {client_.nativeHandle(), POLLIN, 0},
        };
        const timespec ts{static_cast<time_t>(waitUs / 1000000),
                          static_cast<long>(waitUs % 1000000 * 1000)};
        const int ready = ::ppoll(fds, client_.isOpen() ? 3 : 2, &ts, nullptr);
        if (ready < 0 && errno != EINTR) break;
        if (fds[0].revents & POLLIN)
            while (::read(wakeRead_, drain, sizeof drain) > 0) {
            }
        // The client first: one that has just left frees the line for a newcomer.
        if (client_.isOpen() && (fds[2].revents & (POLLIN | POLLHUP | POLLERR))) readInput(nowUs());
        if (fds[1].revents & POLLIN) acceptClient();
        const std::int64_t t = nowUs();
        if (client_.isOpen() && !mbapIn_.empty() && t - mbapStartUs_ >= stallUs_)
            dropClient(true, "dropped: it stopped in the middle of a frame");
        handleFrames(t);
        if (client_.isOpen()) flushOutput(nowUs());
    }
}

void SimServer::acceptClient() {
    for (;;) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        const std::string peer = peerAddressText(fd);
        if (client_.isOpen()) {
            // One master at a time, as a serial device server allows: the line has one.
            refuse(fd);
            {
                std::lock_guard lock(mutex_);
                ++stats_.refused;
            }
            event("client " + peer + " refused: " + peer_ + " is being served");
            continue;
        }
        keepAlive(fd);
        client_.adopt(fd);
        peer_ = peer;
        if (tls_ && client_.startTls(*tls_, std::string(), handshakeMs_) != SP_OK) {
            // The stream has closed itself; nothing was read or written.
            {
                std::lock_guard lock(mutex_);
                ++stats_.dropped;
            }
            event("client " + peer + " dropped: " + client_.lastError());
            continue;
        }
        {
            std::lock_guard lock(mutex_);
            ++stats_.connections;
            stats_.clients = 1;
        }
        event("client " + peer + " connected");
    }
}

void SimServer::event(const std::string& text) {
    if (eventHook_) eventHook_(text);
}

void SimServer::dropClient(bool bad, const std::string& why) {
    client_.close();
    mbapIn_.clear();
    {
        std::lock_guard lock(mutex_);
        if (bad) ++stats_.dropped;
        stats_.clients = 0;
        // Nothing of one client's exchange may reach the next.
        framer_.reset();
        mbapFrames_.clear();
        outgoing_.clear();
        writeBlocked_ = false;
    }
    event("client " + peer_ + " " + why);
}

bool SimServer::takeMbapFrames(std::int64_t now, std::string& why) {
    std::size_t at = 0;
    for (;;) {
        const std::size_t have = mbapIn_.size() - at;
        MbapRequest r;
        const MbapStatus status =
            decodeMbapHeader(mbapIn_.data() + at, static_cast<int>(have), r.header);
        if (status == MbapStatus::Incomplete) break;
        // No master sends such a header, and the stream has lost where its frames begin.
        if (status != MbapStatus::Ok) {
            why = mbapStatusText(status);
            return false;
        }
        const auto adu = static_cast<std::size_t>(r.header.aduLength());
        if (have < adu) break;
        const std::uint8_t* unit = mbapIn_.data() + at + kMbapHeaderLength - 1;
        // The request as the gateway puts it on its line.
        r.frame.bytes.assign(unit, unit + r.header.length);
        r.frame.bytes.resize(r.frame.bytes.size() + 2);
        appendCrc16(r.frame.bytes.data(), r.header.length);
        r.frame.firstUs = r.frame.lastUs = now;
        std::lock_guard lock(mutex_);
        mbapFrames_.push_back(std::move(r));
        at += adu;
    }
    mbapIn_.erase(mbapIn_.begin(), mbapIn_.begin() + static_cast<std::ptrdiff_t>(at));
    if (at > 0) mbapStartUs_ = now;  // what is left came with this read
    return true;
}

}  // namespace kvx::sim
