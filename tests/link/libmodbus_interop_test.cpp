// Our master against libmodbus's RTU slave, an implementation written elsewhere. The two sides
// open the slave ends of two pseudo-terminals whose master ends are bridged.
#include <gtest/gtest.h>
#include <modbus.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <thread>

#include "link/mbus_rtu_master_protocol.h"
#include "link/result_codes.h"
#include "tests/link/pty_peer.h"

namespace kvx {
namespace {

using test::PtyPair;

constexpr int kRegisters = 300;
constexpr int kSlave = 17;

bool copyAvailable(int from, int to) {
    std::uint8_t chunk[512];
    const ssize_t n = ::read(from, chunk, sizeof chunk);
    if (n <= 0) return n < 0 && errno == EAGAIN;
    ssize_t done = 0;
    while (done < n) {
        const ssize_t w = ::write(to, chunk + done, static_cast<std::size_t>(n - done));
        if (w > 0) {
            done += w;
        } else if (w < 0 && errno == EAGAIN) {
            pollfd entry{to, POLLOUT, 0};
            poll(&entry, 1, 10);
        } else {
            return false;
        }
    }
    return true;
}

class LibmodbusSlave : public ::testing::Test {
  protected:
    void SetUp() override {
        bridge = std::thread([this] {
            while (!stop) {
                pollfd ends[2] = {{ours.masterFd(), POLLIN, 0}, {theirs.masterFd(), POLLIN, 0}};
                if (poll(ends, 2, 20) <= 0) continue;
                if (ends[0].revents & POLLIN) copyAvailable(ours.masterFd(), theirs.masterFd());
                if (ends[1].revents & POLLIN) copyAvailable(theirs.masterFd(), ours.masterFd());
            }
        });

        context = modbus_new_rtu(theirs.slavePath().c_str(), 9600, 'N', 8, 1);
        ASSERT_NE(context, nullptr);
        ASSERT_EQ(modbus_set_slave(context, kSlave), 0);
        ASSERT_EQ(modbus_connect(context), 0) << modbus_strerror(errno);
        mapping = modbus_mapping_new(0, 0, kRegisters, kRegisters);
        ASSERT_NE(mapping, nullptr);
        for (int i = 0; i < kRegisters; ++i) {
            mapping->tab_registers[i] = static_cast<std::uint16_t>(1000 + i);
            mapping->tab_input_registers[i] = static_cast<std::uint16_t>(0xFF00 + i);
        }
        modbus_set_indication_timeout(context, 0, 50000);
        if (std::getenv("KVX_MODBUS_DEBUG")) modbus_set_debug(context, 1);
        slave = std::thread([this] {
            std::uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
            while (!stop) {
                const int length = modbus_receive(context, query);
                if (length > 0) modbus_reply(context, query, length, mapping);
            }
        });

        ASSERT_EQ(master.openConnection(ours.slavePath().c_str(), 9600), MBR_SUCCESS);
    }

    void TearDown() override {
        stop = true;
        if (slave.joinable()) slave.join();
        if (bridge.joinable()) bridge.join();
        if (mapping) modbus_mapping_free(mapping);
        if (context) {
            modbus_close(context);
            modbus_free(context);
        }
    }

    PtyPair ours;
    PtyPair theirs;
    std::atomic<bool> stop{false};
    std::thread bridge;
    std::thread slave;
    modbus_t* context = nullptr;
    modbus_mapping_t* mapping = nullptr;
    MbusRtuMasterProtocol master;
};

TEST_F(LibmodbusSlave, ReadsHoldingAndInputRegisters) {
    std::int16_t values[125] = {};
    ASSERT_EQ(master.readHoldingRegisters(kSlave, 1, values, 125), MBR_SUCCESS);
    for (int i = 0; i < 125; ++i)
        EXPECT_EQ(values[i], 1000 + i) << i;

    ASSERT_EQ(master.readInputRegisters(kSlave, 201, values, 40), MBR_SUCCESS);
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(values[i], static_cast<std::int16_t>(0xFF00 + 200 + i)) << i;
    }
    ASSERT_EQ(master.readInputRegisters(kSlave, kRegisters, values, 1), MBR_SUCCESS);
    EXPECT_EQ(values[0], static_cast<std::int16_t>(0xFF00 + kRegisters - 1));
}

TEST_F(LibmodbusSlave, WritesSingleAndMultipleRegisters) {
    ASSERT_EQ(master.writeSingleRegister(kSlave, 7, 0x1234), MBR_SUCCESS);
    ASSERT_EQ(master.writeSingleRegister(kSlave, 8, -1234), MBR_SUCCESS);
    std::int16_t written[100];
    for (int i = 0; i < 100; ++i)
        written[i] = static_cast<std::int16_t>(i * 331 - 16000);
    ASSERT_EQ(master.writeMultipleRegisters(kSlave, 101, written, 100), MBR_SUCCESS);

    std::int16_t values[100] = {};
    ASSERT_EQ(master.readHoldingRegisters(kSlave, 7, values, 2), MBR_SUCCESS);
    EXPECT_EQ(values[0], 0x1234);
    EXPECT_EQ(values[1], -1234);
    ASSERT_EQ(master.readHoldingRegisters(kSlave, 101, values, 100), MBR_SUCCESS);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(values[i], written[i]) << i;
    EXPECT_EQ(mapping->tab_registers[6], 0x1234);
}

TEST_F(LibmodbusSlave, IllegalAddressIsException2) {
    std::int16_t values[4] = {9, 9, 9, 9};
    EXPECT_EQ(master.readHoldingRegisters(kSlave, kRegisters, values, 2), 162);
    EXPECT_EQ(values[0] | values[1], 0);
    EXPECT_EQ(master.readInputRegisters(kSlave, 1000, values, 4), 162);
    EXPECT_EQ(master.writeSingleRegister(kSlave, kRegisters + 1, 1), 162);
    const std::int16_t pair[] = {1, 2};
    EXPECT_EQ(master.writeMultipleRegisters(kSlave, kRegisters, pair, 2), 162);
    // The slave is still in step afterwards.
    EXPECT_EQ(master.readHoldingRegisters(kSlave, 1, values, 1), MBR_SUCCESS);
    EXPECT_EQ(values[0], 1000);
}

TEST_F(LibmodbusSlave, BroadcastWritesAreObeyedWithoutAnswer) {
    EXPECT_EQ(master.writeSingleRegister(0, 3, 77), MBR_SUCCESS);
    const std::int16_t pair[] = {-5, 6};
    EXPECT_EQ(master.writeMultipleRegisters(0, 4, pair, 2), MBR_SUCCESS);
    std::int16_t values[3] = {};
    EXPECT_EQ(master.readHoldingRegisters(kSlave, 3, values, 3), MBR_SUCCESS);
    EXPECT_EQ(values[0], 77);
    EXPECT_EQ(values[1], -5);
    EXPECT_EQ(values[2], 6);
}

// libmodbus then takes the next frame on the line for a stray reply and ignores it, so this
// test ends here.
TEST_F(LibmodbusSlave, RequestForAnotherAddressGoesUnanswered) {
    master.closeConnection();
    ASSERT_EQ(master.setReplyTimeout(100), MBR_SUCCESS);
    ASSERT_EQ(master.openConnection(ours.slavePath().c_str(), 9600), MBR_SUCCESS);
    std::int16_t value = 5;
    EXPECT_EQ(master.readHoldingRegisters(kSlave + 1, 1, &value, 1), MBR_REPLY_TIMEOUT);
    EXPECT_EQ(value, 0);
}

}  // namespace
}  // namespace kvx
