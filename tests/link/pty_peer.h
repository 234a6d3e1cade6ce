#pragma once
// Pseudo-terminals for the link tests: the code under test opens the slave path like a serial
// device, and a scripted peer talks on the master side.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace kvx::test {

using Bytes = std::vector<std::uint8_t>;

class PtyPair {
  public:
    PtyPair();  // raw on both sides from the start, so nothing is echoed or translated
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& slavePath() const { return path; }
    int masterFd() const { return master; }
    // The test's own descriptor on the slave side: keeps the terminal alive between opens and
    // lets tests look at its settings.
    int slaveFd() const { return slave; }
    // The other end hangs up.
    void closeMaster();

    // Peer side I/O on the master. readExact returns what arrived within the time-out.
    Bytes readExact(std::size_t count, int timeoutMs) const;
    // One request as the master sends it, sized by its function code.
    Bytes readRequest(int timeoutMs) const;
    // Everything that arrives until the line has been quiet for quietMs.
    Bytes readAvailable(int quietMs) const;
    void write(const Bytes& bytes) const;

  private:
    int master = -1;
    int slave = -1;
    std::string path;
};

// A peer thread running a script against the master side; joined on destruction.
class Peer {
  public:
    explicit Peer(std::function<void()> script);
    ~Peer();
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;
    void join();

  private:
    std::thread thread;
};

// Bitwise CRC-16/MODBUS, independent of the table-driven one under test.
std::uint16_t referenceCrc(const std::uint8_t* data, std::size_t length);
// bytes followed by their CRC, low byte first.
Bytes withCrc(Bytes bytes);

using Clock = std::chrono::steady_clock;
inline long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

}  // namespace kvx::test
