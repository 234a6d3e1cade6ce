#pragma once
// A TCP stream, plain or under TLS, as a byte channel: the client side connects (name lookup and
// connect bounded by one time-out), the server side adopts an accepted socket. The socket is
// non-blocking; every read, write and the TLS handshake waits in poll() against its own
// deadline, so a silent or stalled peer costs at most the time-out. Nagle is off: a request is
// one small write that must leave at once.
//
// A peer that closes or resets the connection (also in the middle of a frame) gives SP_CLOSED
// and the stream is no longer open. lastError() says what went wrong in words.
#include <cstdint>
#include <string>

#include "link/byte_channel.h"

struct ssl_st;

namespace kvx {

class TlsContext;

class NetStream final : public ByteChannel {
  public:
    NetStream() = default;
    ~NetStream() override;
    NetStream(const NetStream&) = delete;
    NetStream& operator=(const NetStream&) = delete;

    // Looks host up (a name, an IPv4 or an IPv6 literal without brackets) and connects to the
    // first address that accepts, all within timeoutMs. SP_OK; SP_NOT_FOUND when the name does
    // not resolve; SP_TIMEOUT when lookup or connect took too long; SP_IO_FAILURE when refused
    // or unreachable. Safe to call on any thread.
    int connect(const std::string& host, int port, int timeoutMs);
    // The server side: takes over an accepted socket (made non-blocking, Nagle off).
    void adopt(int fd);
    // Runs the TLS handshake on the open socket within timeoutMs. A client context verifies the
    // server's certificate against its CA and against serverName (a host name or an IP
    // literal); a server context asks for a client certificate when it has a client CA. SP_OK,
    // SP_TIMEOUT (the peer stalled), or SP_IO_FAILURE with lastError() giving OpenSSL's reason
    // ("certificate verify failed: certificate has expired"); on failure the stream is closed.
    int startTls(const TlsContext& context, const std::string& serverName, int timeoutMs);

    bool isOpen() const override { return fd_ >= 0 && !broken_; }
    void close() override;
    int write(const std::uint8_t* buffer, int count, int timeoutMs) override;
    int read(std::uint8_t* buffer, int count, int timeoutMs) override;
    int lastReadCount() const override { return lastRead_; }
    // Up to capacity bytes, waiting at most timeoutMs for the first of them; `got` is how many.
    // SP_OK with got > 0, SP_TIMEOUT when nothing arrived, SP_CLOSED, SP_IO_FAILURE.
    int readSome(std::uint8_t* buffer, int capacity, int timeoutMs, int& got);
    int purge() override;
    int drain() override;
    int raiseRts() override;
    int lowerRts() override;

    bool isTls() const { return ssl_ != nullptr; }
    int nativeHandle() const { return fd_; }
    std::string lastError() const override { return error_; }

  private:
    enum class Wait { Ready, TimedOut, Failed };
    Wait waitFor(short events, std::int64_t deadlineMs);
    // One read or write step; >0 bytes moved, 0 would block (wantEvents set), <0 a failure
    // already recorded (SP_CLOSED or SP_IO_FAILURE in status).
    int step(bool reading, std::uint8_t* buffer, int count, short& wantEvents, int& status);
    int fail(int status, std::string reason);

    int fd_ = -1;
    ssl_st* ssl_ = nullptr;
    bool broken_ = false;
    bool server_ = false;         // the TLS side this stream plays
    bool heardFromPeer_ = false;  // application data has come through TLS
    std::string error_;
    int lastRead_ = 0;  // what the last read left in its buffer
};

}  // namespace kvx
