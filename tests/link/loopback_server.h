#pragma once
// A listening socket on 127.0.0.1 for the network tests: a scripted peer accepts on it and
// talks on the raw descriptor.
#include <cstdint>
#include <string>
#include <vector>

namespace kvx::test {

class LoopbackListener {
  public:
    explicit LoopbackListener(int backlog = 4);  // 127.0.0.1, a free port
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    int port() const { return port_; }
    // The accepted connection's descriptor (blocking), or -1 when none came within timeoutMs.
    int accept(int timeoutMs) const;
    void close();

  private:
    int fd_ = -1;
    int port_ = 0;
};

// On a blocking descriptor: what arrived within the time-out, up to count bytes; *closed (when
// given) is set when the other end closed the connection.
std::vector<std::uint8_t> readFd(int fd, std::size_t count, int timeoutMs, bool* closed = nullptr);
void writeFd(int fd, const std::vector<std::uint8_t>& bytes);
// Closes with an RST instead of a FIN (SO_LINGER 0): the peer sees ECONNRESET.
void resetFd(int fd);
// A loopback port nothing listens on (bound, then released).
int unusedLoopbackPort();

}  // namespace kvx::test
