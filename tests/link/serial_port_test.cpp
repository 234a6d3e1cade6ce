#include "link/serial_port.h"

#include <gtest/gtest.h>

#include <termios.h>
#include <unistd.h>
#include <cerrno>

#include <cstring>
#include <thread>

#include "tests/link/pty_peer.h"

namespace kvx {
namespace {

using test::Bytes;
using test::Clock;
using test::msSince;
using test::Peer;
using test::PtyPair;

termios settingsOf(int fd) {
    termios t{};
    tcgetattr(fd, &t);
    return t;
}

bool sameSettings(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && cfgetospeed(&a) == cfgetospeed(&b) &&
           std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

TEST(SerialPortOpen, MissingDeviceIsNotFoundAndHeldDeviceIsDenied) {
    SerialPort port;
    EXPECT_EQ(port.open("/dev/kvx-no-such-port"), SP_NOT_FOUND);
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.open(""), SP_NOT_FOUND);
    EXPECT_EQ(port.open(nullptr), SP_NOT_FOUND);

    PtyPair pty;
    SerialPort holder;
    ASSERT_EQ(holder.open(pty.slavePath().c_str()), SP_OK);
    EXPECT_TRUE(holder.isOpen());
    // Also holds for root, whom the terminal's own exclusive mode does not stop.
    EXPECT_EQ(port.open(pty.slavePath().c_str()), SP_ACCESS_DENIED);
    EXPECT_FALSE(port.isOpen());

    holder.close();
    EXPECT_FALSE(holder.isOpen());
    EXPECT_EQ(port.open(pty.slavePath().c_str()), SP_OK);
    // Reopening an open port closes it first rather than failing on its own lock.
    EXPECT_EQ(port.open(pty.slavePath().c_str()), SP_OK);
}

// The status stays coarse; the errno behind it tells a missing device, a held one and (in
// kvx-probe) a missing permission apart.
TEST(SerialPortOpen, KeepsTheErrnoOfAFailedOpen) {
    SerialPort port;
    EXPECT_EQ(port.open("/dev/kvx-no-such-port"), SP_NOT_FOUND);
    EXPECT_EQ(port.lastOpenError(), ENOENT);
    PtyPair pty;
    SerialPort holder;
    ASSERT_EQ(holder.open(pty.slavePath().c_str()), SP_OK);
    EXPECT_EQ(holder.lastOpenError(), 0);
    EXPECT_EQ(port.open(pty.slavePath().c_str()), SP_ACCESS_DENIED);
    EXPECT_EQ(port.lastOpenError(), EWOULDBLOCK);
    holder.close();
    EXPECT_EQ(port.open(pty.slavePath().c_str()), SP_OK);
    EXPECT_EQ(port.lastOpenError(), 0);
}

TEST(SerialPortOpen, ClosedPortRefusesEverythingAndCloseIsHarmless) {
    SerialPort port;
    std::uint8_t byte = 0;
    port.close();
    EXPECT_EQ(port.read(&byte, 1, 10), SP_NOT_OPEN);
    EXPECT_EQ(port.write(&byte, 1, 10), SP_NOT_OPEN);
    EXPECT_EQ(port.purge(), SP_NOT_OPEN);
    EXPECT_EQ(port.drain(), SP_NOT_OPEN);
    EXPECT_EQ(port.raiseRts(), SP_NOT_OPEN);
    EXPECT_EQ(port.lowerRts(), SP_NOT_OPEN);
    EXPECT_EQ(port.configure(9600, 8, 1, 0, 0), SP_NOT_OPEN);
    EXPECT_EQ(port.nativeHandle(), -1);
}

TEST(SerialPortOpen, AppliesDefaultsAndRestoresSavedSettingsAtClose) {
    PtyPair pty;
    termios before = settingsOf(pty.slaveFd());
    before.c_lflag |= ICANON | ECHO;
    before.c_cflag |= CSTOPB;
    cfsetspeed(&before, B2400);
    ASSERT_EQ(tcsetattr(pty.slaveFd(), TCSANOW, &before), 0);
    before = settingsOf(pty.slaveFd());

    SerialPort port;
    ASSERT_EQ(port.open(pty.slavePath().c_str()), SP_OK);
    EXPECT_EQ(port.configuredBaudRate(), 9600);
    EXPECT_EQ(port.configuredFlowControl(), 0);
    const termios opened = settingsOf(pty.slaveFd());
    EXPECT_EQ(cfgetospeed(&opened), B9600);
    EXPECT_EQ(opened.c_cflag & CSTOPB, 0U);
    EXPECT_EQ(opened.c_lflag & (ICANON | ECHO), 0U);

    port.close();
    EXPECT_TRUE(sameSettings(settingsOf(pty.slaveFd()), before));
}

TEST(SerialPortOpen, OpenDiscardsInputThatWasWaiting) {
    PtyPair pty;
    pty.write({1, 2, 3, 4});
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    SerialPort port;
    ASSERT_EQ(port.open(pty.slavePath().c_str()), SP_OK);
    std::uint8_t byte = 0;
    EXPECT_EQ(port.read(&byte, 1, 30), SP_TIMEOUT);
}

class SerialPortIo : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(port.open(pty.slavePath().c_str()), SP_OK); }
    PtyPair pty;
    SerialPort port;
};

TEST_F(SerialPortIo, TransfersExactCountsAcrossChunks) {
    Bytes sent(300);
    for (std::size_t i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<std::uint8_t>(i * 7);
    Bytes seen;
    {
        Peer peer([&] { seen = pty.readExact(sent.size(), 2000); });
        EXPECT_EQ(port.write(sent.data(), static_cast<int>(sent.size()), 2000), SP_OK);
    }
    EXPECT_EQ(seen, sent);

    Peer peer([&] {
        pty.write({10, 11, 12});
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        pty.write({13, 14});
    });
    std::uint8_t got[5] = {};
    EXPECT_EQ(port.read(got, 5, 2000), SP_OK);
    EXPECT_EQ(Bytes(got, got + 5), (Bytes{10, 11, 12, 13, 14}));
}

// A read that has part of its bytes sleeps through the time the rest needs on the line instead
// of waking for each: bytes that trickle in are still all taken, and a hang-up cuts the sleep
// short (at 300 baud the rest of this frame would take eight seconds).
TEST_F(SerialPortIo, TrickledBytesAreAllTakenAndHangUpCutsTheWaitForTheRestShort) {
    Bytes sent(30);
    for (std::size_t i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<std::uint8_t>(0x40 + i);
    {
        Peer peer([&] {
            for (std::uint8_t b : sent) {
                pty.write({b});
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        std::uint8_t got[30] = {};
        EXPECT_EQ(port.read(got, 30, 2000), SP_OK);
        EXPECT_EQ(Bytes(got, got + 30), sent);
    }

    ASSERT_EQ(port.configure(300, 8, 1, 0, 0), SP_OK);
    Peer peer([&] {
        pty.write({1, 2, 3});
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pty.closeMaster();
    });
    std::uint8_t got[250] = {};
    const auto start = Clock::now();
    EXPECT_EQ(port.read(got, 250, 20000), SP_TIMEOUT);
    EXPECT_LT(msSince(start), 5000);
    EXPECT_EQ(Bytes(got, got + 3), (Bytes{1, 2, 3}));
}

TEST_F(SerialPortIo, ShortReadTimesOutNotBeforeItsTimeAndKeepsWhatArrived) {
    pty.write({0xA1, 0xA2, 0xA3});
    std::uint8_t got[5] = {};
    auto start = Clock::now();
    EXPECT_EQ(port.read(got, 5, 80), SP_TIMEOUT);
    EXPECT_GE(msSince(start), 80);
    EXPECT_EQ(Bytes(got, got + 3), (Bytes{0xA1, 0xA2, 0xA3}));

    start = Clock::now();
    EXPECT_EQ(port.read(got, 1, 5), SP_TIMEOUT);
    EXPECT_GE(msSince(start), 5);
}

TEST_F(SerialPortIo, RefusedTimeOutAndBadCountAreFailures) {
    std::uint8_t byte = 0;
    EXPECT_EQ(port.read(&byte, 1, -1), SP_IO_FAILURE);
    EXPECT_EQ(port.write(&byte, 1, -5), SP_IO_FAILURE);
    EXPECT_EQ(port.read(&byte, -1, 10), SP_IO_FAILURE);
    EXPECT_EQ(port.read(nullptr, 1, 10), SP_IO_FAILURE);
    EXPECT_EQ(port.read(&byte, 0, 10), SP_OK);
    EXPECT_EQ(port.currentTimeouts().readTotalTimeoutConstant, 10U);
    EXPECT_EQ(port.currentTimeouts().writeTotalTimeoutConstant, 0U);
}

TEST_F(SerialPortIo, HangUpEndsTransfersAtOnceAsShortTransfers) {
    pty.closeMaster();
    std::uint8_t bytes[4] = {1, 2, 3, 4};
    const auto start = Clock::now();
    EXPECT_EQ(port.read(bytes, 4, 5000), SP_TIMEOUT);
    EXPECT_EQ(port.write(bytes, 4, 5000), SP_TIMEOUT);
    EXPECT_LT(msSince(start), 2500);
}

TEST_F(SerialPortIo, BadSettingsAreRefusedBeforeAnythingChanges) {
    ASSERT_EQ(port.configure(19200, 8, 2, 0, 0), SP_OK);
    const termios good = settingsOf(pty.slaveFd());
    EXPECT_EQ(cfgetospeed(&good), B19200);
    EXPECT_NE(good.c_cflag & CSTOPB, 0U);

    struct Case {
        int baud, dataBits, stopBits, parity, flow;
    };
    const Case cases[] = {{9600, 6, 1, 0, 0},  {9600, 8, 3, 0, 0}, {9600, 8, 1, 3, 0},
                          {9600, 8, 1, 0, 2},  {9600, 8, 0, 0, 0}, {9600, 8, 1, -1, 0},
                          {12345, 8, 1, 0, 0}, {0, 8, 1, 0, 0},    {-9600, 8, 1, 0, 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(port.configure(c.baud, c.dataBits, c.stopBits, c.parity, c.flow), SP_BAD_SETTING)
            << c.baud << " " << c.dataBits << " " << c.stopBits << " " << c.parity << " " << c.flow;
        EXPECT_TRUE(sameSettings(settingsOf(pty.slaveFd()), good));
        EXPECT_EQ(port.configuredBaudRate(), 19200);
    }
}

TEST_F(SerialPortIo, HardwareFlowControlRefusesDrainAndManualRts) {
    ASSERT_EQ(port.configure(9600, 8, 1, 0, 1), SP_OK);
    EXPECT_NE(settingsOf(pty.slaveFd()).c_cflag & CRTSCTS, 0U);
    EXPECT_EQ(port.drain(), SP_NOT_SUPPORTED);
    EXPECT_EQ(port.raiseRts(), SP_NOT_SUPPORTED);
    EXPECT_EQ(port.lowerRts(), SP_NOT_SUPPORTED);

    ASSERT_EQ(port.configure(9600, 8, 1, 0, 0), SP_OK);
    EXPECT_EQ(settingsOf(pty.slaveFd()).c_cflag & CRTSCTS, 0U);
    EXPECT_EQ(port.drain(), SP_OK);
    // A pseudo-terminal has no RTS line: the request reaches the device and fails there.
    EXPECT_EQ(port.raiseRts(), SP_IO_FAILURE);
    EXPECT_EQ(port.purge(), SP_OK);
}

TEST_F(SerialPortIo, PurgeDropsUnreadInput) {
    pty.write({9, 9, 9});
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(port.purge(), SP_OK);
    std::uint8_t byte = 0;
    EXPECT_EQ(port.read(&byte, 1, 20), SP_TIMEOUT);
}

TEST_F(SerialPortIo, PurgeAndCloseKeepOutputAlreadyWritten) {
    const Bytes sent{1, 2, 3, 4, 5, 6};
    for (int round = 0; round < 20; ++round) {
        ASSERT_EQ(port.write(sent.data(), static_cast<int>(sent.size()), 100), SP_OK);
        ASSERT_EQ(port.drain(), SP_OK);
        ASSERT_EQ(port.purge(), SP_OK);
        EXPECT_EQ(pty.readExact(sent.size(), 500), sent) << round;
    }
    ASSERT_EQ(port.write(sent.data(), static_cast<int>(sent.size()), 100), SP_OK);
    port.close();
    EXPECT_EQ(pty.readExact(sent.size(), 500), sent);
}

}  // namespace
}  // namespace kvx
