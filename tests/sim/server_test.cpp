#include "sim/sim_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "link/crc16.h"
#include "tests/sim/sim_frame.h"

namespace kvx::sim {
namespace {

using test::Bytes;
using test::frame;
using Clock = std::chrono::steady_clock;

// A bare client on the slave side: the bytes on the line, nothing interpreted.
class RawClient {
  public:
    explicit RawClient(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios tio{};
        if (fd_ >= 0 && ::tcgetattr(fd_, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(fd_, TCSANOW, &tio);
        }
    }
    ~RawClient() {
        if (fd_ >= 0) ::close(fd_);
    }
    int fd() const { return fd_; }
    void send(const Bytes& b) { ASSERT_EQ(::write(fd_, b.data(), b.size()), (ssize_t)b.size()); }
    // Reads until count bytes came or the line has been quiet for quietMs.
    Bytes receive(std::size_t count, int quietMs = 300) {
        Bytes out;
        std::uint8_t buf[512];
        while (out.size() < count) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, quietMs) <= 0) break;
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n <= 0) break;
            out.insert(out.end(), buf, buf + n);
        }
        return out;
    }

  private:
    int fd_ = -1;
};

struct ServerFixture : ::testing::Test {
    SimServer server;
    void SetUp() override { ASSERT_EQ(server.start(), 0); }
};

TEST_F(ServerFixture, AnswersOnItsPseudoTerminalAndStops) {
    RawClient c(server.devicePath());
    ASSERT_GE(c.fd(), 0);
    // Bytes a cooked terminal would translate (CR, ^C, ^S, ^D) must cross untouched.
    const std::int16_t tricky[] = {0x0D0A, 0x0313, 0x0411, 0x7F00};
    server.withEngine([&](ControllerEngine& e) { return e.writeHolding(41, tricky, 4, 0); });
    c.send(frame({1, 3, 0, 40, 0, 4}));
    const Bytes r = c.receive(13);
    ASSERT_EQ(r.size(), 13u);
    EXPECT_TRUE(crc16Matches(r.data(), r.size()));
    EXPECT_EQ(Bytes(r.begin() + 3, r.begin() + 11),
              Bytes({0x0D, 0x0A, 0x03, 0x13, 0x04, 0x11, 0x7F, 0x00}));
    c.send(frame({2, 3, 0, 0, 0, 1}));  // another slave: silence
    EXPECT_TRUE(c.receive(1, 200).empty());
    const ServerStats s = server.stats();
    EXPECT_EQ(s.requests, 1);
    EXPECT_EQ(s.replies, 1);
    EXPECT_EQ(s.ignored, 1);

    const std::string path = server.devicePath();
    server.stop();
    server.stop();
    EXPECT_FALSE(server.running());
    EXPECT_NE(::access(path.c_str(), F_OK), 0);
}

// A reply lost on the way back: the controller has done what it was asked.
TEST_F(ServerFixture, ADroppedReplyLeavesItsRequestDone) {
    RawClient c(server.devicePath());
    const auto holding = [this](int ref) {
        return server.withEngine([ref](ControllerEngine& e) { return e.holding(ref); });
    };
    server.dropReplyAt(2);
    c.send(frame({1, 3, 0, 0, 0, 1}));
    EXPECT_EQ(c.receive(7).size(), 7u);
    c.send(frame({1, 6, 0, 40, 0, 77}));  // the second request
    EXPECT_TRUE(c.receive(1, 200).empty());
    EXPECT_EQ(holding(41), 77);
    server.dropNextReply();
    c.send(frame({1, 6, 0, 41, 0, 78}));
    EXPECT_TRUE(c.receive(1, 200).empty());
    EXPECT_EQ(holding(42), 78);
    c.send(frame({1, 3, 0, 40, 0, 2}));
    EXPECT_EQ(c.receive(9).size(), 9u);
    EXPECT_EQ(server.faultsInjected(FaultKind::noReply), 2);
    EXPECT_EQ(server.stats().requests, 4);
}

TEST_F(ServerFixture, StalledAndDamagedRequestsLeaveTheNextOneAnswered) {
    RawClient c(server.devicePath());
    const Bytes req = frame({1, 3, 0, 0, 0, 1});
    c.send(Bytes(req.begin(), req.begin() + 3));  // stops short
    EXPECT_TRUE(c.receive(1, 200).empty());
    Bytes damaged = req;
    damaged[5] ^= 0x40;
    c.send(damaged);
    EXPECT_TRUE(c.receive(1, 200).empty());
    c.send(req);
    EXPECT_EQ(c.receive(7).size(), 7u);
    EXPECT_EQ(server.stats().badFrames, 2);
}

TEST_F(ServerFixture, APulledCableKeepsReadingSoWritesNeverBlock) {
    RawClient c(server.devicePath());
    server.pullCable(60000);
    EXPECT_TRUE(server.cablePulled());
    // Far more than a pseudo-terminal buffers: only a reader on the other side lets it through.
    const int flags = ::fcntl(c.fd(), F_GETFL);
    ::fcntl(c.fd(), F_SETFL, flags & ~O_NONBLOCK);
    const Bytes req = frame({1, 3, 0, 0, 0, 1});
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i)
            if (::write(c.fd(), req.data(), req.size()) != (ssize_t)req.size()) return;
        ::tcdrain(c.fd());
    });
    writer.join();
    EXPECT_TRUE(c.receive(1, 200).empty());
    EXPECT_EQ(server.stats().discarded, 20000L * 8);
    EXPECT_EQ(server.stats().replies, 0);
    server.pullCable(0);
    c.send(req);
    EXPECT_EQ(c.receive(7).size(), 7u);
}

TEST_F(ServerFixture, ANewRequestSupersedesALateReply) {
    RawClient c(server.devicePath());
    FaultSettings fs;
    fs.lateDelayMs = 400;
    server.setFaultSettings(fs);
    const FaultKind late[] = {FaultKind::late};
    server.scriptFaults(late);
    const Bytes first = frame({1, 3, 0, 1, 0, 1});   // version
    const Bytes second = frame({1, 3, 0, 2, 0, 1});  // serial number
    const auto t0 = Clock::now();
    c.send(first);
    EXPECT_TRUE(c.receive(1, 150).empty());
    c.send(second);
    const Bytes r = c.receive(7);
    ASSERT_EQ(r.size(), 7u);
    EXPECT_EQ(r[4], 2417 & 0xFF);  // the answer to the second request, not the stale first
    EXPECT_TRUE(c.receive(1, 600).empty());
    EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(400));

    // Left alone, the late reply does come, and not before its delay.
    server.scriptFaults(late);
    const auto t1 = Clock::now();
    c.send(first);
    EXPECT_EQ(c.receive(7, 2000).size(), 7u);
    EXPECT_GE(Clock::now() - t1, std::chrono::milliseconds(400));
}

TEST_F(ServerFixture, WireTimingPacesTheReplyAt9600Baud) {
    RawClient c(server.devicePath());
    server.setWireTiming(true);
    server.setTurnaroundMs(0);
    const Bytes req = frame({1, 4, 0, 0, 0, 44});  // block A: 8 bytes out, 93 back
    c.receive(1, 50);
    const auto t0 = Clock::now();
    c.send(req);
    const Bytes r = c.receive(93, 1000);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    ASSERT_EQ(r.size(), 93u);
    const double line = (8 + 93) * SimServer::byteTimeUs() / 1000.0;  // about 105 ms
    EXPECT_GT(ms / line, 0.95);
    EXPECT_LT(ms / line, 10.0);  // only gross mis-pacing; the machine may be loaded

    server.setWireTiming(false);
    const auto t1 = Clock::now();
    c.send(req);
    ASSERT_EQ(c.receive(93, 1000).size(), 93u);
    const double fast = std::chrono::duration<double, std::milli>(Clock::now() - t1).count();
    EXPECT_LT(fast, ms);
}

TEST_F(ServerFixture, RepliesAClientLeftUnreadDoNotReachTheNextOne) {
    const Bytes big = frame({1, 3, 0, 0, 0, 125});  // 255-byte replies
    {
        RawClient gone(server.devicePath());
        for (int i = 0; i < 300; ++i) {  // more than the pseudo-terminal holds
            gone.send(big);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    RawClient next(server.devicePath());
    next.send(frame({1, 3, 0, 1, 0, 1}));
    const Bytes r = next.receive(100, 300);
    ASSERT_EQ(r.size(), 7u);
    EXPECT_EQ(r[4], 117);
}

TEST_F(ServerFixture, AClientsExclusiveLockIsLiftedWhenItCloses) {
    {
        RawClient c(server.devicePath());
        ASSERT_EQ(::ioctl(c.fd(), TIOCEXCL), 0);
    }
    // The lift follows the close notification; give the server thread a moment.
    int exclusive = 1;
    for (int i = 0; i < 100 && exclusive; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        RawClient probe(server.devicePath());
        ASSERT_EQ(::ioctl(probe.fd(), TIOCGEXCL, &exclusive), 0);
    }
    EXPECT_EQ(exclusive, 0);
}

// A second program trying the port (root gets past TIOCEXCL, then finds it taken) and going
// away again must not cost the holder its lock or the reply on its way to it.
TEST_F(ServerFixture, AnotherProgramsAttemptLeavesTheHolderAlone) {
    RawClient holder(server.devicePath());
    ASSERT_EQ(::ioctl(holder.fd(), TIOCEXCL), 0);
    FaultSettings fs;
    fs.lateDelayMs = 300;
    server.setFaultSettings(fs);
    const FaultKind late[] = {FaultKind::late};
    server.scriptFaults(late);
    holder.send(frame({1, 3, 0, 1, 0, 1}));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    for (int i = 0; i < 3; ++i) {
        const int fd = ::open(server.devicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
    }
    const Bytes r = holder.receive(7, 2000);
    ASSERT_EQ(r.size(), 7u);
    EXPECT_EQ(r[4], 117);
    int exclusive = 0;
    ASSERT_EQ(::ioctl(holder.fd(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
}

}  // namespace
}  // namespace kvx::sim
