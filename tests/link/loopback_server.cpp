#include "tests/link/loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace kvx::test {
namespace {

int bindLoopback(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket");
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("bind");
    }
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

}  // namespace

LoopbackListener::LoopbackListener(int backlog) {
    fd_ = bindLoopback(port_);
    if (::listen(fd_, backlog) != 0) throw std::runtime_error("listen");
}

LoopbackListener::~LoopbackListener() {
    close();
}

void LoopbackListener::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

int LoopbackListener::accept(int timeoutMs) const {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) != 1) return -1;
    return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
}

std::vector<std::uint8_t> readFd(int fd, std::size_t count, int timeoutMs, bool* closed) {
    std::vector<std::uint8_t> bytes;
    if (closed != nullptr) *closed = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (bytes.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) != 1) break;
        std::uint8_t buffer[512];
        const std::size_t want = std::min(sizeof buffer, count - bytes.size());
        const ssize_t n = ::recv(fd, buffer, want, 0);
        if (n <= 0) {
            if (closed != nullptr) *closed = true;
            break;
        }
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
}

void writeFd(int fd, const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0 && errno != EINTR) return;
        if (n > 0) done += static_cast<std::size_t>(n);
    }
}

void resetFd(int fd) {
    linger hard{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(fd);
}

int unusedLoopbackPort() {
    int port = 0;
    const int fd = bindLoopback(port);
    ::close(fd);
    return port;
}

}  // namespace kvx::test
