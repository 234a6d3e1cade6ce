#include "tests/link/pty_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace kvx::test {

PtyPair::PtyPair() {
    termios raw{};
    cfmakeraw(&raw);
    cfsetspeed(&raw, B9600);
    char name[128] = {};
    if (openpty(&master, &slave, name, &raw, nullptr) != 0) throw std::runtime_error("openpty");
    path = name;
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair() {
    closeMaster();
    if (slave >= 0) ::close(slave);
}

void PtyPair::closeMaster() {
    if (master >= 0) ::close(master);
    master = -1;
}

Bytes PtyPair::readExact(std::size_t count, int timeoutMs) const {
    Bytes bytes;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (bytes.size() < count) {
        std::uint8_t chunk[512];
        const std::size_t want = std::min(sizeof chunk, count - bytes.size());
        const ssize_t n = ::read(master, chunk, want);
        if (n > 0) {
            bytes.insert(bytes.end(), chunk, chunk + n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) break;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) break;
        pollfd entry{master, POLLIN, 0};
        poll(&entry, 1, static_cast<int>(left.count()) + 1);
    }
    return bytes;
}

Bytes PtyPair::readRequest(int timeoutMs) const {
    Bytes head = readExact(2, timeoutMs);
    if (head.size() < 2) return head;
    std::size_t rest = 0;
    const int function = head[1];
    if (function >= 1 && function <= 6) {
        rest = 6;
    } else if (function == 15 || function == 16) {
        Bytes fixed = readExact(5, timeoutMs);
        head.insert(head.end(), fixed.begin(), fixed.end());
        if (fixed.size() < 5) return head;
        rest = fixed[4] + 2U;
    } else {
        Bytes tail = readAvailable(20);
        head.insert(head.end(), tail.begin(), tail.end());
        return head;
    }
    Bytes tail = readExact(rest, timeoutMs);
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

Bytes PtyPair::readAvailable(int quietMs) const {
    Bytes bytes;
    for (;;) {
        Bytes more = readExact(512, quietMs);
        if (more.empty()) return bytes;
        bytes.insert(bytes.end(), more.begin(), more.end());
    }
}

void PtyPair::write(const Bytes& bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd entry{master, POLLOUT, 0};
            poll(&entry, 1, 100);
        } else {
            return;
        }
    }
}

Peer::Peer(std::function<void()> script) : thread(std::move(script)) {}

Peer::~Peer() {
    join();
}

void Peer::join() {
    if (thread.joinable()) thread.join();
}

std::uint16_t referenceCrc(const std::uint8_t* data, std::size_t length) {
    unsigned crc = 0xFFFF;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1U) ? (crc >> 1) ^ 0xA001U : crc >> 1;
    }
    return static_cast<std::uint16_t>(crc);
}

Bytes withCrc(Bytes bytes) {
    const std::uint16_t crc = referenceCrc(bytes.data(), bytes.size());
    bytes.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(crc >> 8));
    return bytes;
}

}  // namespace kvx::test
