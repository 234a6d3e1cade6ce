#pragma once
// Serves a ControllerEngine on the master side of a pseudo-terminal, in a thread of its own:
// a Modbus master opens the slave device (devicePath()) as it would a serial port. Optional
// 9600-baud wire timing paces every reply byte at its time on a real line; faults can be put
// on the replies. The line is always read, even while a cable is "pulled", so the master's
// writes and drains never block on the simulator.
//
// Or, after listen() instead of start(), on a TCP socket: one client at a time, as a serial
// device server (RTU frames) or a Modbus TCP gateway (MBAP frames) with this controller on its
// line serves. A client that goes away or sends what no master would is dropped and the next
// one is accepted; the engine, faults and statistics carry on across clients.
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "link/mbap_frame.h"
#include "link/net_stream.h"
#include "sim/controller_engine.h"
#include "sim/fault_injector.h"
#include "sim/modbus_slave.h"
#include "sim/network_listener.h"
#include "sim/request_framer.h"

namespace kvx::sim {

struct ServerStats {
    long requests = 0;   // frames for this slave (and broadcasts) that were acted on
    long replies = 0;    // replies written out whole
    long ignored = 0;    // frames for another slave address
    long badFrames = 0;  // damaged frames and frames that stopped short
    long broadcasts = 0;
    long faults = 0;     // faults put on replies
    long discarded = 0;  // bytes read and dropped while the cable was pulled
    // Over the network:
    long connections = 0;     // clients accepted and served
    long refused = 0;         // clients turned away while another was served
    long dropped = 0;         // clients dropped for a bad header, a stall or a failed handshake
    long gatewayReplies = 0;  // exceptions 10/11 for another unit id (MBAP framing)
    int clients = 0;          // network clients being served now: 0 or 1
};

struct ListenConfig {
    ListenAddress address;
    Framing framing = Framing::rtu;
    // A client that has started an MBAP frame and sends no more of it for this long is
    // dropped: it holds the one connection, and a gateway would not wait longer either.
    int stallMs = 5000;
    // Modbus/TCP Security: every client first completes a TLS handshake with this server
    // context within handshakeMs, or is dropped before a byte of Modbus is read.
    std::shared_ptr<const TlsContext> tls;
    int handshakeMs = 5000;
};

// Whether a fault can be put on a reply in this framing: MBAP carries no CRC and its length
// is counted, so a damaged CRC, noise before a reply and bytes after it mean nothing there.
bool faultFitsFraming(FaultKind kind, Framing framing);

class SimServer {
  public:
    static constexpr int kBaud = 9600;

    explicit SimServer(const EngineConfig& config = EngineConfig{});
    ~SimServer();
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    // Opens the pseudo-terminal and starts serving. 0, or the errno of what failed.
    int start();
    // Listens on a TCP socket instead and starts serving there; false with a one-line reason.
    bool listen(const ListenConfig& config, std::string& why);
    // "HOST:PORT" the server listens on (the chosen port when 0 was asked), after listen().
    const std::string& listenAddress() const { return listenAddress_; }
    int listenPort() const { return listenPort_; }
    // Stops serving and joins the thread; the device disappears. Safe to call twice.
    void stop();
    bool running() const { return running_; }
    // The slave device a master opens, valid after start().
    const std::string& devicePath() const { return devicePath_; }
    // After start(): why the device's opens and closes cannot be watched (empty when they are).
    // Without the watch a client's exclusive lock outlives its close, so the next client is
    // refused; the usual cause is the user's limit of inotify instances
    // (fs.inotify.max_user_instances, 128 by default), one per served device.
    const std::string& closeWatchProblem() const { return closeWatchProblem_; }

    // 8N1 pacing: every reply byte leaves at its time on a 9600-baud line, and a request is
    // taken as complete only when its bytes would have arrived.
    void setWireTiming(bool on);
    // Time between the end of a request and the start of its reply. -1 picks the default:
    // 3.5 character times with wire timing, none without.
    void setTurnaroundMs(int ms);

    void setFaultRate(FaultKind kind, double rate);
    void scriptFaults(std::span<const FaultKind> kinds);
    void setFaultSettings(const FaultSettings& settings);
    // The reply to the request-th request since start (counted from 1, as stats().requests
    // counts) gets this fault; the request itself is carried out.
    void faultAt(long request, FaultKind kind);
    // No reply to the request-th request, as when the reply is lost on the line.
    void dropReplyAt(long request);
    // The same for the next request.
    void dropNextReply();
    // Pulls the cable now for ms milliseconds (0 plugs it back in).
    void pullCable(int ms);
    bool cablePulled() const;

    // Called in the server thread for every request answered, with the request, the reply as
    // the controller made it, and the fault about to be put on it; set before start().
    using ReplyHook = std::function<void(const std::vector<std::uint8_t>&,
                                         const std::vector<std::uint8_t>&, FaultKind)>;
    void setReplyHook(ReplyHook hook) { replyHook_ = std::move(hook); }
    // Called in the server thread for every request heard, in the order heard: those answered
    // (the reply as the controller made it, and the fault about to be put on it, as for the
    // reply hook), broadcasts (no reply, no fault), and those that reached a pulled cable (no
    // reply, FaultKind::cablePulled). Frames for another slave address and damaged frames are
    // no requests to this controller. Set before start() or listen().
    using RequestHook = ReplyHook;
    void setRequestHook(RequestHook hook) { requestHook_ = std::move(hook); }
    // Called in the server thread with a line about each network client: connected, refused,
    // dropped (and why), left. Set before listen().
    using EventHook = std::function<void(const std::string&)>;
    void setEventHook(EventHook hook) { eventHook_ = std::move(hook); }

    ServerStats stats() const;
    // Runs f on the engine under the server's lock (the server thread uses it too).
    template <class F>
    auto withEngine(F&& f) {
        std::lock_guard lock(mutex_);
        return std::forward<F>(f)(engine_);
    }
    int faultsInjected(FaultKind kind) const;

    // One 8N1 character on the line, in microseconds.
    static constexpr std::int64_t byteTimeUs() { return (10 * 1000000LL + kBaud - 1) / kBaud; }

  private:
    struct Outgoing {
        std::vector<std::uint8_t> bytes;
        std::int64_t dueUs = 0;  // when the first byte may leave (on the line)
        std::size_t sent = 0;
        // MBAP: the gateway sends the frame whole once lineBytes have crossed its line; the
        // connection is closed after it when closeAfter.
        bool whole = false;
        std::size_t lineBytes = 0;
        bool closeAfter = false;
    };
    // An MBAP request as the gateway puts it on its line: the RTU frame with its CRC.
    struct MbapRequest {
        MbapHeader header;
        ReceivedFrame frame;
    };

    void run();
    void runNetwork();
    void acceptClient();
    void dropClient(bool bad, const std::string& why);
    void event(const std::string& text);
    // > 0 bytes read, 0 nothing more for now, < 0 the network client has gone.
    ssize_t lineRead(std::uint8_t* buf, std::size_t n);
    ssize_t lineWrite(const std::uint8_t* buf, std::size_t n);
    // Cuts MBAP frames out of what arrived; false, with why, when the header is one no master
    // sends.
    bool takeMbapFrames(std::int64_t now, std::string& why);
    void handleMbapFrames(std::int64_t now);
    // When the request's last byte has crossed the line (with wire timing) or arrived.
    std::int64_t lineEndUs(const ReceivedFrame& frame) const;
    // When the reply's next byte (or, MBAP, the whole frame) may leave.
    std::int64_t sendAtUs(const Outgoing& o) const;
    std::int64_t nowUs() const;
    std::int64_t turnaroundUs() const;
    void readInput(std::int64_t now);
    void handleFrames(std::int64_t now);
    void flushOutput(std::int64_t now);
    std::int64_t nextWakeUs(std::int64_t now);
    // Reads the open and close notifications; true when the last client has just closed.
    bool clientsLeft();
    void clearExclusive();
    // A cable-pulled fault put on a reply: no reply, and the line dead for the fault's time.
    void pullCableByFault(std::int64_t nowUs);

    mutable std::mutex mutex_;
    ControllerEngine engine_;
    FaultInjector faults_;
    ServerStats stats_;
    bool wireTiming_ = false;
    int turnaroundMs_ = -1;
    std::int64_t pulledUntilUs_ = 0;

    std::string devicePath_;
    std::string closeWatchProblem_;
    int master_ = -1, slaveFd_ = -1, wakeRead_ = -1, wakeWrite_ = -1, inotify_ = -1;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> running_{false};
    std::int64_t originNs_ = 0;
    int clients_ = 0;  // opens of the device not yet closed (server thread only)

    // Server-thread state (the slave and the framer are used under the lock).
    ModbusSlave slave_{engine_};
    RequestFramer framer_;
    // Frames what a pulled cable swallows, only for the request hook.
    RequestFramer pulledFramer_;
    std::vector<std::uint8_t> reply_;
    std::vector<Outgoing> outgoing_;
    bool writeBlocked_ = false;
    ReplyHook replyHook_;
    RequestHook requestHook_;
    std::vector<std::uint8_t> noReply_;  // the reply given to the request hook when none is

    // Network serving (server thread only, but for the statistics).
    Framing framing_ = Framing::rtu;
    int listenFd_ = -1;
    NetStream client_;
    std::string peer_;  // the client's address, for the event lines
    std::shared_ptr<const TlsContext> tls_;
    int handshakeMs_ = 5000;
    EventHook eventHook_;
    std::string listenAddress_;
    int listenPort_ = -1;
    std::vector<std::uint8_t> mbapIn_;  // MBAP bytes not yet a whole frame
    std::int64_t mbapStartUs_ = 0;      // arrival of the first of them
    std::int64_t stallUs_ = 0;
    std::deque<MbapRequest> mbapFrames_;
    bool dropAfterFlush_ = false;
};

}  // namespace kvx::sim
