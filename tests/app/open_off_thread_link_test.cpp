// The window's link runs a network open on a worker thread and keeps the event loop turning;
// nothing else reaches the link until the open has ended.
#include "app/open_off_thread_link.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "link/result_codes.h"
#include "tests/support/fake_link.h"

namespace kvx {
namespace {

// A fake link whose open blocks until the test lets it go, noting the thread it ran on.
class HeldOpenLink : public test::FakeLink {
  public:
    int openConnection(const std::string& portName) override {
        openThread = std::this_thread::get_id();
        std::unique_lock lock(mutex);
        entered = true;
        released.wait(lock, [this] { return letGo; });
        return test::FakeLink::openConnection(portName);
    }
    bool setTrafficRing(TrafficRing* r) override {
        ++ringSwitches;
        ring = r;
        return true;
    }
    void letItGo() {
        std::lock_guard lock(mutex);
        letGo = true;
        released.notify_all();
    }

    std::thread::id openThread;
    std::mutex mutex;
    std::condition_variable released;
    bool letGo = false;
    std::atomic<bool> entered = false;
    TrafficRing* ring = nullptr;
    int ringSwitches = 0;
};

TEST(OpenOffThreadLink, OnlyParsedNetworkNamesOpenOffTheThread) {
    struct Case {
        const char* name;
        bool network;
    } cases[] = {
        {"COM5", false},
        {"/dev/ttyUSB0", false},
        {"tcp://127.0.0.1:5020", true},
        {"modbus-tcp://localhost", true},
        {"MODBUS-TLS://[::1]:802", true},
        {"tcp://", false},  // fails at once: nothing to look up
        {"modbus-tcp://host:99999", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isNetworkPortName(c.name), c.network) << c.name;
}

TEST(OpenOffThreadLink, SerialOpenRunsWhereItIsCalled) {
    HeldOpenLink inner;
    inner.letItGo();
    OpenOffThreadLink link(inner, isNetworkPortName);
    EXPECT_EQ(link.openConnection("COM5"), 0);
    EXPECT_EQ(inner.openThread, std::this_thread::get_id());
    EXPECT_TRUE(link.isConnected());
}

TEST(OpenOffThreadLink, EventsRunAndTheLinkIsClosedToEveryoneWhileANetworkOpenRuns) {
    HeldOpenLink inner;
    inner.holding[1] = 7;
    OpenOffThreadLink link(inner, isNetworkPortName);

    int ticks = 0;
    std::int16_t value = 99;
    int readResult = 0, writeResult = 0, secondOpen = 0;
    bool connectedDuring = true, openingDuring = false, ringTakenDuring = true;
    TrafficRing ring(8);
    QTimer timer;
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (!inner.entered) return;
        if (++ticks == 1) {
            openingDuring = link.opening();
            connectedDuring = link.isConnected();
            readResult = link.readHoldingRegisters(1, 1, &value, 1);
            writeResult = link.writeSingleRegister(1, 1, 5);
            secondOpen = link.openConnection("tcp://127.0.0.1:5020");
            ringTakenDuring = link.setTrafficRing(&ring);
        }
        if (ticks == 3) inner.letItGo();  // the loop kept turning while the open was held
    });
    timer.start();
    const auto callsBefore = inner.calls.size();
    EXPECT_EQ(link.openConnection("modbus-tcp://127.0.0.1:5020"), 0);
    timer.stop();

    EXPECT_GE(ticks, 3);
    EXPECT_NE(inner.openThread, std::this_thread::get_id());
    EXPECT_TRUE(openingDuring);
    EXPECT_FALSE(connectedDuring);
    EXPECT_EQ(readResult, MBR_WRONG_STATE);
    EXPECT_EQ(value, 0);  // a refused read leaves zeros, as every read does
    EXPECT_EQ(writeResult, MBR_WRONG_STATE);
    EXPECT_EQ(secondOpen, MBR_WRONG_STATE);
    // Only the open itself reached the link; the write never did.
    ASSERT_EQ(inner.calls.size(), callsBefore + 1);
    EXPECT_EQ(inner.calls.back().kind, 'O');
    EXPECT_EQ(inner.holding[1], 7);
    // The traffic ring is not switched under the worker's master either.
    EXPECT_FALSE(ringTakenDuring);
    EXPECT_EQ(inner.ringSwitches, 0);

    EXPECT_FALSE(link.opening());
    EXPECT_TRUE(link.setTrafficRing(&ring));
    EXPECT_EQ(inner.ring, &ring);
    EXPECT_TRUE(link.isConnected());
    EXPECT_EQ(link.readHoldingRegisters(1, 1, &value, 1), 0);
    EXPECT_EQ(value, 7);
}

TEST(OpenOffThreadLink, AFailedNetworkOpenIsReportedAsTheLinkGaveIt) {
    HeldOpenLink inner;
    inner.openResult = MBR_OPEN_FAILED;
    inner.letItGo();
    OpenOffThreadLink link(inner, isNetworkPortName);
    EXPECT_EQ(link.openConnection("modbus-tcp://127.0.0.1:1"), MBR_OPEN_FAILED);
    EXPECT_FALSE(link.isConnected());
    EXPECT_FALSE(link.opening());
}

}  // namespace
}  // namespace kvx
